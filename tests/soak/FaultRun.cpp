// SPDX-License-Identifier: Apache-2.0
#include "FaultRun.h"
#include "FreePorts.h"

#include "engine/MorvForm.h"
#include "protocol/PacketLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <cstring>
#include <random>
#include <unistd.h>

namespace soak {

namespace {

constexpr int Patience = 15000;

// Counts what the command set reports; the last received identifier lets a scenario see a late
// reply being dispatched.
class TCountingLog : public IPacketLog {
public:
    void LogPacket(const TPacket& packet, bool received) override {
        if (!received) {
            ++Sent;
            return;
        }
        ++Received;
        ++ReceivedById[packet.ID & 0xFF];
    }
    std::uint64_t Sent = 0;
    std::uint64_t Received = 0;
    std::map<int, std::uint64_t> ReceivedById;
};

float Between(std::uint32_t random, float lo, float hi) {
    return lo + (hi - lo) * static_cast<float>(random % 1000) / 999.0f;
}

} // namespace

QString LinkName(TLink link) {
    switch (link) {
    case TLink::Tcp:
        return QStringLiteral("tcp");
    case TLink::Udp:
        return QStringLiteral("udp");
    case TLink::Serial:
        return QStringLiteral("serial");
    case TLink::Can:
        return QStringLiteral("can");
    }
    return {};
}

std::optional<TLink> LinkFromName(const QString& name) {
    for (TLink l : {TLink::Tcp, TLink::Udp, TLink::Serial, TLink::Can})
        if (LinkName(l) == name)
            return l;
    return std::nullopt;
}

TSimTarget::TSimTarget(TLink link, const QStringList& simArgs) : FLink(link) {
    QStringList args = simArgs;
    bool defaults = true;
    if (link == TLink::Serial) {
        args << QStringLiteral("--serial-pty");
        defaults = false;
    } else if (link == TLink::Can) {
        // A bus of its own that the simulator hosts, so parallel tests never share one.
        FCanBus = QStringLiteral("virtualcan:tcp://127.0.0.1:%1/can0").arg(FreeTcpPort());
        args << QStringLiteral("--can") << FCanBus << QStringLiteral("--can-id")
             << QStringLiteral("100");
        defaults = false;
    }
    FSim = std::make_unique<SimProcess>(args, defaults);
}

bool TSimTarget::Start() {
    return FSim->Start();
}

TConnectTarget TSimTarget::Target() const {
    TConnectTarget t;
    switch (FLink) {
    case TLink::Tcp:
        t.Device = QStringLiteral("tcp");
        t.Tcp = {QStringLiteral("127.0.0.1"), FSim->TcpPort()};
        break;
    case TLink::Udp:
        t.Device = QStringLiteral("udp");
        t.Udp = {QStringLiteral("127.0.0.1"), FreeUdpPort(), FSim->UdpPort()};
        break;
    case TLink::Serial:
        t.Device = QStringLiteral("uart");
        t.Port = FSim->SerialPath();
        t.Serial.BaudIndex = 7;
        break;
    case TLink::Can:
        t.Device = QStringLiteral("can");
        t.Port = FCanBus;
        t.Can = {2, 100};
        break;
    }
    return t;
}

qint64 ResidentBytes() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().simplified().split(' ');
    if (fields.size() < 2)
        return -1;
    bool ok = false;
    const qint64 pages = fields[1].toLongLong(&ok);
    return ok ? pages * ::sysconf(_SC_PAGESIZE) : -1;
}

bool ConnectAndWait(TMorv& morv, const TConnectTarget& target, int timeoutMs) {
    bool up = false;
    const auto previous = morv.OnConnect;
    morv.OnConnect = [&up, previous](TMorv* m) {
        up = true;
        if (previous)
            previous(m);
    };
    const bool opened =
        morv.ConnectTo(target) == E_SUCCESS && QTest::qWaitFor([&] { return up; }, timeoutMs);
    morv.OnConnect = previous;
    return opened && morv.IsConnected();
}

