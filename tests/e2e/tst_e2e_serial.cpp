// SPDX-License-Identifier: Apache-2.0
// The Commander over RS232 against karo-sim serving a pseudo-terminal.

#include "EngineOverSim.h"
#include "WidgetSupport.h"
#include "WindowParts.h"
#include "app/Commander.h"
#include "dialogs/BaudrateDialog.h"
#include "dialogs/DeviceDialog.h"
#include "ui/KaroApplication.h"
#include "ui/MainForm.h"
#include "widgets/FloatEdit.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

using namespace e2e;

namespace {
constexpr int Patience = 15000;

bool Logged(const TMainWin& w, const QString& line) {
    return Part<QPlainTextEdit>(&w, "AsyncLog")
        ->toPlainText()
        .split(QLatin1Char('\n'))
        .contains(line);
}
} // namespace

class TestE2eSerial : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowThroughTheDialogs() {
        SimProcess sim({QStringLiteral("--serial-pty")}, false);
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        TempSettingsDir settings;
        MessageRecorder boxes;
        settings.WriteFile(
            QStringLiteral("uart.cfg"),
            QStringLiteral("[ports]\nCOM9=%1\n").arg(sim.SerialPath()).toLocal8Bit());
        const TCommander console;
        TMainWin& w = console.Win();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));

        QString device, pathShown;
        WhenModal<TDeviceDlg>([&](TDeviceDlg* d) {
            device = d->findChild<QComboBox*>(QStringLiteral("cbDevice"))->currentText();
            auto* ports = d->findChild<QComboBox*>(QStringLiteral("cbDevicePort"));
            ports->setCurrentIndex(ports->findText(QStringLiteral("COM9")));
            d->findChild<QPushButton*>(QStringLiteral("btnConnect"))->click();
        });
        WhenModal<TBaudrateDlg>([&](TBaudrateDlg* d) {
            pathShown = d->lbDevicePath->text();
            d->cbBaudrate->setCurrentIndex(d->cbBaudrate->findText(QStringLiteral("115200 baud")));
            d->btnOk->click();
        });
        Part<QAction>(&w, "Connect1")->trigger();
        QCOMPARE(device, QStringLiteral("Serial (RS232)"));
        QCOMPARE(pathShown, QStringLiteral("COM9 = ") + sim.SerialPath());
        QTRY_VERIFY_WITH_TIMEOUT(!Part<QAction>(&w, "Connect1")->isEnabled() &&
                                     Part<QPushButton>(&w, "btnStop")->isEnabled(),
                                 Patience);
        QCOMPARE(TIniFile(settings.FilePath(QStringLiteral("uart.cfg")))
                     .ReadInteger(QStringLiteral("common"), QStringLiteral("baudrate"), -1),
                 7);

        Part<QAction>(&w, "Homing1")->trigger();
        QTRY_VERIFY2_WITH_TIMEOUT(Logged(w, QStringLiteral("Command HOMING finished: No error.")),
                                  qPrintable(Part<QPlainTextEdit>(&w, "AsyncLog")->toPlainText() +
                                             boxes.Texts().join(u'|')),
                                  Patience);
        // Once referenced, state updates no longer make the window ask for the position, which
        // would otherwise run an exchange nested inside the move's own.
        QTRY_VERIFY_WITH_TIMEOUT(w.StateBoxes()[0]->isChecked(), Patience);
        Part<TFloatEdit>(&w, "edGotoPos")->setFocus();
        Part<TFloatEdit>(&w, "edGotoPos")->setText(QStringLiteral("70"));
        QTest::mouseClick(Part<QPushButton>(&w, "btnMove"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Logged(w, QStringLiteral("Command GOTO finished: No error.")),
                                 Patience);
        QTest::mouseClick(Part<QPushButton>(&w, "btnGrasp"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(Logged(w, QStringLiteral("Command GRASP_RAW finished: No error.")),
                                 Patience);
        QTRY_COMPARE_WITH_TIMEOUT(Part<QLabel>(&w, "lbGraspingState")->text(),
                                  QStringLiteral("holding"), Patience);
        QVERIFY2(boxes.Boxes.isEmpty(), qPrintable(boxes.Texts().join(u'|')));

        // The gripper loses power: the line hangs up and the window is disconnected again.
        sim.Kill();
        QTRY_VERIFY_WITH_TIMEOUT(Part<QAction>(&w, "Connect1")->isEnabled(), Patience);
        QVERIFY(!Part<QPushButton>(&w, "btnStop")->isEnabled());
        QVERIFY(!w.Gripper()->IsConnected());
        QCOMPARE(Part<QLabel>(&w, "lbPosition")->text(), QStringLiteral("[n/a]"));
        QCOMPARE(boxes.Boxes.size(), 1);
        QVERIFY(boxes.Texts().first().startsWith(QStringLiteral("A Connection Error occurred")));
    }

    void allCommandsWithoutDialogs() {
        QStringList args = SimIdentity();
        args << QStringLiteral("--serial-pty");
        SimProcess sim(args, false);
        QVERIFY2(sim.Start(), qPrintable(sim.ErrorString()));
        TempSettingsDir dir;
        TMorv morv(nullptr);
        Recorder rec(morv);
        TConnectTarget target;
        target.Device = QStringLiteral("uart");
        target.Port = sim.SerialPath();
        target.Serial.BaudIndex = 7;
        ConnectAndRunAllCommands(morv, rec, target, Patience);
    }
};

int main(int argc, char** argv) {
    TKaroApplication app(argc, argv);
    TestE2eSerial test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_e2e_serial.moc"
