// SPDX-License-Identifier: Apache-2.0
// The operator's console against karo-sim over TCP, driven through its real dialogs.

#include "MemoryDevice.h"
#include "SimProcess.h"
#include "WidgetSupport.h"
#include "WindowParts.h"
#include "app/Commander.h"
#include "devices/tcp/TCPDevice.h"
#include "dialogs/HostnameDialog.h"
#include "engine/MorvForm.h"
#include "ui/KaroApplication.h"
#include "ui/ListBoxDialog.h"
#include "ui/MainForm.h"
#include "widgets/FloatEdit.h"
#include "widgets/FloatEditDialog.h"
#include "widgets/IntegerEdit.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace {
constexpr int Patience = 15000; // safety net for anything the simulator does in real time

QStringList LogLines(const TMainWin& w) {
    return Part<QPlainTextEdit>(&w, "AsyncLog")
        ->toPlainText()
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

// The simulator, a settings folder whose "tcp.cfg" points at it, and the console.
struct TConsoleOverSim {
    SimProcess Sim;
    TempSettingsDir Settings;
    MessageRecorder Boxes;
    std::unique_ptr<TCommander> Console;
    TMainWin* Win = nullptr;
    QString HostShown;
    int PortShown = 0;

    explicit TConsoleOverSim(const QStringList& simArgs = {}) : Sim(simArgs) {}

    bool Start(bool manual = false) {
        if (!Sim.Start())
            return false;
        Settings.WriteFile(
            QStringLiteral("tcp.cfg"),
            QStringLiteral("[common]\nhost=127.0.0.1\nport=%1\n").arg(Sim.TcpPort()).toLatin1());
        if (manual)
            Settings.WriteFile(QStringLiteral("settings.ini"), "[main]\nmanualinit=1\n");
        Console = std::make_unique<TCommander>();
        Win = &Console->Win();
        Win->show();
        return QTest::qWaitForWindowExposed(Win);
    }

    // "Gripper|Connect", "Ethernet/TCP", then OK in the host dialog as the file filled it.
    void Connect() {
        AnswerDeviceDialog(DeviceIndex(Win->Gripper()->Command(), QStringLiteral("Ethernet/TCP")));
        WhenModal<THostNameDlg>([this](THostNameDlg* d) {
            HostShown = d->edHostname->text();
            PortShown = d->edPort->text().toInt();
            d->btnOk->click();
        });
        Part<QAction>(&*Win, "Connect1")->trigger();
    }
    bool Ready() const {
        return !Part<QAction>(&*Win, "Connect1")->isEnabled() &&
               Part<QPushButton>(&*Win, "btnStop")->isEnabled() &&
               Part<QPushButton>(&*Win, "btnEmergencyStop")->isEnabled();
    }
};
} // namespace

class TestConsole : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void connectsInitializesAndShowsTheLiveState() {
        TConsoleOverSim rig;
        QVERIFY2(rig.Start(), qPrintable(rig.Sim.ErrorString()));
        TMainWin& w = *rig.Win;
        rig.Connect();
        QCOMPARE(rig.HostShown, QStringLiteral("127.0.0.1"));
        QCOMPARE(rig.PortShown, int(rig.Sim.TcpPort()));
        QTRY_VERIFY_WITH_TIMEOUT(rig.Ready(), Patience);
        QVERIFY2(rig.Boxes.Boxes.isEmpty(), qPrintable(rig.Boxes.Texts().join(u'|')));

        // Ranges and defaults from the simulator's limits: 110 mm, 5 to 420 mm/s.
        QCOMPARE(Part<TFloatEdit>(&w, "edGotoPos")->toolTip(),
                 QStringLiteral("Input range: %1 to %2 mm")
                     .arg(QLocale().toString(0.0, 'f', 2), QLocale().toString(110.0, 'f', 2)));
        QCOMPARE(Part<TFloatEdit>(&w, "edReleaseSpeed")->MaxValue(), 420.0L);
        QCOMPARE(Part<TFloatEdit>(&w, "edGraspingPos")->text(), QStringLiteral("37"));
        QCOMPARE(Part<TFloatEdit>(&w, "edReleasePos")->text(), QStringLiteral("73"));
        QCOMPARE(Part<TFloatEdit>(&w, "edGotoPos")->text(), QStringLiteral("55"));
        QCOMPARE(Part<TFloatEdit>(&w, "edGraspingSpeed")->text(), QStringLiteral("50"));
        QCOMPARE(Part<TFloatEdit>(&w, "edReleaseSpeed")->text(), QStringLiteral("283"));
        QCOMPARE(Part<TFloatEdit>(&w, "edGotoSpeed")->text(), QStringLiteral("50"));
        QCOMPARE(w.MaxForce(), 80.0);
        QCOMPARE(Part<QLabel>(&w, "lbAcc")->text(), QStringLiteral("1000 mm/s²"));
        QCOMPARE(Part<QLabel>(&w, "lbForce")->text(),
                 QLocale().toString(40.0, 'f', 1) + QStringLiteral(" N"));