const std::vector<TMixedCommand>& MixedCommands() {
    using R = std::uint32_t;
    using H = const TAsyncResultEvent&;
    static const std::vector<TMixedCommand> commands = {
        {"HOMING", [](TMorv& m, R, H done) { return m.Homing(0, done); }},
        {"GOTO",
         [](TMorv& m, R r, H done) { return m.GotoPosition(Between(r, 10, 100), 400, done); }},
        {"GRASP_RAW", [](TMorv& m, R, H done) { return m.Grasp(40, 400, done); }},
        {"RELEASE_RAW", [](TMorv& m, R, H done) { return m.ReleasePart(80, 400, done); }},
        {"STOP", [](TMorv& m, R, H) { return m.Stop(); }},
        {"FAST_STOP", [](TMorv& m, R, H) { return m.FastStop(); }},
        {"FAST_STOP_ACK", [](TMorv& m, R, H) { return m.AcknowledgeFastStop(); }},
        {"SET_ACCELERATION",
         [](TMorv& m, R r, H) { return m.SetAcceleration(Between(r, 100, 5000)); }},
        {"GET_ACCELERATION",
         [](TMorv& m, R, H) {
             float v = 0;
             return m.GetAcceleration(v);
         }},
        {"SET_FORCE_LIMIT", [](TMorv& m, R r, H) { return m.SetForceLimit(Between(r, 5, 80)); }},
        {"GET_FORCE_LIMIT",
         [](TMorv& m, R, H) {
             float v = 0;
             return m.GetForceLimit(v);
         }},
        {"GET_GRASPING_STATS",
         [](TMorv& m, R, H) {
             TGraspingStatistics s;
             return m.GetGraspingStatistics(false, s);
         }},
        {"GET_SYSINFO",
         [](TMorv& m, R, H) {
             TSystemInfo i;
             return m.GetSystemInfo(i);
         }},
        {"GET_SYSTEM_LIMITS",
         [](TMorv& m, R, H) {
             TSystemLimits l;
             return m.GetSystemLimits(l);
         }},
        {"GET_SYSTEM_STATE", [](TMorv& m, R, H) { return m.GetSystemState(true, 50, true); }},
        {"GET_GRASPING_STATE", [](TMorv& m, R, H) { return m.GetGraspingState(true, 50, true); }},
        {"GET_POS", [](TMorv& m, R, H) { return m.GetPosition(true, 100, true); }},
    };
    return commands;
}

namespace {
std::size_t CommandIndex(const char* name) {
    const auto& all = MixedCommands();
    for (std::size_t i = 0; i < all.size(); ++i)
        if (std::strcmp(all[i].Name, name) == 0)
            return i;
    return 0;
}
} // namespace

QStringList FaultySimArgs(const TRunOptions& options) {
    return {QStringLiteral("--referenced"),       QStringLiteral("--drop-rate"),
            QString::number(options.DropRate),    QStringLiteral("--corrupt-rate"),
            QString::number(options.CorruptRate), QStringLiteral("--seed"),
            QString::number(options.Seed)};
}

