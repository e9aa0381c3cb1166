// SPDX-License-Identifier: Apache-2.0
// The command editor's payload parser: it never accepts more than a packet can carry, and the
// bytes it accepts read back the same when typed as hexadecimal items or as one string.
#include "FuzzSupport.h"
#include "protocol/PayloadText.h"

#include <QStringList>

#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString text = FuzzText(data, size);

    QString problem;
    const auto bytes = ParsePayload(text, &problem);
    if (bytes) {
        FuzzCheck(bytes->size() <= static_cast<std::size_t>(MaxPayloadLength));
        QStringList items;
        QString quoted;
        bool quotable = true;
        for (const std::uint8_t b : *bytes) {
            items << QStringLiteral("0x%1").arg(b, 2, 16, QLatin1Char('0'));
            quotable = quotable && b != '"';
            quoted += QChar(static_cast<char16_t>(b));
        }
        FuzzCheck(ParsePayload(items.join(QLatin1Char(' '))) == bytes);
        if (quotable)
            FuzzCheck(ParsePayload(QLatin1Char('"') + quoted + QLatin1Char('"')) == bytes);
    }

    if (const auto f = ReadPayloadFloat(text))
        FuzzCheck(std::isfinite(*f));
    if (const auto i = ReadPayloadInteger(text))
        FuzzCheck(ReadPayloadInteger(QString::number(*i)) == i);
    (void)ReadCommandID(text);
    return 0;
}
