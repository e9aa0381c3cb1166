// karo-cli as a separate process against karo-sim: every command in both output forms on every
// transport, every exit code, and bad input.

#include "FreePorts.h"
#include "SimProcess.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

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
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C")); // the decimal point
    p.setProcessEnvironment(env);
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

    void everyCommand_data() {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<bool>("json");
        for (const char* transport : {"tcp", "udp"})
            for (const bool json : {false, true})
                QTest::addRow("%s %s", transport, json ? "json" : "text")
                    << QString::fromLatin1(transport) << json;
        // The line transports share the code above the link: one form each is enough.
        QTest::addRow("serial text") << QStringLiteral("serial") << false;
        QTest::addRow("can json") << QStringLiteral("can") << true;
    }

    // A whole session on one fresh simulator per row.
    void everyCommand() {
        QFETCH(QString, transport);
        QFETCH(bool, json);
        QStringList simArgs{QStringLiteral("--referenced"), QStringLiteral("--serial-number"),
                            QStringLiteral("4711")};
        // A bus of its own on a free port, hosted by the simulator.
        const QString bus = QStringLiteral("virtualcan:tcp://127.0.0.1:%1/can0").arg(FreeTcpPort());
        if (transport == QLatin1String("serial"))
            simArgs << QStringLiteral("--serial-pty");
        if (transport == QLatin1String("can"))
            simArgs << QStringLiteral("--can") << bus << QStringLiteral("--can-id")
                    << QStringLiteral("100");
        SimProcess sim(simArgs);
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        QString target;
        if (transport == QLatin1String("tcp"))
            target = QStringLiteral("tcp://127.0.0.1:%1").arg(sim.TcpPort());
        else if (transport == QLatin1String("udp"))
            target = QStringLiteral("udp://127.0.0.1:%1?listen=%2")
                         .arg(sim.UdpPort())
                         .arg(FreeUdpPort());
        else if (transport == QLatin1String("serial"))
            target = QStringLiteral("serial:%1?baud=115200").arg(sim.SerialPath());
        else
            target = QStringLiteral("can:%1?id=100&bitrate=250k").arg(bus);
        for (const Step& step : Session) {
            QStringList args;
            if (json)
                args << QStringLiteral("--json");
            args << target
                 << QString::fromUtf8(step.Args).split(QLatin1Char(' '), Qt::SkipEmptyParts);
            const CliRun r = RunCli(args);
            const QString what = QString::fromUtf8(step.Args) + QStringLiteral(": ") + r.Err;
            QVERIFY2(r.Exit == step.Exit,
                     qPrintable(what + QStringLiteral(" exit %1").arg(r.Exit)));
            // Nothing on standard error unless the step expects it.
            const QString error =
                *step.Error ? QString::fromUtf8(step.Error) : QStringLiteral("^$");
            QVERIFY2(QRegularExpression(error).match(r.Err).hasMatch(), qPrintable(what));
            if (!json) {
                QVERIFY2(QRegularExpression(QString::fromUtf8(step.Text)).match(r.Out).hasMatch(),
                         qPrintable(what + r.Out));
                continue;
            }
            QString why;
            const QList<QJsonObject> objects = JsonLines(r.Out, why);
            QVERIFY2(why.isEmpty() && !objects.isEmpty(), qPrintable(what + why + r.Out));
            const auto check = [&](const char* expected, const QJsonObject& actual) {
                return !expected ||
                       Contains(actual, QJsonDocument::fromJson(expected).object(), why);
            };
            QVERIFY2(check(step.FirstJson, objects.first()), qPrintable(what + why));
            QVERIFY2(check(step.LastJson, objects.last()), qPrintable(what + why));
        }
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

    // Without SECONDS the monitor runs until it is told to stop, and then ends as a success.
    void monitorStopsOnSignal() {
        SimProcess sim({QStringLiteral("--referenced")});
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        QProcess p;
        p.start(
            QStringLiteral(KARO_CLI_PATH),
            {QStringLiteral("tcp://127.0.0.1:%1").arg(sim.TcpPort()), QStringLiteral("monitor")});
        QByteArray out;
        QVERIFY(QTest::qWaitFor(
            [&] {
                out += p.readAllStandardOutput();
                return out.count('\n') >= 4;
            },
            30000));
        p.terminate();
        QVERIFY(p.waitForFinished(30000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(out.startsWith("System state: 00000001h (Referenced)\n"));
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
    void usageErrors() {
        QFETCH(QString, args);
        QFETCH(QString, error);
        const CliRun r = RunCli(args.split(QLatin1Char(' '), Qt::SkipEmptyParts));
        QCOMPARE(r.Exit, 2);
        QVERIFY(r.Out.isEmpty());
        QVERIFY2(r.Err.startsWith(QStringLiteral("karo-cli: ")) && r.Err.contains(error) &&
                     r.Err.count(QLatin1Char('\n')) == 1,
                 qPrintable(r.Err));
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

    void linkCannotBeOpened_data() {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("error");
        QTcpServer closed; // a port that certainly refuses
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        const quint16 port = closed.serverPort();
        closed.close();
        QTest::newRow("refused") << QStringLiteral("tcp://127.0.0.1:%1").arg(port)
                                 << QStringLiteral("the connection failed");
        QTest::newRow("unknown host")
            << QStringLiteral("tcp://no-such-host.invalid:1000") << QStringLiteral("cannot open");
        QTest::newRow("serial") << QStringLiteral("serial:/dev/karo-no-such-port?baud=9600")
                                << QStringLiteral("General I/O-Error");
        QTest::newRow("can") << QStringLiteral("can:nosuchplugin:can0?id=0x20&bitrate=1M")
                             << QStringLiteral("no such port or net");
    }

    void linkCannotBeOpened() {
        QFETCH(QString, target);
        QFETCH(QString, error);
        const CliRun r = RunCli({target, QStringLiteral("info")});
        QCOMPARE(r.Exit, 3);
        QVERIFY(r.Out.isEmpty());
        QVERIFY2(r.Err.contains(error), qPrintable(r.Err));
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

    void noReplyInTime_data() {
        QTest::addColumn<QString>("transport");
        QTest::addColumn<QStringList>("command");
        QTest::addColumn<QString>("error");
        for (const char* t : {"tcp", "udp"}) {
            const QString transport = QString::fromLatin1(t);
            QTest::addRow("%s query", t) << transport << QStringList{QStringLiteral("info")}
                                         << QStringLiteral("GET_SYSINFO: no reply within 3000 ms");
            QTest::addRow("%s send", t)
                << transport << QStringList{QStringLiteral("send"), QStringLiteral("0x50")}
                << QStringLiteral("GET_SYSINFO: no reply");
            // 55 mm at 5 mm/s takes eleven seconds: far beyond the time-out given.
            QTest::addRow("%s final result", t)
                << transport
                << QStringList{QStringLiteral("--timeout"), QStringLiteral("300"),
                               QStringLiteral("move"), QStringLiteral("0"), QStringLiteral("5")}
                << QStringLiteral("no final result of GOTO within 300 ms");
        }
    }

    void noReplyInTime() {
        QFETCH(QString, transport);
        QFETCH(QStringList, command);
        QFETCH(QString, error);
        SimProcess sim({QStringLiteral("--referenced"), QStringLiteral("--silent-ids"),
                        QStringLiteral("0x50")});
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        const QString target = transport == QLatin1String("tcp")
                                   ? QStringLiteral("tcp://127.0.0.1:%1").arg(sim.TcpPort())
                                   : QStringLiteral("udp://127.0.0.1:%1?listen=%2")
                                         .arg(sim.UdpPort())
                                         .arg(FreeUdpPort());
        const CliRun r = RunCli(QStringList{target} + command);
        QCOMPARE(r.Exit, 4);
        QVERIFY2(r.Err.contains(error), qPrintable(r.Err));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
