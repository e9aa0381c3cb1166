// SPDX-License-Identifier: Apache-2.0
// The command bands and the fast stop: motions and their results, edits coupled to track
// bars, force and acceleration through the value dialog.

#include "ConsoleRig.h"
#include "ui/KaroApplication.h"
#include "widgets/FloatEditDialog.h"

#include <QAction>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QTimer>

namespace {
QString Text(QLabel* l) {
    return l->text();
}

QStringList Lines(const TMainWin& w) {
    const QString text = Part<QPlainTextEdit>(&w, "AsyncLog")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

// Presses a band's button or triggers a menu entry, whichever the name is.
void Start(const TMainWin& w, const QString& name) {
    if (auto* button = w.findChild<QPushButton*>(name))
        QTest::mouseClick(button, Qt::LeftButton);
    else
        Part<QAction>(&w, qPrintable(name))->trigger();
}
} // namespace

class TestMotionBands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void movementsAndTheirResults() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        // Grasp accepted as pending: no box, the final result appends a line.
        QTest::mouseClick(Part<QPushButton>(&w, "btnGrasp"), Qt::LeftButton);
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        QCOMPARE(HexString(rig.Last(CMD_GRASP_RAW)->Data),
                 HexString(Floats({37, 50}).data() + 2, 8));
        QVERIFY(Part<QPlainTextEdit>(&w, "AsyncLog")->toPlainText().isEmpty());
        rig.Send(CMD_GRASP_RAW, Bytes({0, 0}));
        QCOMPARE(Part<QPlainTextEdit>(&w, "AsyncLog")->toPlainText(),
                 QStringLiteral("Command GRASP_RAW finished: No error."));
        // A second packet for a grasp that already has its line adds none.
        rig.Send(CMD_GRASP_RAW, Bytes({E_AXIS_BLOCKED, 0}));
        QCOMPARE(Part<QPlainTextEdit>(&w, "AsyncLog")->toPlainText(),
                 QStringLiteral("Command GRASP_RAW finished: No error."));
        // A final result with an error is only a line.
        QTest::mouseClick(Part<QPushButton>(&w, "btnGrasp"), Qt::LeftButton);
        rig.Send(CMD_GRASP_RAW, Bytes({E_AXIS_BLOCKED, 0}));
        QCOMPARE(
            Part<QPlainTextEdit>(&w, "AsyncLog")->toPlainText().split(QLatin1Char('\n')).last(),
            QStringLiteral("Command GRASP_RAW finished: ") + StatusText(E_AXIS_BLOCKED) +
                QLatin1Char('.'));
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        // A move answered with 0 at once has ended: its one line now, none from a later packet.
        rig.Replies[CMD_GOTO] = Bytes({0, 0});
        const QString before = Part<QPlainTextEdit>(&w, "AsyncLog")->toPlainText();
        QTest::mouseClick(Part<QPushButton>(&w, "btnMove"), Qt::LeftButton);
        rig.Send(CMD_GOTO, Bytes({0, 0}));
        QCOMPARE(Part<QPlainTextEdit>(&w, "AsyncLog")->toPlainText(),
                 before + QStringLiteral("\nCommand GOTO finished: No error."));
        QCOMPARE(HexString(rig.Last(CMD_GOTO)->Data).left(2), QStringLiteral("00"));

