// SPDX-License-Identifier: Apache-2.0
#include "ProtocolSupport.h"

#include "protocol/HexText.h"

#include <QStringList>

QString HexString(const std::uint8_t* data, std::size_t n) {
    return HexBytes(TByteArray(data, data + n));
}

std::vector<std::uint8_t> HexBytes(const char* text) {
    std::vector<std::uint8_t> out;
    const QStringList parts = QString::fromLatin1(text).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& p : parts)
        out.push_back(static_cast<std::uint8_t>(p.toUInt(nullptr, 16)));
    return out;
}
