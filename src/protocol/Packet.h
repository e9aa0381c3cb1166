// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <vector>

using TByteArray = std::vector<std::uint8_t>;

// One packet in memory. ID holds 0..255 for packets off the wire; the command log marks its own
// copies in the upper bits, so comparisons use the whole integer.
struct TPacket {
    std::int32_t ID = 0;
    std::int32_t Length = 0;
    TByteArray Data;
};

inline constexpr int MaxPayloadLength = 65535;
inline constexpr int FrameOverhead = 8; // preamble 3, identifier 1, length 2, checksum 2
inline constexpr std::uint8_t PreambleByte = 0xAA;
