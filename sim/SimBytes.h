// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/ByteConv.h"
#include "protocol/Packet.h"

#include <cstdint>

// Little-endian appends for the simulator's replies. Byte by byte: GCC 12's Release build
// mistakes a 4-byte vector::insert for an overflow.
inline void AppendU16(TByteArray& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void AppendU32(TByteArray& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void AppendFloat(TByteArray& out, float value) {
    AppendU32(out, SingleToDWord(value));
}
