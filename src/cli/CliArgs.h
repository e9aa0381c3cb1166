// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/DevicePrompts.h"
#include "devices/TargetText.h"
#include "protocol/Packet.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <optional>

// What karo-cli was asked to do, checked completely before anything is opened.
enum class TCliCommand {
    Info,
    Limits,
    State,
    Stats,
    Home,
    Move,
    Grasp,
    Release,
    Stop,
    FastStop,
    AckFastStop,
    GetForce,
    SetForce,
    GetAcc,
    SetAcc,
    Monitor,
    Send,
    Tap,
};

struct TCliRequest {
    bool Json = false;
    bool Stats = false;     // the link's counters on standard error at the end
    bool Reconnect = false; // monitor: open a lost link again
    int TimeoutMs = 30000;
    QString TargetText;
    TConnectTarget Target;
    TCliCommand Command = TCliCommand::Info;
    QString CommandText;
    // Arguments, by command: home (Param), move/grasp/release (Value, Speed), set-force and
    // set-acc (Value), stats (Reset), monitor (Seconds, 0 = until interrupted), send (ID, Payload).
    std::uint8_t Param = 0;
    float Value = 0;
    float Speed = 0;
    bool Reset = false;
    double Seconds = 0;
    std::uint8_t ID = 0;
    TByteArray Payload;
    // tap: the links listened to.
    QList<TConnectTarget> Taps;
};

struct TCliParse {
    enum TKind { Run, Help, Version, Invalid } Kind = Invalid;
    TCliRequest Request;
    QString Error; // one line naming the bad part
};

// `args` without the program name.
TCliParse ParseCliArguments(const QStringList& args);
extern const char* const CliUsage;
