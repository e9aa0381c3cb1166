// SPDX-License-Identifier: Apache-2.0
#include "protocol/HexText.h"

#include <algorithm>

namespace {
const char HexDigits[] = "0123456789ABCDEF";
}

void AppendHexByte(QString& out, std::uint8_t b) {
    out += QLatin1Char(HexDigits[b >> 4]);
    out += QLatin1Char(HexDigits[b & 0xF]);
}

QString HexByte(std::uint8_t b) {
    QString s;
    AppendHexByte(s, b);
    return s;
}

QString HexBytes(const TByteArray& bytes, std::size_t from, std::size_t count) {
    QString out;
    if (from >= bytes.size())
        return out;
    const std::size_t end = from + std::min(count, bytes.size() - from);
    out.reserve(static_cast<qsizetype>(3 * (end - from)));
    for (std::size_t i = from; i < end; ++i) {
        if (i > from)
            out += QLatin1Char(' ');
        AppendHexByte(out, bytes[i]);
    }
    return out;
}

QString HexDWord(std::uint32_t value) {
    QString s;
    s.reserve(9);
    for (int shift = 24; shift >= 0; shift -= 8)
        AppendHexByte(s, static_cast<std::uint8_t>(value >> shift));
    s += QLatin1Char('h');
    return s;
}
