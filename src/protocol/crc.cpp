// SPDX-License-Identifier: Apache-2.0
#include "protocol/crc.h"

#include <cstring>

static_assert(Crc16Table[1] == 0x1021 && Crc16Table[2] == 0x2042 && Crc16Table[128] == 0x9188 &&
              Crc16Table[255] == 0x1EF0);

namespace {
// Slice[k][x]: the checksum that byte x leaves behind when k zero bytes follow it, starting
// from 0. The update is linear, so eight bytes fold as the XOR of eight look-ups, the running
// value entering through the first two.
using TSlices = std::array<std::array<std::uint16_t, 256>, 8>;

constexpr TSlices MakeSlices() {
    TSlices s{};
    s[0] = Crc16Table;
    for (std::size_t k = 1; k < s.size(); ++k)
        for (std::size_t x = 0; x < 256; ++x)
            s[k][x] = Crc16Byte(0, s[k - 1][x]);
    return s;
}

constexpr TSlices Slices = MakeSlices();

inline std::uint16_t Fold8(const std::uint8_t* p, std::uint16_t crc) {
    return static_cast<std::uint16_t>(
        Slices[7][p[0] ^ (crc & 0xFF)] ^ Slices[6][p[1] ^ (crc >> 8)] ^ Slices[5][p[2]] ^
        Slices[4][p[3]] ^ Slices[3][p[4]] ^ Slices[2][p[5]] ^ Slices[1][p[6]] ^ Slices[0][p[7]]);
}
} // namespace

std::uint16_t Crc16(const std::uint8_t* data, std::uint16_t count, std::uint16_t initial) {
    return Crc16Block(data, count, initial);
}

std::uint16_t Crc16Block(const std::uint8_t* data, std::size_t count, std::uint16_t initial) {
    std::uint16_t crc = initial;
    for (; count >= 8; count -= 8, data += 8)
        crc = Fold8(data, crc);
    for (; count > 0; --count)
        crc = Crc16Byte(*data++, crc);
    return crc;
}

std::uint16_t Crc16Copy(std::uint8_t* dst, const std::uint8_t* src, std::size_t count,
                        std::uint16_t initial) {
    std::uint16_t crc = initial;
    for (; count >= 8; count -= 8, src += 8, dst += 8) {
        std::uint8_t block[8];
        std::memcpy(block, src, 8);
        std::memcpy(dst, block, 8);
        crc = Fold8(block, crc);
    }
    for (; count > 0; --count) {
        *dst++ = *src;
        crc = Crc16Byte(*src++, crc);
    }
    return crc;
}
