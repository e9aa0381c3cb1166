// SPDX-License-Identifier: Apache-2.0
// The console's tool windows, keys and results lines.

#include "ConsoleRig.h"
#include "diagnostics/CommLogForm.h"
#include "diagnostics/CustomCmdForm.h"
#include "diagnostics/PlotForm.h"
#include "ui/KaroApplication.h"
#include "widgets/StampedLog.h"

#include <QAction>
#include <QLabel>
#include <QLocale>
#include <QScreen>

namespace {
TByteArray State(std::uint32_t s) {
    return Bytes({0, 0, std::uint8_t(s), std::uint8_t(s >> 8), std::uint8_t(s >> 16),
                  std::uint8_t(s >> 24)});
}

QStringList Lines(const TMainWin& w) {
    const QString text = Part<QPlainTextEdit>(&w, "AsyncLog")->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

QRect RightPane(const TMainWin& w) {
    const QWidget* pane = Part<QWidget>(&w, "pnRight");
    return QRect(pane->mapToGlobal(QPoint(0, 0)), pane->size());
}
} // namespace

class TestConsoleWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void fastStopKeyWorksFromEveryWindow() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        w.Commandlog1Click();
        w.CustomCommands1Click();
        w.Plot1Click();
        int sent = 0;
        for (QWidget* target :
             {static_cast<QWidget*>(w.CommandLog()), static_cast<QWidget*>(w.CommandEditor()),
              static_cast<QWidget*>(w.Plot()), static_cast<QWidget*>(&w)}) {
            target->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(target));
            // To whatever control has the focus there, a text field included.
            QWidget* focus = target->focusWidget() ? target->focusWidget() : target;
            QTest::keyClick(focus, TMainWin::FastStopKey);
            QCOMPARE(rig.Count(CMD_FAST_STOP), ++sent);
            QVERIFY(Part<QPushButton>(&w, "btnEmergencyStop")->isChecked());
        }
        // Also while a modal box is up.
        QTimer* press = WhenModal<QDialog>([](QDialog* d) {
            QTest::keyClick(d, TMainWin::FastStopKey);
            d->reject();
        });
        FValueDialogOpen(w);
        delete press;
        QCOMPARE(rig.Count(CMD_FAST_STOP), sent + 1);
        // The hint and Help name the key.
        const QString key = TMainWin::FastStopKeyText();
        QVERIFY(
            Part<QPushButton>(&w, "btnEmergencyStop")
                ->statusTip()
                .endsWith(QStringLiteral("from the menu). Key: %1, from every window.").arg(key)));
        const QString keys = w.ShortcutsText();
        for (const QString& k : {key, QStringLiteral("Esc"), QStringLiteral("F2"),
                                 QStringLiteral("Ctrl+F"), QStringLiteral("F6")})
            QVERIFY2(keys.contains(k + QLatin1Char('\t')), qPrintable(keys));
        // Without a connection the key does nothing.
        w.Disconnect1Click();
        QTest::keyClick(&w, TMainWin::FastStopKey);
        QCOMPARE(rig.Count(CMD_FAST_STOP), sent + 1);
    }

    void toolWindowsOpenBesideAndAreRemembered() {
        const QRect desk = QGuiApplication::primaryScreen()->availableGeometry();
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        // A main window that leaves no room beside it.
        w.setGeometry(desk.adjusted(40, 40, -40, -40));
        QTRY_COMPARE(w.geometry(), desk.adjusted(40, 40, -40, -40));
        w.Commandlog1Click();
        w.CustomCommands1Click();
        w.Plot1Click();
        for (QWidget* tool :
             {static_cast<QWidget*>(w.CommandLog()), static_cast<QWidget*>(w.CommandEditor()),
              static_cast<QWidget*>(w.Plot())}) {
            QVERIFY(QTest::qWaitForWindowExposed(tool));
            QVERIFY2(!tool->frameGeometry().intersects(RightPane(w)),
                     tool->objectName().toLatin1());
            QVERIFY(desk.contains(tool->frameGeometry()));
        }
        w.CommandLog()->move(desk.left() + 5, desk.top() + 6);
        QTRY_COMPARE(w.CommandLog()->pos(), QPoint(desk.left() + 5, desk.top() + 6));
        const QRect logPlace = w.CommandLog()->geometry();
        // The next start opens it where it was left.
        rig.Console.reset();
        rig.Console = std::make_unique<TCommander>();
        TMainWin& next = rig.Console->Win();
        next.show();
        next.Commandlog1Click();
        QVERIFY(QTest::qWaitForWindowExposed(next.CommandLog()));
        QCOMPARE(next.CommandLog()->geometry(), logPlace);
    }

    void resultsNoteFlagsPartLostAndAcknowledge() {
        TConsoleRig rig;
        TMainWin& w = *rig.Win;
        QVERIFY(rig.Connect());
        Part<QPlainTextEdit>(&w, "AsyncLog")->clear();
        rig.Send(CMD_GET_SYSTEM_STATE, State(SF_REFERENCED | SF_FAST_STOP));
        rig.Send(CMD_GET_SYSTEM_STATE, State(SF_REFERENCED | SF_FAST_STOP | 0x4000));
        rig.Send(CMD_GET_SYSTEM_STATE, State(SF_REFERENCED | 0x4000 | SF_MOVING));
        Part<QAction>(&w, "FastStopAcknowledge1")->trigger();
        rig.Send(CMD_GET_GRASPING_STATE, Bytes({0, 0, GS_HOLDING}));
        rig.Send(CMD_GET_GRASPING_STATE, Bytes({0, 0, GS_PART_LOST}));
        rig.Send(CMD_GET_GRASPING_STATE, Bytes({0, 0, GS_PART_LOST}));
        QCOMPARE(Lines(w), (QStringList{
                               QStringLiteral("Flag raised: Fast stop (state 00001001h)."),
                               QStringLiteral("Flag raised: Temperature fault (state 00005001h)."),
                               QStringLiteral("Flag cleared: Fast stop (state 00004003h)."),
                               QStringLiteral("Fast stop acknowledged."),
                               QStringLiteral("Part lost."),
                           }));
        auto* log = Part<TStampedLog>(&w, "AsyncLog");
        for (int i = 0; i < 5; ++i)
            QVERIFY(log->LineTime(i).isValid());
        log->ClearAction()->trigger();
        QVERIFY(Lines(w).isEmpty());
    }

    void documentationIsFoundInTheBuildTreeAndThePackage() {
        const QStringList c = TMainWin::DocumentationCandidates(QStringLiteral("/src/build/src"));
        QCOMPARE(c.mid(0, 3), (QStringList{QStringLiteral("/src/build/src/README.md"),
                                           QStringLiteral("/src/build/README.md"),
                                           QStringLiteral("/src/README.md")}));
        QVERIFY(TMainWin::DocumentationCandidates(QStringLiteral("/usr/bin"))
                    .contains(QStringLiteral("/usr/share/doc/karo-commander/README.md")));
        // The program's own README, opened in the program.
        TConsoleRig rig;
        rig.Win->findChild<QLabel*>(QStringLiteral("lbLink"))
            ->linkActivated(QStringLiteral("readme"));
        auto* doc = rig.Win->findChild<QDialog*>(QStringLiteral("Documentation"));
        QVERIFY2(doc && doc->isVisible(), qPrintable(rig.Boxes.Texts().join(QLatin1Char('\n'))));
        QVERIFY(rig.Boxes.Boxes.isEmpty());
    }

private:
    // Opens the acceleration dialog, which runs modally until the hook rejects it.
    static void FValueDialogOpen(TMainWin& w) { Part<QPushButton>(&w, "btnAcc")->click(); }
};

int main(int argc, char** argv) {
    TKaroApplication app(argc, argv);
    QLocale::setDefault(QLocale::c());
    TestConsoleWindows test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_consolewindows.moc"
