// SPDX-License-Identifier: Apache-2.0
// The console from start-up through connecting, initializing, the live state and the
// connection going away.

#include "ConsoleRig.h"
#include "ui/KaroApplication.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QStatusBar>

#include <pty.h>
#include <sys/file.h>
#include <unistd.h>

namespace {
QString Text(QLabel* l) {
    return l->text();
}
} // namespace

class TestMainWinConnection : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void startsDisconnectedWithItsComponents() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QCOMPARE(w.windowTitle(), QStringLiteral("Karo Commander 1.2.0"));
        QCOMPARE(w.objectName(), QStringLiteral("MainWin"));
        for (const char* name :
             {"pnLeft",           "pnRight",         "ScrollBox1",      "RollPanel1",
              "RollPanel2",       "RollPanel3",      "pnState",         "lbStateTitle",
              "lbGraspingState",  "lbPosition",      "lbSystemstate",   "pnEmergency",
              "btnEmergencyStop", "sbCommands",      "AsyncLog",        "StatusBar",
              "LMDSimplePanel3",  "LMDSimplePanel1", "pnGoto",          "pnGrasp",
              "pnRelease",        "pnStop",          "lbAcc",           "btnAcc",
              "lbForce",          "btnForce",        "tbGotoPos",       "edGotoPos",
              "tbGotoSpeed",      "edGotoSpeed",     "btnMove",         "tbGraspingPos",
              "edGraspingPos",    "tbGraspingSpeed", "edGraspingSpeed", "btnGrasp",
              "tbReleasePos",     "edReleasePos",    "tbReleaseSpeed",  "edReleaseSpeed",
              "btnRelease",       "btnStop"})
            QVERIFY2(w.findChild<QWidget*>(QString::fromLatin1(name)), name);

        // Menus: entries, shortcuts, hints, start states.
        struct Entry {
            const char* name;
            const char* text;
            QKeySequence key;
            bool enabled;
            const char* hint;
        };
        for (const Entry& e :
             {Entry{"Connect1", "&Connect", Qt::Key_F2, true, "Connect to a device"},
              Entry{"Initialize1", "&Initialize", Qt::Key_F3, false,
                    "Initialize the connected device manually"},
              Entry{"Disconnect1", "Disconnect", Qt::Key_F4, false,
                    "Disconnect from the currently connected device"},
              Entry{"Quit1", "&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q), true,
                    "Close the program"},
              Entry{"GetSystemInfo1",
                    "Get System &Info",
                    {},
                    true,
                    "Outputs some system information"},
              Entry{
                  "GetSystemLimits1", "Get System &Limits", {}, true, "Outputs the system limits"},
              Entry{"GetGraspingStatistics1",
                    "Get Grasping &Statistics",
                    {},
                    true,
                    "Outputs the current grasping statistics"},
              Entry{"Homing1", "&Homing", {}, true, "Executes a homing sequence"},
              Entry{"FastStopAcknowledge1",
                    "&Acknowledge a Fast Stop",
                    {},
                    true,
                    "Acknowledge a previously issued FAST STOP command"},
              Entry{"CustomCommands1", "&Command Editor...", Qt::Key_F5, true,
                    "Run the custom command editor"},
              Entry{"Commandlog1",
                    "&Command log",
                    {},
                    true,
                    "Display incoming and outgoing command data"},
              Entry{"manualinit1",
                    "initialize manually",
                    {},
                    true,
                    "Set this option, if you *don't* want the gripper to be initialized "
                    "automatically when connecting"},
              Entry{"About1",
                    "&About Karo Commander...",
                    {},
                    true,
                    "Version, toolkit and licence of this program"}}) {
            auto* a = w.findChild<QAction*>(QString::fromLatin1(e.name));
            QVERIFY2(a, e.name);
            QCOMPARE(a->text(), QString::fromLatin1(e.text));
            QCOMPARE(a->shortcut(), e.key);
            QCOMPARE(a->isEnabled(), e.enabled);
            QCOMPARE(a->statusTip(), QString::fromLatin1(e.hint));
        }
        QVERIFY(!Part<QAction>(&w, "manualinit1")->isChecked()); // no settings file yet
        QCOMPARE(Part<QAction>(&w, "Disconnect1")->statusTip(),
                 QStringLiteral("Disconnect from the currently connected device"));

        // The design texts never show: the displays read "[n/a]" and no flag is set.
        QCOMPARE(Text(Part<QLabel>(&w, "lbSystemstate")), QStringLiteral("[n/a]"));
        QCOMPARE(Text(Part<QLabel>(&w, "lbGraspingState")), QStringLiteral("[n/a]"));
        QCOMPARE(Text(Part<QLabel>(&w, "lbPosition")), QStringLiteral("[n/a]"));
        // Nothing read yet: no value that looks as if the gripper had reported it.
        QCOMPARE(Text(Part<QLabel>(&w, "lbAcc")), QStringLiteral("[n/a]"));
        QCOMPARE(Text(Part<QLabel>(&w, "lbForce")), QStringLiteral("[n/a]"));
        QCOMPARE(w.StateBoxes().size(), 18);
        QCOMPARE(w.StateBoxes().first()->text(), QStringLiteral("Referenced"));
        QCOMPARE(w.StateBoxes().last()->text(), QStringLiteral("Script failure"));
        const QRect g = w.StateBoxes()[3]->geometry();
        QCOMPARE(g.topLeft(), QPoint(16, 64 + 16 * 3));
        QCOMPARE(g.height(), 16);
        QVERIFY(g.width() >= 130);
        // No caption is cut off; the boxes share one width.
        for (QCheckBox* box : w.StateBoxes()) {
            QVERIFY(box->width() >= box->sizeHint().width());
            QCOMPARE(box->width(), g.width());
        }
        for (QCheckBox* b : w.StateBoxes())
            QVERIFY(!b->isChecked());
        QVERIFY(rig.BandsDisabled());
        QCOMPARE(w.LastSystemState(), -1);

        // Hints go to the status bar: a menu entry's (sent to the window as an open menu does)
        // and that of the control under the mouse.
        QVERIFY(Part<QAction>(&w, "GetSystemLimits1")->showStatusText(&w));
        QCOMPARE(Part<QLabel>(&w, "lbHint")->text(), QStringLiteral("Outputs the system limits"));
        QTest::mouseMove(Part<QLabel>(&w, "lbLink"));
        QTRY_COMPARE(Part<QLabel>(&w, "lbHint")->text(), Part<QLabel>(&w, "lbLink")->statusTip());
    }

    void connectFailuresAreReported() {
        TConsoleRig rig;
        // Cancelling the interface dialog.
        AnswerDeviceDialog(rig.DeviceIndex, false);
        rig.Win->Connect1Click();
        // A cancelled dialog is the operator's choice, not an error.
        QVERIFY(rig.Boxes.Texts().isEmpty());
        QVERIFY(Part<QAction>(&*rig.Win, "Connect1")->isEnabled());
        // The transport refuses to open.
        rig.Boxes.clear();
        rig.Device->OpenResult = E_IO_ERROR;
        QVERIFY(!rig.Connect());
        QCOMPARE(rig.Boxes.Texts(), QStringList(QStringLiteral("Cannot connect to target: ") +
                                                StatusText(E_IO_ERROR)));
        QVERIFY(Part<QAction>(&*rig.Win, "Connect1")->isEnabled());
        QVERIFY(!Part<QAction>(&*rig.Win, "Disconnect1")->isEnabled());
    }

    void automaticInitializationUsesTheLimits() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        QVERIFY(!Part<QAction>(&w, "Connect1")->isEnabled());
        QVERIFY(Part<QAction>(&w, "Disconnect1")->isEnabled());
        QVERIFY(!Part<QAction>(&w, "Initialize1")->isEnabled());
        QVERIFY(rig.BandsEnabled());
        QCOMPARE(w.MinForce(), 5.0);
        QCOMPARE(w.MaxForce(), 80.0);
        QCOMPARE(w.MinAcceleration(), 100.0);
        QCOMPARE(w.MaxAcceleration(), 5000.0);
        QCOMPARE(Text(Part<QLabel>(&w, "lbAcc")), QStringLiteral("500 mm/s²"));
        QCOMPARE(Text(Part<QLabel>(&w, "lbForce")), QStringLiteral("20.0 N"));
        // Defaults from 110 mm and 5 to 400 mm/s.
        QCOMPARE(Part<TFloatEdit>(&w, "edGraspingPos")->text(), QStringLiteral("37"));
        QCOMPARE(Part<TFloatEdit>(&w, "edReleasePos")->text(), QStringLiteral("73"));
        QCOMPARE(Part<TFloatEdit>(&w, "edGotoPos")->text(), QStringLiteral("55"));
        QCOMPARE(Part<TFloatEdit>(&w, "edGraspingSpeed")->text(), QStringLiteral("50"));
        QCOMPARE(Part<TFloatEdit>(&w, "edReleaseSpeed")->text(), QStringLiteral("270"));
        QCOMPARE(Part<TFloatEdit>(&w, "edGotoSpeed")->text(), QStringLiteral("50"));
        // The track bars follow because each edit had the focus when set.
        QCOMPARE(Part<QSlider>(&w, "tbGotoPos")->value(), 100);
        QCOMPARE(Part<QSlider>(&w, "tbGraspingPos")->value(), 67); // 37 / 110 * 200 = 67.3
        QCOMPARE(Part<QSlider>(&w, "tbReleaseSpeed")->value(),
                 134); // (270 - 5) / 395 * 200 = 134.2
        QCOMPARE(Part<TFloatEdit>(&w, "edGotoPos")->toolTip(),
                 QStringLiteral("Input range: 0.00 to 110.00 mm"));
        QCOMPARE(Part<TFloatEdit>(&w, "edGotoSpeed")->toolTip(),
                 QStringLiteral("Input range: 5.00 to 400.00 mm/s"));
        QVERIFY(Part<QPushButton>(&w, "btnMove")->isEnabled() &&
                Part<QPushButton>(&w, "btnGrasp")->isEnabled() &&
                Part<QPushButton>(&w, "btnRelease")->isEnabled());
        // Automatic updates with both option bits and their periods.
        QCOMPARE(HexString(rig.Last(CMD_GET_SYSTEM_STATE)->Data), QStringLiteral("03 32 00"));
        QCOMPARE(HexString(rig.Last(CMD_GET_GRASPING_STATE)->Data), QStringLiteral("03 32 00"));
        QCOMPARE(HexString(rig.Last(CMD_GET_POS)->Data), QStringLiteral("03 64 00"));
    }

    void initializationDefaultsRoundHalvesToEven() {
        // Stroke 105: 35, 70, 52.5 -> 52; speeds 1 and 20: 10.5 -> 10, 14.
        TConsoleRig rig;
        rig.Replies[CMD_GET_SYSTEM_LIMITS] = Floats({105, 1, 20, 100, 5000, 5, 80, 0});
        QVERIFY(rig.Connect());
        QCOMPARE(Part<TFloatEdit>(&*rig.Win, "edGotoPos")->text(), QStringLiteral("52"));
        QCOMPARE(Part<TFloatEdit>(&*rig.Win, "edGraspingSpeed")->text(), QStringLiteral("10"));
        QCOMPARE(Part<TFloatEdit>(&*rig.Win, "edReleaseSpeed")->text(), QStringLiteral("14"));
    }

    void failedLimitsDisconnectAndReport() {
        TConsoleRig rig;
        rig.Replies[CMD_GET_SYSTEM_LIMITS] = Bytes({E_ACCESS_DENIED, 0});
        QVERIFY(rig.Connect());
        QCOMPARE(
            rig.Boxes.Texts(),
            QStringList(QStringLiteral("Unable to retrieve gripper limits.\r\nPlease try again "
                                       "by selecting \"Gripper|Connect\" from the menu.\r\n"
                                       "The gripper answered: ") +
                        StatusText(E_ACCESS_DENIED) + QLatin1Char('.')));
        QVERIFY(!rig.Device->IsOpen());
        QVERIFY(Part<QAction>(&*rig.Win, "Connect1")->isEnabled());
        QVERIFY(!Part<QAction>(&*rig.Win, "Disconnect1")->isEnabled());
        QVERIFY(rig.BandsDisabled());
        // The update requests fail without sending anything.
        QCOMPARE(rig.Count(CMD_GET_SYSTEM_STATE), 0);
        QCOMPARE(rig.Count(CMD_GET_ACCELERATION), 0);
    }

    void manualInitialization() {
        TConsoleRig rig(true);
        TMainWin& w = *rig.Win;
        QVERIFY(Part<QAction>(&w, "manualinit1")->isChecked());
        QVERIFY(rig.Connect());
        QVERIFY(Part<QAction>(&w, "Initialize1")->isEnabled());
        QVERIFY(rig.BandsDisabled());
        QCOMPARE(rig.Count(CMD_GET_SYSTEM_LIMITS), 0);
        Part<QAction>(&w, "Initialize1")->trigger();
        QVERIFY(rig.BandsEnabled());
        QVERIFY(!Part<QAction>(&w, "Initialize1")->isEnabled());
        // A failing manual initialization also leaves the entry disabled until the next connect.
        rig.Replies[CMD_GET_SYSTEM_LIMITS] = Bytes({E_CMD_FAILED, 0});
        Part<QAction>(&w, "Disconnect1")->trigger();
        QVERIFY(rig.Connect());
        QVERIFY(Part<QAction>(&w, "Initialize1")->isEnabled());
        Part<QAction>(&w, "Initialize1")->trigger();
        QVERIFY(!Part<QAction>(&w, "Initialize1")->isEnabled());
        QVERIFY(Part<QAction>(&w, "Connect1")->isEnabled());
        QCOMPARE(rig.Boxes.Boxes.size(), 1);
    }

    void liveStateFollowsTheUpdates() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        const int posRequests = rig.Count(CMD_GET_POS);
        auto state = [&](std::uint32_t s) {
            rig.Send(CMD_GET_SYSTEM_STATE, Bytes({0, 0, std::uint8_t(s), std::uint8_t(s >> 8),
                                                  std::uint8_t(s >> 16), std::uint8_t(s >> 24)}));
        };
        // The first state never re-sends the position request.
        state(0x1000);
        QCOMPARE(Text(Part<QLabel>(&w, "lbSystemstate")), QStringLiteral("00001000h"));
        QVERIFY(Part<QPushButton>(&w, "btnEmergencyStop")->isChecked());
        QCoreApplication::processEvents();
        QCOMPARE(rig.Count(CMD_GET_POS), posRequests);
        // Not referenced: every later update asks for the position again, from the event loop
        // ...
        state(0x1001);
        QCOMPARE(Text(Part<QLabel>(&w, "lbSystemstate")), QStringLiteral("00001001h"));
        QTRY_COMPARE(rig.Count(CMD_GET_POS), posRequests + 1);
        QVERIFY(w.StateBoxes()[0]->isChecked());
        // ... until two updates in a row are referenced.
        state(0x0001);
        QCoreApplication::processEvents();
        QCOMPARE(rig.Count(CMD_GET_POS), posRequests + 1);
        QVERIFY(!Part<QPushButton>(&w, "btnEmergencyStop")->isChecked());
        for (QCheckBox* b : w.StateBoxes())
            QCOMPARE(b->isChecked(), b == w.StateBoxes()[0]);
        state(0x00100001u);
        QVERIFY(w.StateBoxes().last()->isChecked());
        QCOMPARE(w.StateBoxes().last()->text(), QStringLiteral("Script failure"));
        state(0x80000001u);
        QCOMPARE(Text(Part<QLabel>(&w, "lbSystemstate")), QStringLiteral("80000001h"));
        QVERIFY(!w.StateBoxes().last()->isChecked());

        rig.Send(CMD_GET_GRASPING_STATE, Bytes({0, 0, GS_HOLDING}));
        QCOMPARE(Text(Part<QLabel>(&w, "lbGraspingState")), QStringLiteral("holding"));
        rig.Send(CMD_GET_GRASPING_STATE, Bytes({0, 0, 9}));
        QCOMPARE(Text(Part<QLabel>(&w, "lbGraspingState")),
                 GraspingStateText(9)); // no read past the table
        rig.Send(CMD_GET_POS, Floats({32.5f}));
        QCOMPARE(Text(Part<QLabel>(&w, "lbPosition")), QStringLiteral("32.50 mm"));

        // A disconnect keeps the last state word.
        Part<QAction>(&w, "Disconnect1")->trigger();
        QCOMPARE(Text(Part<QLabel>(&w, "lbSystemstate")), QStringLiteral("[n/a]"));
        QCOMPARE(Text(Part<QLabel>(&w, "lbPosition")), QStringLiteral("[n/a]"));
        QCOMPARE(w.LastSystemState(), std::int32_t(0x80000001u));
        QVERIFY(rig.BandsDisabled());
        for (QCheckBox* b : w.StateBoxes())
            QVERIFY(!b->isChecked());
    }

    void connectionErrorReturnsToDisconnected() {
        const QString error = QStringLiteral(
            "A Connection Error occurred or the connection to the device was "
            "interrupted.\nThis is likely to happen if no cable is connected or some "
            "settings are not correct.\nPlease check cable and communication settings "
            "and try to connect again.\nTransport: Memory");
        TConsoleRig rig;
        QVERIFY(rig.Connect());
        rig.Device->RaiseError(E_IO_ERROR);
        QCOMPARE(rig.Boxes.Texts(), QStringList(error));
        QVERIFY(!rig.Device->IsOpen());
        QVERIFY(Part<QAction>(&*rig.Win, "Connect1")->isEnabled());
        QVERIFY(!Part<QAction>(&*rig.Win, "Disconnect1")->isEnabled());
        QVERIFY(rig.BandsDisabled());
        QCOMPARE(Text(Part<QLabel>(&*rig.Win, "lbGraspingState")), QStringLiteral("[n/a]"));

        // The far end closing the connection is an interruption too; the operator's own
        // disconnect is not.
        rig.Boxes.clear();
        QVERIFY(rig.Connect());
        rig.Device->DropConnection();
        QCOMPARE(rig.Boxes.Texts(), QStringList(error));
        QVERIFY(Part<QAction>(&*rig.Win, "Connect1")->isEnabled());
        QVERIFY(rig.BandsDisabled());
        // Nothing is left that could still be connecting.
        QTRY_COMPARE(rig.Win->LinkLineText(), QStringLiteral("Disconnected"));
        rig.Boxes.clear();
        QVERIFY(rig.Connect());
        Part<QAction>(&*rig.Win, "Disconnect1")->trigger();
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        QVERIFY(Part<QAction>(&*rig.Win, "Connect1")->isEnabled());
    }

    // An open that fails at once tells where and why after the fixed text (the transport's
    // later reports do the same, see the end-to-end console test).
    void connectFailureSaysWhy() {
        TConsoleRig rig;
        // A serial port that another program holds.
        int master = -1;
        int holder = -1;
        char name[128] = {};
        QCOMPARE(::openpty(&master, &holder, name, nullptr, nullptr), 0);
        QCOMPARE(::flock(holder, LOCK_EX | LOCK_NB), 0);
        const QString path = QString::fromLocal8Bit(name);
        rig.Settings.WriteFile(QStringLiteral("uart.cfg"),
                               QStringLiteral("[ports]\nCOM9=%1\n").arg(path).toLocal8Bit());
        // The transport read its port map when it was made: a new console reads this one.
        rig.Console.reset();
        const TCommander console;
        rig.Boxes.clear();
        AnswerDeviceDialog(0, true, QStringLiteral("COM9"));
        AnswerModal(QStringLiteral("BaudrateDlg"),
                    [](QWidget* w) { QTest::keyClick(w, Qt::Key_Return); });
        console.Win().Connect1Click();
        ::close(holder);
        ::close(master);
        QCOMPARE(rig.Boxes.Texts(),
                 QStringList(QStringLiteral("Cannot connect to target: %1\nTransport: Serial "
                                            "(RS232), address: COM9 (%2)\nCause: port held by "
                                            "another program.")
                                 .arg(StatusText(E_IO_ERROR), path)));
    }

    // What the operator typed or dragged stays through a reconnect and a restart, within the
    // new gripper's ranges; the rest takes the new gripper's defaults.
    void typedTargetsAreKept() {
        struct Row {
            const char* Edit;
            const char* Typed; // nullptr: left alone
            const char* AfterReconnect;
            const char* AfterRestart;
        };
        // Reconnected to a gripper of 100 mm and 5 to 250 mm/s, restarted with one of 10 mm.
        const Row rows[] = {
            {"edGraspingPos", "12.5", "12.5", "10"}, // kept, then clamped to the stroke
            {"edReleasePos", "", "67", "7"},         // emptied: the defaults
            {"edGotoPos", nullptr, "50", "5"},       // never typed: the defaults
            {"edReleaseSpeed", "390", "250", "250"}, // clamped, and kept as clamped
            {"edGraspingSpeed", "60", "60", "60"},   // within every range
            {"edGotoSpeed", "track", "250", "250"}}; // dragged to the end of its track
        TConsoleRig rig;
        QVERIFY(rig.Connect());
        for (const Row& r : rows) {
            auto* edit = Part<TFloatEdit>(&*rig.Win, r.Edit);
            if (!r.Typed)
                continue;
            if (QByteArray(r.Typed) == "track") {
                auto* track = Part<QSlider>(&*rig.Win, "tbGotoSpeed");
                track->setFocus();
                QTest::keyClick(track, Qt::Key_End);
                continue;
            }
            edit->setFocus();
            edit->selectAll();
            QTest::keyClick(edit, Qt::Key_Backspace);
            QTest::keyClicks(edit, QString::fromLatin1(r.Typed));
        }
        Part<QAction>(&*rig.Win, "Disconnect1")->trigger();
        rig.Replies[CMD_GET_SYSTEM_LIMITS] = Floats({100, 5, 250, 100, 5000, 5, 80, 0});
        QVERIFY(rig.Connect());
        for (const Row& r : rows)
            QCOMPARE(Part<TFloatEdit>(&*rig.Win, r.Edit)->text(),
                     QString::fromLatin1(r.AfterReconnect));

        // Restarted: the same console again, with its transport.
        const auto written = rig.Device->OnWritten;
        rig.Console.reset();
        rig.Console = std::make_unique<TCommander>();
        rig.Win = &rig.Console->Win();
        rig.Device = new TMemoryDevice(rig.Win->Gripper()->Command());
        rig.DeviceIndex = rig.Win->Gripper()->Command()->AddDevice(rig.Device);
        rig.Device->AutoConfirm = false;
        rig.Device->OnWritten = written;
        rig.Replies[CMD_GET_SYSTEM_LIMITS] = Floats({10, 5, 250, 100, 5000, 5, 80, 0});
        QVERIFY(rig.Connect());
        for (const Row& r : rows)
            QCOMPARE(Part<TFloatEdit>(&*rig.Win, r.Edit)->text(),
                     QString::fromLatin1(r.AfterRestart));
    }

    // An update that lands inside another exchange's wait asks for the position only after
    // that exchange, and several such updates ask once.
    void positionReRequestWaitsForTheExchange() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        const TByteArray notReferenced = Bytes({0, 0, 0, 0, 0, 0});
        rig.Send(CMD_GET_SYSTEM_STATE, notReferenced);
        QCoreApplication::processEvents();
        const int posRequests = rig.Count(CMD_GET_POS);
        bool askedInsideAWait = false;
        auto written = rig.Device->OnWritten;
        rig.Device->OnWritten = [&](const TByteArray& bytes) {
            if (bytes.size() > 3 && bytes[3] == CMD_GET_POS && w.Gripper()->InExchange())
                askedInsideAWait = true;
            if (bytes.size() > 3 && bytes[3] == CMD_STOP) {
                // Two updates ahead of Stop's reply.
                TByteArray chunk = MakeFrame(CMD_GET_SYSTEM_STATE, notReferenced);
                for (const TByteArray& f : {MakeFrame(CMD_GET_SYSTEM_STATE, notReferenced),
                                            MakeFrame(CMD_STOP, Bytes({0, 0}))})
                    chunk.insert(chunk.end(), f.begin(), f.end());
                rig.Device->FeedLater(chunk);
                return;
            }
            written(bytes);
        };
        QTest::mouseClick(Part<QPushButton>(&w, "btnStop"), Qt::LeftButton);
        QVERIFY2(rig.Boxes.Boxes.isEmpty(), qPrintable(rig.Boxes.Texts().join(u'|')));
        QTRY_COMPARE(rig.Count(CMD_GET_POS), posRequests + 1);
        QVERIFY(!askedInsideAWait);
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        QCOMPARE(rig.Count(CMD_GET_POS), posRequests + 1);
    }

    // Between a started connect and the transport's report the window says so, and Disconnect
    // gives up the attempt.
    void pendingConnectionCanBeCancelled() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        auto* status =
            Part<QStatusBar>(&w, "StatusBar")->findChild<QLabel*>(QStringLiteral("lbConnecting"));
        QVERIFY(status);
        QVERIFY(status->text().isEmpty());
        AnswerDeviceDialog(rig.DeviceIndex);
        Part<QAction>(&w, "Connect1")->trigger();
        QCOMPARE(status->text(), QStringLiteral("Connecting…"));
        QVERIFY(Part<QAction>(&w, "Disconnect1")->isEnabled());
        Part<QAction>(&w, "Disconnect1")->trigger();
        QVERIFY(!rig.Device->IsOpen());
        QVERIFY(status->text().isEmpty());
        QVERIFY(Part<QAction>(&w, "Connect1")->isEnabled());
        QVERIFY(!Part<QAction>(&w, "Disconnect1")->isEnabled());
        rig.Device->ConfirmConnection(); // too late: nobody listens any more
        QVERIFY(Part<QAction>(&w, "Connect1")->isEnabled());
        QVERIFY(rig.BandsDisabled());
        QVERIFY(rig.Boxes.Boxes.isEmpty());

        // Once the transport reports the connection the words go.
        QVERIFY(rig.Connect());
        QVERIFY(status->text().isEmpty());
        QVERIFY(rig.BandsEnabled());
    }
};

int main(int argc, char** argv) {
    TKaroApplication app(argc, argv);
    // Read-outs are compared as the operator reads them, with a point for the decimals.
    QLocale::setDefault(QLocale::c());
    TestMainWinConnection test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mainwin_connection.moc"
