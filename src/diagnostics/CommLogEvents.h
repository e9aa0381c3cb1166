// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/PacketLog.h"

#include <QColor>
#include <QString>

#include <optional>

// How the log shows what the link saw besides intact packets.

// The filter's caption of a kind ("Checksum errors").
QString LinkEventCaption(TLinkEventKind kind);
// The kind's word in a saved CSV file ("bad checksum"), and back.
QString LinkEventName(TLinkEventKind kind);
std::optional<TLinkEventKind> LinkEventFromName(const QString& name);
// The colour a kind's lines are drawn in.
QColor LinkEventColor(TLinkEventKind kind);

// One line, such as "RX CHECKSUM ERROR, frame dropped: 8 bytes: AA AA AA 22 00 00 0E 77".
void AppendEventLine(QString& out, const TLinkEvent& event, bool showIDDescr);
QString FormatEventLine(const TLinkEvent& event, bool showIDDescr);
// An event line read back; nothing when `line` is none.
std::optional<TLinkEvent> ParseEventLine(const QString& line);
