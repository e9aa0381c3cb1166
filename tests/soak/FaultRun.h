// SPDX-License-Identifier: Apache-2.0
#pragma once

// The engine against karo-sim under injected faults: a long run of mixed commands and a few
// scenarios that end a link on purpose. The soak programs print the figures; the tests in
// tests/e2e assert the rules the engine guarantees on short runs of the same code.

#include "SimProcess.h"
#include "devices/DevicePrompts.h"
#include "engine/AsyncResultEventList.h"
#include "protocol/Constants.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class TMorv;

namespace soak {

enum class TLink { Tcp, Udp, Serial, Can };
QString LinkName(TLink link);
std::optional<TLink> LinkFromName(const QString& name);

// karo-sim serving one link with the given extra switches, and the target that reaches it.
class TSimTarget {
public:
    TSimTarget(TLink link, const QStringList& simArgs);
    bool Start();
    QString ErrorString() const { return FSim->ErrorString(); }
    TConnectTarget Target() const;
    SimProcess& Sim() { return *FSim; }
    TLink Link() const { return FLink; }

private:
    TLink FLink;
    QString FCanBus;
    std::unique_ptr<SimProcess> FSim;
};

// Resident set size of this process in bytes, from /proc/self/statm; -1 when unreadable.
qint64 ResidentBytes();

// Connects without asking and waits for the transport's connected notification.
bool ConnectAndWait(TMorv& morv, const TConnectTarget& target, int timeoutMs = 15000);

// One command of the mix. `random` varies its values; a motion hands its final result to
// `done`. Returns the command's status.
struct TMixedCommand {
    const char* Name;
    std::function<TStat(TMorv&, std::uint32_t random, const TAsyncResultEvent& done)> Run;
};
// Every command kind the tool sends itself, in a form the gripper accepts in any state
// (automatic updates stay switched on).
const std::vector<TMixedCommand>& MixedCommands();

// What a fault run (engine or window) drives: the link, how many commands, and the
// simulator's seed and fault rates.
struct TRunOptions {
    TLink Link = TLink::Tcp;
    int Commands = 200;
    std::uint32_t Seed = 1;
    double DropRate = 0.05;
    double CorruptRate = 0.01;
    // Called after every command with the number done so far.
    std::function<void(int)> Progress;
};

// karo-sim's switches for a referenced gripper on a link that drops and corrupts frames.
QStringList FaultySimArgs(const TRunOptions& options);

struct TMixedFigures {
    int Commands = 0;
    int Settled = 0;   // returned with a status code of the protocol
    int Succeeded = 0; // 0 or 26
    int TimedOut = 0;  // 18 after the full reply time-out
    // 18 before the reply time-out ran out. A grasp that finds no part ends with a final 18;
    // when that result crosses the next grasp's request it is taken as that request's reply
    // (the first packet with the identifier is the reply), so a grasp may see it early.
    int FailedEarly = 0;
    std::map<QString, int> FailedEarlyByCommand;
    std::map<int, int> OtherCodes;
    qint64 MaxSettleMs = 0;
    QString SlowestCommand; // and its status code
    qint64 MaxSucceededMs = 0;
    std::uint64_t Arrived = 0;    // intact packets the engine's receiver completed
    std::uint64_t Dispatched = 0; // packets the command set dispatched
    std::uint64_t LeftQueued = 0; // still queued when the run ended
    std::int64_t Duplicates = 0;  // dispatched (or queued) beyond what arrived
    int FinalResults = 0;         // final results of motions delivered to their handler
    int ConnectionLosses = 0;
    qint64 RssAfter1000 = -1;
    qint64 RssEnd = -1;
    QString Failure; // why the run could not run, empty when it ran
};

TMixedFigures RunMixed(const TRunOptions& options);

enum class TScenario {
    DelayInside,      // replies leave 2900 ms late: still inside the reply time-out
    DelayBeyond,      // replies leave 3100 ms late: time-out, the late reply is dispatched
    SilentIds,        // one identifier is never answered, the others are
    DisconnectAfter,  // the simulator ends the link after a few requests
    KilledMidCommand, // the simulator dies while a command waits for its reply
};
QString ScenarioName(TScenario scenario);
std::optional<TScenario> ScenarioFromName(const QString& name);
const QList<TScenario>& AllScenarios();

struct TScenarioResult {
    QList<int> Codes; // status codes, in order
    QList<qint64> SettleMs;
    bool Connected = false;    // still connected when the scenario was over
    bool Disconnected = false; // the command set reported the connection down
    qint64 DisconnectMs = -1;  // from the link's end to that report
    bool LateReplyDispatched = false;
    bool NextConnectionWorks = false;
    QString Failure;
};

TScenarioResult RunScenario(TScenario scenario, TLink link);

// How a scenario's result departs from the documented end state; empty when it does not. With
// `timing` the time limits count too (1 s to notice a lost link, 3.1 s to settle), which only a
// machine that is not overloaded can promise.
QStringList ScenarioFaults(TScenario scenario, TLink link, const TScenarioResult& result,
                           bool timing);
// The same for a mixed run: every command settled, no duplicate, no lost connection; with
// `timing` also the 3.1 s settle limit and the 5 % memory rule.
QStringList MixedFaults(const TMixedFigures& figures, bool timing);

// Whether a transport ends a link it lost (TCP closing, the pseudo-terminal hanging up, the
// virtual CAN bus going away) or keeps sending into the void (UDP; the simulator on the serial
// line and on CAN only forgets its peer when it ends the link itself).
bool NoticesKill(TLink link);
bool NoticesDisconnectAfter(TLink link);

} // namespace soak