TMixedFigures RunMixed(const TRunOptions& options) {
    TMixedFigures fig;
    TSimTarget sim(options.Link, FaultySimArgs(options));
    if (!sim.Start()) {
        fig.Failure = QStringLiteral("simulator: ") + sim.ErrorString();
        return fig;
    }
    const TConnectTarget target = sim.Target();

    TMorv morv(nullptr);
    TCountingLog log;
    morv.SetPacketLog(&log);
    if (!ConnectAndWait(morv, target)) {
        fig.Failure = QStringLiteral("no connection to the simulator");
        return fig;
    }

    const auto& commands = MixedCommands();
    std::mt19937 rng(options.Seed);
    const TAsyncResultEvent motionResult = [&fig](TMorv*, std::int32_t, std::uint16_t,
                                                  const TByteArray&) { ++fig.FinalResults; };
    const std::size_t fastStop = CommandIndex("FAST_STOP");
    const std::size_t ack = CommandIndex("FAST_STOP_ACK");
    // Each fast stop is acknowledged by the next command, as an operator would.
    bool ackNext = false;
    for (int i = 0; i < options.Commands; ++i) {
        if (!morv.IsConnected()) {
            ++fig.ConnectionLosses;
            if (!ConnectAndWait(morv, target)) {
                fig.Failure =
                    QStringLiteral("connection lost and not regained after %1 commands").arg(i);
                break;
            }
        }
        const std::size_t pick = ackNext ? ack : rng() % commands.size();
        ackNext = pick == fastStop;
        const std::uint32_t random = rng();
        QElapsedTimer clock;
        clock.start();
        const TStat st = commands[pick].Run(morv, random, motionResult);
        const qint64 ms = clock.elapsed();

        ++fig.Commands;
        if (ms > fig.MaxSettleMs) {
            fig.MaxSettleMs = ms;
            fig.SlowestCommand =
                QStringLiteral("%1 %2").arg(QLatin1String(commands[pick].Name)).arg(st);
        }
        if (st <= E_FILE_EXISTS)
            ++fig.Settled;
        if (st == E_SUCCESS || st == E_CMD_PENDING) {
            ++fig.Succeeded;
            fig.MaxSucceededMs = std::max(fig.MaxSucceededMs, ms);
        } else if (st == E_CMD_FAILED && ms >= qint64(TMorv::ReplyTimeoutMs)) {
            ++fig.TimedOut;
        } else if (st == E_CMD_FAILED) {
            ++fig.FailedEarly;
            ++fig.FailedEarlyByCommand[QString::fromLatin1(commands[pick].Name)];
        } else {
            ++fig.OtherCodes[st];
        }
        if (fig.Commands == 1000)
            fig.RssAfter1000 = ResidentBytes();
        if (options.Progress)
            options.Progress(fig.Commands);
    }
    fig.RssEnd = ResidentBytes();

    // What is still on its way is dispatched by the packet notification; give it a moment.
    (void)QTest::qWaitFor([&] { return morv.Command()->PacketCount() == 0; }, 1000);
    fig.Arrived = morv.Command()->PacketsArrived();
    fig.Dispatched = log.Received;
    fig.LeftQueued = static_cast<std::uint64_t>(morv.Command()->PacketCount());
    fig.Duplicates =
        std::max<std::int64_t>(0, static_cast<std::int64_t>(fig.Dispatched + fig.LeftQueued) -
                                      static_cast<std::int64_t>(fig.Arrived));
    morv.Disconnect();
    return fig;
}

QString ScenarioName(TScenario scenario) {
    switch (scenario) {
    case TScenario::DelayInside:
        return QStringLiteral("delay-2900");
    case TScenario::DelayBeyond:
        return QStringLiteral("delay-3100");
    case TScenario::SilentIds:
        return QStringLiteral("silent-ids");
    case TScenario::DisconnectAfter:
        return QStringLiteral("disconnect-after");
    case TScenario::KilledMidCommand:
        return QStringLiteral("killed");
    }
    return {};
}

const QList<TScenario>& AllScenarios() {
    static const QList<TScenario> all = {TScenario::DelayInside, TScenario::DelayBeyond,
                                         TScenario::SilentIds, TScenario::DisconnectAfter,
                                         TScenario::KilledMidCommand};
    return all;
}

std::optional<TScenario> ScenarioFromName(const QString& name) {
    for (TScenario s : AllScenarios())
        if (ScenarioName(s) == name)
            return s;
    return std::nullopt;
}

bool NoticesKill(TLink link) {
    return link != TLink::Udp;
}

bool NoticesDisconnectAfter(TLink link) {
    return link == TLink::Tcp;
}

namespace {

constexpr int DisconnectAfterFrames = 3;

QStringList ScenarioArgs(TScenario scenario) {
    switch (scenario) {
    case TScenario::DelayInside:
        return {QStringLiteral("--delay-ms"), QStringLiteral("2900")};
    case TScenario::DelayBeyond:
        return {QStringLiteral("--delay-ms"), QStringLiteral("3100")};
    case TScenario::SilentIds:
        return {QStringLiteral("--silent-ids"), QStringLiteral("0x50")};
    case TScenario::DisconnectAfter:
        return {QStringLiteral("--disconnect-after"), QString::number(DisconnectAfterFrames)};
    case TScenario::KilledMidCommand:
        // The reply is held back long enough for the kill to come first.
        return {QStringLiteral("--delay-ms"), QStringLiteral("1500")};
    }
    return {};
}

} // namespace

