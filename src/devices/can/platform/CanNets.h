// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <cstdint>
#include <map>
#include <optional>

// Which bus each CAN net number stands for. A bus is named "plugin:interface" after Qt Serial
// Bus, e.g. "socketcan:can0", "virtualcan:can1" or "virtualcan:tcp://127.0.0.1:40000/can0".
//
// Section "nets" of "can.cfg" ("0=socketcan:can0") decides when it exists. Without it the
// buses found on this machine are used: SocketCAN canN as nets 0-9, vcanN as nets 10-17 and
// the virtual bus's can0/can1 as nets 19 and 20.
namespace CanNets {

constexpr int FirstNet = 0;
constexpr int LastNet = 20;

std::map<int, QString> NetMap();
// Whether the settings name the nets (section "nets" exists) rather than the machine's buses.
bool NamedInSettings();
// Empty when the net stands for no bus.
QString BusOf(int net);

// "Net 19" -> 19; nothing for any other text.
std::optional<int> NetNumber(const QString& portName);

// "plugin:interface" with a plugin that Qt Serial Bus has.
bool IsBusName(const QString& text);

// Splits at the first colon; false when either half is empty.
bool SplitBus(const QString& bus, QString& plugin, QString& interfaceName);

// Bit/s of a library bit-rate code; nothing for a code outside the table.
std::optional<std::uint32_t> BitrateOfCode(std::uint32_t code);

} // namespace CanNets
