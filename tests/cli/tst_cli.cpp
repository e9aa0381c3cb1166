// SPDX-License-Identifier: Apache-2.0
// karo-cli as a separate process against karo-sim: every command in both output forms on every
// transport, every exit code, and bad input.

#include "FreePorts.h"
#include "SimProcess.h"
#include "cli/CliArgs.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <signal.h>

#include <algorithm>
#include <csignal>
#include <iterator>
#include <memory>
#include <utility>
#include <vector>

namespace {

QProcessEnvironment CliEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C")); // the decimal point
    return env;
}

// Whether `signalNumber` waits for delivery to the process, from its /proc status.
bool SignalPending(pid_t pid, int signalNumber) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    const quint64 bit = quint64(1) << (signalNumber - 1);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigPnd:") || line.startsWith("ShdPnd:")) {
            bool ok = false;
            if ((line.mid(7).trimmed().toULongLong(&ok, 16) & bit) != 0)
                return true;
        }
    }
    return false;
}

struct CliRun {
    int Exit = -1;
    QString Out;
    QString Err;
};

// The tool runs from a copy laid out as in the build tree (the Commander one folder up), so
// its settings files land in a folder of the test's own.
struct TCliCopy {
    QTemporaryDir Dir;
    QString Home() const { return Dir.path(); }
    QString Program() const { return Dir.filePath(QStringLiteral("cli/karo-cli")); }
    bool Lay() {
        QFile commander(Dir.filePath(QStringLiteral("karo-commander")));
        return Dir.isValid() && QDir(Dir.path()).mkdir(QStringLiteral("cli")) &&
               QFile::copy(QStringLiteral(KARO_CLI_PATH), Program()) &&
               commander.open(QIODevice::WriteOnly) && commander.write("#!/bin/sh\n") > 0 &&
               commander.setPermissions(commander.permissions() | QFileDevice::ExeOwner);
    }
    QByteArray Read(const QString& name) const {
        QFile f(Dir.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    void Write(const QString& name, const QString& text) const {
        QFile f(Dir.filePath(name));
        if (f.open(QIODevice::WriteOnly))
            f.write(text.toUtf8());
    }
};
TCliCopy* Cli = nullptr;

CliRun RunCli(const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(CliEnvironment());
    p.start(Cli->Program(), args);
    CliRun r;
    // A safety net only: the tool bounds its own waits.
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished();
        r.Err = QStringLiteral("karo-cli did not end");
        return r;
    }
    r.Exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.Out = QString::fromUtf8(p.readAllStandardOutput());
    r.Err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// Every key of `expected` is in `actual` with the same value; a null value only asks for the key.
bool Contains(const QJsonObject& actual, const QJsonObject& expected, QString& why) {
    for (auto it = expected.begin(); it != expected.end(); ++it) {
        if (!actual.contains(it.key()) || (!it.value().isNull() && actual[it.key()] != *it)) {
            why = QStringLiteral("%1 is %2")
                      .arg(it.key(),
                           QString::fromUtf8(QJsonDocument(actual).toJson(QJsonDocument::Compact)));
            return false;
        }
    }
    return true;
}

QList<QJsonObject> JsonLines(const QString& out, QString& why) {
    QList<QJsonObject> objects;
    for (const QString& line : out.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QJsonParseError e;
        const QJsonDocument d = QJsonDocument::fromJson(line.toUtf8(), &e);
        if (!d.isObject())
            why = QStringLiteral("not a JSON object: ") + line;
        objects.append(d.object());
    }
    return objects;
}

// One step of a session against one simulator: what the tool prints in text form (a regular
// expression for the whole output), what the first and last JSON objects hold in JSON form.
struct Step {
    const char* Args;
    int Exit;
    const char* Text;
    const char* FirstJson;
    const char* LastJson;
    const char* Error; // standard error, a regular expression; "" for none
};

const char* const StateIdle = "^System state: 00000081h \\(Referenced, Target pos reached\\)\n"
                              "Grasping state: idle\nPosition: 55\\.00 mm\n$";

// In order: each step may rely on the gripper state that the steps before it left.
const Step Session[] = {
    {"info", 0,
     "^Gripper type: Morv 50\nSerial number: 00004711\nHardware rev\\.: 2\n"
     "Firmware rev\\.: 260\n$",
     R"({"gripper_type":"Morv 50","serial_number":4711,"hardware_revision":2,)"
     R"("firmware_revision":260,"type_code":1})",
     nullptr, ""},
    {"limits", 0,
     "^Stroke: 110 mm\nMinimum speed: 5 mm/s\nMaximum speed: 420 mm/s\n"
     "Minimum acceleration: 100 mm/s²\nMaximum acceleration: 5000 mm/s²\n"
     "Minimum force: 5 N\nMaximum force: 80 N\n$",
     R"({"stroke_mm":110,"max_speed_mm_s":420,"max_force_n":80})", nullptr, ""},
    {"state", 0,
     "^System state: 00000001h \\(Referenced\\)\nGrasping state: idle\nPosition: 55\\.00 mm\n$",
     R"({"system_state":{"value":1,"hex":"00000001","flags":["Referenced"]},)"
     R"("grasping_state":{"value":0,"text":"idle"},"position_mm":55})",
     nullptr, ""},
    {"set-force 30", 0, "^SET_FORCE_LIMIT: No error\n$",
     R"({"command":"SET_FORCE_LIMIT","status":0,"status_text":"No error"})", nullptr, ""},
    {"get-force", 0, "^Force limit: 30\\.0 N\n$", R"({"force_limit_n":30})", nullptr, ""},
    {"set-acc 400", 0, "^SET_ACCELERATION: No error\n$", R"({"status":0})", nullptr, ""},
    {"get-acc", 0, "^Acceleration: 400 mm/s²\n$", R"({"acceleration_mm_s2":400})", nullptr, ""},
    {"home", 0, "^Command HOMING finished: No error\\.\n$",
     R"({"command":"HOMING","status":0,"result":"Command HOMING finished: No error."})", nullptr,
     ""},
    {"move 60 200", 0, "^Command GOTO finished: No error\\.\n$", R"({"command":"GOTO","status":0})",
     nullptr, ""},
    {"grasp 40 200", 0, "^Command GRASP_RAW finished: No error\\.\n$",
     R"({"command":"GRASP_RAW","status":0})", nullptr, ""},
    {"state", 0, "\nGrasping state: holding\nPosition: 40\\.00 mm\n$",
     R"({"grasping_state":{"value":4,"text":"holding"}})", nullptr, ""},
    {"stats", 0,
     "^Number of grasps: [1-9][0-9]*\nNumber of not found parts: 0\n"
     "Number of parts lost: 0\n$",
     R"({"not_found_parts":0,"reset":false})", nullptr, ""},
    {"stats --reset", 0, "^Number of grasps: [1-9]", R"({"reset":true})", nullptr, ""},
    {"stats", 0, "^Number of grasps: 0\n", R"({"grasps":0})", nullptr, ""},
    {"release 55 200", 0, "^Command RELEASE_RAW finished: No error\\.\n$",
     R"({"command":"RELEASE_RAW","status":0})", nullptr, ""},
    {"state", 0, StateIdle,
     R"({"system_state":{"value":129,"hex":"00000081","flags":["Referenced",)"
     R"("Target pos reached"]},"position_mm":55})",
     nullptr, ""},
    // The gripper's refusal: its status text on standard error, exit code 1.
    {"move 500 200", 1, "^$", R"({"command":"GOTO","status":28,"status_text":"Range error"})",
     nullptr, "^karo-cli: GOTO: Range error\n$"},
    {"set-force 500", 1, "^$", R"({"command":"SET_FORCE_LIMIT","status":28})", nullptr,
     "^karo-cli: SET_FORCE_LIMIT: Range error\n$"},
    {"send 0x21 1 2", 1, "^Sending Command 21h: Command format error\nReply data: \\[n/a\\]\n$",
     R"({"id":33,"status":15})", nullptr, "command 21h: Command format error"},
    {"stop", 0, "^STOP: No error\n$", R"({"command":"STOP","status":0})", nullptr, ""},
    {"fast-stop", 0, "^FAST_STOP: No error\n$", R"({"command":"FAST_STOP"})", nullptr, ""},
    {"state", 0, "^System state: [0-9A-F]{7}[0-9A-F]h \\(.*Fast stop\\)\n",
     R"({"system_state":null})", nullptr, ""},
    {"move 50 200", 1, "^$", R"({"status":16})", nullptr, "GOTO: "},
    {"ack-fast-stop", 0, "^FAST_STOP_ACK: No error\n$", R"({"command":"FAST_STOP_ACK"})", nullptr,
     ""},
    // A fast stop leaves "Axis stopped" set until the next motion.
    {"send 64", 0, "^Sending Command 40h: No error\nReply data: C1 00 00 00\n$",
     R"({"id":64,"status":0,"data":"C1 00 00 00"})", nullptr, ""},
    // GOTO 50 mm at 200 mm/s typed as editor items; the final result comes later.
    {"send 0x21 0 50.0f 200f", 0,
     "^Sending Command 21h: Command pending...\nReply data: \\[n/a\\]\n"
     "Async result from command 21h: No error\\.\n$",
     R"({"id":33,"status":26})", R"({"id":33,"async_status":0})", ""},
    {"monitor 0.3", 0,
     "^(System state: 00000081h \\(Referenced, Target pos reached\\)\n|Grasping state: idle\n|"
     "Position: 50\\.00 mm\n){3,}$",
     R"({"time_ms":null,"system_state":null})", R"({"time_ms":null})", ""},
};

// What is wrong with one step's result; empty when nothing is.
QString CheckStep(const Step& step, bool json, const CliRun& r) {
    const QString what = QString::fromUtf8(step.Args) + QStringLiteral(": ") + r.Err;
    if (r.Exit != step.Exit)
        return what + QStringLiteral(" exit %1").arg(r.Exit);
    // Nothing on standard error unless the step expects it.
    const QString error = *step.Error ? QString::fromUtf8(step.Error) : QStringLiteral("^$");
    if (!QRegularExpression(error).match(r.Err).hasMatch())
        return what;
    if (!json)
        return QRegularExpression(QString::fromUtf8(step.Text)).match(r.Out).hasMatch()
                   ? QString()
                   : what + r.Out;
    QString why;
    const QList<QJsonObject> objects = JsonLines(r.Out, why);
    if (!why.isEmpty() || objects.isEmpty())
        return what + why + r.Out;
    const auto check = [&](const char* expected, const QJsonObject& actual) {
        return !expected || Contains(actual, QJsonDocument::fromJson(expected).object(), why);
    };
    if (!check(step.FirstJson, objects.first()) || !check(step.LastJson, objects.last()))
        return what + why;
    return {};
}

// One session of the steps above against a simulator of its own, one karo-cli process at a
// time; it stops at the first step that goes wrong.
struct TSessionRun {
    explicit TSessionRun(const QStringList& simArgs) : Sim(simArgs) {
        Process.setProcessEnvironment(CliEnvironment());
        QObject::connect(
            &Process, &QProcess::finished, &Process,
            [this](int code, QProcess::ExitStatus status) { StepEnded(code, status); });
        QObject::connect(&Process, &QProcess::errorOccurred, &Process,
                         [this](QProcess::ProcessError e) {
                             if (e == QProcess::FailedToStart) {
                                 Failure = Name + QStringLiteral(": karo-cli did not start");
                                 Done = true;
                             }
                         });
    }

    void StartStep() {
        if (Next == std::size(Session) || !Failure.isEmpty()) {
            Done = true;
            return;
        }
        QStringList args;
        if (Json)
            args << QStringLiteral("--json");
        args << Target
             << QString::fromUtf8(Session[Next].Args).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        Process.start(Cli->Program(), args);
    }

    void StepEnded(int code, QProcess::ExitStatus status) {
        CliRun r;
        r.Exit = status == QProcess::NormalExit ? code : -1;
        r.Out = QString::fromUtf8(Process.readAllStandardOutput());
        r.Err = QString::fromUtf8(Process.readAllStandardError());
        const QString bad = CheckStep(Session[Next], Json, r);
        if (!bad.isEmpty())
            Failure = Name + QStringLiteral(": ") + bad;
        ++Next;
        // Not from inside the process's own notification.
        QTimer::singleShot(0, &Process, [this] { StartStep(); });
    }

    SimProcess Sim;
    QString Name;
    bool Json = false;
    QString Target;
    std::size_t Next = 0;
    QProcess Process;
    QString Failure;
    bool Done = false;
};

// Runs the argument lists as karo-cli processes side by side and returns their results in
// the same order.
QList<CliRun> RunCliTogether(const QList<QStringList>& argLists) {
    std::vector<std::unique_ptr<QProcess>> processes;
    for (const QStringList& args : argLists) {
        processes.push_back(std::make_unique<QProcess>());
        processes.back()->setProcessEnvironment(CliEnvironment());
        processes.back()->start(Cli->Program(), args);
    }
    QList<CliRun> results;
    for (const auto& p : processes) {
        CliRun r;
        // A safety net only: the tool bounds its own waits.
        if (!p->waitForFinished(60000)) {
            p->kill();
            p->waitForFinished();
            r.Err = QStringLiteral("karo-cli did not end");
        } else {
            r.Exit = p->exitStatus() == QProcess::NormalExit ? p->exitCode() : -1;
        }
        r.Out += QString::fromUtf8(p->readAllStandardOutput());
        r.Err += QString::fromUtf8(p->readAllStandardError());
        results.append(r);
    }
    return results;
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT
    TCliCopy FCopy;
private Q_SLOTS:
    void initTestCase() {
        QVERIFY(FCopy.Lay());
        Cli = &FCopy;
    }

    // A COMn name and a net number that only the Commander's settings files define.
    void commanderSettingsNameThePorts() {
        const QString bus = QStringLiteral("virtualcan:tcp://127.0.0.1:%1/can0").arg(FreeTcpPort());
        SimProcess sim({QStringLiteral("--serial-pty"), QStringLiteral("--can"), bus,
                        QStringLiteral("--can-id"), QStringLiteral("100")},
                       false);
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        FCopy.Write(QStringLiteral("uart.cfg"),
                    QStringLiteral("[ports]\nCOM9=%1\n").arg(sim.SerialPath()));
        FCopy.Write(QStringLiteral("can.cfg"), QStringLiteral("[nets]\n19=%1\n").arg(bus));
        for (const char* target : {"serial:COM9", "can:19"}) {
            const CliRun r = RunCli({QString::fromLatin1(target), QStringLiteral("state")});
            QVERIFY2(r.Exit == 0, qPrintable(QString::fromLatin1(target) + r.Err));
            QVERIFY2(r.Out.startsWith(QStringLiteral("System state: ")), qPrintable(r.Out));
        }
        // What the tool stores goes there too, and nothing beside the tool.
        QVERIFY2(FCopy.Read(QStringLiteral("uart.cfg")).contains("baudrate=7"),
                 FCopy.Read(QStringLiteral("uart.cfg")).constData());
        QCOMPARE(QDir(FCopy.Dir.filePath(QStringLiteral("cli"))).entryList(QDir::Files),
                 QStringList{QStringLiteral("karo-cli")});
        const CliRun help = RunCli({QStringLiteral("--help")});
        QVERIFY2(help.Out.contains(QStringLiteral("Settings files (shared with karo-commander): ") +
                                   FCopy.Home() + QLatin1Char('\n')),
                 qPrintable(help.Out));
    }

    // A whole session on one fresh simulator per transport and output form; the sessions run
    // side by side, each step starting when the one before it in its session has ended.
    void everyCommand() {
        struct Row {
            const char* Transport;
            bool Json;
        };
        // The line transports share the code above the link: one form each is enough.
        const Row rows[] = {{"tcp", false}, {"tcp", true},     {"udp", false},
                            {"udp", true},  {"serial", false}, {"can", true}};
        std::vector<std::unique_ptr<TSessionRun>> runs;
        for (const Row& row : rows) {
            const QString transport = QString::fromLatin1(row.Transport);
            QStringList simArgs{QStringLiteral("--referenced"), QStringLiteral("--serial-number"),
                                QStringLiteral("4711")};
            // A bus of its own on a free port, hosted by the simulator.
            const QString bus =
                QStringLiteral("virtualcan:tcp://127.0.0.1:%1/can0").arg(FreeTcpPort());
            if (transport == QLatin1String("serial"))
                simArgs << QStringLiteral("--serial-pty");
            if (transport == QLatin1String("can"))
                simArgs << QStringLiteral("--can") << bus << QStringLiteral("--can-id")
                        << QStringLiteral("100");
            auto run = std::make_unique<TSessionRun>(simArgs);
            QVERIFY2(run->Sim.Start(), qPrintable(run->Sim.ErrorString()));
            run->Name = transport + (row.Json ? QStringLiteral(" json") : QStringLiteral(" text"));
            run->Json = row.Json;
            if (transport == QLatin1String("tcp"))
                run->Target = QStringLiteral("tcp://127.0.0.1:%1").arg(run->Sim.TcpPort());
            else if (transport == QLatin1String("udp"))
                run->Target = QStringLiteral("udp://127.0.0.1:%1?listen=%2")
                                  .arg(run->Sim.UdpPort())
                                  .arg(FreeUdpPort());
            else if (transport == QLatin1String("serial"))
                run->Target = QStringLiteral("serial:%1?baud=115200").arg(run->Sim.SerialPath());
            else
                run->Target = QStringLiteral("can:%1?id=100&bitrate=250k").arg(bus);
            runs.push_back(std::move(run));
        }
        for (auto& run : runs)
            run->StartStep();
        const auto finished = [&runs] {
            return std::all_of(runs.begin(), runs.end(), [](const auto& r) { return r->Done; });
        };
        // A safety net only: the tool bounds its own waits.
        QVERIFY(QTest::qWaitFor(finished, 240000));
        for (const auto& run : runs)
            QVERIFY2(run->Failure.isEmpty(), qPrintable(run->Failure));
    }

    void monitorLinesCarryTheirTime() {
        SimProcess sim({QStringLiteral("--referenced")});
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        const CliRun r = RunCli({QStringLiteral("--json"),
                                 QStringLiteral("tcp://127.0.0.1:%1").arg(sim.TcpPort()),
                                 QStringLiteral("monitor"), QStringLiteral("0.5")});
        QCOMPARE(r.Exit, 0);
        QString why;
        const QList<QJsonObject> lines = JsonLines(r.Out, why);
        QVERIFY2(why.isEmpty(), qPrintable(why));
        // The three answers to switching the updates on, then updates that the gripper sent.
        QVERIFY(lines.size() > 3);
        double last = 0;
        for (const QJsonObject& o : lines) {
            QCOMPARE(o.size(), 2);
            QVERIFY(o[QStringLiteral("time_ms")].toDouble() >= last);
            last = o[QStringLiteral("time_ms")].toDouble();
        }
        QVERIFY(last < 60000);
    }

    // --stats: the link's counters after the result, on standard error.
    void statsOnExit() {
        SimProcess sim({QStringLiteral("--delay-ms"), QStringLiteral("30")});
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        const CliRun r = RunCli({QStringLiteral("--stats"),
                                 QStringLiteral("tcp://127.0.0.1:%1").arg(sim.TcpPort()),
                                 QStringLiteral("info")});
        QCOMPARE(r.Exit, 0);
        QVERIFY(r.Out.startsWith(QStringLiteral("Gripper type:")));
        QVERIFY2(r.Err.contains(QStringLiteral("Frames in: 1\nFrames out: 1\nChecksum failures: 0\n"
                                               "Bytes skipped: 0\n")),
                 qPrintable(r.Err));
        static const QRegularExpression roundTrip(
            QStringLiteral("Round trip min / mean / max: (\\d+) / [0-9.]+ / (\\d+) ms\n"));
        const QRegularExpressionMatch m = roundTrip.match(r.Err);
        QVERIFY2(m.hasMatch(), qPrintable(r.Err));
        QVERIFY(m.captured(1).toInt() >= 30);   // the simulator's delay
        QCOMPARE(m.captured(1), m.captured(2)); // one reply
    }

    // A motion accepted at first and failing at the end: its final line, then exit code 1.
    void motionEndsInError() {
        SimProcess sim({QStringLiteral("--referenced"), QStringLiteral("--no-part")});
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        const QString target = QStringLiteral("tcp://127.0.0.1:%1").arg(sim.TcpPort());
        CliRun r =
            RunCli({target, QStringLiteral("grasp"), QStringLiteral("10"), QStringLiteral("200")});
        QCOMPARE(r.Exit, 1);
        QCOMPARE(r.Out, QStringLiteral("Command GRASP_RAW finished: Command failed.\n"));
        QCOMPARE(r.Err, QStringLiteral("karo-cli: GRASP_RAW: Command failed\n"));
        r = RunCli({QStringLiteral("--json"), target, QStringLiteral("grasp"), QStringLiteral("10"),
                    QStringLiteral("200")});
        QCOMPARE(r.Exit, 1);
        const QJsonObject o = QJsonDocument::fromJson(r.Out.toUtf8()).object();
        QCOMPARE(o[QStringLiteral("status")].toInt(), 18);
        QCOMPARE(o[QStringLiteral("command")].toString(), QStringLiteral("GRASP_RAW"));
    }

    // The window's read-out formats a signed number; above 2^31 that would print negative.
    void serialNumberIsUnsigned() {
        SimProcess sim({QStringLiteral("--serial-number"), QStringLiteral("3000000000")});
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        const CliRun r = RunCli(
            {QStringLiteral("tcp://127.0.0.1:%1").arg(sim.TcpPort()), QStringLiteral("info")});
        QCOMPARE(r.Exit, 0);
        QVERIFY2(r.Out.contains(QStringLiteral("\nSerial number: 3000000000\n")),
                 qPrintable(r.Out));
    }

    // Without SECONDS the monitor runs until Ctrl-C, then switches the updates off: a success
    // when the gripper confirms that, exit code 4 when it no longer answers.
    void monitorStopsOnSignal_data() {
        QTest::addColumn<bool>("silent");
        QTest::newRow("answering") << false;
        QTest::newRow("silent gripper") << true;
    }

    void monitorStopsOnSignal() {
        QFETCH(bool, silent);
        SimProcess sim({QStringLiteral("--referenced")});
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        QProcess p;
        p.start(Cli->Program(), {QStringLiteral("tcp://127.0.0.1:%1").arg(sim.TcpPort()),
                                 QStringLiteral("monitor")});
        QByteArray out;
        QVERIFY(QTest::qWaitFor(
            [&] {
                out += p.readAllStandardOutput();
                return out.count('\n') >= 4;
            },
            30000));
        const auto simPid = static_cast<pid_t>(sim.Process().processId());
        if (silent)
            QCOMPARE(::kill(simPid, SIGSTOP), 0);
        QCOMPARE(::kill(static_cast<pid_t>(p.processId()), SIGINT), 0);
        const bool ended = p.waitForFinished(30000);
        if (silent)
            ::kill(simPid, SIGCONT);
        QVERIFY(ended);
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), silent ? 4 : 0);
        QCOMPARE(err, silent ? QStringLiteral("karo-cli: monitor: no reply to switching the "
                                              "updates off within 1000 ms\n")
                             : QString());
        QVERIFY(out.startsWith("System state: 00000001h (Referenced)\n"));
    }

