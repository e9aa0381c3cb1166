// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Packet.h"

#include <QString>

#include <cstdint>
#include <optional>

// Reading of the command editor's payload items.
// An integer item: decimal with an optional sign, or hexadecimal after "$", "0x", "0X", "x" or
// "X"; nothing when unreadable or outside 0..255.
std::optional<std::uint8_t> ReadPayloadInteger(const QString& item);
// A float item without its trailing "f": the first "." stands for the locale's separator;
// nothing when unreadable or beyond single precision.
std::optional<float> ReadPayloadFloat(const QString& item);
// The payload bytes of a typed item list ("15 0x0A \"AB\" 1.5f"); nothing when the text is
// invalid, including a payload too long for a packet's length field. A string character that
// has no single-byte code makes it invalid too, and `problem` (when given) then says which.
std::optional<TByteArray> ParsePayload(const QString& text, QString* problem = nullptr);

// The payload bytes of hexadecimal text as the command log shows it ("00 00 48 42"): pairs of
// digits in either case, blanks and control characters between groups. A group of an odd
// number of digits, any other character or a payload too long for a packet makes it invalid,
// and `problem` (when given) says why.
std::optional<TByteArray> ParseHexPayload(const QString& text, QString* problem = nullptr);

// A command identifier as the editor's identifier field reads it: ReadIntegerText within 0..255.
std::optional<std::uint8_t> ReadCommandID(const QString& text);
