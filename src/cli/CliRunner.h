// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "cli/CliArgs.h"
#include "engine/LoopWait.h"
#include "engine/MorvForm.h"
#include "protocol/LinkCounters.h"

#include <QElapsedTimer>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <cstdio>
#include <functional>

enum TCliExit {
    ExitSuccess = 0,
    ExitGripperError = 1,
    ExitUsage = 2,
    ExitLink = 3,
    ExitNoReply = 4,
};

// One value of a result: "Label: Text" in text form, "Key": Json in JSON form.
struct TCliField {
    QString Label;
    QString Text;
    QString Key;
    QJsonValue Json;
};

// Connects, runs one request and reports it; Run() returns the exit code. Waits are driven by
// the engine's notifications and bounded by the request's time-out.
class TCliRunner {
public:
    TCliRunner(const TCliRequest& request, std::FILE* out, std::FILE* err);
    ~TCliRunner();

    int Run();
    // SIGINT or SIGTERM: a running motion is stopped, a monitor ends (the program's signal
    // handling calls this from the event loop).
    void Interrupt(int signalNumber);
    // How long a stop after a signal, or switching a monitor's updates off, may wait.
    static constexpr std::uint32_t StopWaitMs = 1000;

private:
    int Connect();
    int Execute();
    int Motion(const std::function<TStat(TAsyncResultEvent)>& start);
    int Simple(std::uint8_t id, TStat status);
    int Monitor();
    // Sends Stop after a signal ended the wait for `id`'s final result; exits as the signal.
    int StopAfterSignal(std::uint8_t id);
    // Leaves the gripper as the monitor found it, within StopWaitMs: 0, or the exit code of
    // a switch that got no reply or was refused.
    int SwitchUpdatesOff();
    int Send();
    void LinkLost(std::uint32_t silentMs);
    void LinkRestored();
    QString LostText() const;
    // The exit code for a failed status of `id`, with its message; -1 when `status` is a success.
    // The command's own exchange tells a silent gripper from a refusal.
    int Failure(std::uint8_t id, TStat status, bool pendingIsSuccess = false);

    void Print(const QList<TCliField>& fields);
    void PrintLine(const QString& line);
    void Error(const QString& text);

    QString StateText(std::uint32_t state) const;
    TCliField SystemStateField() const;
    TCliField GraspingStateField() const;
    TCliField PositionField() const;

    const TCliRequest& FRequest;
    std::FILE* FOut;
    std::FILE* FErr;
    TCountingPacketLog FStatsLog;
    TMorv FMorv{nullptr};
    TLoopWait FWait;
    bool FConnected = false;
    bool FLinkLost = false;
    int FSignal = 0; // the first SIGINT or SIGTERM, 0 before one came
    bool FFinalArrived = false;
    std::uint16_t FFinalStatus = 0;
    TByteArray FFinalData;
    bool FMonitoring = false;
    bool FSilentLoss = false; // the engine gave the link up
    std::uint32_t FLostSilentMs = 0;
    QElapsedTimer FClock;
};