    // Ctrl-C or SIGTERM while the fingers move: the tool stops them and exits as the signal
    // says; when the gripper does not confirm the stop it says so, and a second signal ends
    // the tool without waiting for that.
    void interruptedMotion_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("silent"); // the simulator is halted before the signal
        QTest::addColumn<bool>("twice");
        QTest::addColumn<QString>("error");
        QTest::newRow("SIGINT") << int(SIGINT) << false << false
                                << QStringLiteral("karo-cli: interrupted: GOTO stopped\n");
        QTest::newRow("SIGTERM") << int(SIGTERM) << false << false
                                 << QStringLiteral("karo-cli: interrupted: GOTO stopped\n");
        QTest::newRow("silent gripper")
            << int(SIGINT) << true << false
            << QStringLiteral("karo-cli: interrupted: no reply to STOP within 1000 ms; the "
                              "gripper may still be moving\n");
        QTest::newRow("second signal") << int(SIGINT) << true << true << QString();
    }

    void interruptedMotion() {
        QFETCH(int, signalNumber);
        QFETCH(bool, silent);
        QFETCH(bool, twice);
        QFETCH(QString, error);
        SimProcess sim({QStringLiteral("--referenced")});
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        // The test watches the fingers over a second link of the same gripper.
        const QString watch =
            QStringLiteral("udp://127.0.0.1:%1?listen=%2").arg(sim.UdpPort()).arg(FreeUdpPort());
        const auto position = [&watch](QString* state = nullptr) {
            const CliRun r = RunCli({QStringLiteral("--json"), watch, QStringLiteral("state")});
            const QJsonObject o = QJsonDocument::fromJson(r.Out.toUtf8()).object();
            if (state)
                *state = r.Out;
            return r.Exit == 0 ? o[QStringLiteral("position_mm")].toDouble() : -1.0;
        };
        QProcess p;
        p.setProcessEnvironment(CliEnvironment());
        // 55 mm at 5 mm/s: eleven seconds, long enough to be interrupted.
        p.start(Cli->Program(), {QStringLiteral("tcp://127.0.0.1:%1").arg(sim.TcpPort()),
                                 QStringLiteral("move"), QStringLiteral("0"), QStringLiteral("5")});
        QVERIFY(QTest::qWaitFor(
            [&] {
                const double at = position();
                return at >= 0 && at < 54.5;
            },
            30000));
        const auto simPid = static_cast<pid_t>(sim.Process().processId());
        if (silent)
            QCOMPARE(::kill(simPid, SIGSTOP), 0);
        const auto cliPid = static_cast<pid_t>(p.processId());
        QCOMPARE(::kill(cliPid, signalNumber), 0);
        if (twice) {
            // Two signals sent before the tool runs again would merge into one.
            QVERIFY(QTest::qWaitFor([&] { return !SignalPending(cliPid, signalNumber); }, 30000));
            QCOMPARE(::kill(cliPid, signalNumber), 0);
        }
        const bool ended = p.waitForFinished(30000);
        if (silent)
            ::kill(simPid, SIGCONT);
        QVERIFY(ended);
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 128 + signalNumber);
        QCOMPARE(QString::fromUtf8(p.readAllStandardError()), error);
        QVERIFY(p.readAllStandardOutput().isEmpty());
        if (silent)
            return;
        // Stopped half-way, and it stays there.
        QString state;
        const double at = position(&state);
        QVERIFY2(at > 0 && at < 54.5, qPrintable(state));
        QVERIFY2(state.contains(QStringLiteral("Axis stopped")), qPrintable(state));
        QCOMPARE(position(), at);
    }

    // A gripper that stops answering ends the monitor with exit 3; with --reconnect the monitor
    // reports the loss and the return and goes on.
    void monitorSeesASilentLinkAndReconnects() {
        SimProcess stopped({QStringLiteral("--referenced")});
        QVERIFY2(stopped.Start(), qPrintable(stopped.ErrorString()));
        QProcess p;
        p.start(Cli->Program(), {QStringLiteral("tcp://127.0.0.1:%1").arg(stopped.TcpPort()),
                                 QStringLiteral("monitor")});
        // A position line comes only once the last subscription was answered; a gripper
        // stopped before that is a missing reply, not a silent link.
        QByteArray first;
        QVERIFY(QTest::qWaitFor(
            [&] {
                first += p.readAllStandardOutput();
                return first.contains("Position");
            },
            30000));
        ::kill(static_cast<pid_t>(stopped.Process().processId()), SIGSTOP);
        QVERIFY(p.waitForFinished(30000));
        stopped.Kill();
        QCOMPARE(p.exitCode(), 3);
        QCOMPARE(QString::fromUtf8(p.readAllStandardError()).trimmed(),
                 QStringLiteral("karo-cli: link lost: no data for 5 s"));

        const quint16 port = FreeTcpPort();
        const QStringList args = {QStringLiteral("--tcp"), QString::number(port)};
        auto sim = std::make_unique<SimProcess>(args, false);
        QVERIFY2(sim->Start(), qPrintable(sim->ErrorString()));
        QProcess r;
        r.start(Cli->Program(),
                {QStringLiteral("--json"), QStringLiteral("--reconnect"),
                 QStringLiteral("tcp://127.0.0.1:%1").arg(port), QStringLiteral("monitor")});
        QByteArray out;
        const auto seen = [&](const char* text, int times) {
            return QTest::qWaitFor(
                [&] {
                    out += r.readAllStandardOutput();
                    return out.count(text) >= times;
                },
                30000);
        };
        QVERIFY(seen("\"position_mm\"", 1));
        sim->Kill();
        QVERIFY2(seen("\"event\":\"link lost\"", 1), out.constData());
        sim = std::make_unique<SimProcess>(args, false);
        QVERIFY2(sim->Start(), qPrintable(sim->ErrorString()));
        QVERIFY2(seen("\"event\":\"link restored\"", 1), out.constData());
        // The updates were asked for again on the new connection.
        const qsizetype restored = out.indexOf("link restored");
        QVERIFY(seen("\"system_state\"", 1 + int(out.left(restored).count("\"system_state\""))));
        r.terminate();
        QVERIFY(r.waitForFinished(30000));
        QCOMPARE(out.count("\"event\""), 2);
    }

    void usageErrors_data() {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("error");
        const auto row = [](const char* args, const char* error) {
            QTest::newRow(args) << QString::fromUtf8(args) << QString::fromUtf8(error);
        };
        row("", "missing TARGET");
        row("tcp://127.0.0.1:1", "missing COMMAND");
        row("ftp://h:1 info", "bad target 'ftp://h:1'");
        row("tcp://h info", "bad target 'tcp://h': expected tcp://HOST:PORT");
        row("tcp://:1 info", "bad target 'tcp://:1'");
        row("tcp://h:65536 info", "port '65536' is not a number 1..65535");
        row("tcp://h:1?listen=5 info", "unknown option 'listen'");
        row("udp://h:1?listen=x info", "listen port 'x'");
        row("udp://h:1?listen info", "option 'listen' is not NAME=VALUE");
        row("serial: info", "missing DEVICE");
        row("serial:/dev/ttyS0?baud=300 info", "baud rate '300'");
        row("can:virtualcan:can0?id=2047 info", "CAN id '2047'");
        row("can:virtualcan:can0?bitrate=300k info", "bit rate '300k'");
        row("can:virtualcan:can0?mode=x info", "unknown option 'mode'");
        row("tcp://h:1 fly", "unknown command 'fly'");
        row("tcp://h:1 info now", "info: expected no arguments, got 1");
        row("tcp://h:1 move 10", "move: expected POS SPEED, got 1");
        row("tcp://h:1 move 10 fast", "move: SPEED 'fast' is not a number");
        row("tcp://h:1 grasp 1e40 10", "grasp: WIDTH '1e40' is not a number");
        row("tcp://h:1 set-force 12,5,0", "set-force: N '12,5,0' is not a number");
        row("tcp://h:1 home 256", "home: PARAM '256'");
        row("tcp://h:1 stats --all", "unknown option '--all'");
        row("tcp://h:1 stats x", "stats: unknown argument 'x'");
        row("tcp://h:1 monitor 0", "monitor: SECONDS '0'");
        row("tcp://h:1 send", "send: expected ID [PAYLOAD...], got 0");
        row("tcp://h:1 send 0x100", "send: ID '0x100' is not an identifier");
        row("tcp://h:1 send 1 2 256 3", "send: payload item '256'");
        row("tcp://h:1 send 1 12a", "send: payload item '12a'");
        row("tcp://h:1 send 1 \"open", "send: payload item '\"open'");
        row("--timeout 0 tcp://h:1 info", "--timeout: '0'");
        row("tcp://h:1 info --timeout", "--timeout needs a value");
        row("--verbose tcp://h:1 info", "unknown option '--verbose'");
    }

    // Nothing is opened: one line on standard error that names the bad part, exit code 2.
    // Nothing is opened: one line naming the bad part. The reader is asked directly here; the
    // process's side of it is usageErrorsEndTheProcess.
    void usageErrors() {
        QFETCH(QString, args);
        QFETCH(QString, error);
        const TCliParse parse = ParseCliArguments(args.split(QLatin1Char(' '), Qt::SkipEmptyParts));
        QCOMPARE(parse.Kind, TCliParse::Invalid);
        QVERIFY2(parse.Error.contains(error) && !parse.Error.contains(QLatin1Char('\n')),
                 qPrintable(parse.Error));
    }

    // One process for each kind of bad part (target, command, option): the reader's line on
    // standard error behind the tool's name, nothing on standard output, exit code 2.
    void usageErrorsEndTheProcess() {
        const QList<QStringList> argLists{
            {QStringLiteral("tcp://h:65536"), QStringLiteral("info")},
            {QStringLiteral("tcp://h:1"), QStringLiteral("move"), QStringLiteral("10")},
            {QStringLiteral("--timeout"), QStringLiteral("0"), QStringLiteral("tcp://h:1"),
             QStringLiteral("info")}};
        const QList<CliRun> results = RunCliTogether(argLists);
        for (qsizetype i = 0; i < argLists.size(); ++i) {
            const CliRun& r = results[i];
            QCOMPARE(r.Exit, 2);
            QVERIFY(r.Out.isEmpty());
            QCOMPARE(r.Err, QStringLiteral("karo-cli: ") + ParseCliArguments(argLists[i]).Error +
                                QLatin1Char('\n'));
        }
    }

    void helpAndVersion() {
        CliRun r = RunCli({QStringLiteral("--help")});
        QCOMPARE(r.Exit, 0);
        for (const char* part : {"tcp://HOST:PORT", "udp://HOST:PORT[?listen=PORT]",
                                 "serial:DEVICE[?baud=RATE]", "can:NET[?id=ID&bitrate=RATE]",
                                 "send ID [PAYLOAD...]", "monitor [SECONDS]", "Exit codes"})
            QVERIFY2(r.Out.contains(QLatin1String(part)), part);
        r = RunCli({QStringLiteral("tcp://h:1"), QStringLiteral("info"), QStringLiteral("-h")});
        QCOMPARE(r.Exit, 0);
        QVERIFY(r.Out.startsWith(QStringLiteral("Usage: karo-cli")));
        // One version for every program, the one the window's caption shows.
        r = RunCli({QStringLiteral("--version")});
        QCOMPARE(r.Exit, 0);
        QCOMPARE(r.Out.trimmed(), QStringLiteral("karo-cli 1.2.0"));
        QProcess sim;
        sim.start(QStringLiteral(KARO_SIM_PATH), {QStringLiteral("--version")});
        QVERIFY(sim.waitForFinished(10000));
        QCOMPARE(QString::fromUtf8(sim.readAllStandardOutput()).trimmed(),
                 QStringLiteral("karo-sim 1.2.0"));
    }

    // All side by side: each waits for a refusal or a look-up, none for the others.
    void linkCannotBeOpened() {
        QTcpServer closed; // a port that certainly refuses
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 port = closed.serverPort();
        closed.close();
        const QList<std::pair<QString, QString>> rows{
            {QStringLiteral("tcp://127.0.0.1:%1").arg(port),
             QStringLiteral("the connection failed")},
            {QStringLiteral("tcp://no-such-host.invalid:1000"), QStringLiteral("cannot open")},
            {QStringLiteral("serial:/dev/karo-no-such-port?baud=9600"),
             QStringLiteral("General I/O-Error")},
            {QStringLiteral("can:nosuchplugin:can0?id=0x20&bitrate=1M"),
             QStringLiteral("no such port or net")}};
        QList<QStringList> argLists;
        for (const auto& row : rows)
            argLists.append({row.first, QStringLiteral("info")});
        const QList<CliRun> results = RunCliTogether(argLists);
        for (qsizetype i = 0; i < rows.size(); ++i) {
            QVERIFY2(results[i].Exit == 3, qPrintable(rows[i].first + results[i].Err));
            QVERIFY(results[i].Out.isEmpty());
            QVERIFY2(results[i].Err.contains(rows[i].second), qPrintable(results[i].Err));
        }
    }

    // The simulator drops the connection after the first request of three.
    void linkLostDuringTheCommand() {
        SimProcess sim({QStringLiteral("--disconnect-after"), QStringLiteral("1")});
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        const CliRun r = RunCli(
            {QStringLiteral("tcp://127.0.0.1:%1").arg(sim.TcpPort()), QStringLiteral("state")});
        QCOMPARE(r.Exit, 3);
        QVERIFY2(r.Err.contains(QStringLiteral("the link was lost")), qPrintable(r.Err));
    }

    // Each on a simulator of its own that never answers GET_SYSINFO, all side by side: the
    // waits are the tool's own time-outs, and they overlap.
    void noReplyInTime() {
        struct Row {
            const char* Transport;
            QStringList Command;
            const char* Error;
        };
        // 55 mm at 5 mm/s takes eleven seconds: far beyond the time-out given.
        const QStringList slowMove{QStringLiteral("--timeout"), QStringLiteral("300"),
                                   QStringLiteral("move"), QStringLiteral("0"),
                                   QStringLiteral("5")};
        const std::vector<Row> rows{
            {"tcp", {QStringLiteral("info")}, "GET_SYSINFO: no reply within 3000 ms"},
            {"udp", {QStringLiteral("info")}, "GET_SYSINFO: no reply within 3000 ms"},
            {"tcp", {QStringLiteral("send"), QStringLiteral("0x50")}, "GET_SYSINFO: no reply"},
            {"udp", {QStringLiteral("send"), QStringLiteral("0x50")}, "GET_SYSINFO: no reply"},
            {"tcp", slowMove,
             "no final result of GOTO within 300 ms; the gripper may still be moving"},
            {"udp", slowMove,
             "no final result of GOTO within 300 ms; the gripper may still be moving"}};
        std::vector<std::unique_ptr<SimProcess>> sims;
        QList<QStringList> argLists;
        for (const Row& row : rows) {
            sims.push_back(std::make_unique<SimProcess>(QStringList{QStringLiteral("--referenced"),
                                                                    QStringLiteral("--silent-ids"),
                                                                    QStringLiteral("0x50")}));
            SimProcess& sim = *sims.back();
            QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
            const QString target = QLatin1String(row.Transport) == QLatin1String("tcp")
                                       ? QStringLiteral("tcp://127.0.0.1:%1").arg(sim.TcpPort())
                                       : QStringLiteral("udp://127.0.0.1:%1?listen=%2")
                                             .arg(sim.UdpPort())
                                             .arg(FreeUdpPort());
            argLists.append(QStringList{target} + row.Command);
        }
        const QList<CliRun> results = RunCliTogether(argLists);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const CliRun& r = results[qsizetype(i)];
            const QString what = argLists[qsizetype(i)].join(QLatin1Char(' ')) + r.Err;
            QVERIFY2(r.Exit == 4, qPrintable(what));
            QVERIFY2(r.Err.contains(QLatin1String(rows[i].Error)), qPrintable(what));
        }
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
