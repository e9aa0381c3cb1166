#include "ConsoleRig.h"
#include "MemoryDevice.h"
#include "TestSupport.h"
#include "diagnostics/CommLogForm.h"
#include "diagnostics/CustomCmdForm.h"
#include "engine/MorvForm.h"
#include "protocol/ByteConv.h"
#include "protocol/Frame.h"
#include "protocol/Receiver.h"
#include "ui/KaroApplication.h"
#include "ui/ListBoxDialog.h"
#include "ui/MainForm.h"
#include "widgets/FloatEdit.h"
#include "widgets/FloatEditDialog.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QTest>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

namespace {
QString Text(QLabel* l) {
    return l->text();
}
} // namespace

class TestMainWin : public QObject {
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
        QVERIFY(!w.manualinit1->isChecked()); // no settings file yet
        QCOMPARE(w.Disconnect1->statusTip(),
                 QStringLiteral("Disconnect from the currently connected device"));

        // The design texts never show: the displays read "[n/a]" and no flag is set.
        QCOMPARE(Text(w.lbSystemstate), QStringLiteral("[n/a]"));
        QCOMPARE(Text(w.lbGraspingState), QStringLiteral("[n/a]"));
        QCOMPARE(Text(w.lbPosition), QStringLiteral("[n/a]"));
        // Nothing read yet: no value that looks as if the gripper had reported it.
        QCOMPARE(Text(w.lbAcc), QStringLiteral("[n/a]"));
        QCOMPARE(Text(w.lbForce), QStringLiteral("[n/a]"));
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
        QVERIFY(w.GetSystemLimits1->showStatusText(&w));
        QCOMPARE(w.StatusBar->currentMessage(), QStringLiteral("Outputs the system limits"));
        QTest::mouseMove(w.lbLink);
        QTRY_COMPARE(w.StatusBar->currentMessage(), w.lbLink->statusTip());
    }

    void connectFailuresAreReported() {
        TConsoleRig rig;
        // Cancelling the interface dialog.
        AnswerDeviceDialog(rig.DeviceIndex, false);
        rig.Win->Connect1Click();
        QCOMPARE(rig.Boxes.Texts(),
                 QStringList(QStringLiteral("Cannot connect to target: Command aborted")));
        QVERIFY(rig.Win->Connect1->isEnabled());
        // The transport refuses to open.
        rig.Boxes.clear();
        rig.Device->OpenResult = E_IO_ERROR;
        QVERIFY(!rig.Connect());
        QCOMPARE(rig.Boxes.Texts(), QStringList(QStringLiteral("Cannot connect to target: ") +
                                                StatusText(E_IO_ERROR)));
        QVERIFY(rig.Win->Connect1->isEnabled());
        QVERIFY(!rig.Win->Disconnect1->isEnabled());
    }

    void automaticInitializationUsesTheLimits() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        QVERIFY(!w.Connect1->isEnabled());
        QVERIFY(w.Disconnect1->isEnabled());
        QVERIFY(!w.Initialize1->isEnabled());
        QVERIFY(rig.BandsEnabled());
        QCOMPARE(w.MinForce(), 5.0);
        QCOMPARE(w.MaxForce(), 80.0);
        QCOMPARE(w.MinAcceleration(), 100.0);
        QCOMPARE(w.MaxAcceleration(), 5000.0);
        QCOMPARE(Text(w.lbAcc), QStringLiteral("500 mm/s²"));
        QCOMPARE(Text(w.lbForce), QStringLiteral("20.0 N"));
        // Defaults from 110 mm and 5 to 400 mm/s.
        QCOMPARE(w.edGraspingPos->text(), QStringLiteral("37"));
        QCOMPARE(w.edReleasePos->text(), QStringLiteral("73"));
        QCOMPARE(w.edGotoPos->text(), QStringLiteral("55"));
        QCOMPARE(w.edGraspingSpeed->text(), QStringLiteral("50"));
        QCOMPARE(w.edReleaseSpeed->text(), QStringLiteral("270"));
        QCOMPARE(w.edGotoSpeed->text(), QStringLiteral("50"));
        // The track bars follow because each edit had the focus when set.
        QCOMPARE(w.tbGotoPos->value(), 100);
        QCOMPARE(w.tbGraspingPos->value(), 67);   // 37 / 110 * 200 = 67.3
        QCOMPARE(w.tbReleaseSpeed->value(), 134); // (270 - 5) / 395 * 200 = 134.2
        QCOMPARE(w.edGotoPos->toolTip(), QStringLiteral("Input range: 0.00 to 110.00 mm"));
        QCOMPARE(w.edGotoSpeed->toolTip(), QStringLiteral("Input range: 5.00 to 400.00 mm/s"));
        QVERIFY(w.btnMove->isEnabled() && w.btnGrasp->isEnabled() && w.btnRelease->isEnabled());
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
        QCOMPARE(rig.Win->edGotoPos->text(), QStringLiteral("52"));
        QCOMPARE(rig.Win->edGraspingSpeed->text(), QStringLiteral("10"));
        QCOMPARE(rig.Win->edReleaseSpeed->text(), QStringLiteral("14"));
    }

    void failedLimitsDisconnectAndReport() {
        TConsoleRig rig;
        rig.Replies[CMD_GET_SYSTEM_LIMITS] = Bytes({E_ACCESS_DENIED, 0});
        QVERIFY(rig.Connect());
        QCOMPARE(rig.Boxes.Texts(), QStringList(QStringLiteral(
                                        "Unable to retrieve gripper limits.\r\nPlease try again "
                                        "by selecting \"Gripper|Connect\" from the menu.")));
        QVERIFY(!rig.Device->IsOpen());
        QVERIFY(rig.Win->Connect1->isEnabled());
        QVERIFY(!rig.Win->Disconnect1->isEnabled());
        QVERIFY(rig.BandsDisabled());
        // The update requests fail without sending anything.
        QCOMPARE(rig.Count(CMD_GET_SYSTEM_STATE), 0);
        QCOMPARE(rig.Count(CMD_GET_ACCELERATION), 0);
    }

    void manualInitialization() {
        TConsoleRig rig(true);
        TMainWin& w = *rig.Win;
        QVERIFY(w.manualinit1->isChecked());
        QVERIFY(rig.Connect());
        QVERIFY(w.Initialize1->isEnabled());
        QVERIFY(rig.BandsDisabled());
        QCOMPARE(rig.Count(CMD_GET_SYSTEM_LIMITS), 0);
        w.Initialize1->trigger();
        QVERIFY(rig.BandsEnabled());
        QVERIFY(!w.Initialize1->isEnabled());
        // A failing manual initialization also leaves the entry disabled until the next connect.
        rig.Replies[CMD_GET_SYSTEM_LIMITS] = Bytes({E_CMD_FAILED, 0});
        w.Disconnect1->trigger();
        QVERIFY(rig.Connect());
        QVERIFY(w.Initialize1->isEnabled());
        w.Initialize1->trigger();
        QVERIFY(!w.Initialize1->isEnabled());
        QVERIFY(w.Connect1->isEnabled());
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
        QCOMPARE(Text(w.lbSystemstate), QStringLiteral("00001000h"));
        QVERIFY(w.btnEmergencyStop->isChecked());
        QCoreApplication::processEvents();
        QCOMPARE(rig.Count(CMD_GET_POS), posRequests);
        // Not referenced: every later update asks for the position again, from the event loop
        // ...
        state(0x1001);
        QCOMPARE(Text(w.lbSystemstate), QStringLiteral("00001001h"));
        QTRY_COMPARE(rig.Count(CMD_GET_POS), posRequests + 1);
        QVERIFY(w.StateBoxes()[0]->isChecked());
        // ... until two updates in a row are referenced.
        state(0x0001);
        QCoreApplication::processEvents();
        QCOMPARE(rig.Count(CMD_GET_POS), posRequests + 1);
        QVERIFY(!w.btnEmergencyStop->isChecked());
        for (QCheckBox* b : w.StateBoxes())
            QCOMPARE(b->isChecked(), b == w.StateBoxes()[0]);
        state(0x00100001u);
        QVERIFY(w.StateBoxes().last()->isChecked());
        QCOMPARE(w.StateBoxes().last()->text(), QStringLiteral("Script failure"));
        state(0x80000001u);
        QCOMPARE(Text(w.lbSystemstate), QStringLiteral("80000001h"));
        QVERIFY(!w.StateBoxes().last()->isChecked());

        rig.Send(CMD_GET_GRASPING_STATE, Bytes({0, 0, GS_HOLDING}));
        QCOMPARE(Text(w.lbGraspingState), QStringLiteral("holding"));
        rig.Send(CMD_GET_GRASPING_STATE, Bytes({0, 0, 9}));
        QCOMPARE(Text(w.lbGraspingState), GraspingStateText(9)); // no read past the table
        rig.Send(CMD_GET_POS, Floats({32.5f}));
        QCOMPARE(Text(w.lbPosition), QStringLiteral("32.50 mm"));

        // A disconnect keeps the last state word.
        w.Disconnect1->trigger();
        QCOMPARE(Text(w.lbSystemstate), QStringLiteral("[n/a]"));
        QCOMPARE(Text(w.lbPosition), QStringLiteral("[n/a]"));
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
        QVERIFY(rig.Win->Connect1->isEnabled());
        QVERIFY(!rig.Win->Disconnect1->isEnabled());
        QVERIFY(rig.BandsDisabled());
        QCOMPARE(Text(rig.Win->lbGraspingState), QStringLiteral("[n/a]"));

        // The far end closing the connection is an interruption too; the operator's own
        // disconnect is not.
        rig.Boxes.clear();
        QVERIFY(rig.Connect());
        rig.Device->DropConnection();
        QCOMPARE(rig.Boxes.Texts(), QStringList(error));
        QVERIFY(rig.Win->Connect1->isEnabled());
        QVERIFY(rig.BandsDisabled());
        rig.Boxes.clear();
        QVERIFY(rig.Connect());
        rig.Win->Disconnect1->trigger();
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        QVERIFY(rig.Win->Connect1->isEnabled());
    }

    void movementsAndTheirResults() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        // Grasp accepted as pending: no box, the final result appends a line.
        QTest::mouseClick(w.btnGrasp, Qt::LeftButton);
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        QCOMPARE(HexString(rig.Last(CMD_GRASP_RAW)->Data),
                 HexString(Floats({37, 50}).data() + 2, 8));
        QVERIFY(w.AsyncLog->toPlainText().isEmpty());
        rig.Send(CMD_GRASP_RAW, Bytes({0, 0}));
        QCOMPARE(w.AsyncLog->toPlainText(),
                 QStringLiteral("Command GRASP_RAW finished: No error."));
        // A second packet for a grasp that already has its line adds none.
        rig.Send(CMD_GRASP_RAW, Bytes({E_AXIS_BLOCKED, 0}));
        QCOMPARE(w.AsyncLog->toPlainText(),
                 QStringLiteral("Command GRASP_RAW finished: No error."));
        // A final result with an error is only a line.
        QTest::mouseClick(w.btnGrasp, Qt::LeftButton);
        rig.Send(CMD_GRASP_RAW, Bytes({E_AXIS_BLOCKED, 0}));
        QCOMPARE(w.AsyncLog->toPlainText().split(QLatin1Char('\n')).last(),
                 QStringLiteral("Command GRASP_RAW finished: ") + StatusText(E_AXIS_BLOCKED) +
                     QLatin1Char('.'));
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        // A move answered with 0 at once has ended: its one line now, none from a later packet.
        rig.Replies[CMD_GOTO] = Bytes({0, 0});
        const QString before = w.AsyncLog->toPlainText();
        QTest::mouseClick(w.btnMove, Qt::LeftButton);
        rig.Send(CMD_GOTO, Bytes({0, 0}));
        QCOMPARE(w.AsyncLog->toPlainText(),
                 before + QStringLiteral("\nCommand GOTO finished: No error."));
        QCOMPARE(HexString(rig.Last(CMD_GOTO)->Data).left(2), QStringLiteral("00"));

        // Refusals show the band's prefix and the status text.
        rig.Replies[CMD_GOTO] = Bytes({E_RANGE_ERROR, 0});
        rig.Replies[CMD_GRASP_RAW] = Bytes({E_ACCESS_DENIED, 0});
        rig.Replies[CMD_RELEASE_RAW] = Bytes({E_NOT_INITIALIZED, 0});
        rig.Replies[CMD_STOP] = Bytes({E_TIMEOUT, 0});
        QTest::mouseClick(w.btnMove, Qt::LeftButton);
        QTest::mouseClick(w.btnGrasp, Qt::LeftButton);
        QTest::mouseClick(w.btnRelease, Qt::LeftButton);
        QTest::mouseClick(w.btnStop, Qt::LeftButton);
        QCOMPARE(
            rig.Boxes.Texts(),
            QStringList(
                {QStringLiteral("Error while starting to move: ") + StatusText(E_RANGE_ERROR),
                 QStringLiteral("Error while starting to grasp: ") + StatusText(E_ACCESS_DENIED),
                 QStringLiteral("Error while starting to release: ") +
                     StatusText(E_NOT_INITIALIZED),
                 QStringLiteral("Error while stopping: ") + StatusText(E_TIMEOUT)}));
        // No reply at all is the command set's own failure.
        rig.Boxes.clear();
        rig.Replies.erase(CMD_STOP);
        FakeTick tick;
        QTimer::singleShot(0, &w, [&] { tick.Advance(3001); });
        w.btnStopClick();
        QCOMPARE(rig.Boxes.Texts(),
                 QStringList(QStringLiteral("Error while stopping: Command failed\n"
                                            "The gripper did not answer within 3 s.")));
    }

    void fastStopButtonAndAcknowledge() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        QTest::mouseClick(w.btnEmergencyStop, Qt::LeftButton);
        QCOMPARE(rig.Count(CMD_FAST_STOP), 1);
        QVERIFY(w.btnEmergencyStop->isChecked());
        // Pressing it again while pressed sends again and stays pressed.
        QTest::mouseClick(w.btnEmergencyStop, Qt::LeftButton);
        QCOMPARE(rig.Count(CMD_FAST_STOP), 2);
        QVERIFY(w.btnEmergencyStop->isChecked());
        // An acknowledgement the gripper refuses says so and leaves the button pressed.
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        rig.Replies[CMD_FAST_STOP_ACK] = Bytes({E_CMD_FORMAT_ERROR, 0});
        w.FastStopAcknowledge1->trigger();
        QVERIFY(w.btnEmergencyStop->isChecked());
        QCOMPARE(HexString(rig.Last(CMD_FAST_STOP_ACK)->Data), QStringLiteral("61 63 6B"));
        QCOMPARE(rig.Boxes.Texts(),
                 QStringList(QStringLiteral("Error while acknowledging the fast stop: ") +
                             StatusText(E_CMD_FORMAT_ERROR)));
        rig.Boxes.clear();
        rig.Replies[CMD_FAST_STOP_ACK] = Bytes({0, 0});
        w.FastStopAcknowledge1->trigger();
        QVERIFY(!w.btnEmergencyStop->isChecked());
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        // A failed fast stop shows released and says why.
        rig.Replies[CMD_FAST_STOP] = Bytes({E_ACCESS_DENIED, 0});
        QTest::mouseClick(w.btnEmergencyStop, Qt::LeftButton);
        QVERIFY(!w.btnEmergencyStop->isChecked());
        QCOMPARE(rig.Boxes.Texts(), QStringList(QStringLiteral("Error during the fast stop: ") +
                                                StatusText(E_ACCESS_DENIED)));
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
        QTest::mouseClick(w.btnStop, Qt::LeftButton);
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
        auto* status = w.StatusBar->findChild<QLabel*>(QStringLiteral("lbConnecting"));
        QVERIFY(status);
        QVERIFY(status->text().isEmpty());
        AnswerDeviceDialog(rig.DeviceIndex);
        w.Connect1->trigger();
        QCOMPARE(status->text(), QStringLiteral("Connecting…"));
        QVERIFY(w.Disconnect1->isEnabled());
        w.Disconnect1->trigger();
        QVERIFY(!rig.Device->IsOpen());
        QVERIFY(status->text().isEmpty());
        QVERIFY(w.Connect1->isEnabled());
        QVERIFY(!w.Disconnect1->isEnabled());
        rig.Device->ConfirmConnection(); // too late: nobody listens any more
        QVERIFY(w.Connect1->isEnabled());
        QVERIFY(rig.BandsDisabled());
        QVERIFY(rig.Boxes.Boxes.isEmpty());

        // Once the transport reports the connection the words go.
        QVERIFY(rig.Connect());
        QVERIFY(status->text().isEmpty());
        QVERIFY(rig.BandsEnabled());
    }

    // Settings that cannot be written are reported once, naming the file.
    void unwritableSettingsAreReported() {
        TempSettingsDir dir;
        MessageRecorder boxes;
        const QString missing = dir.FilePath(QStringLiteral("missing"));
        SetSettingsDirectory(missing);
        { TMainWin w; }
        QCOMPARE(boxes.Texts(), QStringList(QStringLiteral("Cannot write the settings file %1.")
                                                .arg(missing + QStringLiteral("/settings.ini"))));
    }

    void editsAndTrackBarsFollowEachOther() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        // Emptying the width disables Grasp at once, a valid width enables it again.
        w.edGraspingPos->setFocus();
        w.edGraspingPos->clear();
        QVERIFY(!w.btnGrasp->isEnabled());
        QTest::keyClicks(w.edGraspingPos, QStringLiteral("200"));
        QVERIFY(!w.btnGrasp->isEnabled()); // outside 0..110
        w.edGraspingPos->clear();
        QTest::keyClicks(w.edGraspingPos, QStringLiteral("55"));
        QVERIFY(w.btnGrasp->isEnabled());
        QCOMPARE(w.tbGraspingPos->value(), 100);

        // Dragging the track bar sets the edit, rounded to one decimal.
        w.tbGotoPos->setFocus();
        w.tbGotoPos->setValue(1);
        QCOMPARE(w.edGotoPos->text(), QStringLiteral("0.6"));
        w.tbGotoPos->setValue(100);
        QCOMPARE(w.edGotoPos->text(), QStringLiteral("55"));
        QCOMPARE(w.tbGotoPos->value(), 100);

        // Without the focus an edit leaves its track bar alone.
        w.edGotoSpeed->setFocus();
        w.edGotoPos->SetValue(11);
        QCOMPARE(w.tbGotoPos->value(), 100);
        // With an empty range the track bar goes to 0.
        w.edGotoPos->SetMinValue(0);
        w.edGotoPos->SetMaxValue(0);
        w.edGotoPos->setFocus();
        w.edGotoPos->setText(QStringLiteral("7"));
        QCOMPARE(w.tbGotoPos->value(), 0);
    }

    void forceAndAccelerationThroughTheValueDialog() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        // OK with a new value sends it and updates the label.
        WhenModal<TFloatEditDlg>([](TFloatEditDlg* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("Change Force Limit"));
            QCOMPARE(d->lbUnit->text(), QStringLiteral("N"));
            QCOMPARE(d->ed->text(), QStringLiteral("20"));
            d->ed->setText(QStringLiteral("42"));
            d->BitBtn2->click();
        });
        QTest::mouseClick(w.btnForce, Qt::LeftButton);
        QCOMPARE(HexString(rig.Last(CMD_SET_FORCE_LIMIT)->Data),
                 HexString(Floats({42}).data() + 2, 4));
        QCOMPARE(Text(w.lbForce), QStringLiteral("42.0 N"));
        QCOMPARE(w.ForceLimit(), 42.0f);
        // Cancel sends nothing.
        WhenModal<TFloatEditDlg>([](TFloatEditDlg* d) { d->BitBtn1->click(); });
        QTest::mouseClick(w.btnAcc, Qt::LeftButton);
        QCOMPARE(rig.Count(CMD_SET_ACCELERATION), 0);
        QCOMPARE(Text(w.lbAcc), QStringLiteral("500 mm/s²"));
        // The gripper refuses: box, value and label unchanged.
        rig.Replies[CMD_SET_ACCELERATION] = Bytes({E_RANGE_ERROR, 0});
        WhenModal<TFloatEditDlg>([](TFloatEditDlg* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("Change Acceleration"));
            d->ed->setText(QStringLiteral("1000"));
            d->BitBtn2->click();
        });
        QTest::mouseClick(w.btnAcc, Qt::LeftButton);
        QCOMPARE(rig.Boxes.Texts(),
                 QStringList(QStringLiteral("Error while setting acceleration: ") +
                             StatusText(E_RANGE_ERROR)));
        QCOMPARE(w.Acceleration(), 500.0f);
        QCOMPARE(Text(w.lbAcc), QStringLiteral("500 mm/s²"));
        // The entry opens focused with its text selected, so typing replaces the old value; an
        // invalid entry cannot be confirmed and stays as typed until it is corrected.
        rig.Boxes.clear();
        const int sent = rig.Count(CMD_SET_FORCE_LIMIT);
        bool focusedAndSelected = false, okWhileInvalid = true, openAfterEnter = false;
        QString kept;
        int sentWhileOpen = -1;
        WhenModal<TFloatEditDlg>([&](TFloatEditDlg* d) {
            focusedAndSelected =
                d->focusWidget() == d->ed && d->ed->selectedText() == QStringLiteral("42");
            QTest::keyClicks(d->ed, QStringLiteral("500"));
            okWhileInvalid = d->BitBtn2->isEnabled();
            QTest::keyClick(d->ed, Qt::Key_Return);
            openAfterEnter = d->isVisible();
            kept = d->ed->text();
            sentWhileOpen = rig.Count(CMD_SET_FORCE_LIMIT);
            QTest::keyClick(d->ed, Qt::Key_Backspace);
            QTest::keyClick(d->ed, Qt::Key_Backspace);
            QTest::keyClick(d->ed, Qt::Key_Return);
        });
        QTest::mouseClick(w.btnForce, Qt::LeftButton);
        QVERIFY(focusedAndSelected);
        QVERIFY(!okWhileInvalid);
        QVERIFY(openAfterEnter);
        QCOMPARE(kept, QStringLiteral("500"));
        QCOMPARE(sentWhileOpen, sent);
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        QCOMPARE(rig.Count(CMD_SET_FORCE_LIMIT), sent + 1);
        QCOMPARE(HexString(rig.Last(CMD_SET_FORCE_LIMIT)->Data),
                 HexString(Floats({5}).data() + 2, 4));
    }

    void valueOutsideTheLimitsOpensAtTheNearestLimit() {
        // The force limit could not be read and is still 0, below the minimum of 5 N.
        TConsoleRig rig;
        rig.Replies[CMD_GET_FORCE_LIMIT] = Bytes({E_NOT_AVAILABLE, 0});
        QVERIFY(rig.Connect());
        QCOMPARE(Text(rig.Win->lbForce), QStringLiteral("[n/a]"));
        QString shown;
        WhenModal<TFloatEditDlg>([&](TFloatEditDlg* d) {
            shown = d->ed->text();
            d->BitBtn2->click();
        });
        QTest::mouseClick(rig.Win->btnForce, Qt::LeftButton);
        QCOMPARE(shown, QStringLiteral("5"));
        QVERIFY2(rig.Boxes.Boxes.isEmpty(), qPrintable(rig.Boxes.Texts().join(u'|')));
        QCOMPARE(HexString(rig.Last(CMD_SET_FORCE_LIMIT)->Data),
                 HexString(Floats({5}).data() + 2, 4));
        QCOMPARE(Text(rig.Win->lbForce), QStringLiteral("5.0 N"));
    }

    void escapePressesStopExceptInTheResults() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        // Disabled Stop: nothing.
        QTest::keyClick(&w, Qt::Key_Escape);
        QCOMPARE(rig.Count(CMD_STOP), 0);
        QVERIFY(rig.Connect());
        w.edGotoPos->setFocus();
        QTest::keyClick(w.edGotoPos, Qt::Key_Escape);
        QCOMPARE(rig.Count(CMD_STOP), 1);
        w.AsyncLog->setFocus();
        QTest::keyClick(w.AsyncLog, Qt::Key_Escape);
        QCOMPARE(rig.Count(CMD_STOP), 1);
    }

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
            rig.Win->GetSystemInfo1->trigger();
        else if (id == CMD_GET_SYSTEM_LIMITS)
            rig.Win->GetSystemLimits1->trigger();
        else
            rig.Win->GetGraspingStatistics1->trigger();
        QCOMPARE(shownCaption, caption);
        QCOMPARE(shownRows, rows);
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        if (id == CMD_GET_GRASPING_STATS)
            QCOMPARE(HexString(rig.Last(id)->Data), QStringLiteral("00")); // never resets
        // The dialog was freed when it closed.
        QTRY_VERIFY(rig.Win->findChildren<TListBoxDlg*>().isEmpty());
    }

    void commandsFailWithoutAGripper() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        w.GetSystemInfo1->trigger();
        w.GetSystemLimits1->trigger();
        w.GetGraspingStatistics1->trigger();
        w.Homing1->trigger();
        w.FastStopAcknowledge1->trigger();
        w.btnGraspClick();
        QCOMPARE(rig.Boxes.Texts(),
                 QStringList({QStringLiteral("Cannot read system information: Command failed"),
                              QStringLiteral("Cannot read gripper system limits: Command failed"),
                              QStringLiteral("Cannot read grasping statistics: Command failed"),
                              QStringLiteral("Error while homing: Device or file not open"),
                              QStringLiteral("Error while acknowledging the fast stop: Command "
                                             "failed"),
                              QStringLiteral("Error while starting to grasp: Device or file not "
                                             "open")}));
        // A reply of the wrong length is the same failure with the entry's prefix.
        QVERIFY(rig.Connect());
        rig.Boxes.clear();
        rig.Replies[CMD_GET_SYSINFO] = Bytes({0, 0, 1, 2, 3});
        w.GetSystemInfo1->trigger();
        QCOMPARE(rig.Boxes.Texts(),
                 QStringList(QStringLiteral("Cannot read system information: Command failed")));
    }

    void homingReportsItsEnd() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        rig.Replies[CMD_HOMING] = Bytes({0, 0});
        w.Homing1->trigger();
        rig.Send(CMD_HOMING, Bytes({0, 0}));
        QCOMPARE(w.AsyncLog->toPlainText(), QStringLiteral("Command HOMING finished: No error."));
        w.AsyncLog->clear();
        rig.Replies[CMD_HOMING] = Bytes({E_CMD_PENDING, 0});
        w.Homing1->trigger();
        QCOMPARE(HexString(rig.Last(CMD_HOMING)->Data), QStringLiteral("00"));
        rig.Send(CMD_HOMING, Bytes({0, 0}));
        QCOMPARE(w.AsyncLog->toPlainText(), QStringLiteral("Command HOMING finished: No error."));
        rig.Replies[CMD_HOMING] = Bytes({E_ALREADY_RUNNING, 0});
        w.Homing1->trigger();
        QCOMPARE(rig.Boxes.Texts(), QStringList(QStringLiteral("Error while homing: ") +
                                                StatusText(E_ALREADY_RUNNING)));
    }

    void diagnosticWindowsFromTheMenus() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        TCommLog log;
        w.SetCommandLog(&log);
        QVERIFY(!log.isVisible());
        QVERIFY(!w.CommandEditor()->isVisible());
        // The log records while hidden: everything the initialization sent and received.
        QVERIFY(rig.Connect());
        QVERIFY(log.Count() >= 12);
        QVERIFY(!log.Received(0));
        QCOMPARE(log.Packet(0).ID, int(CMD_GET_SYSTEM_LIMITS));
        // The entries show their windows; the check marks follow the windows when the menus open.
        w.Commandlog1->trigger();
        QVERIFY(log.isVisible());
        w.CustomCommands1->trigger();
        QVERIFY(w.CommandEditor()->isVisible());
        log.close();
        w.CommandEditor()->close();
        Q_EMIT w.View1->aboutToShow();
        Q_EMIT w.Commands1->aboutToShow();
        QVERIFY(!w.Commandlog1->isChecked());
        QVERIFY(!w.CustomCommands1->isChecked());
        // A closed window comes back even when its entry still shows the check.
        w.CustomCommands1->setChecked(true);
        w.CustomCommands1->trigger();
        QVERIFY(w.CommandEditor()->isVisible());
        w.SetCommandLog(nullptr);
    }

    void settingsSurviveARestart() {
        TempSettingsDir dir;
        MessageRecorder boxes;
        const QRect desk = QGuiApplication::primaryScreen()->availableVirtualGeometry();
        const QRect wanted(desk.left() + 40, desk.top() + 30, 600, 500);
        {
            TMainWin w;
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            w.setGeometry(wanted);
            w.manualinit1->trigger();
            QVERIFY(w.manualinit1->isChecked());
        }
        const QString ini = QString::fromLatin1(dir.ReadFile(QStringLiteral("settings.ini")));
        QVERIFY2(ini.contains(QStringLiteral("manualinit=1")), qPrintable(ini));
        QVERIFY2(ini.contains(QStringLiteral("MainWin=200,0,1,%1,%2,%3,%4")
                                  .arg(wanted.left())
                                  .arg(wanted.top())
                                  .arg(wanted.left() + 600)
                                  .arg(wanted.top() + 500)),
                 qPrintable(ini));
        {
            TMainWin w;
            QVERIFY(w.manualinit1->isChecked());
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QCOMPARE(w.geometry(), wanted);
        }
        // A rectangle past the desktop's right and bottom edges moves back inside, keeping its
        // size; one past the left and top edges starts at them.
        {
            dir.WriteFile(QStringLiteral("settings.ini"),
                          QStringLiteral("[Common]\nMainWin=200,0,1,%1,%2,%3,%4\n")
                              .arg(desk.right() - 100)
                              .arg(desk.bottom() - 50)
                              .arg(desk.right() + 300)
                              .arg(desk.bottom() + 450)
                              .toLatin1());
            TMainWin w;
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QCOMPARE(w.geometry().size(), QSize(400, 500));
            QCOMPARE(w.frameGeometry().right(), desk.right());
            QCOMPARE(w.frameGeometry().bottom(), desk.bottom());
        }
        {
            dir.WriteFile(QStringLiteral("settings.ini"),
                          QStringLiteral("[Common]\nMainWin=200,0,1,%1,%2,%3,%4\n")
                              .arg(desk.left() - 80)
                              .arg(desk.top() - 20)
                              .arg(desk.left() + 420)
                              .arg(desk.top() + 480)
                              .toLatin1());
            TMainWin w;
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QCOMPARE(w.frameGeometry().topLeft(), desk.topLeft());
            QCOMPARE(w.geometry().size(), QSize(500, 500));
        }
        // Broken values are ignored: the window keeps its design size.
        for (const char* broken :
             {"201,0,1,10,10,500,500", "200,0,1,10,10,500", "200,0,1,a,10,500,500",
              "200,0,1,10,10,500,500,7", "200,0,1,500,500,10,10"}) {
            dir.WriteFile(QStringLiteral("settings.ini"),
                          QByteArray("[Common]\nMainWin=") + broken + "\n[main]\nmanualinit=0\n");
            TMainWin w;
            QVERIFY(!w.ApplyPlacement(QString::fromLatin1(broken)));
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));
            QCOMPARE(w.size(), QSize(680, 779));
            QVERIFY(!w.manualinit1->isChecked());
        }
        QVERIFY(boxes.Boxes.isEmpty());
    }
};

int main(int argc, char** argv) {
    TKaroApplication app(argc, argv);
    // Read-outs are compared as the operator reads them, with a point for the decimals.
    QLocale::setDefault(QLocale::c());
    TestMainWin test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_mainwin.moc"
