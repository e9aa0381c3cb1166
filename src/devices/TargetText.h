// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/DevicePrompts.h"

#include <QString>

#include <optional>

// A connection written as one line, as karo-cli and the Python module take it:
// tcp://HOST:PORT, udp://HOST:PORT[?listen=PORT], serial:DEVICE[?baud=RATE],
// can:NET[?id=ID&bitrate=RATE]. Nothing, with `error` set to one line naming the bad part, when
// the text is not one of these.
std::optional<TConnectTarget> ParseTarget(const QString& text, QString& error);
