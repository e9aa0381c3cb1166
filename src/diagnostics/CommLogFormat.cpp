// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CommLogFormat.h"

#include "protocol/ByteConv.h"
#include "protocol/Constants.h"
#include "protocol/HexText.h"
#include "protocol/TrimControl.h"

#include <QDateTime>
#include <QLocale>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Names are looked up once; a re-render asks for them hundreds of thousands of times.
const QString& CachedCommandName(std::uint8_t id) {
    static const std::array<QString, 256> names = [] {
        std::array<QString, 256> n;
        for (int i = 0; i < 256; ++i)
            n[static_cast<std::size_t>(i)] = CommandName(static_cast<std::uint8_t>(i));
        return n;
    }();
    return names[id];
}

const QString& CachedStatusName(std::uint8_t code) {
    static const std::array<QString, 256> names = [] {
        std::array<QString, 256> n;
        for (int i = 0; i < 256; ++i) {
            // Codes beyond the name table show their number.
            const QString ident = StatusIdentName(static_cast<std::uint8_t>(i));
            n[static_cast<std::size_t>(i)] = ident.isEmpty() ? QString::number(i) : ident;
        }
        return n;
    }();
    return names[code];
}

} // namespace

void AppendLogLine(QString& out, const TPacket& packet, bool received, bool showIDDescr,
                   bool evaluateErrorCodes) {
    out += received ? QLatin1String("RX PACKET: ID=") : QLatin1String("TX PACKET: ID=");
    const auto id = static_cast<std::uint8_t>(packet.ID & 0xFF);
    AppendHexByte(out, id);
    out += QLatin1Char('h');
    if (showIDDescr) {
        out += QLatin1String(" (");
        out += CachedCommandName(id);
        out += QLatin1Char(')');
    }
    out += QLatin1String(", Length=");
    out += QString::number(packet.Length);
    const std::size_t n =
        std::min(packet.Data.size(), static_cast<std::size_t>(std::max(packet.Length, 0)));
    if (n == 0)
        return;
    out += QLatin1Char(':');
    std::size_t i = 0;
    if (evaluateErrorCodes && received && n >= 2) {
        out += QLatin1Char(' ');
        AppendHexByte(out, packet.Data[0]);
        out += QLatin1Char(' ');
        AppendHexByte(out, packet.Data[1]);
        out += QLatin1String(" (");
        out += CachedStatusName(packet.Data[0]);
        out += QLatin1Char(')');
        i = 2;
    }
    for (; i < n; ++i) {
        out += QLatin1Char(' ');
        AppendHexByte(out, packet.Data[i]);
    }
}

QString FormatLogLine(const TPacket& packet, bool received, bool showIDDescr,
                      bool evaluateErrorCodes) {
    QString line;
    line.reserve(40 + 3 * static_cast<qsizetype>(packet.Data.size()));
    AppendLogLine(line, packet, received, showIDDescr, evaluateErrorCodes);
    return line;
}

int LogLineLength(const TPacket& packet, bool received, bool showIDDescr, bool evaluateErrorCodes) {
    const auto id = static_cast<std::uint8_t>(packet.ID & 0xFF);
    int len = 17; // "RX PACKET: ID=43h"
    if (showIDDescr)
        len += 3 + static_cast<int>(CachedCommandName(id).size());
    int digits = 1;
    for (long v = std::labs(static_cast<long>(packet.Length)); v >= 10; v /= 10)
        ++digits;
    len += 9 + digits + (packet.Length < 0 ? 1 : 0);
    const std::size_t n =
        std::min(packet.Data.size(), static_cast<std::size_t>(std::max(packet.Length, 0)));
    if (n == 0)
        return len;
    len += 1 + 3 * static_cast<int>(n);
    if (evaluateErrorCodes && received && n >= 2)
        len += 3 + static_cast<int>(CachedStatusName(packet.Data[0]).size());
    return len;
}

void AppendTimePrefix(QString& out, std::int64_t wallMs, int roundTripMs) {
    // Converting to local time is slow; a re-render or a search asks for the same second over
    // and over.
    static std::int64_t cachedSecond = INT64_MIN;
    static QString cachedText;
    const std::int64_t second = wallMs >= 0 ? wallMs / 1000 : (wallMs - 999) / 1000;
    if (second != cachedSecond) {
        cachedSecond = second;
        cachedText =
            QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("HH:mm:ss"));
    }
    out += cachedText;
    out += QLatin1Char('.');
    const int ms = static_cast<int>(wallMs - second * 1000);
    out += QLatin1Char(static_cast<char>('0' + ms / 100));
    out += QLatin1Char(static_cast<char>('0' + ms / 10 % 10));
    out += QLatin1Char(static_cast<char>('0' + ms % 10));
    out += QLatin1Char(' ');
    if (roundTripMs >= 0) {
        out += QLatin1Char('(');
        out += QString::number(roundTripMs);
        out += QLatin1String(" ms) ");
    }
}

