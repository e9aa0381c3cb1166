// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CommLogEvents.h"

#include "protocol/Constants.h"
#include "protocol/HexText.h"

#include <QStringList>

#include <array>

namespace {

struct TKindText {
    TLinkEventKind Kind;
    const char* Caption;
    const char* Name;
    // The start of its line; what follows depends on what the kind carries.
    const char* Prefix;
    QRgb Color;
};

// Kinds with bytes end in ": N bytes: ..."; the line texts are what an operator searches for.
constexpr std::array<TKindText, 9> Kinds = {{
    {TLinkEventKind::FalsePreamble, "False preambles", "false preamble",
     "RX FALSE PREAMBLE, bytes given up", 0xB35900},
    {TLinkEventKind::BadChecksum, "Checksum errors", "bad checksum",
     "RX CHECKSUM ERROR, frame dropped", 0xD00000},
    {TLinkEventKind::SkippedBytes, "Skipped bytes", "skipped bytes", "RX SKIPPED outside any frame",
     0x806040},
    {TLinkEventKind::CutByPause, "Frames cut by a pause", "frame cut",
     "RX FRAME CUT by a pause, dropped", 0xA000A0},
    {TLinkEventKind::UpdatesDropped, "Updates dropped", "updates dropped",
     "RX UPDATES DROPPED by a full queue", 0x8A7000},
    {TLinkEventKind::ReplyMissing, "Replies missing", "reply missing",
     "TX REPLY MISSING, no reply in time", 0xC04000},
    {TLinkEventKind::LinkStale, "Link stale", "link stale", "LINK STALE, no packet", 0xD08000},
    {TLinkEventKind::LinkLost, "Link lost", "link lost", "LINK LOST, no packet", 0xE00050},
    {TLinkEventKind::LinkRestored, "Link restored", "link restored", "LINK RESTORED", 0x008000},
}};

const TKindText& Text(TLinkEventKind kind) {
    for (const TKindText& k : Kinds)
        if (k.Kind == kind)
            return k;
    return Kinds[2];
}

bool CarriesBytes(TLinkEventKind k) {
    return k == TLinkEventKind::FalsePreamble || k == TLinkEventKind::BadChecksum ||
           k == TLinkEventKind::SkippedBytes || k == TLinkEventKind::CutByPause;
}

bool CarriesID(TLinkEventKind k) {
    return k == TLinkEventKind::UpdatesDropped || k == TLinkEventKind::ReplyMissing;
}

bool CarriesMs(TLinkEventKind k) {
    return k == TLinkEventKind::LinkStale || k == TLinkEventKind::LinkLost;
}

} // namespace

QString LinkEventCaption(TLinkEventKind kind) {
    return QLatin1String(Text(kind).Caption);
}

QString LinkEventName(TLinkEventKind kind) {
    return QLatin1String(Text(kind).Name);
}

std::optional<TLinkEventKind> LinkEventFromName(const QString& name) {
    for (const TKindText& k : Kinds)
        if (name == QLatin1String(k.Name))
            return k.Kind;
    return std::nullopt;
}

QColor LinkEventColor(TLinkEventKind kind) {
    return QColor::fromRgb(Text(kind).Color);
}

void AppendEventLine(QString& out, const TLinkEvent& event, bool showIDDescr) {
    const TLinkEventKind k = event.Kind;
    out += QLatin1String(Text(k).Prefix);
    if (CarriesBytes(k)) {
        // Skipped bytes are counted, not always kept.
        const std::size_t n = k == TLinkEventKind::SkippedBytes ? event.Count : event.Bytes.size();
        out += QStringLiteral(": %1 bytes").arg(n);
        if (!event.Bytes.empty()) {
            out += QLatin1Char(':');
            for (std::uint8_t b : event.Bytes) {
                out += QLatin1Char(' ');
                AppendHexByte(out, b);
            }
        }
    } else if (CarriesID(k)) {
        if (k == TLinkEventKind::UpdatesDropped)
            out += QStringLiteral(": %1 updates, first").arg(event.Count);
        out += QLatin1String(": ID=");
        AppendHexByte(out, event.ID);
        out += QLatin1Char('h');
        if (showIDDescr)
            out += QLatin1String(" (") + CommandName(event.ID) + QLatin1Char(')');
    } else if (CarriesMs(k)) {
        out += QStringLiteral(" for %1 ms").arg(event.Count);
    }
}

QString FormatEventLine(const TLinkEvent& event, bool showIDDescr) {
    QString out;
    AppendEventLine(out, event, showIDDescr);
    return out;
}

std::optional<TLinkEvent> ParseEventLine(const QString& line) {
    for (const TKindText& k : Kinds) {
        const QLatin1String prefix(k.Prefix);
        if (!line.startsWith(prefix))
            continue;
        TLinkEvent e;
        e.Kind = k.Kind;
        QString rest = line.mid(prefix.size());
        bool ok = true;
        if (CarriesBytes(k.Kind)) {
            // ": N bytes[: HH HH ...]"
            const QStringList parts = rest.split(QLatin1Char(':'), Qt::SkipEmptyParts);
            if (parts.isEmpty() || !parts[0].endsWith(QLatin1String(" bytes")))
                return std::nullopt;
            const std::uint32_t n = parts[0].chopped(6).trimmed().toUInt(&ok);
            if (!ok)
                return std::nullopt;
            if (parts.size() > 1) {
                for (const QString& token : parts[1].split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
                    const uint b = token.toUInt(&ok, 16);
                    if (!ok || b > 255)
                        return std::nullopt;
                    e.Bytes.push_back(static_cast<std::uint8_t>(b));
                }
            }
            e.Count = k.Kind == TLinkEventKind::SkippedBytes ? n : 0;
        } else if (CarriesID(k.Kind)) {
            const qsizetype at = rest.indexOf(QLatin1String("ID="));
            if (at < 0)
                return std::nullopt;
            e.ID = static_cast<std::uint8_t>(rest.mid(at + 3, 2).toUInt(&ok, 16));
            if (!ok)
                return std::nullopt;
            if (k.Kind == TLinkEventKind::UpdatesDropped)
                e.Count = rest.section(QLatin1Char(' '), 1, 1).toUInt();
        } else if (CarriesMs(k.Kind)) {
            e.Count = rest.section(QLatin1Char(' '), 2, 2).toUInt();
        }
        return e;
    }
    return std::nullopt;
}