        // The automatic updates bring the live displays.
        QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbGraspingState")->text(),
                                  QStringLiteral("idle"), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbPosition")->text(),
                                  QLocale().toString(55.0, 'f', 2) + QStringLiteral(" mm"),
                                  Patience);
        QTRY_VERIFY_WITH_TIMEOUT(
            Part<QLabel>(&w, "lbSystemstate")->text().endsWith(QLatin1Char('h')), Patience);
        QVERIFY(!w.StateBoxes()[0]->isChecked()); // not referenced yet

        // Homing, then a grasp on the simulator's 40 mm part.
        Part<QAction>(&w, "Homing1")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(
            LogLines(w).contains(QStringLiteral("Command HOMING finished: No error.")), Patience);
        QTRY_VERIFY_WITH_TIMEOUT(w.StateBoxes()[0]->isChecked(), Patience); // "Referenced"
        QTest::mouseClick(Part<QPushButton>(&w, "btnGrasp"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            LogLines(w).contains(QStringLiteral("Command GRASP_RAW finished: No error.")),
            Patience);
        QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbGraspingState")->text(),
                                  QStringLiteral("holding"), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbPosition")->text(),
                                  QLocale().toString(40.0, 'f', 2) + QStringLiteral(" mm"),
                                  Patience);
        QVERIFY2(rig.Boxes.Boxes.isEmpty(), qPrintable(rig.Boxes.Texts().join(u'|')));

        // The three read-outs show the simulator's values.
        QStringList rows;
        auto readOut = [&](QAction* entry) {
            rows.clear();
            WhenModal<TListBoxDlg>([&](TListBoxDlg* d) {
                rows = d->Rows();
                d->btnClose->click();
            });
            entry->trigger();
            return rows;
        };
        QCOMPARE(
            readOut(Part<QAction>(&w, "GetSystemInfo1")),
            QStringList({QStringLiteral("Gripper type;Morv 50"),
                         QStringLiteral("Serial number;12345678"),
                         QStringLiteral("Hardware rev.;2"), QStringLiteral("Firmware rev.;260")}));
        QCOMPARE(readOut(Part<QAction>(&w, "GetSystemLimits1")),
                 QStringList(
                     {QStringLiteral("Stroke;110 mm"), QStringLiteral("Minimum speed;5 mm/s"),
                      QStringLiteral("Maximum speed;420 mm/s"),
                      QStringLiteral("Minimum acceleration;100 mm/s²"),
                      QStringLiteral("Maximum acceleration;5000 mm/s²"),
                      QStringLiteral("Minimum force;5 N"), QStringLiteral("Maximum force;80 N")}));
        QCOMPARE(readOut(Part<QAction>(&w, "GetGraspingStatistics1")),
                 QStringList({QStringLiteral("Number of grasps;1"),
                              QStringLiteral("Number of not found parts;0"),
                              QStringLiteral("Number of parts lost;0")}));
        QVERIFY2(rig.Boxes.Boxes.isEmpty(), qPrintable(rig.Boxes.Texts().join(u'|')));

        // Release goes back to idle.
        QTest::mouseClick(Part<QPushButton>(&w, "btnRelease"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            LogLines(w).contains(QStringLiteral("Command RELEASE_RAW finished: No error.")),
            Patience);
        QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbGraspingState")->text(),
                                  QStringLiteral("idle"), Patience);

        // Disconnect: back to the start state.
        Part<QAction>(&w, "Disconnect1")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(Part<QAction>(&w, "Connect1")->isEnabled(), Patience);
        QCOMPARE(Part<QLabel>(&w, "lbSystemstate")->text(), QStringLiteral("[n/a]"));
        QVERIFY(!Part<QPushButton>(&w, "btnStop")->isEnabled());
    }

    void fastStopBlocksMotionUntilAcknowledged() {
        TConsoleOverSim rig({QStringLiteral("--referenced")});
        QVERIFY2(rig.Start(), qPrintable(rig.Sim.ErrorString()));
        TMainWin& w = *rig.Win;
        rig.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(rig.Ready(), Patience);
        QTest::mouseClick(Part<QPushButton>(&w, "btnEmergencyStop"), Qt::LeftButton);
        QVERIFY(Part<QPushButton>(&w, "btnEmergencyStop")->isChecked());
        QCheckBox* fastStopBox = nullptr;
        for (QCheckBox* b : w.StateBoxes())
            if (b->text() == QStringLiteral("Fast stop"))
                fastStopBox = b;
        QVERIFY(fastStopBox);
        QTRY_VERIFY_WITH_TIMEOUT(fastStopBox->isChecked(), Patience);
        // The updates keep the button pressed while the gripper is in fast stop.
        QTRY_VERIFY_WITH_TIMEOUT(
            Part<QLabel>(&w, "lbSystemstate")->text() != QStringLiteral("[n/a]"), Patience);
        QVERIFY(Part<QPushButton>(&w, "btnEmergencyStop")->isChecked());

        QTest::mouseClick(Part<QPushButton>(&w, "btnMove"), Qt::LeftButton);
        QCOMPARE(rig.Boxes.Texts(),
                 QStringList(QStringLiteral("Error while starting to move: ") +
                             StatusText(E_ACCESS_DENIED) +
                             QStringLiteral("\nAcknowledge the fast stop first: Commands | "
                                            "Acknowledge a Fast Stop")));
        rig.Boxes.clear();

        Part<QAction>(&w, "FastStopAcknowledge1")->trigger();
        QVERIFY(!Part<QPushButton>(&w, "btnEmergencyStop")->isChecked());
        QTRY_VERIFY_WITH_TIMEOUT(!fastStopBox->isChecked(), Patience);
        // Motion is possible again: move to 20 mm.
        Part<TFloatEdit>(&w, "edGotoPos")->setFocus();
        Part<TFloatEdit>(&w, "edGotoPos")->setText(QStringLiteral("20"));
        QCOMPARE(Part<QSlider>(&w, "tbGotoPos")->value(), 36); // 20 / 110 * 200 = 36.4
        QTest::mouseClick(Part<QPushButton>(&w, "btnMove"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            LogLines(w).contains(QStringLiteral("Command GOTO finished: No error.")), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbPosition")->text(),
                                  QLocale().toString(20.0, 'f', 2) + QStringLiteral(" mm"),
                                  Patience);
        QVERIFY2(rig.Boxes.Boxes.isEmpty(), qPrintable(rig.Boxes.Texts().join(u'|')));

        // A force limit change goes through the value dialog to the gripper and back.
        WhenModal<TFloatEditDlg>([](TFloatEditDlg* d) {
            d->ed->setText(QStringLiteral("25"));
            d->BitBtn2->click();
        });
        QTest::mouseClick(Part<QPushButton>(&w, "btnForce"), Qt::LeftButton);
        QCOMPARE(Part<QLabel>(&w, "lbForce")->text(),
                 QLocale().toString(25.0, 'f', 1) + QStringLiteral(" N"));
        float readBack = 0;
        QCOMPARE(w.Gripper()->GetForceLimit(readBack), E_SUCCESS);
        QCOMPARE(readBack, 25.0f);
    }

    void manualInitialization() {
        TConsoleOverSim rig;
        QVERIFY2(rig.Start(true), qPrintable(rig.Sim.ErrorString()));
        TMainWin& w = *rig.Win;
        QVERIFY(Part<QAction>(&w, "manualinit1")->isChecked());
        rig.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(Part<QAction>(&w, "Initialize1")->isEnabled(), Patience);
        QVERIFY(!Part<QAction>(&w, "Connect1")->isEnabled());
        QVERIFY(!Part<QPushButton>(&w, "btnStop")->isEnabled());
        QCOMPARE(Part<QLabel>(&w, "lbGraspingState")->text(), QStringLiteral("[n/a]"));
        Part<QAction>(&w, "Initialize1")->trigger();
        QVERIFY(rig.Ready());
        QVERIFY(!Part<QAction>(&w, "Initialize1")->isEnabled());
        QCOMPARE(Part<TFloatEdit>(&w, "edGotoPos")->text(), QStringLiteral("55"));
        QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbGraspingState")->text(),
                                  QStringLiteral("idle"), Patience);
    }

    void simulatorDyingMidSession() {
        TConsoleOverSim rig({QStringLiteral("--referenced")});
        QVERIFY2(rig.Start(), qPrintable(rig.Sim.ErrorString()));
        TMainWin& w = *rig.Win;
        rig.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(rig.Ready(), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbGraspingState")->text(),
                                  QStringLiteral("idle"), Patience);
        // A slow move that the gripper's end cuts off still gets its line.
        Part<TFloatEdit>(&w, "edGotoPos")->setFocus();
        Part<TFloatEdit>(&w, "edGotoPos")->setText(QStringLiteral("0"));
        Part<TFloatEdit>(&w, "edGotoSpeed")->setFocus();
        Part<TFloatEdit>(&w, "edGotoSpeed")->setText(QStringLiteral("5"));
        QTest::mouseClick(Part<QPushButton>(&w, "btnMove"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(w.StateBoxes()[1]->isChecked(), Patience); // "Moving"
        rig.Sim.Kill();
        QTRY_VERIFY_WITH_TIMEOUT(Part<QAction>(&w, "Connect1")->isEnabled(), Patience);
        QVERIFY(!Part<QAction>(&w, "Disconnect1")->isEnabled());
        QVERIFY(!Part<QPushButton>(&w, "btnStop")->isEnabled());
        QCOMPARE(Part<QLabel>(&w, "lbGraspingState")->text(), QStringLiteral("[n/a]"));
        QCOMPARE(Part<QLabel>(&w, "lbPosition")->text(), QStringLiteral("[n/a]"));
        QCOMPARE(LogLines(w),
                 QStringList(QStringLiteral("Command GOTO: connection closed before the result.")));
        QVERIFY(!w.Gripper()->IsConnected());
        QCOMPARE(rig.Boxes.Boxes.size(), 1);
        QVERIFY2(rig.Boxes.Texts().first().startsWith(QStringLiteral(
                     "A Connection Error occurred or the connection to the device was "
                     "interrupted.")),
                 qPrintable(rig.Boxes.Texts().first()));
        // Anything tried now fails with its message, and the window stays usable.
        rig.Boxes.clear();
        Part<QAction>(&w, "GetSystemInfo1")->trigger();
        QCOMPARE(rig.Boxes.Texts().last(),
                 QStringLiteral("Cannot read system information: Not connected."));
    }

    void cancellingTheHostDialog() {
        TConsoleOverSim rig;
        QVERIFY2(rig.Start(), qPrintable(rig.Sim.ErrorString()));
        AnswerDeviceDialog(
            DeviceIndex(rig.Win->Gripper()->Command(), QStringLiteral("Ethernet/TCP")));
        WhenModal<THostNameDlg>([](THostNameDlg* d) { d->btnCancel->click(); });
        Part<QAction>(&*rig.Win, "Connect1")->trigger();
        QVERIFY(rig.Boxes.Texts().isEmpty());
        QVERIFY(Part<QAction>(&*rig.Win, "Connect1")->isEnabled());
        QVERIFY(!rig.Win->Gripper()->IsConnected());
    }

    // A gripper that is not referenced: every state update asks for the position again. Its
    // frames travel slowly and it reports its state at every period, so updates are always on
    // their way ahead of a reply. Every command still gets its own reply.
    void commandsOfAnUnreferencedGripper() {
        TConsoleOverSim rig({QStringLiteral("--delay-ms"), QStringLiteral("150")});
        QVERIFY2(rig.Start(), qPrintable(rig.Sim.ErrorString()));
        TMainWin& w = *rig.Win;
        rig.Connect();
        QTRY_VERIFY_WITH_TIMEOUT(rig.Ready(), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbGraspingState")->text(),
                                  QStringLiteral("idle"), Patience);
        QCOMPARE(w.Gripper()->GetSystemState(true, 20, false), E_SUCCESS);
        for (int i = 0; i < 3; ++i)
            QTest::mouseClick(Part<QPushButton>(&w, "btnStop"), Qt::LeftButton);
        Part<TFloatEdit>(&w, "edGotoPos")->setFocus();
        Part<TFloatEdit>(&w, "edGotoPos")->setText(QStringLiteral("70"));
        QTest::mouseClick(Part<QPushButton>(&w, "btnMove"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            LogLines(w).contains(QStringLiteral("Command GOTO finished: No error.")), Patience);
        QTest::mouseClick(Part<QPushButton>(&w, "btnGrasp"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            LogLines(w).contains(QStringLiteral("Command GRASP_RAW finished: No error.")),
            Patience);
        QTest::mouseClick(Part<QPushButton>(&w, "btnStop"), Qt::LeftButton);
        QVERIFY2(rig.Boxes.Boxes.isEmpty(), qPrintable(rig.Boxes.Texts().join(u'|')));
        QVERIFY(!(w.Gripper()->SystemState() & 0x1)); // still not referenced
    }

    // An attempt nobody answers: the window says it is connecting, Disconnect gives it up, and
    // left alone it ends as a connection error.
    void unansweredAttempt() {
        TConsoleOverSim rig;
        QVERIFY2(rig.Start(), qPrintable(rig.Sim.ErrorString()));
        TMainWin& w = *rig.Win;
        SilentListener listener;
        QVERIFY(listener.Setup());
        auto connect = [&] {
            AnswerDeviceDialog(DeviceIndex(w.Gripper()->Command(), QStringLiteral("Ethernet/TCP")));
            WhenModal<THostNameDlg>([&](THostNameDlg* d) {
                d->edPort->setText(QString::number(listener.Port()));
                d->btnOk->click();
            });
            Part<QAction>(&w, "Connect1")->trigger();
        };
        auto* tcp = static_cast<TTCPDevice*>(w.Gripper()->Command()->Devices(
            DeviceIndex(w.Gripper()->Command(), QStringLiteral("Ethernet/TCP"))));
        auto* status =
            Part<QStatusBar>(&w, "StatusBar")->findChild<QLabel*>(QStringLiteral("lbConnecting"));
        QVERIFY(status);
        connect();
        QCOMPARE(status->text(), QStringLiteral("Connecting…"));
        QVERIFY(tcp->IsConnecting());
        QVERIFY(Part<QAction>(&w, "Disconnect1")->isEnabled());
        Part<QAction>(&w, "Disconnect1")->trigger();
        QVERIFY(!tcp->IsConnecting());
        QVERIFY(status->text().isEmpty());
        QVERIFY(Part<QAction>(&w, "Connect1")->isEnabled());
        QVERIFY(rig.Boxes.Boxes.isEmpty());

        tcp->AttemptTimeoutMs = 500;
        connect();
        QCOMPARE(status->text(), QStringLiteral("Connecting…"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.Boxes.Boxes.size(), 1, Patience);
        QVERIFY2(rig.Boxes.Texts().first().startsWith(QStringLiteral(
                     "A Connection Error occurred or the connection to the device was "
                     "interrupted.")),
                 qPrintable(rig.Boxes.Texts().first()));
        QVERIFY(status->text().isEmpty());
        QVERIFY(Part<QAction>(&w, "Connect1")->isEnabled());
        QVERIFY(!Part<QAction>(&w, "Disconnect1")->isEnabled());
    }

    void nothingListeningIsAConnectionError() {
        // A port nobody serves: the attempt starts, then the transport reports the failure.
        TConsoleOverSim rig;
        QVERIFY2(rig.Start(), qPrintable(rig.Sim.ErrorString()));
        const quint16 port = rig.Sim.TcpPort();
        rig.Sim.Kill();
        rig.Settings.WriteFile(
            QStringLiteral("tcp.cfg"),
            QStringLiteral("[common]\nhost=127.0.0.1\nport=%1\n").arg(port).toLatin1());
        rig.Connect();
        QTRY_COMPARE_WITH_TIMEOUT(rig.Boxes.Boxes.size(), 1, Patience);
        QVERIFY2(rig.Boxes.Texts().first().startsWith(QStringLiteral(
                     "A Connection Error occurred or the connection to the device was "
                     "interrupted.")),
                 qPrintable(rig.Boxes.Texts().first()));
        // It names the transport, the address it tried, and why it failed.
        QVERIFY2(rig.Boxes.Texts().first().endsWith(
                     QStringLiteral("\nTransport: Ethernet/TCP, address: 127.0.0.1:%1\nCause: "
                                    "connection refused (nothing listens on that port).")
                         .arg(port)),
                 qPrintable(rig.Boxes.Texts().first()));
        QVERIFY(Part<QAction>(&*rig.Win, "Connect1")->isEnabled());
        QVERIFY(!Part<QPushButton>(&*rig.Win, "btnStop")->isEnabled());
    }
};

int main(int argc, char** argv) {
    TKaroApplication app(argc, argv);
    TestConsole test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_console.moc"