int TimePrefixLength(int roundTripMs) {
    int len = 13; // "05:11:22.123 "
    if (roundTripMs >= 0)
        len += 6 + static_cast<int>(QString::number(roundTripMs).size()); // "(15 ms) "
    return len;
}

TByteArray SelectionToBytes(const QString& selection) {
    TByteArray bytes;
    QString rest = selection;
    while (!rest.isEmpty()) {
        rest = TrimControl(rest);
        if (rest.isEmpty())
            break;
        QString token;
        const qsizetype blank = rest.indexOf(QLatin1Char(' '));
        if (blank < 0) {
            token = rest;
            rest.clear();
        } else {
            token = rest.left(blank);
            rest = rest.mid(blank + 1);
        }
        unsigned value = 0;
        for (const QChar c : token) {
            const char16_t u = c.unicode();
            int digit = -1;
            if (u >= '0' && u <= '9')
                digit = u - '0';
            else if (u >= 'a' && u <= 'f')
                digit = u - 'a' + 10;
            else if (u >= 'A' && u <= 'F')
                digit = u - 'A' + 10;
            if (digit < 0)
                return {};
            value = value * 16 + static_cast<unsigned>(digit);
            if (value > 255)
                return {};
        }
        if (token.isEmpty())
            return {};
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

QString FormatFloat4(double value) {
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0)
        return QStringLiteral("0");
    // Exact leading digits first, then rounding to 4 significant digits with ties away from
    // zero (12345 shows as 1.235E4); the rounding decides the exponent (9999.5 becomes 1E4).
    char buf[80];
    std::snprintf(buf, sizeof buf, "%.40e", std::fabs(value));
    const char* ePos = std::strchr(buf, 'e');
    int exp10 = std::atoi(ePos + 1);
    int digits[5] = {buf[0] - '0', buf[2] - '0', buf[3] - '0', buf[4] - '0', buf[5] - '0'};
    if (digits[4] >= 5) {
        int i = 3;
        for (; i >= 0 && digits[i] == 9; --i)
            digits[i] = 0;
        if (i >= 0) {
            ++digits[i];
        } else {
            digits[0] = 1;
            ++exp10;
        }
    }
    QString mantissa; // the 4 digits without their trailing zeros
    int used = 4;
    while (used > 1 && digits[used - 1] == 0)
        --used;
    for (int i = 0; i < used; ++i)
        mantissa += QLatin1Char(static_cast<char>('0' + digits[i]));
    const QChar point = QLocale().decimalPoint().at(0);
    QString text = value < 0 ? QStringLiteral("-") : QString();
    const int e = exp10 + 1; // as 0.d x 10^e
    if (e >= -3 && e <= 4) {
        if (e <= 0) {
            text += QLatin1Char('0');
            text += point;
            text += QString(-e, QLatin1Char('0'));
            text += mantissa;
        } else if (e >= used) {
            text += mantissa;
            text += QString(e - used, QLatin1Char('0'));
        } else {
            text += mantissa.left(e);
            text += point;
            text += mantissa.mid(e);
        }
    } else {
        text += mantissa.left(1);
        if (used > 1) {
            text += point;
            text += mantissa.mid(1);
        }
        text += QLatin1Char('E');
        text += QString::number(exp10);
    }
    return text;
}

TConversionResult ConvertAsFloat(const TByteArray& bytes) {
    if (bytes.empty())
        return {true, QStringLiteral("Error while converting selected data.")};
    if (bytes.size() != 4)
        return {true, QStringLiteral("Error: 4 bytes required to form a float value")};
    const float v = SingleFromBytes(bytes[0], bytes[1], bytes[2], bytes[3]);
    return {false, QStringLiteral("Value is ") + FormatFloat4(static_cast<double>(v))};
}

TConversionResult ConvertAsInteger(const TByteArray& bytes) {
    if (bytes.empty())
        return {true, QStringLiteral("Error while converting selected data.")};
    std::uint32_t u = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i)
        u |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    const auto s = static_cast<std::int32_t>(u);
    return {false, QStringLiteral("Value is ") + QString::number(s) + QStringLiteral(" (") +
                       HexDWord(u) + QStringLiteral(")")};
}

TConversionResult ConvertAsText(const TByteArray& bytes) {
    if (bytes.empty())
        return {true, QStringLiteral("Error while converting selected data.")};
    QString text;
    for (const std::uint8_t b : bytes)
        text += b < 32 ? QLatin1Char('_') : QChar(static_cast<char16_t>(b)); // Latin-1
    return {false, QStringLiteral("Text string is \"") + text + QLatin1Char('"')};
}
