// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Packet.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <limits>

// Hexadecimal text as the log, the command editor and karo-cli show it: upper-case digits, bytes
// separated by one space.
void AppendHexByte(QString& out, std::uint8_t b);
// "0A"
QString HexByte(std::uint8_t b);
// "01 A0 FF": the bytes from `from`, at most `count` of them.
QString HexBytes(const TByteArray& bytes, std::size_t from = 0,
                 std::size_t count = std::numeric_limits<std::size_t>::max());
// "00001001h", the way 32-bit state words and values are shown.
QString HexDWord(std::uint32_t value);
