// SPDX-License-Identifier: Apache-2.0
#include "devices/TargetText.h"

#include "protocol/NumberText.h"

#include <QList>
#include <QStringList>

#include <array>

namespace {

QString Quoted(const QString& s) {
    return QLatin1Char('\'') + s + QLatin1Char('\'');
}

// A decimal port 1..65535.
std::optional<int> ReadPort(const QString& text) {
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v < 1 || v > 65535 || text.startsWith(QLatin1Char('+')))
        return std::nullopt;
    return v;
}

// "HOST:PORT" with an optional "[v6]" host.
bool SplitHostPort(const QString& text, QString& host, QString& port) {
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1Char(']'));
        if (close < 0 || text.mid(close + 1, 1) != QLatin1String(":"))
            return false;
        host = text.mid(1, close - 1);
        port = text.mid(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon < 0)
            return false;
        host = text.left(colon);
        port = text.mid(colon + 1);
    }
    return !host.isEmpty();
}

struct TQueryItem {
    QString Key;
    QString Value;
};

// "a=1&b=2"; false on an item without "=".
bool SplitQuery(const QString& query, QList<TQueryItem>& items, QString& bad) {
    for (const QString& part : query.split(QLatin1Char('&'))) {
        const qsizetype eq = part.indexOf(QLatin1Char('='));
        if (eq <= 0) {
            bad = part;
            return false;
        }
        items.append({part.left(eq), part.mid(eq + 1)});
    }
    return true;
}

constexpr std::array<int, 8> BaudRates = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

struct TBitrate {
    int BitsPerSecond;
    int Code; // the CAN library's code
};
constexpr std::array<TBitrate, 8> Bitrates = {{{10000, 13},
                                               {20000, 11},
                                               {50000, 9},
                                               {100000, 7},
                                               {125000, 6},
                                               {250000, 4},
                                               {500000, 2},
                                               {1000000, 0}}};

// "250000", "250k" or "1M".
std::optional<int> ReadBitsPerSecond(QString text) {
    int factor = 1;
    if (text.endsWith(QLatin1Char('k')) || text.endsWith(QLatin1Char('K')))
        factor = 1000;
    else if (text.endsWith(QLatin1Char('M')))
        factor = 1000000;
    if (factor != 1)
        text.chop(1);
    bool ok = false;
    const int v = text.toInt(&ok, 10);
    if (!ok || v <= 0 || v > 1000000000 / factor)
        return std::nullopt;
    return v * factor;
}

} // namespace

std::optional<TConnectTarget> ParseTarget(const QString& text, QString& error) {
    const auto fail = [&](const QString& why) {
        error = QStringLiteral("bad target %1: %2").arg(Quoted(text), why);
        return std::nullopt;
    };
    TConnectTarget t;
    QString rest;
    QString scheme;
    for (const char* s : {"tcp://", "udp://", "serial:", "can:"}) {
        if (text.startsWith(QLatin1String(s))) {
            scheme = QLatin1String(s);
            rest = text.mid(scheme.size());
        }
    }
    if (scheme.isEmpty())
        return fail(QStringLiteral("expected tcp://HOST:PORT, udp://HOST:PORT, serial:DEVICE or "
                                   "can:NET"));
    QString query;
    const qsizetype q = rest.indexOf(QLatin1Char('?'));
    if (q >= 0) {
        query = rest.mid(q + 1);
        rest = rest.left(q);
    }
    QList<TQueryItem> items;
    QString badItem;
    if (q >= 0 && !SplitQuery(query, items, badItem))
        return fail(QStringLiteral("option %1 is not NAME=VALUE").arg(Quoted(badItem)));

    if (scheme == QLatin1String("tcp://") || scheme == QLatin1String("udp://")) {
        const bool udp = scheme == QLatin1String("udp://");
        QString host;
        QString portText;
        if (!SplitHostPort(rest, host, portText))
            return fail(QStringLiteral("expected %1HOST:PORT").arg(scheme));
        const std::optional<int> port = ReadPort(portText);
        if (!port)
            return fail(QStringLiteral("port %1 is not a number 1..65535").arg(Quoted(portText)));
        if (udp) {
            t.Device = QStringLiteral("udp");
            t.Udp.Host = host;
            t.Udp.TransmitPort = *port;
        } else {
            t.Device = QStringLiteral("tcp");
            t.Tcp.Host = host;
            t.Tcp.Port = *port;
        }
        for (const TQueryItem& item : items) {
            if (!udp || item.Key != QLatin1String("listen"))
                return fail(QStringLiteral("unknown option %1").arg(Quoted(item.Key)));
            const std::optional<int> listen = ReadPort(item.Value);
            if (!listen)
                return fail(QStringLiteral("listen port %1 is not a number 1..65535")
                                .arg(Quoted(item.Value)));
            t.Udp.ListeningPort = *listen;
        }
        return t;
    }

    if (rest.isEmpty())
        return fail(scheme == QLatin1String("serial:") ? QStringLiteral("missing DEVICE")
                                                       : QStringLiteral("missing NET"));
    t.Port = rest;
    if (scheme == QLatin1String("serial:")) {
        t.Device = QStringLiteral("uart");
        t.Serial.BaudIndex = static_cast<int>(BaudRates.size()) - 1;
        for (const TQueryItem& item : items) {
            if (item.Key != QLatin1String("baud"))
                return fail(QStringLiteral("unknown option %1").arg(Quoted(item.Key)));
            bool ok = false;
            const int rate = item.Value.toInt(&ok, 10);
            int index = -1;
            for (std::size_t i = 0; ok && i < BaudRates.size(); ++i)
                if (BaudRates[i] == rate)
                    index = static_cast<int>(i);
            if (index < 0)
                return fail(QStringLiteral("baud rate %1 is not one of 1200, 2400, 4800, 9600, "
                                           "19200, 38400, 57600, 115200")
                                .arg(Quoted(item.Value)));
            t.Serial.BaudIndex = index;
        }
        return t;
    }

    t.Device = QStringLiteral("can");
    // A bare number is the net as the Commander lists it ("Net 19").
    bool isNumber = false;
    if (const int net = rest.toInt(&isNumber, 10); isNumber && net >= 0)
        t.Port = QStringLiteral("Net %1").arg(net);
    t.Can.TargetId = 100;
    t.Can.BitrateCode = 4;
    for (const TQueryItem& item : items) {
        if (item.Key == QLatin1String("id")) {
            // Replies come with the identifier + 1, so both must be 11-bit identifiers.
            const std::optional<std::int32_t> id = ReadIntegerText(item.Value);
            if (!id || *id < 0 || *id > 2046)
                return fail(
                    QStringLiteral("CAN id %1 is not a number 0..2046").arg(Quoted(item.Value)));
            t.Can.TargetId = *id;
        } else if (item.Key == QLatin1String("bitrate")) {
            const std::optional<int> bps = ReadBitsPerSecond(item.Value);
            int code = -1;
            for (const TBitrate& b : Bitrates)
                if (bps && b.BitsPerSecond == *bps)
                    code = b.Code;
            if (code < 0)
                return fail(QStringLiteral("bit rate %1 is not one of 10k, 20k, 50k, 100k, "
                                           "125k, 250k, 500k, 1M")
                                .arg(Quoted(item.Value)));
            t.Can.BitrateCode = code;
        } else {
            return fail(QStringLiteral("unknown option %1").arg(Quoted(item.Key)));
        }
    }
    return t;
}
