// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <cstdint>
#include <optional>

// How numbers typed by a person are read, shared by the entry fields, the command editor and the
// command-line tool.

enum TDecSeparator { dsDefault, dsPoint, dsComma };

// 0..15 for a hexadecimal digit of either case, -1 for anything else.
int HexDigitValue(QChar c);

// Decimal with an optional sign, or hexadecimal after "$", "x", "X", "0x" or "0X" (up to eight
// digits); nothing when unreadable or beyond 32 bits.
std::optional<std::int32_t> ReadIntegerText(const QString& text);

// Optional sign, digits, the locale's decimal separator and an exponent; with dsPoint or
// dsComma that character stands for the locale's separator. Nothing when unreadable or when
// the value overflows.
std::optional<long double> ReadFloatText(const QString& text, TDecSeparator ds);
