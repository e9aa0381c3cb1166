// SPDX-License-Identifier: Apache-2.0
#include "WindowRun.h"
#include "WindowParts.h"
#include "app/Commander.h"

#include "devices/IniFile.h"
#include "engine/MorvForm.h"
#include "ui/MainForm.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <random>

namespace soak {

namespace {

constexpr int Patience = 15000;

// Answers whatever modal window comes up, as an operator at the screen would: error boxes are
// read and closed, the value dialog is confirmed with the value it offers, the information
// dialog is closed.
class TOperator {
public:
    explicit TOperator(TWindowFigures& figures) : FFigures(figures) {
        FTimer.setInterval(5);
        QObject::connect(&FTimer, &QTimer::timeout, [this] { Answer(); });
        FTimer.start();
    }

private:
    void Answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            ++FFigures.ErrorBoxes;
            const QString first = box->text().section(QLatin1Char('\n'), 0, 0);
            if (!FFigures.BoxTexts.contains(first))
                FFigures.BoxTexts << first;
            box->done(QMessageBox::Ok);
        } else if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            ++FFigures.OtherDialogs;
            dialog->accept();
        }
    }

    TWindowFigures& FFigures;
    QTimer FTimer;
};

int OpenMessageBoxes() {
    int open = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QMessageBox*>(w) && w->isVisible())
            ++open;
    return open;
}

// Connected, initialized and idle: the operator may click.
bool Ready(const TMainWin& w) {
    return w.Gripper()->IsConnected() && !Part<QAction>(&w, "Connect1")->isEnabled() &&
           Part<QPushButton>(&w, "btnStop")->isEnabled() && !w.Gripper()->InExchange() &&
           !QApplication::activeModalWidget();
}

bool ConnectWindow(TMainWin& w, const TConnectTarget& target) {
    return w.Gripper()->ConnectTo(target) == E_SUCCESS &&
           QTest::qWaitFor([&] { return Ready(w); }, Patience);
}

} // namespace

TWindowFigures RunWindow(const TRunOptions& options) {
    TWindowFigures fig;
    QTemporaryDir settings;
    SetSettingsDirectory(settings.path());
    struct TRestoreSettings {
        ~TRestoreSettings() { SetSettingsDirectory(QString()); }
    } restore;

    TSimTarget sim(options.Link, FaultySimArgs(options));
    if (!sim.Start()) {
        fig.Failure = QStringLiteral("simulator: ") + sim.ErrorString();
        return fig;
    }
    const TConnectTarget target = sim.Target();

    const TCommander console;

    TMainWin& w = console.Win();
    w.show();
    TOperator op(fig);
    if (!ConnectWindow(w, target)) {
        fig.Failure = QStringLiteral("the window did not connect");
        return fig;
    }

    // What an operator can do with a connected gripper, by the window's own controls.
    const std::vector<std::function<void()>> clicks = {
        [&] { Part<QPushButton>(&w, "btnMove")->click(); },
        [&] { Part<QPushButton>(&w, "btnGrasp")->click(); },
        [&] { Part<QPushButton>(&w, "btnRelease")->click(); },
        [&] { Part<QPushButton>(&w, "btnStop")->click(); },
        [&] { Part<QPushButton>(&w, "btnForce")->click(); },
        [&] { Part<QPushButton>(&w, "btnAcc")->click(); },
        [&] { Part<QAction>(&w, "Homing1")->trigger(); },
        [&] { Part<QAction>(&w, "GetSystemInfo1")->trigger(); },
        [&] { Part<QAction>(&w, "GetSystemLimits1")->trigger(); },
        [&] { Part<QAction>(&w, "GetGraspingStatistics1")->trigger(); },
        [&] { Part<QPushButton>(&w, "btnEmergencyStop")->click(); },
    };
    std::mt19937 rng(options.Seed);
    for (int i = 0; i < options.Commands; ++i) {
        if (!Ready(w) && !QTest::qWaitFor([&] { return Ready(w); }, 1000)) {
            // The window gave the connection up after an error box; connect again.
            ++fig.Reconnects;
            if (!ConnectWindow(w, target)) {
                fig.Failure =
                    QStringLiteral("the window did not connect again after %1 commands").arg(i);
                break;
            }
        }
        QElapsedTimer clock;
        clock.start();
        // A fast stop that held is acknowledged next, as the operator must before moving again.
        if (Part<QPushButton>(&w, "btnEmergencyStop")->isChecked())
            Part<QAction>(&w, "FastStopAcknowledge1")->trigger();
        else
            clicks[rng() % clicks.size()]();
        fig.MaxSettleMs = std::max(fig.MaxSettleMs, clock.elapsed());
        ++fig.Commands;
        if (fig.Commands == 100)
            fig.RssAfter100 = ResidentBytes();
        if (options.Progress)
            options.Progress(fig.Commands);
    }
    fig.RssEnd = ResidentBytes();

    // Whatever is still shown must be closed by the operator, not left behind.
    (void)QTest::qWaitFor([&] { return !QApplication::activeModalWidget(); }, Patience);
    if (Part<QPushButton>(&w, "btnEmergencyStop")->isChecked())
        Part<QAction>(&w, "FastStopAcknowledge1")->trigger();
    (void)QTest::qWaitFor([&] { return Ready(w); }, Patience);
    fig.BoxesLeftOpen = OpenMessageBoxes();
    fig.Usable = Ready(w) && Part<QPushButton>(&w, "btnMove")->isEnabled() &&
                 Part<QPushButton>(&w, "btnGrasp")->isEnabled() &&
                 Part<QPushButton>(&w, "btnRelease")->isEnabled() &&
                 Part<QAction>(&w, "Disconnect1")->isEnabled() &&
                 !Part<QPushButton>(&w, "btnEmergencyStop")->isChecked();

    // The operator disconnects and connects to a gripper without faults: no box may come up.
    Part<QAction>(&w, "Disconnect1")->trigger();
    if (!QTest::qWaitFor([&] { return Part<QAction>(&w, "Connect1")->isEnabled(); }, Patience))
        return fig;
    TSimTarget clean(options.Link, {QStringLiteral("--referenced")});
    if (!clean.Start() || !ConnectWindow(w, clean.Target()))
        return fig;
    const int boxesBefore = fig.ErrorBoxes;
    Part<QAction>(&w, "GetSystemInfo1")->trigger();
    Part<QPushButton>(&w, "btnMove")->click();
    fig.NextConnectionWorks = fig.ErrorBoxes == boxesBefore && Ready(w);
    Part<QAction>(&w, "Disconnect1")->trigger();
    return fig;
}

QStringList WindowFaults(const TWindowFigures& f) {
    QStringList faults;
    if (!f.Failure.isEmpty())
        faults << f.Failure;
    if (f.BoxesLeftOpen > 0)
        faults << QStringLiteral("%1 message boxes left open").arg(f.BoxesLeftOpen);
    if (!f.Usable)
        faults << QStringLiteral("the window was not usable at the end");
    if (!f.NextConnectionWorks)
        faults << QStringLiteral("the next connection did not work");
    return faults;
}

} // namespace soak
