// SPDX-License-Identifier: Apache-2.0
#include "protocol/PayloadText.h"

#include "protocol/ByteConv.h"
#include "protocol/NumberText.h"
#include "protocol/TrimControl.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace {

bool HasHexPrefix(const QString& item) {
    return item.startsWith(QLatin1Char('$')) || item.startsWith(QLatin1Char('x')) ||
           item.startsWith(QLatin1Char('X')) || item.startsWith(QLatin1String("0x")) ||
           item.startsWith(QLatin1String("0X"));
}

} // namespace

std::optional<std::uint8_t> ReadPayloadInteger(const QString& item) {
    // The identifier field's reading, limited to one byte.
    QString text = item;
    const qsizetype ox = text.indexOf(QLatin1String("0x"));
    if (ox >= 0)
        text.replace(ox, 2, QLatin1String("$"));
    const std::optional<std::int32_t> v = ReadIntegerText(text);
    if (!v || *v < 0 || *v > 255)
        return std::nullopt;
    return static_cast<std::uint8_t>(*v);
}

std::optional<float> ReadPayloadFloat(const QString& item) {
    // The first "." stands for the locale's separator; the rest is the float entry's reading.
    QString text = item;
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        text.replace(dot, 1, QLocale().decimalPoint());
    const std::optional<long double> v = ReadFloatText(text, dsDefault);
    if (!v || !std::isfinite(*v) || std::fabs(*v) > std::numeric_limits<float>::max())
        return std::nullopt;
    return static_cast<float>(*v);
}

std::optional<TByteArray> ParsePayload(const QString& input, QString* problem) {
    TByteArray out;
    QString text = input + QLatin1Char(' ');
    while (!text.isEmpty()) {
        if (text.startsWith(QLatin1Char('"'))) {
            const qsizetype close = text.indexOf(QLatin1Char('"'), 1);
            if (close < 0)
                return std::nullopt;
            for (qsizetype k = 1; k < close; ++k) {
                const char16_t u = text[k].unicode();
                // A character without a single-byte code would go out as something else.
                if (u > 255) {
                    if (problem)
                        *problem = QStringLiteral("The character \"%1\" has no single-byte "
                                                  "code (only Latin-1 characters can be sent).")
                                       .arg(text.mid(k, text[k].isHighSurrogate() ? 2 : 1));
                    return std::nullopt;
                }
                out.push_back(static_cast<std::uint8_t>(u));
            }
            text.remove(0, close + 1);
        } else {
            const qsizetype blank = text.indexOf(QLatin1Char(' '));
            const qsizetype take = blank < 0 ? text.size() : blank + 1;
            const QString item = TrimControl(text.left(take));
            text.remove(0, take);
            if (item.isEmpty())
                continue;
            const bool floatItem = !HasHexPrefix(item) && (item.endsWith(QLatin1Char('f')) ||
                                                           item.endsWith(QLatin1Char('F')));
            if (floatItem) {
                const std::optional<float> v = ReadPayloadFloat(item.chopped(1));
                if (!v)
                    return std::nullopt;
                const auto bytes = SingleToBytes(*v);
                out.insert(out.end(), bytes.begin(), bytes.end());
            } else {
                const std::optional<std::uint8_t> v = ReadPayloadInteger(item);
                if (!v)
                    return std::nullopt;
                out.push_back(*v);
            }
        }
        if (out.size() > static_cast<std::size_t>(MaxPayloadLength))
            return std::nullopt;
    }
    return out;
}

std::optional<TByteArray> ParseHexPayload(const QString& text, QString* problem) {
    auto fail = [problem](const QString& why) -> std::optional<TByteArray> {
        if (problem)
            *problem = why;
        return std::nullopt;
    };
    TByteArray out;
    out.reserve(static_cast<std::size_t>(text.size() / 2));
    qsizetype k = 0;
    const qsizetype n = text.size();
    while (k < n) {
        if (IsTrimmed(text[k])) {
            ++k;
            continue;
        }
        const qsizetype start = k;
        while (k < n && !IsTrimmed(text[k])) {
            if (HexDigitValue(text[k]) < 0)
                return fail(QStringLiteral("\"%1\" at position %2 is not a hexadecimal digit.")
                                .arg(text.mid(k, text[k].isHighSurrogate() ? 2 : 1))
                                .arg(k + 1));
            ++k;
        }
        // A lone digit is more likely a typing slip than a byte below 0x10.
        if ((k - start) % 2 != 0)
            return fail(QStringLiteral("\"%1\" has an odd number of hexadecimal digits; "
                                       "each byte takes two.")
                            .arg(text.mid(start, k - start)));
        for (qsizetype d = start; d < k; d += 2)
            out.push_back(static_cast<std::uint8_t>(HexDigitValue(text[d]) * 16 +
                                                    HexDigitValue(text[d + 1])));
        if (out.size() > static_cast<std::size_t>(MaxPayloadLength))
            return fail(QStringLiteral("More than %1 bytes do not fit in one packet.")
                            .arg(MaxPayloadLength));
    }
    return out;
}

std::optional<std::uint8_t> ReadCommandID(const QString& text) {
    const std::optional<std::int32_t> v = ReadIntegerText(text);
    if (!v || *v < 0 || *v > 255)
        return std::nullopt;
    return static_cast<std::uint8_t>(*v);
}
