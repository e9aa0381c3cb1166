// SPDX-License-Identifier: Apache-2.0
// The CAN path against karo-sim on a virtual bus of the test's own: the engine with all its
// commands, and the operator's window through its real dialogs.

#include "EngineOverSim.h"
#include "MemoryDevice.h"
#include "WidgetSupport.h"
#include "WindowParts.h"
#include "app/Commander.h"
#include "dialogs/CanParamsDialog.h"
#include "ui/KaroApplication.h"
#include "ui/MainForm.h"
#include "widgets/FloatEdit.h"
#include "widgets/IntegerEdit.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTcpServer>

using namespace e2e;

namespace {
constexpr int Patience = 15000;

// The simulator on a bus of its own, which it hosts, and "Net 19" naming that bus.
struct TCanSim {
    QString Bus;
    SimProcess Sim;
    TempSettingsDir Settings;

    explicit TCanSim(QStringList args = SimIdentity())
        : Bus(QStringLiteral("virtualcan:tcp://127.0.0.1:%1/can0").arg(FreePort())),
          Sim(args << QStringLiteral("--can") << Bus << QStringLiteral("--can-id")
                   << QStringLiteral("100"),
              false) {}
    bool Start() {
        if (!Sim.Start())
            return false;
        Settings.WriteFile(QStringLiteral("can.cfg"),
                           QStringLiteral("[nets]\n19=%1\n").arg(Bus).toLatin1());
        return true;
    }
    static quint16 FreePort() {
        QTcpServer s;
        s.listen(QHostAddress::LocalHost, 0);
        return s.serverPort();
    }
};

QStringList LogLines(const TMainWin& w) {
    return Part<QPlainTextEdit>(&w, "AsyncLog")
        ->toPlainText()
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
} // namespace

class TestE2eCan : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void allCommandsWithoutDialogs() {
        TCanSim rig;
        QVERIFY2(rig.Start(), qPrintable(rig.Sim.ErrorString()));
        QCOMPARE(rig.Sim.CanBus(), rig.Bus);
        TMorv morv(nullptr);
        Recorder rec(morv);
        TConnectTarget target;
        target.Device = QStringLiteral("can");
        target.Port = QStringLiteral("Net 19");
        target.Can = {2, 100};
        ConnectAndRunAllCommands(morv, rec, target, Patience);
        if (QTest::currentTestFailed())
            return;

        // The bus named directly works as well as its net number.
        target.Port = rig.Bus;
        QCOMPARE(morv.ConnectTo(target), E_SUCCESS);
        QTRY_VERIFY_WITH_TIMEOUT(morv.IsConnected(), Patience);
        float v = 0;
        QCOMPARE(morv.GetAcceleration(v), E_SUCCESS);
        QCOMPARE(v, 2500.0f);

        // Another target identifier: the simulator on 100 never hears the request.
        target.Can.TargetId = 200;
        QCOMPARE(morv.ConnectTo(target), E_SUCCESS);
        QTRY_VERIFY_WITH_TIMEOUT(morv.IsConnected(), Patience);
        QCOMPARE(morv.GetAcceleration(v), E_CMD_FAILED);
    }

    void windowThroughDialogsUntilTheSimulatorDies() {
        // Referenced from the start, so the motions need no homing first.
        TCanSim rig(SimIdentity() << QStringLiteral("--referenced"));
        QVERIFY2(rig.Start(), qPrintable(rig.Sim.ErrorString()));
        MessageRecorder boxes;
        const TCommander console;
        TMainWin& w = console.Win();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        QString busShown;
        QString rateShown;
        AnswerDeviceDialog(DeviceIndex(w.Gripper()->Command(), QStringLiteral("CAN-Bus")), true,
                           QStringLiteral("Net 19"));
        WhenModal<TCANParamsDlg>([&](TCANParamsDlg* d) {
            busShown = d->lbBus->text();
            rateShown = d->cbBitrate->currentText();
            d->edID->setText(QStringLiteral("0x64"));
            d->btnOk->click();
        });
        Part<QAction>(&w, "Connect1")->trigger();
        QCOMPARE(busShown, QStringLiteral("Net 19 is ") + rig.Bus);
        QCOMPARE(rateShown, QStringLiteral("250 kBit/s"));
        QTRY_VERIFY_WITH_TIMEOUT(!Part<QAction>(&w, "Connect1")->isEnabled() &&
                                     Part<QPushButton>(&w, "btnStop")->isEnabled(),
                                 Patience);
        QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbGraspingState")->text(),
                                  QStringLiteral("idle"), Patience);

        Part<QAction>(&w, "Homing1")->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(
            LogLines(w).contains(QStringLiteral("Command HOMING finished: No error.")), Patience);
        Part<TFloatEdit>(&w, "edGotoPos")->setFocus();
        Part<TFloatEdit>(&w, "edGotoPos")->setText(QStringLiteral("80"));
        QTest::mouseClick(Part<QPushButton>(&w, "btnMove"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            LogLines(w).contains(QStringLiteral("Command GOTO finished: No error.")), Patience);
        QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbPosition")->text(),
                                  QLocale().toString(80.0, 'f', 2) + QStringLiteral(" mm"),
                                  Patience);
        QTest::mouseClick(Part<QPushButton>(&w, "btnGrasp"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(
            LogLines(w).contains(QStringLiteral("Command GRASP_RAW finished: No error.")),
            Patience);
        QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbGraspingState")->text(),
                                  QStringLiteral("holding"), Patience);
        QVERIFY2(boxes.Boxes.isEmpty(), qPrintable(boxes.Texts().join(u'|')));

        // The simulator hosts the bus: its death ends the bus, which the transport reports.
        rig.Sim.Kill();
        QTRY_VERIFY_WITH_TIMEOUT(Part<QAction>(&w, "Connect1")->isEnabled(), Patience);
        QVERIFY(!Part<QAction>(&w, "Disconnect1")->isEnabled());
        QVERIFY(!Part<QPushButton>(&w, "btnStop")->isEnabled());
        QVERIFY(!w.Gripper()->IsConnected());
        QCOMPARE(Part<QLabel>(&w, "lbPosition")->text(), QStringLiteral("[n/a]"));
        QCOMPARE(boxes.Boxes.size(), 1);
        QVERIFY2(boxes.Texts().first().startsWith(QStringLiteral(
                     "A Connection Error occurred or the connection to the device was "
                     "interrupted.")),
                 qPrintable(boxes.Texts().first()));
    }
};

int main(int argc, char** argv) {
    TKaroApplication app(argc, argv);
    TestE2eCan test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_e2e_can.moc"
