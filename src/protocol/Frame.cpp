// SPDX-License-Identifier: Apache-2.0
#include "protocol/Frame.h"

#include "protocol/crc.h"

#include <cstring>

int BuildFrame(const TPacket& packet, std::uint8_t* out, std::size_t capacity) {
    const std::int32_t n = packet.Length;
    if (n < 0 || n > MaxPayloadLength || packet.Data.size() < static_cast<std::size_t>(n))
        return -1;
    const std::size_t size = static_cast<std::size_t>(n) + FrameOverhead;
    if (capacity < size)
        return -1;
    out[0] = out[1] = out[2] = PreambleByte;
    out[3] = static_cast<std::uint8_t>(packet.ID);
    out[4] = static_cast<std::uint8_t>(n & 0xFF);
    out[5] = static_cast<std::uint8_t>((n >> 8) & 0xFF);
    if (n > 0)
        std::memcpy(out + 6, packet.Data.data(), static_cast<std::size_t>(n));
    // Header and payload are folded separately: n + 6 does not fit the 16-bit count for the
    // largest payloads.
    std::uint16_t crc = Crc16(out, 6, Crc16Initial);
    crc = Crc16(out + 6, static_cast<std::uint16_t>(n), crc);
    out[6 + n] = static_cast<std::uint8_t>(crc & 0xFF);
    out[7 + n] = static_cast<std::uint8_t>(crc >> 8);
    return static_cast<int>(size);
}

TByteArray MakeFrame(const TPacket& packet) {
    if (packet.Length < 0 || packet.Length > MaxPayloadLength)
        return {};
    TByteArray frame(static_cast<std::size_t>(packet.Length) + FrameOverhead);
    if (BuildFrame(packet, frame.data(), frame.size()) < 0)
        return {};
    return frame;
}

TByteArray MakeFrame(std::uint8_t id, const TByteArray& payload) {
    TPacket p;
    p.ID = id;
    p.Length = static_cast<std::int32_t>(payload.size());
    p.Data = payload;
    return MakeFrame(p);
}