TScenarioResult RunScenario(TScenario scenario, TLink link) {
    TScenarioResult res;
    TMorv morv(nullptr);
    TCountingLog log;
    morv.SetPacketLog(&log);
    QElapsedTimer sinceLinkEnd;
    morv.OnDisconnect = [&](TMorv*) {
        if (res.Disconnected)
            return;
        res.Disconnected = true;
        // Noticed before the caller saw its last reply: no later than the link's end.
        res.DisconnectMs = sinceLinkEnd.isValid() ? sinceLinkEnd.elapsed() : 0;
    };
    {
        TSimTarget sim(link, QStringList{QStringLiteral("--referenced")} << ScenarioArgs(scenario));
        if (!sim.Start()) {
            res.Failure = QStringLiteral("simulator: ") + sim.ErrorString();
            return res;
        }
        if (!ConnectAndWait(morv, sim.Target())) {
            res.Failure = QStringLiteral("no connection to the simulator");
            return res;
        }
        const auto timed = [&](const std::function<TStat()>& command) {
            QElapsedTimer clock;
            clock.start();
            res.Codes.append(int(command()));
            res.SettleMs << clock.elapsed();
        };
        const auto sysInfo = [&] {
            TSystemInfo info;
            return morv.GetSystemInfo(info);
        };
        const auto limits = [&] {
            TSystemLimits l;
            return morv.GetSystemLimits(l);
        };

        switch (scenario) {
        case TScenario::DelayInside:
            timed(sysInfo);
            timed([&] { return morv.GotoPosition(50, 400, {}); });
            break;
        case TScenario::DelayBeyond: {
            timed(sysInfo);
            // The late reply comes after the time-out and is dispatched like any other packet.
            res.LateReplyDispatched =
                QTest::qWaitFor([&] { return log.ReceivedById[CMD_GET_SYSINFO] > 0; }, Patience);
            break;
        }
        case TScenario::SilentIds:
            timed(sysInfo);
            timed(limits);
            break;
        case TScenario::DisconnectAfter:
            for (int i = 0; i < DisconnectAfterFrames; ++i)
                timed(limits);
            // The simulator ends the link right after its last reply went out.
            sinceLinkEnd.start();
            if (NoticesDisconnectAfter(link)) {
                (void)QTest::qWaitFor([&] { return res.Disconnected; }, Patience);
            } else {
                // The simulator only forgot its peer: the next request starts afresh.
                timed(limits);
            }
            break;
        case TScenario::KilledMidCommand: {
            QTimer killer;
            killer.setSingleShot(true);
            QObject::connect(&killer, &QTimer::timeout, [&] {
                sim.Sim().Kill();
                sinceLinkEnd.start();
            });
            killer.start(300);
            timed(sysInfo);
            if (NoticesKill(link))
                (void)QTest::qWaitFor([&] { return res.Disconnected; }, Patience);
            break;
        }
        }
        res.Connected = morv.IsConnected();
    }

    // Reconnecting closes the old link, which is not the scenario's doing.
    morv.OnDisconnect = nullptr;

    // A fresh simulator without faults: the same command set connects and works again.
    TSimTarget next(link, {QStringLiteral("--referenced")});
    if (!next.Start()) {
        res.Failure = QStringLiteral("next simulator: ") + next.ErrorString();
        return res;
    }
    if (ConnectAndWait(morv, next.Target())) {
        TSystemInfo info;
        res.NextConnectionWorks = morv.GetSystemInfo(info) == E_SUCCESS;
    }
    morv.Disconnect();
    return res;
}

} // namespace soak

