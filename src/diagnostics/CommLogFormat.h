// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Packet.h"

#include <QString>

#include <cstdint>

// One log line: "RX PACKET: ID=43h (GET_POS), Length=6: 00 00 (E_SUCCESS) 00 00 48 42".
QString FormatLogLine(const TPacket& packet, bool received, bool showIDDescr,
                      bool evaluateErrorCodes);
// Appends the same line to `out` without temporaries; the full re-render is built with it.
void AppendLogLine(QString& out, const TPacket& packet, bool received, bool showIDDescr,
                   bool evaluateErrorCodes);

// The length FormatLogLine would give, without building the line.
int LogLineLength(const TPacket& packet, bool received, bool showIDDescr, bool evaluateErrorCodes);

// "05:11:22.123 " in local time, then "(15 ms) " for a reply with its round trip.
void AppendTimePrefix(QString& out, std::int64_t wallMs, int roundTripMs);
int TimePrefixLength(int roundTripMs);

// Blank-separated hexadecimal bytes ("48 69 0a") as bytes; empty when any token is not a
// hexadecimal number of 0 to 255.
TByteArray SelectionToBytes(const QString& selection);
// The operator's conversions of selected bytes; each returns the text of the box to show and
// whether it is an error.
struct TConversionResult {
    bool Error = false;
    QString Text;
};
TConversionResult ConvertAsFloat(const TByteArray& bytes);
TConversionResult ConvertAsInteger(const TByteArray& bytes);
TConversionResult ConvertAsText(const TByteArray& bytes);
// 4 significant digits, fixed or scientific ("10", "0.0001", "1.235E4", "1E-5", "INF", "NAN").
QString FormatFloat4(double value);
