// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// The ordinary MSB-first table of polynomial 0x1021, applied with the reflected update step.
// Both halves must stay exactly as they are or no gripper accepts a frame.
namespace crcdetail {
constexpr std::array<std::uint16_t, 256> MakeTable() {
    std::array<std::uint16_t, 256> t{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t v = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            v = static_cast<std::uint16_t>((v & 0x8000) ? (v << 1) ^ 0x1021 : (v << 1));
        t[i] = v;
    }
    return t;
}
} // namespace crcdetail

inline constexpr std::array<std::uint16_t, 256> Crc16Table = crcdetail::MakeTable();
inline constexpr std::uint16_t Crc16Initial = 0xFFFF;
inline constexpr std::uint16_t Crc16Preamble = 0x50F5; // checksum of AA AA AA

constexpr std::uint16_t Crc16Byte(std::uint8_t b, std::uint16_t crc) {
    return static_cast<std::uint16_t>(Crc16Table[(crc ^ b) & 0xFF] ^ (crc >> 8));
}

std::uint16_t Crc16(const std::uint8_t* data, std::uint16_t count, std::uint16_t initial);

// The same checksum over any length, eight bytes per step (slicing-by-8).
std::uint16_t Crc16Block(const std::uint8_t* data, std::size_t count, std::uint16_t initial);

// Copies `count` bytes to `dst` and folds them into the checksum in the same pass.
std::uint16_t Crc16Copy(std::uint8_t* dst, const std::uint8_t* src, std::size_t count,
                        std::uint16_t initial);
