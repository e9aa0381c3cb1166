// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <bit>
#include <cstdint>

// Little-endian conversions shared by the command set, the command log and the command editor.

constexpr std::uint16_t WordFromBytes(std::uint8_t b0, std::uint8_t b1) {
    return static_cast<std::uint16_t>(b0 | (b1 << 8));
}

constexpr std::uint32_t DWordFromBytes(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2,
                                       std::uint8_t b3) {
    return static_cast<std::uint32_t>(b0) | (static_cast<std::uint32_t>(b1) << 8) |
           (static_cast<std::uint32_t>(b2) << 16) | (static_cast<std::uint32_t>(b3) << 24);
}

constexpr float SingleFromBytes(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2,
                                std::uint8_t b3) {
    return std::bit_cast<float>(DWordFromBytes(b0, b1, b2, b3));
}

constexpr std::uint32_t SingleToDWord(float value) {
    return std::bit_cast<std::uint32_t>(value);
}

constexpr std::array<std::uint8_t, 4> SingleToBytes(float value) {
    const std::uint32_t v = SingleToDWord(value);
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}