namespace soak {

namespace {
constexpr qint64 SettleLimitMs = 3100;
constexpr qint64 NoticeLimitMs = 1000;

QString Codes(const TScenarioResult& r) {
    QStringList parts;
    for (int i = 0; i < r.Codes.size(); ++i)
        parts << QStringLiteral("%1 after %2 ms").arg(r.Codes[i]).arg(r.SettleMs.value(i));
    return parts.join(QStringLiteral(", "));
}
} // namespace

QStringList ScenarioFaults(TScenario scenario, TLink link, const TScenarioResult& r, bool timing) {
    QStringList faults;
    if (!r.Failure.isEmpty())
        return {r.Failure};
    const auto expect = [&](bool ok, const QString& what) {
        if (!ok)
            faults << what;
    };
    // A failure is only ever the time-out, and the engine waits the whole of it first.
    const auto timedOut = [&](int i) {
        return r.Codes.value(i, -1) == E_CMD_FAILED &&
               r.SettleMs.value(i) >= qint64(TMorv::ReplyTimeoutMs);
    };
    const auto succeeded = [&](int i) {
        return r.Codes.value(i, -1) == E_SUCCESS || r.Codes.value(i, -1) == E_CMD_PENDING;
    };
    const auto noticed = [&] {
        expect(r.Disconnected && !r.Connected, QStringLiteral("the lost link was not reported"));
        if (timing)
            expect(r.DisconnectMs >= 0 && r.DisconnectMs <= NoticeLimitMs,
                   QStringLiteral("reported %1 ms after the link ended").arg(r.DisconnectMs));
    };
    const auto stayed = [&] {
        expect(r.Connected && !r.Disconnected, QStringLiteral("the connection did not stay"));
    };

    switch (scenario) {
    case TScenario::DelayInside:
        expect(r.Codes.size() == 2, QStringLiteral("two commands"));
        for (int i = 0; i < r.Codes.size(); ++i)
            expect(timing ? succeeded(i) : (succeeded(i) || timedOut(i)),
                   QStringLiteral("command %1 not answered in time").arg(i + 1));
        stayed();
        break;
    case TScenario::DelayBeyond:
        expect(timedOut(0), QStringLiteral("the late reply was taken"));
        expect(r.LateReplyDispatched, QStringLiteral("the late reply was never dispatched"));
        stayed();
        break;
    case TScenario::SilentIds:
        expect(timedOut(0), QStringLiteral("the silent identifier did not time out"));
        expect(succeeded(1), QStringLiteral("another identifier failed"));
        stayed();
        break;
    case TScenario::DisconnectAfter:
        for (int i = 0; i < DisconnectAfterFrames; ++i)
            expect(succeeded(i), QStringLiteral("request %1 before the end failed").arg(i + 1));
        if (NoticesDisconnectAfter(link)) {
            noticed();
        } else {
            expect(succeeded(DisconnectAfterFrames),
                   QStringLiteral("the request after the peer was forgotten failed"));
            stayed();
        }
        break;
    case TScenario::KilledMidCommand:
        expect(timedOut(0), QStringLiteral("the command in flight did not fail by time-out"));
        if (NoticesKill(link))
            noticed();
        else
            stayed();
        break;
    }
    if (timing)
        for (int i = 0; i < r.SettleMs.size(); ++i)
            expect(r.SettleMs[i] <= SettleLimitMs,
                   QStringLiteral("command %1 took %2 ms").arg(i + 1).arg(r.SettleMs[i]));
    expect(r.NextConnectionWorks, QStringLiteral("the next connection did not work"));
    if (!faults.isEmpty())
        faults << QStringLiteral("(%1)").arg(Codes(r));
    return faults;
}

QStringList MixedFaults(const TMixedFigures& f, bool timing) {
    QStringList faults;
    if (!f.Failure.isEmpty())
        faults << f.Failure;
    if (f.Settled != f.Commands)
        faults << QStringLiteral("%1 of %2 commands settled").arg(f.Settled).arg(f.Commands);
    for (const auto& [name, count] : f.FailedEarlyByCommand)
        if (name != QStringLiteral("GRASP_RAW"))
            faults << QStringLiteral("%1 failed %2 times before its time-out").arg(name).arg(count);
    if (f.Duplicates > 0)
        faults
            << QStringLiteral("%1 packets dispatched beyond those that arrived").arg(f.Duplicates);
    if (f.ConnectionLosses > 0)
        faults << QStringLiteral("the connection was lost %1 times").arg(f.ConnectionLosses);
    if (f.Succeeded == 0)
        faults << QStringLiteral("no command succeeded");
    if (timing) {
        if (f.MaxSettleMs > SettleLimitMs)
            faults << QStringLiteral("a command took %1 ms").arg(f.MaxSettleMs);
        if (f.RssAfter1000 > 0 && f.RssEnd > f.RssAfter1000 * 105 / 100)
            faults << QStringLiteral("resident memory grew from %1 to %2 bytes")
                          .arg(f.RssAfter1000)
                          .arg(f.RssEnd);
    }
    return faults;
}

} // namespace soak
