// SPDX-License-Identifier: Apache-2.0
// A gripper that falls silent or goes away, on every link, as the operator's window sees it:
// noticed, given up with one notice, and with reconnection on, back without anybody's help.

#include "FreePorts.h"
#include "SimProcess.h"
#include "TestSupport.h"
#include "WidgetSupport.h"
#include "WindowParts.h"
#include "app/Commander.h"
#include "ui/MainForm.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTest>

#include <csignal>
#include <memory>

namespace {
constexpr int Patience = 15000;

enum class TFault { Stop, Kill };

// One simulator on a link the test fixes, so that a new one can take its place.
struct TLinkSim {
    QString Link;
    QStringList Args;
    TConnectTarget Target;
    std::unique_ptr<SimProcess> Sim;

    TLinkSim(const QString& link, const TempSettingsDir& settings) : Link(link) {
        Target.Device = link;
        if (link == QLatin1String("tcp")) {
            Target.Tcp = {QStringLiteral("127.0.0.1"), FreeTcpPort()};
            Args = {QStringLiteral("--tcp"), QString::number(Target.Tcp.Port)};
        } else if (link == QLatin1String("udp")) {
            Target.Udp = {QStringLiteral("127.0.0.1"), FreeUdpPort(), 0};
            Target.Udp.TransmitPort = FreeUdpPort();
            Args = {QStringLiteral("--udp"), QString::number(Target.Udp.TransmitPort)};
        } else if (link == QLatin1String("uart")) {
            Target.Port = QStringLiteral("COM9");
            Target.Serial.BaudIndex = 7;
            Args = {QStringLiteral("--serial-pty")};
        } else {
            QTcpServer probe;
            probe.listen(QHostAddress::LocalHost, 0);
            const QString bus =
                QStringLiteral("virtualcan:tcp://127.0.0.1:%1/can0").arg(probe.serverPort());
            Target.Port = QStringLiteral("Net 19");
            Target.Can = {4, 100};
            Args = {QStringLiteral("--can"), bus, QStringLiteral("--can-id"),
                    QStringLiteral("100")};
            settings.WriteFile(QStringLiteral("can.cfg"),
                               QStringLiteral("[nets]\n19=%1\n").arg(bus).toLatin1());
        }
    }
    // A serial line is a new pseudo-terminal every time: COM9 names whichever serves now.
    bool Start(const TempSettingsDir& settings) {
        Sim = std::make_unique<SimProcess>(Args, false);
        if (!Sim->Start())
            return false;
        if (Link == QLatin1String("uart"))
            settings.WriteFile(
                QStringLiteral("uart.cfg"),
                QStringLiteral("[ports]\nCOM9=%1\n").arg(Sim->SerialPath()).toLocal8Bit());
        return true;
    }
    void Fault(TFault fault) {
        if (fault == TFault::Stop)
            ::kill(static_cast<pid_t>(Sim->Process().processId()), SIGSTOP);
        else
            Sim->Kill();
    }
};

QString Notice(const TMainWin& w) {
    return Part<QLabel>(&w, "lbConnecting")->text();
}
QString LinkLine(const TMainWin& w) {
    return Part<QLabel>(&w, "lbLinkState")->text();
}
QStringList Results(const TMainWin& w) {
    return Part<QPlainTextEdit>(&w, "AsyncLog")->toPlainText().split(u'\n', Qt::SkipEmptyParts);
}
bool Disconnected(const TMainWin& w) {
    return Part<QAction>(&w, "Connect1")->isEnabled() &&
           !Part<QPushButton>(&w, "btnStop")->isEnabled() &&
           Results(w).filter(QStringLiteral("Connection lost: ")).size() == 1;
}
} // namespace

Q_DECLARE_METATYPE(TFault)

