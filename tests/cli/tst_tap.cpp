// SPDX-License-Identifier: Apache-2.0
// karo-cli tap beside a real exchange: on a CAN bus between karo-cli and karo-sim, and on two
// pseudo-terminals standing for the two lines of a serial Y-cable.

#include "FreePorts.h"
#include "SimProcess.h"
#include "protocol/ByteConv.h"
#include "protocol/Frame.h"

#include <QCanBus>
#include <QCanBusDevice>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

namespace {

// Text lists from literals (QString has no implicit conversion from char* here).
QStringList L(std::initializer_list<const char*> texts) {
    QStringList out;
    for (const char* t : texts)
        out.append(QString::fromUtf8(t));
    return out;
}

constexpr int Patience = 30000;

QProcessEnvironment CEnvironment() {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C"));
    return env;
}

// A running tap.
struct TTap {
    QProcess Process;

    // Waits in the event loop, so that the test's own bus node keeps up meanwhile.
    bool Start(const QStringList& args) {
        Process.setProcessEnvironment(CEnvironment());
        QSignalSpy said(&Process, &QProcess::readyReadStandardError);
        Process.start(QStringLiteral(KARO_CLI_PATH), QStringList{QStringLiteral("tap")} + args);
        QByteArray err;
        while (!err.contains("tapping") && said.wait(Patience))
            err += Process.readAllStandardError();
        return err.contains("tapping");
    }
    // Its lines so far; without `time` less the leading time of day.
    QStringList Output(bool time = false) {
        Out += QString::fromUtf8(Process.readAllStandardOutput());
        QStringList lines = Out.split(u'\n', Qt::SkipEmptyParts);
        for (QString& l : lines)
            l = time ? l : l.mid(l.indexOf(u' ') + 1);
        return lines;
    }
    // SIGTERM ends a tap cleanly.
    int Stop() {
        Process.terminate();
        if (!Process.waitForFinished(Patience))
            return -1;
        Output();
        return Process.exitStatus() == QProcess::NormalExit ? Process.exitCode() : -1;
    }
    QString Out;
};

int RunCli(const QStringList& args) {
    QProcess p;
    p.setProcessEnvironment(CEnvironment());
    p.start(QStringLiteral(KARO_CLI_PATH), args);
    if (!p.waitForFinished(Patience))
        return -1;
    return p.exitCode();
}

QByteArray Frame(std::uint8_t id, const TByteArray& payload) {
    const TByteArray f = MakeFrame(id, payload);
    return {reinterpret_cast<const char*>(f.data()), static_cast<qsizetype>(f.size())};
}
TByteArray Floats(std::initializer_list<float> values, TByteArray head = {}) {
    for (float v : values) {
        const auto b = SingleToBytes(v);
        head.insert(head.end(), b.begin(), b.end());
    }
    return head;
}

bool WriteAll(int fd, const QByteArray& b) {
    return ::write(fd, b.constData(), static_cast<size_t>(b.size())) == b.size();
}

} // namespace

