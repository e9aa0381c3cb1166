#include "diagnostics/CustomCmdForm.h"

#include "protocol/ByteConv.h"
#include "protocol/crc.h"

#include <QLocale>

#include <cmath>
#include <limits>

namespace {

bool IsTrimmed(QChar c) {
    return c.unicode() <= 0x20;
}

QString TrimControl(const QString& s) {
    qsizetype b = 0;
    qsizetype e = s.size();
    while (b < e && IsTrimmed(s[b]))
        ++b;
    while (e > b && IsTrimmed(s[e - 1]))
        --e;
    return s.mid(b, e - b);
}

int HexValue(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9')
        return u - '0';
    if (u >= 'a' && u <= 'f')
        return u - 'a' + 10;
    if (u >= 'A' && u <= 'F')
        return u - 'A' + 10;
    return -1;
}

bool IsDigit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}

bool HasHexPrefix(const QString& item) {
    return item.startsWith(QLatin1Char('$')) || item.startsWith(QLatin1Char('x')) ||
           item.startsWith(QLatin1Char('X')) || item.startsWith(QLatin1String("0x")) ||
           item.startsWith(QLatin1String("0X"));
}

void AppendHex(QString& out, std::uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    out += QLatin1Char(digits[b >> 4]);
    out += QLatin1Char(digits[b & 0xF]);
}

QString TwoBytes(std::uint16_t v) {
    QString s;
    AppendHex(s, static_cast<std::uint8_t>(v & 0xFF));
    s += QLatin1Char(' ');
    AppendHex(s, static_cast<std::uint8_t>(v >> 8));
    return s;
}

} // namespace

std::optional<std::uint8_t> ReadPayloadInteger(const QString& item) {
    QString text = item;
    const qsizetype ox = text.indexOf(QLatin1String("0x"));
    if (ox >= 0)
        text.replace(ox, 2, QLatin1String("$"));
    if (text.isEmpty())
        return std::nullopt;
    long value = 0;
    qsizetype i = 0;
    const bool hex = text.startsWith(QLatin1Char('$')) || text.startsWith(QLatin1Char('x')) ||
                     text.startsWith(QLatin1Char('X')) || text.startsWith(QLatin1String("0X"));
    if (hex) {
        i = text.startsWith(QLatin1String("0X")) ? 2 : 1;
        if (i >= text.size())
            return std::nullopt;
        for (; i < text.size(); ++i) {
            const int d = HexValue(text[i]);
            if (d < 0)
                return std::nullopt;
            value = value * 16 + d;
            if (value > 255)
                return std::nullopt;
        }
        return static_cast<std::uint8_t>(value);
    }
    bool negative = false;
    if (text[0] == QLatin1Char('+') || text[0] == QLatin1Char('-')) {
        negative = text[0] == QLatin1Char('-');
        i = 1;
    }
    if (i >= text.size())
        return std::nullopt;
    for (; i < text.size(); ++i) {
        if (!IsDigit(text[i]))
            return std::nullopt;
        value = value * 10 + (text[i].unicode() - '0');
        if (value > 255)
            return std::nullopt;
    }
    if (negative && value != 0)
        return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

std::optional<float> ReadPayloadFloat(const QString& item) {
    // The number as the locale writes it, with "." accepted once for the separator.
    const QChar sep = QLocale().decimalPoint().at(0);
    QString text = item;
    const qsizetype dot = text.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        text[dot] = sep;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    QByteArray c; // the same number in C notation
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        c += static_cast<char>(text[i++].unicode());
    const qsizetype mantissaStart = i;
    QByteArray digits;
    while (i < n && IsDigit(text[i]))
        digits += static_cast<char>(text[i++].unicode());
    QByteArray fraction;
    bool hasSep = false;
    if (i < n && text[i] == sep) {
        hasSep = true;
        ++i;
        while (i < n && IsDigit(text[i]))
            fraction += static_cast<char>(text[i++].unicode());
    }
    if (i == mantissaStart)
        return std::nullopt;
    // The separator alone reads as 0.
    c += digits.isEmpty() ? QByteArray("0") : digits;
    if (hasSep && !fraction.isEmpty())
        c += '.' + fraction;
    if (i < n && (text[i] == QLatin1Char('e') || text[i] == QLatin1Char('E'))) {
        ++i;
        c += 'e';
        if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
            c += static_cast<char>(text[i++].unicode());
        const qsizetype expStart = i;
        while (i < n && IsDigit(text[i]))
            c += static_cast<char>(text[i++].unicode());
        if (i == expStart)
            return std::nullopt;
    }
    while (i < n && text[i] == QLatin1Char(' '))
        ++i;
    if (i != n)
        return std::nullopt;
    const long double v = std::strtold(c.constData(), nullptr);
    if (!std::isfinite(v) || std::fabs(v) > std::numeric_limits<float>::max())
        return std::nullopt;
    return static_cast<float>(v);
}

std::optional<TByteArray> ParsePayload(const QString& input) {
    TByteArray out;
    QString text = input + QLatin1Char(' ');
    while (!text.isEmpty()) {
        if (text.startsWith(QLatin1Char('"'))) {
            const qsizetype close = text.indexOf(QLatin1Char('"'), 1);
            if (close < 0)
                return std::nullopt;
            for (qsizetype k = 1; k < close; ++k) {
                const char16_t u = text[k].unicode();
                // Characters outside the single-byte set become "?", as a conversion to it would.
                out.push_back(u < 256 ? static_cast<std::uint8_t>(u) : std::uint8_t('?'));
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

TPacketDecoding DecodePacket(std::uint8_t id, const TByteArray& payload) {
    TPacketDecoding d;
    AppendHex(d.ID, id);
    const auto n = static_cast<std::uint16_t>(payload.size());
    d.Length = TwoBytes(n);
    if (payload.empty()) {
        d.Payload = QStringLiteral("[n/a]");
    } else {
        d.Payload.reserve(static_cast<qsizetype>(payload.size()) * 3);
        for (const std::uint8_t b : payload) {
            AppendHex(d.Payload, b);
            d.Payload += QLatin1Char(' ');
        }
    }
    std::uint16_t crc = Crc16Initial;
    const std::uint8_t header[] = {PreambleByte,
                                   PreambleByte,
                                   PreambleByte,
                                   id,
                                   static_cast<std::uint8_t>(n & 0xFF),
                                   static_cast<std::uint8_t>(n >> 8)};
    for (const std::uint8_t b : header)
        crc = Crc16Byte(b, crc);
    for (const std::uint8_t b : payload)
        crc = Crc16Byte(b, crc);
    d.Checksum = TwoBytes(crc);
    return d;
}
