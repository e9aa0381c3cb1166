// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "engine/ExchangeOutcome.h"
#include "protocol/Constants.h"
#include "protocol/Packet.h"

#include <cstddef>
#include <cstdint>
#include <optional>

// The gripper commands as bytes: what each request carries and what its reply means. Values in,
// bytes out and back; nothing here talks to a transport.

// Result of GetSystemInfo.
struct TSystemInfo {
    std::uint8_t Type = 0;
    int HardwareRevision = 0;
    int FirmwareRevision = 0;
    std::uint32_t SerialNumber = 0;
};

// Result of GetGraspingStatistics.
struct TGraspingStatistics {
    std::uint32_t NumberOfGrasps = 0;
    int NumberOfNotFoundParts = 0;
    int NumberOfPartsLost = 0;
};

// Result of GetSystemLimits, in the order the gripper sends them.
struct TSystemLimits {
    float Stroke = 0;          // mm
    float MinSpeed = 0;        // mm/s
    float MaxSpeed = 0;        // mm/s
    float MinAcceleration = 0; // mm/s²
    float MaxAcceleration = 0; // mm/s²
    float MinForce = 0;        // N
    float MaxForce = 0;        // N
    float Reserved = 0;        // read, never used
};

// One request: the identifier and its payload.
struct TCommandRequest {
    std::uint8_t ID = 0;
    TByteArray Payload;
};

namespace CommandCodec {

// A received packet as a reply: its status word and the data after it; nothing when the packet
// (as far as its length field and its data both reach) is too short to hold a status word.
struct TReply {
    std::uint16_t StatusWord = 0;
    TByteArray Data;
};
std::optional<TReply> SplitReply(const TPacket& packet);

// Reply data the queries need, exactly.
constexpr std::size_t SingleLength = 4;
constexpr std::size_t GraspingStatisticsLength = 8;
constexpr std::size_t SystemInfoLength = 8;
constexpr std::size_t SystemLimitsLength = 32;

TCommandRequest Homing(std::uint8_t Param);
TCommandRequest GotoPosition(float Position, float Speed);
TCommandRequest Grasp(float Width, float Speed);
TCommandRequest ReleasePart(float Width, float Speed);
TCommandRequest Stop();
TCommandRequest FastStop();
TCommandRequest AcknowledgeFastStop();
TCommandRequest SetAcceleration(float Value);
TCommandRequest SetForceLimit(float Value);
TCommandRequest GetAcceleration();
TCommandRequest GetForceLimit();
TCommandRequest GetGraspingStatistics(bool Reset);
TCommandRequest GetSystemInfo();
TCommandRequest GetSystemLimits();
// For GET_SYSTEM_STATE, GET_GRASPING_STATE and GET_POS: all zero when AutoUpdate is off.
TCommandRequest AutoUpdate(std::uint8_t ID, bool AutoUpdate, std::uint16_t Period, bool Option);

// The status a command reports for its exchange: 18 without a usable reply, else the reply's.
TStat ReplyStatus(const TExchangeOutcome& outcome);
// The same for a query whose reply data must have exactly `length` bytes.
TStat QueryStatus(const TExchangeOutcome& outcome, std::size_t length);

// Query replies, from the data after the status word; nothing without the exact length.
std::optional<float> DecodeSingle(const TByteArray& data);
std::optional<TGraspingStatistics> DecodeGraspingStatistics(const TByteArray& data);
std::optional<TSystemInfo> DecodeSystemInfo(const TByteArray& data);
std::optional<TSystemLimits> DecodeSystemLimits(const TByteArray& data);

// Values the gripper reports (replies and automatic updates alike), from the data after a
// success status; nothing without the exact length.
std::optional<std::uint32_t> DecodeSystemState(const TByteArray& data);
std::optional<std::uint8_t> DecodeGraspingState(const TByteArray& data);
std::optional<float> DecodePosition(const TByteArray& data);

} // namespace CommandCodec