class TestTap : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void canExchangeBetweenCliAndSimulator() {
        const QString bus = QStringLiteral("virtualcan:tcp://127.0.0.1:%1/can0").arg(FreeTcpPort());
        SimProcess sim(QStringList{QStringLiteral("--can"), bus} +
                           L({"--can-id", "100", "--type", "3", "--hw-rev", "7", "--fw-rev",
                              "0x0210", "--serial-number", "987654"}),
                       false);
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));

        // Every frame on the bus, as a third node sees it.
        QString why;
        std::unique_ptr<QCanBusDevice> observer(QCanBus::instance()->createDevice(
            QStringLiteral("virtualcan"), bus.mid(bus.indexOf(u':') + 1), &why));
        QVERIFY2(observer, qPrintable(why));
        QList<QCanBusFrame> seen;
        connect(observer.get(), &QCanBusDevice::framesReceived, this, [&] {
            while (observer->framesAvailable() > 0)
                seen.append(observer->readFrame());
        });
        QVERIFY(observer->connectDevice());
        QTRY_COMPARE_WITH_TIMEOUT(observer->state(), QCanBusDevice::ConnectedState, Patience);

        TTap text;
        TTap json;
        const QString target = QStringLiteral("can:%1?id=100").arg(bus);
        QVERIFY(text.Start({target}));
        QVERIFY(json.Start({QStringLiteral("--json"), target}));

        QCOMPARE(RunCli({target, QStringLiteral("info")}), 0);
        QCOMPARE(RunCli({target, QStringLiteral("limits")}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(text.Output().size(), 4, Patience);
        QTRY_COMPARE_WITH_TIMEOUT(json.Output().size(), 4, Patience);
        QCOMPARE(text.Stop(), 0);
        QCOMPARE(json.Stop(), 0);
        QCOMPARE(text.Output(),
                 (L({"request GET_SYSINFO -",
                     "reply   GET_SYSINFO E_SUCCESS type=3, hardware_revision=7, "
                     "firmware_revision=528, serial_number=987654",
                     "request GET_SYSTEM_LIMITS -",
                     "reply   GET_SYSTEM_LIMITS E_SUCCESS stroke=110.0 mm, min_speed=5.0 mm/s, "
                     "max_speed=420.0 mm/s, min_acceleration=100.0 mm/s², max_acceleration=5000.0 "
                     "mm/s², min_force=5.0 N, max_force=80.0 N"})));
        const QJsonObject info = QJsonDocument::fromJson(json.Output(true)[1].toUtf8()).object();
        QCOMPARE(info[u"direction"].toString(), QStringLiteral("reply"));
        QCOMPARE(info[u"id"].toInt(), 0x50);
        QCOMPARE(info[u"status_name"].toString(), QStringLiteral("E_SUCCESS"));
        QCOMPARE(info[u"values"].toObject()[u"serial_number"].toInt(), 987654);

        // Only the two peers spoke: the requests on 100 are exactly the tool's frames, so the
        // simulator heard nothing else, and every reply frame came back on 101. A last exchange
        // after the taps ended lets anything they might have sent arrive first.
        QCOMPARE(RunCli({target, QStringLiteral("info")}), 0);
        const int infoFrames = 1 + (8 + 10 + 7) / 8;
        const int limitsFrames = 1 + (8 + 34 + 7) / 8;
        QTRY_VERIFY2_WITH_TIMEOUT(seen.size() >= 2 * infoFrames + limitsFrames,
                                  qPrintable(QString::number(seen.size())), Patience);
        QByteArray requests;
        int replyFrames = 0;
        for (const QCanBusFrame& f : std::as_const(seen)) {
            QVERIFY2(f.frameId() == 100 || f.frameId() == 101, qPrintable(f.toString()));
            if (f.frameId() == 100)
                requests += f.payload();
            else
                ++replyFrames;
        }
        QCOMPARE(requests, Frame(0x50, {}) + Frame(0x53, {}) + Frame(0x50, {}));
        QCOMPARE(replyFrames, 2 * infoFrames + limitsFrames - 3);
    }

    void serialYCableBothLines() {
        int master[2] = {-1, -1};
        QString slave[2];
        for (int i = 0; i < 2; ++i) {
            int s = -1;
            char name[256] = {};
            QVERIFY(openpty(&master[i], &s, name, nullptr, nullptr) == 0);
            slave[i] = QString::fromLocal8Bit(name);
            ::close(s);
        }
        const auto closeMasters = qScopeGuard([&] {
            for (int fd : master)
                ::close(fd);
        });
        TTap tap;
        QVERIFY(tap.Start({QStringLiteral("serial:%1?baud=9600").arg(slave[0]),
                           QStringLiteral("serial:%1").arg(slave[1])}));

        // Towards the gripper: a GOTO split over two writes, then a frame with a bad checksum
        // that must not show, then GET_POS with updates on.
        const QByteArray go = Frame(0x21, Floats({12.5f, 50.0f}, {0}));
        QByteArray bad = Frame(0x22, {});
        bad[6] = static_cast<char>(bad[6] ^ 0x10);
        QVERIFY(WriteAll(master[0], go.left(5)));
        QVERIFY(WriteAll(master[0], go.mid(5) + bad + Frame(0x43, {0x03, 0x64, 0x00})));
        QTRY_COMPARE_WITH_TIMEOUT(tap.Output().size(), 2, Patience);
        // Back: the pending reply and two updates in one write, then an unknown status word.
        QVERIFY(WriteAll(master[1], Frame(0x21, {26, 0}) + Frame(0x43, Floats({12.5f}, {0, 0})) +
                                        Frame(0x40, {0, 0, 0x81, 0x10, 0, 0})));
        QTRY_COMPARE_WITH_TIMEOUT(tap.Output().size(), 5, Patience);
        QVERIFY(WriteAll(master[1], Frame(0x41, {0x05, 0x01, 0x07})));
        QTRY_COMPARE_WITH_TIMEOUT(tap.Output().size(), 6, Patience);

        // Nothing came back on either line.
        for (int fd : master) {
            pollfd p{fd, POLLIN, 0};
            QCOMPARE(::poll(&p, 1, 0), 0);
        }
        QCOMPARE(tap.Stop(), 0);
        QCOMPARE(tap.Output(),
                 (L({"request GOTO - flags=0, position=12.50 mm, speed=50.00 mm/s",
                     "request GET_POS - auto_update=on, option=on, period=100 ms",
                     "reply   GOTO E_CMD_PENDING", "reply   GET_POS E_SUCCESS position=12.50 mm",
                     "reply   GET_SYSTEM_STATE E_SUCCESS system_state=00001081h "
                     "(Referenced, Target pos reached, Fast stop)",
                     "reply   GET_GRASPING_STATE status=0105h data=07"})));
    }
};

QTEST_GUILESS_MAIN(TestTap)
#include "tst_tap.moc"
