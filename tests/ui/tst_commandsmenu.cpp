// SPDX-License-Identifier: Apache-2.0
// The Commands and View menus: read-outs, homing, acknowledging a fast stop, the diagnostic
// windows.

#include "ConsoleRig.h"
#include "diagnostics/CommLogForm.h"
#include "diagnostics/CustomCmdForm.h"
#include "ui/KaroApplication.h"
#include "ui/ListBoxDialog.h"

#include <QAction>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>

class TestCommandsMenu : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void readOuts_data() {
        QTest::addColumn<int>("id");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QStringList>("rows");
        QTest::newRow("info") << int(CMD_GET_SYSINFO)
                              << QByteArray::fromHex("0000"
                                                     "01"
                                                     "02"
                                                     "0401"
                                                     "675B0000")
                              << QStringLiteral("System Information")
                              << QStringList{QStringLiteral("Gripper type;Morv 50"),
                                             QStringLiteral("Serial number;00023399"),
                                             QStringLiteral("Hardware rev.;2"),
                                             QStringLiteral("Firmware rev.;260")};
        QTest::newRow("info unsigned serial")
            << int(CMD_GET_SYSINFO)
            << QByteArray::fromHex("0000"
                                   "07"
                                   "00"
                                   "0000"
                                   "005ED0B2")
            << QStringLiteral("System Information")
            << QStringList{QStringLiteral("Gripper type;Morv 50"),
                           QStringLiteral("Serial number;3000000000"),
                           QStringLiteral("Hardware rev.;0"), QStringLiteral("Firmware rev.;0")};
        TByteArray limits = Floats({109.6f, 5, 420, 100, 5000, 5, 80, 0});
        QTest::newRow("limits") << int(CMD_GET_SYSTEM_LIMITS)
                                << QByteArray(reinterpret_cast<const char*>(limits.data()),
                                              int(limits.size()))
                                << QStringLiteral("Gripper System Limits")
                                << QStringList{QStringLiteral("Stroke;110 mm"),
                                               QStringLiteral("Minimum speed;5 mm/s"),
                                               QStringLiteral("Maximum speed;420 mm/s"),
                                               QStringLiteral("Minimum acceleration;100 mm/s²"),
                                               QStringLiteral("Maximum acceleration;5000 mm/s²"),
                                               QStringLiteral("Minimum force;5 N"),
                                               QStringLiteral("Maximum force;80 N")};
        QTest::newRow("statistics") << int(CMD_GET_GRASPING_STATS)
                                    << QByteArray::fromHex("0000"
                                                           "A0860100"
                                                           "0300"
                                                           "FFFF")
                                    << QStringLiteral("Grasping Statistics")
                                    << QStringList{QStringLiteral("Number of grasps;100000"),
                                                   QStringLiteral("Number of not found parts;3"),
                                                   QStringLiteral("Number of parts lost;65535")};
    }

    void readOuts() {
        QFETCH(int, id);
        QFETCH(QByteArray, reply);
        QFETCH(QString, caption);
        QFETCH(QStringList, rows);
        TConsoleRig rig;
        QVERIFY(rig.Connect());
        rig.Replies[id] = TByteArray(reply.begin(), reply.end());
        QString shownCaption;
        QStringList shownRows;
        WhenModal<TListBoxDlg>([&](TListBoxDlg* d) {
            shownCaption = d->windowTitle();
            shownRows = d->Rows();
            d->btnClose->click();
        });
        if (id == CMD_GET_SYSINFO)
            Part<QAction>(&*rig.Win, "GetSystemInfo1")->trigger();
        else if (id == CMD_GET_SYSTEM_LIMITS)
            Part<QAction>(&*rig.Win, "GetSystemLimits1")->trigger();
        else
            Part<QAction>(&*rig.Win, "GetGraspingStatistics1")->trigger();
        QCOMPARE(shownCaption, caption);
        QCOMPARE(shownRows, rows);
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        if (id == CMD_GET_GRASPING_STATS)
            QCOMPARE(HexString(rig.Last(id)->Data), QStringLiteral("00")); // never resets
        // The dialog was freed when it closed.
        QTRY_VERIFY(rig.Win->findChildren<TListBoxDlg*>().isEmpty());
    }

    // Without a connection, and again once a connection was lost, every command says so.
    void commandsFailWithoutAGripper() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        const QStringList notConnected{
            QStringLiteral("Cannot read system information: Not connected."),
            QStringLiteral("Cannot read gripper system limits: Not connected."),
            QStringLiteral("Cannot read grasping statistics: Not connected."),
            QStringLiteral("Error while homing: Not connected."),
            QStringLiteral("Error while acknowledging the fast stop: Not connected."),
            QStringLiteral("Error while starting to grasp: Not connected.")};
        const auto runAll = [&] {
            Part<QAction>(&w, "GetSystemInfo1")->trigger();
            Part<QAction>(&w, "GetSystemLimits1")->trigger();
            Part<QAction>(&w, "GetGraspingStatistics1")->trigger();
            Part<QAction>(&w, "Homing1")->trigger();
            Part<QAction>(&w, "FastStopAcknowledge1")->trigger();
            w.btnGraspClick();
        };
        runAll();
        QCOMPARE(rig.Boxes.Texts(), notConnected);
        QVERIFY(rig.Connect());
        rig.Device->DropConnection();
        QCOMPARE(rig.Boxes.Boxes.size(), 7); // the connection error
        rig.Boxes.clear();
        runAll();
        QCOMPARE(rig.Boxes.Texts(), notConnected);
        // A reply of the wrong length is the same failure with the entry's prefix.
        QVERIFY(rig.Connect());
        rig.Boxes.clear();
        rig.Replies[CMD_GET_SYSINFO] = Bytes({0, 0, 1, 2, 3});
        Part<QAction>(&w, "GetSystemInfo1")->trigger();
        QCOMPARE(rig.Boxes.Texts(),
                 QStringList(QStringLiteral("Cannot read system information: Command failed")));
    }

    void homingReportsItsEnd() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        rig.Replies[CMD_HOMING] = Bytes({0, 0});
        Part<QAction>(&w, "Homing1")->trigger();
        rig.Send(CMD_HOMING, Bytes({0, 0}));
        QCOMPARE(Part<QPlainTextEdit>(&w, "AsyncLog")->toPlainText(),
                 QStringLiteral("Command HOMING finished: No error."));
        Part<QPlainTextEdit>(&w, "AsyncLog")->clear();
        rig.Replies[CMD_HOMING] = Bytes({E_CMD_PENDING, 0});
        Part<QAction>(&w, "Homing1")->trigger();
        QCOMPARE(HexString(rig.Last(CMD_HOMING)->Data), QStringLiteral("00"));
        rig.Send(CMD_HOMING, Bytes({0, 0}));
        QCOMPARE(Part<QPlainTextEdit>(&w, "AsyncLog")->toPlainText(),
                 QStringLiteral("Command HOMING finished: No error."));
        rig.Replies[CMD_HOMING] = Bytes({E_ALREADY_RUNNING, 0});
        Part<QAction>(&w, "Homing1")->trigger();
        QCOMPARE(rig.Boxes.Texts(), QStringList(QStringLiteral("Error while homing: ") +
                                                StatusText(E_ALREADY_RUNNING)));
    }

    void diagnosticWindowsFromTheMenus() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        TCommLog& log = *w.CommandLog();
        QVERIFY(!log.isVisible());
        QVERIFY(!w.CommandEditor()->isVisible());
        // The log records while hidden: everything the initialization sent and received.
        QVERIFY(rig.Connect());
        QVERIFY(log.Count() >= 12);
        QVERIFY(!log.Received(0));
        QCOMPARE(log.Packet(0).ID, int(CMD_GET_SYSTEM_LIMITS));
        // The entries show their windows; the check marks follow the windows when the menus open.
        Part<QAction>(&w, "Commandlog1")->trigger();
        QVERIFY(log.isVisible());
        Part<QAction>(&w, "CustomCommands1")->trigger();
        QVERIFY(w.CommandEditor()->isVisible());
        log.close();
        w.CommandEditor()->close();
        Q_EMIT Part<QMenu>(&w, "View1")->aboutToShow();
        Q_EMIT Part<QMenu>(&w, "Commands1")->aboutToShow();
        QVERIFY(!Part<QAction>(&w, "Commandlog1")->isChecked());
        QVERIFY(!Part<QAction>(&w, "CustomCommands1")->isChecked());
        // A closed window comes back even when its entry still shows the check.
        Part<QAction>(&w, "CustomCommands1")->setChecked(true);
        Part<QAction>(&w, "CustomCommands1")->trigger();
        QVERIFY(w.CommandEditor()->isVisible());
    }
};

int main(int argc, char** argv) {
    TKaroApplication app(argc, argv);
    // Read-outs are compared as the operator reads them, with a point for the decimals.
    QLocale::setDefault(QLocale::c());
    TestCommandsMenu test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_commandsmenu.moc"
