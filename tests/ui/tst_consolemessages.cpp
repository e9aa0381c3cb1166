// SPDX-License-Identifier: Apache-2.0
// What the console tells the operator: values it really has, messages that say what happened
// and what to do, and one results line for every motion.

#include "ConsoleRig.h"
#include "ui/KaroApplication.h"

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QTimer>

namespace {
QStringList Lines(const TMainWin& w) {
    const QString text = Part<QPlainTextEdit>(&w, "AsyncLog")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

TByteArray StateWord(std::uint32_t s) {
    return Bytes({0, 0, std::uint8_t(s), std::uint8_t(s >> 8), std::uint8_t(s >> 16),
                  std::uint8_t(s >> 24)});
}
} // namespace

class TestConsoleMessages : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyMotionEndsWithOneLine() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        // Cut off by the operator's Disconnect.
        QTest::mouseClick(Part<QPushButton>(&w, "btnGrasp"), Qt::LeftButton);
        Part<QAction>(&w, "Disconnect1")->trigger();
        // Cut off by a gripper that vanished.
        QVERIFY(rig.Connect());
        QTest::mouseClick(Part<QPushButton>(&w, "btnMove"), Qt::LeftButton);
        Part<QAction>(&w, "Homing1")->trigger();
        rig.Device->DropConnection();
        // Refused at once: the error is its line (and its box).
        QVERIFY(rig.Connect());
        rig.Replies[CMD_RELEASE_RAW] = Bytes({E_RANGE_ERROR, 0});
        QTest::mouseClick(Part<QPushButton>(&w, "btnRelease"), Qt::LeftButton);
        // Finished normally; the pending reply of a second start is no result of the first.
        QTest::mouseClick(Part<QPushButton>(&w, "btnMove"), Qt::LeftButton);
        QTest::mouseClick(Part<QPushButton>(&w, "btnMove"), Qt::LeftButton);
        rig.Send(CMD_GOTO, Bytes({E_OVERRUN, 0}));
        rig.Send(CMD_GOTO, Bytes({0, 0}));
        rig.Send(CMD_GOTO, Bytes({0, 0})); // nothing left open
        QCOMPARE(Lines(w), QStringList({
                               QStringLiteral("Command GRASP_RAW: connection closed before the "
                                              "result."),
                               QStringLiteral("Command GOTO: connection closed before the result."),
                               QStringLiteral("Command HOMING: connection closed before the "
                                              "result."),
                               QStringLiteral("Error while starting to release: ") +
                                   StatusText(E_RANGE_ERROR),
                               QStringLiteral("Command GOTO finished: ") + StatusText(E_OVERRUN) +
                                   QLatin1Char('.'),
                               QStringLiteral("Command GOTO finished: No error."),
                           }));
        QCOMPARE(rig.Boxes.Boxes.size(), 2); // the interruption and the refusal
    }

    void failuresSayWhatHappenedAndWhatToDo() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        // No reply: the gripper may have moved, so this is not reported like a refusal.
        rig.Replies.erase(CMD_GOTO);
        {
            FakeTick tick;
            w.Gripper()->SetClock(tick.Clock());
            QTimer::singleShot(0, &w, [&] { tick.Advance(3001); });
            QTest::mouseClick(Part<QPushButton>(&w, "btnMove"), Qt::LeftButton);
            w.Gripper()->SetClock({});
        }
        // A refusal while the fast-stop flag is set says how to go on.
        rig.Send(CMD_GET_SYSTEM_STATE, StateWord(SF_FAST_STOP));
        rig.Replies[CMD_GRASP_RAW] = Bytes({E_ACCESS_DENIED, 0});
        QTest::mouseClick(Part<QPushButton>(&w, "btnGrasp"), Qt::LeftButton);
        QCOMPARE(rig.Boxes.Texts(),
                 QStringList({QStringLiteral("Error while starting to move: Command failed\n"
                                             "The gripper did not answer within 3 s."),
                              QStringLiteral("Error while starting to grasp: ") +
                                  StatusText(E_ACCESS_DENIED) +
                                  QStringLiteral("\nAcknowledge the fast stop first: Commands | "
                                                 "Acknowledge a Fast Stop")}));
        QCOMPARE(Lines(w).first(), QStringLiteral("Error while starting to move: Command failed"));
    }

    void valuesAreOnlyWhatTheGripperReported() {
        // Acceleration unreadable, speeds from 60 mm/s: no made-up value, and every default
        // lies inside the ranges just read.
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        rig.Replies[CMD_GET_ACCELERATION] = Bytes({E_NOT_AVAILABLE, 0});
        rig.Replies[CMD_GET_SYSTEM_LIMITS] = Floats({110, 60, 400, 100, 5000, 5, 80, 0});
        QVERIFY(rig.Connect());
        QCOMPARE(Part<QLabel>(&w, "lbAcc")->text(), QStringLiteral("[n/a]"));
        QCOMPARE(Part<QLabel>(&w, "lbForce")->text(),
                 QLocale().toString(20.0, 'f', 1) + QStringLiteral(" N"));
        QCOMPARE(Part<TFloatEdit>(&w, "edGraspingSpeed")->text(), QStringLiteral("60"));
        QCOMPARE(Part<TFloatEdit>(&w, "edGotoSpeed")->text(), QStringLiteral("60"));
        QCOMPARE(Part<TFloatEdit>(&w, "edReleaseSpeed")->text(), QStringLiteral("307"));
        QVERIFY(Part<QPushButton>(&w, "btnMove")->isEnabled() &&
                Part<QPushButton>(&w, "btnGrasp")->isEnabled() &&
                Part<QPushButton>(&w, "btnRelease")->isEnabled());
        QVERIFY(rig.Boxes.Boxes.isEmpty());
    }

    void initializeFollowsTheConnectionAfterAnError() {
        TConsoleRig rig(true);
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        QVERIFY(Part<QAction>(&w, "Initialize1")->isEnabled());
        rig.Device->RaiseError(E_IO_ERROR);
        QVERIFY(Part<QAction>(&w, "Connect1")->isEnabled());
        QVERIFY(!Part<QAction>(&w, "Initialize1")->isEnabled());
        QCOMPARE(rig.Boxes.Boxes.size(), 1);
        QVERIFY(!rig.Boxes.Texts().first().contains(QStringLiteral("\n\r")));
    }

    void aboutAndQuit() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        Part<QAction>(&w, "About1")->trigger();
        QCOMPARE(rig.Boxes.Boxes.size(), 1);
        QCOMPARE(rig.Boxes.Boxes.first().first, TMsgKind::Information);
        const QString about = rig.Boxes.Texts().first();
        for (const QString& part : {QStringLiteral("1.2.0"), QString::fromLatin1(qVersion()),
                                    QStringLiteral("Licence: "), QStringLiteral("karo-sim")})
            QVERIFY2(about.contains(part), qPrintable(part));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
        QTRY_VERIFY(!w.isVisible());
    }
};

int main(int argc, char** argv) {
    TKaroApplication app(argc, argv);
    TestConsoleMessages test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_consolemessages.moc"