class TestE2eLinkHealth : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void silentOrGoneGripper_data() {
        QTest::addColumn<QString>("link");
        QTest::addColumn<TFault>("fault");
        QTest::addColumn<bool>("reconnect");
        QTest::addColumn<bool>("defaultTimes");
        QTest::newRow("tcp stopped") << QStringLiteral("tcp") << TFault::Stop << true << false;
        QTest::newRow("tcp killed") << QStringLiteral("tcp") << TFault::Kill << true << false;
        QTest::newRow("udp stopped, default times")
            << QStringLiteral("udp") << TFault::Stop << false << true;
        QTest::newRow("udp killed") << QStringLiteral("udp") << TFault::Kill << true << false;
        QTest::newRow("serial stopped") << QStringLiteral("uart") << TFault::Stop << true << false;
        QTest::newRow("serial killed") << QStringLiteral("uart") << TFault::Kill << true << false;
        QTest::newRow("can stopped") << QStringLiteral("can") << TFault::Stop << true << false;
        QTest::newRow("can killed") << QStringLiteral("can") << TFault::Kill << true << false;
    }
    void silentOrGoneGripper() {
        QFETCH(QString, link);
        QFETCH(TFault, fault);
        QFETCH(bool, reconnect);
        QFETCH(bool, defaultTimes);
        TempSettingsDir settings;
        MessageRecorder boxes;
        settings.WriteFile(QStringLiteral("settings.ini"),
                           QStringLiteral("[link]\nReconnect=%1\n%2")
                               .arg(int(reconnect))
                               .arg(defaultTimes ? QString()
                                                 : QStringLiteral("StaleAfterMs=600\n"
                                                                  "LostAfterMs=1500\n"))
                               .toLatin1());
        TLinkSim sim(link, settings);
        QVERIFY2(sim.Start(settings), qPrintable(sim.Sim->ErrorString()));
        const TCommander console;
        TMainWin& w = console.Win();
        QVERIFY(Part<QAction>(&w, "Reconnect1")->isChecked() == reconnect);
        QCOMPARE(w.Gripper()->ConnectTo(sim.Target), E_SUCCESS);
        QTRY_VERIFY_WITH_TIMEOUT(LinkLine(w).endsWith(QLatin1String("| Initialized")), Patience);
        QVERIFY2(LinkLine(w).contains(QLatin1String("connected since ")), qPrintable(LinkLine(w)));

        // What the window shows once it has handled the first stale notice, seen at that moment:
        // a window waiting in an exchange does not let the test look before it returns.
        QElapsedTimer since;
        qint64 staleAfter = -1;
        QString staleNotice, staleLine;
        bool grey = false;
        const TMorv::TNotifyEvent windowStale = w.Gripper()->OnLinkStale;
        w.Gripper()->OnLinkStale = [&, windowStale](TMorv* m) {
            windowStale(m);
            if (staleAfter >= 0)
                return;
            staleAfter = since.elapsed();
            staleNotice = Notice(w);
            staleLine = LinkLine(w);
            grey = !Part<QLabel>(&w, "lbPosition")->isEnabled();
        };
        since.start();
        sim.Fault(fault);
        // A connection the far side closes (the CAN bus goes with the simulator that hosts it)
        // ends at once; a stopped gripper, or a killed one on UDP, goes stale first.
        const bool closes = fault == TFault::Kill && link != u"udp";
        if (!closes) {
            QTRY_VERIFY_WITH_TIMEOUT(staleAfter >= 0, 6000);
            QVERIFY2(staleAfter <= 2300, qPrintable(QString::number(staleAfter)));
            QVERIFY2(staleNotice.startsWith(QLatin1String("No data from the gripper for ")),
                     qPrintable(staleNotice));
            QVERIFY(grey);
            QVERIFY2(staleLine.contains(QLatin1String("| No data for ")), qPrintable(staleLine));
        }
        QTRY_VERIFY_WITH_TIMEOUT(Disconnected(w), 10000);
        QVERIFY2(since.elapsed() <= 6000, qPrintable(QString::number(since.elapsed())));
        QVERIFY2(boxes.Texts().isEmpty(), qPrintable(boxes.Texts().join(u'|')));
        if (!reconnect) {
            QVERIFY2(LinkLine(w) == QLatin1String("Disconnected"), qPrintable(LinkLine(w)));
            QVERIFY(!Part<QAction>(&w, "Disconnect1")->isEnabled());
            sim.Sim->Kill();
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(Notice(w).contains(QLatin1String("Reconnecting (attempt ")),
                                 Patience);
        // Back on the same port: connected and initialized again without anybody's help.
        sim.Sim->Kill();
        QVERIFY2(sim.Start(settings), qPrintable(sim.Sim->ErrorString()));
        since.restart();
        QTRY_VERIFY_WITH_TIMEOUT(LinkLine(w).endsWith(QLatin1String("| Initialized")), Patience);
        QVERIFY2(since.elapsed() <= 3000, qPrintable(QString::number(since.elapsed())));
        QVERIFY(Part<QPushButton>(&w, "btnStop")->isEnabled());
        QVERIFY(Part<QLabel>(&w, "lbPosition")->isEnabled());
        QCOMPARE(Results(w).filter(QStringLiteral("Connection restored: ")).size(), 1);
        QVERIFY2(boxes.Texts().isEmpty(), qPrintable(boxes.Texts().join(u'|')));
        // Disconnect ends it for good, also while the link is down again.
        sim.Sim->Kill();
        QTRY_VERIFY_WITH_TIMEOUT(w.Gripper()->ReconnectAttempt() > 0, 10000);
        Part<QAction>(&w, "Disconnect1")->trigger();
        QCOMPARE(w.Gripper()->ReconnectAttempt(), 0);
        QCOMPARE(LinkLine(w), QStringLiteral("Disconnected"));
    }

    // Without reconnection a serial line that goes away is told in a box, once; connecting
    // over TCP afterwards must not bring the serial line's box back.
    void theOldTransportStaysQuietWhenAnotherConnects() {
        TempSettingsDir settings;
        MessageRecorder boxes;
        TLinkSim serial(QStringLiteral("uart"), settings);
        TLinkSim tcp(QStringLiteral("tcp"), settings);
        QVERIFY2(serial.Start(settings), qPrintable(serial.Sim->ErrorString()));
        QVERIFY2(tcp.Start(settings), qPrintable(tcp.Sim->ErrorString()));
        const TCommander console;
        TMainWin& w = console.Win();
        QCOMPARE(w.Gripper()->ConnectTo(serial.Target), E_SUCCESS);
        QTRY_VERIFY_WITH_TIMEOUT(LinkLine(w).endsWith(QLatin1String("| Initialized")), Patience);
        serial.Fault(TFault::Kill);
        QTRY_COMPARE_WITH_TIMEOUT(boxes.Texts().size(), 1, Patience);
        QCOMPARE(w.Gripper()->ConnectTo(tcp.Target), E_SUCCESS);
        QTRY_VERIFY_WITH_TIMEOUT(LinkLine(w).endsWith(QLatin1String("| Initialized")), Patience);
        QVERIFY2(boxes.Texts().size() == 1, qPrintable(boxes.Texts().join(u'|')));
    }
};

QTEST_MAIN(TestE2eLinkHealth)
#include "tst_e2e_linkhealth.moc"