        // Refusals show the band's prefix and the status text.
        rig.Replies[CMD_GOTO] = Bytes({E_RANGE_ERROR, 0});
        rig.Replies[CMD_GRASP_RAW] = Bytes({E_ACCESS_DENIED, 0});
        rig.Replies[CMD_RELEASE_RAW] = Bytes({E_NOT_INITIALIZED, 0});
        rig.Replies[CMD_STOP] = Bytes({E_TIMEOUT, 0});
        QTest::mouseClick(Part<QPushButton>(&w, "btnMove"), Qt::LeftButton);
        QTest::mouseClick(Part<QPushButton>(&w, "btnGrasp"), Qt::LeftButton);
        QTest::mouseClick(Part<QPushButton>(&w, "btnRelease"), Qt::LeftButton);
        QTest::mouseClick(Part<QPushButton>(&w, "btnStop"), Qt::LeftButton);
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
        w.Gripper()->SetClock(tick.Clock());
        QTimer::singleShot(0, &w, [&] { tick.Advance(3001); });
        w.btnStopClick();
        w.Gripper()->SetClock({});
        QCOMPARE(rig.Boxes.Texts(),
                 QStringList(QStringLiteral("Error while stopping: Command failed\n"
                                            "The gripper did not answer within 3 s.")));
    }

    void fastStopButtonAndAcknowledge() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        QTest::mouseClick(Part<QPushButton>(&w, "btnEmergencyStop"), Qt::LeftButton);
        QCOMPARE(rig.Count(CMD_FAST_STOP), 1);
        QVERIFY(Part<QPushButton>(&w, "btnEmergencyStop")->isChecked());
        // Pressing it again while pressed sends again and stays pressed.
        QTest::mouseClick(Part<QPushButton>(&w, "btnEmergencyStop"), Qt::LeftButton);
        QCOMPARE(rig.Count(CMD_FAST_STOP), 2);
        QVERIFY(Part<QPushButton>(&w, "btnEmergencyStop")->isChecked());
        // An acknowledgement the gripper refuses says so and leaves the button pressed.
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        rig.Replies[CMD_FAST_STOP_ACK] = Bytes({E_CMD_FORMAT_ERROR, 0});
        Part<QAction>(&w, "FastStopAcknowledge1")->trigger();
        QVERIFY(Part<QPushButton>(&w, "btnEmergencyStop")->isChecked());
        QCOMPARE(HexString(rig.Last(CMD_FAST_STOP_ACK)->Data), QStringLiteral("61 63 6B"));
        QCOMPARE(rig.Boxes.Texts(),
                 QStringList(QStringLiteral("Error while acknowledging the fast stop: ") +
                             StatusText(E_CMD_FORMAT_ERROR)));
        rig.Boxes.clear();
        rig.Replies[CMD_FAST_STOP_ACK] = Bytes({0, 0});
        Part<QAction>(&w, "FastStopAcknowledge1")->trigger();
        QVERIFY(!Part<QPushButton>(&w, "btnEmergencyStop")->isChecked());
        QVERIFY(rig.Boxes.Boxes.isEmpty());
        // A failed fast stop shows released and says why.
        rig.Replies[CMD_FAST_STOP] = Bytes({E_ACCESS_DENIED, 0});
        QTest::mouseClick(Part<QPushButton>(&w, "btnEmergencyStop"), Qt::LeftButton);
        QVERIFY(!Part<QPushButton>(&w, "btnEmergencyStop")->isChecked());
        QCOMPARE(rig.Boxes.Texts(), QStringList(QStringLiteral("Error during the fast stop: ") +
                                                StatusText(E_ACCESS_DENIED)));
    }

    void editsAndTrackBarsFollowEachOther() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        // Emptying the width disables Grasp at once, a valid width enables it again.
        Part<TFloatEdit>(&w, "edGraspingPos")->setFocus();
        Part<TFloatEdit>(&w, "edGraspingPos")->clear();
        QVERIFY(!Part<QPushButton>(&w, "btnGrasp")->isEnabled());
        QTest::keyClicks(Part<TFloatEdit>(&w, "edGraspingPos"), QStringLiteral("200"));
        QVERIFY(!Part<QPushButton>(&w, "btnGrasp")->isEnabled()); // outside 0..110
        Part<TFloatEdit>(&w, "edGraspingPos")->clear();
        QTest::keyClicks(Part<TFloatEdit>(&w, "edGraspingPos"), QStringLiteral("55"));
        QVERIFY(Part<QPushButton>(&w, "btnGrasp")->isEnabled());
        QCOMPARE(Part<QSlider>(&w, "tbGraspingPos")->value(), 100);

        // Dragging the track bar sets the edit, rounded to one decimal.
        Part<QSlider>(&w, "tbGotoPos")->setFocus();
        Part<QSlider>(&w, "tbGotoPos")->setValue(1);
        QCOMPARE(Part<TFloatEdit>(&w, "edGotoPos")->text(), QStringLiteral("0.6"));
        Part<QSlider>(&w, "tbGotoPos")->setValue(100);
        QCOMPARE(Part<TFloatEdit>(&w, "edGotoPos")->text(), QStringLiteral("55"));
        QCOMPARE(Part<QSlider>(&w, "tbGotoPos")->value(), 100);

        // Without the focus an edit leaves its track bar alone.
        Part<TFloatEdit>(&w, "edGotoSpeed")->setFocus();
        Part<TFloatEdit>(&w, "edGotoPos")->SetValue(11);
        QCOMPARE(Part<QSlider>(&w, "tbGotoPos")->value(), 100);
        // With an empty range the track bar goes to 0.
        Part<TFloatEdit>(&w, "edGotoPos")->SetMinValue(0);
        Part<TFloatEdit>(&w, "edGotoPos")->SetMaxValue(0);
        Part<TFloatEdit>(&w, "edGotoPos")->setFocus();
        Part<TFloatEdit>(&w, "edGotoPos")->setText(QStringLiteral("7"));
        QCOMPARE(Part<QSlider>(&w, "tbGotoPos")->value(), 0);
    }

    void forceAndAccelerationThroughTheValueDialog() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        // OK with a new value sends it and updates the label.
        WhenModal<TFloatEditDlg>([](TFloatEditDlg* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("Change Force Limit"));
            QCOMPARE(d->lbUnit->text(), QStringLiteral("N"));
            QVERIFY(d->lbRange->isVisible());
            QCOMPARE(d->lbRange->text(), QStringLiteral("Allowed: 5.0 to 80.0 N"));
            QCOMPARE(d->ed->text(), QStringLiteral("20"));
            d->ed->setText(QStringLiteral("42"));
            d->BitBtn2->click();
        });
        QTest::mouseClick(Part<QPushButton>(&w, "btnForce"), Qt::LeftButton);
        QCOMPARE(HexString(rig.Last(CMD_SET_FORCE_LIMIT)->Data),
                 HexString(Floats({42}).data() + 2, 4));
        QCOMPARE(Text(Part<QLabel>(&w, "lbForce")), QStringLiteral("42.0 N"));
        QCOMPARE(w.ForceLimit(), 42.0f);
        // Cancel sends nothing.
        WhenModal<TFloatEditDlg>([](TFloatEditDlg* d) { d->BitBtn1->click(); });
        QTest::mouseClick(Part<QPushButton>(&w, "btnAcc"), Qt::LeftButton);
        QCOMPARE(rig.Count(CMD_SET_ACCELERATION), 0);
        QCOMPARE(Text(Part<QLabel>(&w, "lbAcc")), QStringLiteral("500 mm/s²"));
        // The gripper refuses: box, value and label unchanged.
        rig.Replies[CMD_SET_ACCELERATION] = Bytes({E_RANGE_ERROR, 0});
        WhenModal<TFloatEditDlg>([](TFloatEditDlg* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("Change Acceleration"));
            QCOMPARE(d->lbRange->text(), QString::fromUtf8("Allowed: 100 to 5000 mm/s²"));
            d->ed->setText(QStringLiteral("1000"));
            d->BitBtn2->click();
        });
        QTest::mouseClick(Part<QPushButton>(&w, "btnAcc"), Qt::LeftButton);
        QCOMPARE(rig.Boxes.Texts(),
                 QStringList(QStringLiteral("Error while setting acceleration: ") +
                             StatusText(E_RANGE_ERROR)));
        QCOMPARE(w.Acceleration(), 500.0f);
        QCOMPARE(Text(Part<QLabel>(&w, "lbAcc")), QStringLiteral("500 mm/s²"));
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
        QTest::mouseClick(Part<QPushButton>(&w, "btnForce"), Qt::LeftButton);
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
        QCOMPARE(Text(Part<QLabel>(&*rig.Win, "lbForce")), QStringLiteral("[n/a]"));
        QString shown;
        WhenModal<TFloatEditDlg>([&](TFloatEditDlg* d) {
            shown = d->ed->text();
            d->BitBtn2->click();
        });
        QTest::mouseClick(Part<QPushButton>(&*rig.Win, "btnForce"), Qt::LeftButton);
        QCOMPARE(shown, QStringLiteral("5"));
        QVERIFY2(rig.Boxes.Boxes.isEmpty(), qPrintable(rig.Boxes.Texts().join(u'|')));
        QCOMPARE(HexString(rig.Last(CMD_SET_FORCE_LIMIT)->Data),
                 HexString(Floats({5}).data() + 2, 4));
        QCOMPARE(Text(Part<QLabel>(&*rig.Win, "lbForce")), QStringLiteral("5.0 N"));
    }

    void escapePressesStopExceptInTheResults() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        // Disabled Stop: nothing.
        QTest::keyClick(&w, Qt::Key_Escape);
        QCOMPARE(rig.Count(CMD_STOP), 0);
        QVERIFY(rig.Connect());
        Part<TFloatEdit>(&w, "edGotoPos")->setFocus();
        QTest::keyClick(Part<TFloatEdit>(&w, "edGotoPos"), Qt::Key_Escape);
        QCOMPARE(rig.Count(CMD_STOP), 1);
        Part<QPlainTextEdit>(&w, "AsyncLog")->setFocus();
        QTest::keyClick(Part<QPlainTextEdit>(&w, "AsyncLog"), Qt::Key_Escape);
        QCOMPARE(rig.Count(CMD_STOP), 1);
    }

    // A second start of a running motion that the gripper refuses leaves the first running:
    // its result still gets its line, and a later disconnect has nothing left to report.
    void refusedRepeatKeepsTheRunningMotion_data() {
        QTest::addColumn<QString>("start");
        QTest::addColumn<int>("id");
        QTest::newRow("move") << QStringLiteral("btnMove") << int(CMD_GOTO);
        QTest::newRow("grasp") << QStringLiteral("btnGrasp") << int(CMD_GRASP_RAW);
        QTest::newRow("release") << QStringLiteral("btnRelease") << int(CMD_RELEASE_RAW);
        QTest::newRow("homing") << QStringLiteral("Homing1") << int(CMD_HOMING);
    }
    void refusedRepeatKeepsTheRunningMotion() {
        QFETCH(QString, start);
        QFETCH(int, id);
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        Start(w, start);
        rig.Replies[id] = Bytes({E_ALREADY_RUNNING, 0});
        Start(w, start);
        const QString refused = StatusText(E_ALREADY_RUNNING);
        QCOMPARE(rig.Boxes.Boxes.size(), 1);
        QVERIFY(rig.Boxes.Texts().first().endsWith(refused));
        rig.Send(id, Bytes({0, 0}));
        Part<QAction>(&w, "Disconnect1")->trigger();
        const QString name = CommandName(std::uint8_t(id));
        QCOMPARE(Lines(w),
                 QStringList({rig.Boxes.Texts().first(),
                              QStringLiteral("Command %1 finished: No error.").arg(name)}));
    }

    // Only a gripper that stayed silent is said not to have answered; a refusal and a reply too
    // short to use fail with the plain status text, a link that closed while waiting says so.
    void onlySilenceIsCalledNoAnswer_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("silent");
        QTest::newRow("silent") << QStringLiteral("silent") << true;
        QTest::newRow("refused") << QStringLiteral("refused") << false;
        QTest::newRow("short reply") << QStringLiteral("short") << false;
        QTest::newRow("link closed") << QStringLiteral("closed") << false;
    }
    void onlySilenceIsCalledNoAnswer() {
        QFETCH(QString, how);
        QFETCH(bool, silent);
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        FakeTick tick;
        w.Gripper()->SetClock(tick.Clock());
        if (how == QStringLiteral("silent")) {
            rig.Replies.erase(CMD_STOP);
            QTimer::singleShot(0, &w, [&] { tick.Advance(3001); });
        } else if (how == QStringLiteral("refused")) {
            rig.Replies[CMD_STOP] = Bytes({E_CMD_FAILED, 0});
        } else if (how == QStringLiteral("short")) {
            rig.Replies[CMD_STOP] = Bytes({0});
        } else {
            rig.Replies.erase(CMD_STOP);
            QTimer::singleShot(0, &w, [&] {
                rig.Device->DropConnection();
                tick.Advance(3001);
            });
        }
        w.btnStopClick();
        w.Gripper()->SetClock({});
        const QString plain = how == QStringLiteral("closed")
                                  ? QStringLiteral("Error while stopping: Not connected: the "
                                                   "connection closed before the answer.")
                                  : QStringLiteral("Error while stopping: Command failed");
        const QStringList texts = rig.Boxes.Texts();
        QVERIFY2(texts.contains(
                     silent ? plain + QStringLiteral("\nThe gripper did not answer within 3 s.")
                            : plain),
                 qPrintable(texts.join(u'|')));
        for (const QString& t : texts)
            QVERIFY(silent || !t.contains(QStringLiteral("did not answer")));
    }
};

int main(int argc, char** argv) {
    TKaroApplication app(argc, argv);
    // Read-outs are compared as the operator reads them, with a point for the decimals.
    QLocale::setDefault(QLocale::c());
    TestMotionBands test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_motionbands.moc"
