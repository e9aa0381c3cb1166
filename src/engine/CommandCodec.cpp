// SPDX-License-Identifier: Apache-2.0
#include "engine/CommandCodec.h"

#include "protocol/ByteConv.h"

#include <algorithm>
#include <cstring>

namespace {
// A fixed-size copy into a buffer already sized for it; a growing insert of the 4 bytes makes
// GCC's -O3 overflow analysis misfire.
void PutSingle(TByteArray& out, std::size_t offset, float value) {
    const auto bytes = SingleToBytes(value);
    std::memcpy(out.data() + offset, bytes.data(), bytes.size());
}

TByteArray Singles(std::size_t lead, float first, float second) {
    TByteArray out(lead + 8, 0);
    PutSingle(out, lead, first);
    PutSingle(out, lead + 4, second);
    return out;
}

TByteArray Single(float value) {
    TByteArray out(4, 0);
    PutSingle(out, 0, value);
    return out;
}

float SingleAt(const TByteArray& data, std::size_t offset) {
    return SingleFromBytes(data[offset], data[offset + 1], data[offset + 2], data[offset + 3]);
}

std::uint32_t DWordAt(const TByteArray& data, std::size_t offset) {
    return DWordFromBytes(data[offset], data[offset + 1], data[offset + 2], data[offset + 3]);
}
} // namespace

namespace CommandCodec {

std::optional<TReply> SplitReply(const TPacket& packet) {
    const std::size_t length = std::min<std::size_t>(
        packet.Data.size(), static_cast<std::size_t>(std::max(0, packet.Length)));
    if (length < 2)
        return std::nullopt;
    return TReply{WordFromBytes(packet.Data[0], packet.Data[1]),
                  TByteArray(packet.Data.begin() + 2,
                             packet.Data.begin() + static_cast<std::ptrdiff_t>(length))};
}

TCommandRequest Homing(std::uint8_t Param) {
    return {CMD_HOMING, TByteArray{Param}};
}

TCommandRequest GotoPosition(float Position, float Speed) {
    return {CMD_GOTO, Singles(1, Position, Speed)};
}

TCommandRequest Grasp(float Width, float Speed) {
    return {CMD_GRASP_RAW, Singles(0, Width, Speed)};
}

TCommandRequest ReleasePart(float Width, float Speed) {
    return {CMD_RELEASE_RAW, Singles(0, Width, Speed)};
}

TCommandRequest Stop() {
    return {CMD_STOP, {}};
}

TCommandRequest FastStop() {
    return {CMD_FAST_STOP, {}};
}

TCommandRequest AcknowledgeFastStop() {
    return {CMD_FAST_STOP_ACK, TByteArray{'a', 'c', 'k'}};
}

TCommandRequest SetAcceleration(float Value) {
    return {CMD_SET_ACCELERATION, Single(Value)};
}

TCommandRequest SetForceLimit(float Value) {
    return {CMD_SET_FORCE_LIMIT, Single(Value)};
}

TCommandRequest GetAcceleration() {
    return {CMD_GET_ACCELERATION, {}};
}

TCommandRequest GetForceLimit() {
    return {CMD_GET_FORCE_LIMIT, {}};
}

TCommandRequest GetGraspingStatistics(bool Reset) {
    return {CMD_GET_GRASPING_STATS, TByteArray{static_cast<std::uint8_t>(Reset ? 1 : 0)}};
}

TCommandRequest GetSystemInfo() {
    return {CMD_GET_SYSINFO, {}};
}

TCommandRequest GetSystemLimits() {
    return {CMD_GET_SYSTEM_LIMITS, {}};
}

TCommandRequest AutoUpdate(std::uint8_t ID, bool AutoUpdate, std::uint16_t Period, bool Option) {
    TByteArray payload(3, 0);
    if (AutoUpdate) {
        payload[0] = static_cast<std::uint8_t>(0x01 | (Option ? 0x02 : 0x00));
        payload[1] = static_cast<std::uint8_t>(Period & 0xFF);
        payload[2] = static_cast<std::uint8_t>(Period >> 8);
    }
    return {ID, std::move(payload)};
}

TStat ReplyStatus(const TExchangeOutcome& outcome) {
    return outcome.Usable() ? outcome.Status() : E_CMD_FAILED;
}

TStat QueryStatus(const TExchangeOutcome& outcome, std::size_t length) {
    return outcome.Usable() && outcome.Data.size() == length ? outcome.Status() : E_CMD_FAILED;
}

std::optional<float> DecodeSingle(const TByteArray& data) {
    if (data.size() != SingleLength)
        return std::nullopt;
    return SingleAt(data, 0);
}

std::optional<TGraspingStatistics> DecodeGraspingStatistics(const TByteArray& data) {
    if (data.size() != GraspingStatisticsLength)
        return std::nullopt;
    TGraspingStatistics stats;
    stats.NumberOfGrasps = DWordAt(data, 0);
    stats.NumberOfNotFoundParts = WordFromBytes(data[4], data[5]);
    stats.NumberOfPartsLost = WordFromBytes(data[6], data[7]);
    return stats;
}

std::optional<TSystemInfo> DecodeSystemInfo(const TByteArray& data) {
    if (data.size() != SystemInfoLength)
        return std::nullopt;
    TSystemInfo info;
    info.Type = data[0];
    info.HardwareRevision = data[1];
    info.FirmwareRevision = WordFromBytes(data[2], data[3]);
    info.SerialNumber = DWordAt(data, 4);
    return info;
}

std::optional<TSystemLimits> DecodeSystemLimits(const TByteArray& data) {
    if (data.size() != SystemLimitsLength)
        return std::nullopt;
    TSystemLimits limits;
    float* const fields[] = {&limits.Stroke,          &limits.MinSpeed,        &limits.MaxSpeed,
                             &limits.MinAcceleration, &limits.MaxAcceleration, &limits.MinForce,
                             &limits.MaxForce,        &limits.Reserved};
    std::size_t offset = 0;
    for (float* field : fields) {
        *field = SingleAt(data, offset);
        offset += 4;
    }
    return limits;
}

std::optional<std::uint32_t> DecodeSystemState(const TByteArray& data) {
    if (data.size() != 4)
        return std::nullopt;
    return DWordAt(data, 0);
}

std::optional<std::uint8_t> DecodeGraspingState(const TByteArray& data) {
    if (data.size() != 1)
        return std::nullopt;
    return data[0];
}

std::optional<float> DecodePosition(const TByteArray& data) {
    return DecodeSingle(data);
}

} // namespace CommandCodec
