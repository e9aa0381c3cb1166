// SPDX-License-Identifier: Apache-2.0
// CPU of the main window connected to a moving simulated gripper: karo-sim over TCP, the window
// initialized as after "Gripper|Connect" (automatic updates on), the command log recording
// hidden as in the program, and the fingers moving back and forth for the measured seconds.
#include "BenchSupport.h"
#include "app/Commander.h"
#include "devices/IniFile.h"
#include "diagnostics/CommLogForm.h"
#include "engine/MorvForm.h"
#include "ui/MainForm.h"
#include "widgets/MessageBoxes.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>

namespace {
constexpr int MeasureMs = 6000;
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settings;
    SetSettingsDirectory(settings.path());
    bench::TSim sim({QStringLiteral("--referenced")});

    // A box would block the run; any box at all means the figure is not of a working window.
    QStringList boxes;
    SetMessageBoxHook([&boxes](TMsgKind, const QString& text) { boxes << text; });

    const TCommander commander;
    TMainWin& win = commander.Win();
    win.show();
    TMorv* gripper = win.Gripper();
    if (gripper->ConnectTo(sim.Target()) != E_SUCCESS)
        bench::Fail(QStringLiteral("could not connect to karo-sim"));
    // Initialized: the window enables its commands once the limits were read.
    bench::WaitFor(
        [&] { return win.findChild<QPushButton*>(QStringLiteral("btnStop"))->isEnabled(); }, 15000,
        "the initialization");

    int moves = 0;
    bool arrived = true;
    const auto result = [&arrived](TMorv*, std::int32_t, std::uint16_t, const TByteArray&) {
        arrived = true;
    };
    QElapsedTimer wall;
    const double cpu0 = bench::CpuSeconds();
    wall.start();
    while (wall.elapsed() < MeasureMs) {
        arrived = false;
        const TStat st = gripper->GotoPosition(moves % 2 ? 60.0f : 10.0f, 80.0f, result);
        if (st != E_SUCCESS && st != E_CMD_PENDING)
            bench::Fail(QStringLiteral("GOTO refused with status %1").arg(st));
        ++moves;
        bench::WaitFor([&] { return arrived; }, 10000, "the end of a move");
    }
    const double cpuMs = (bench::CpuSeconds() - cpu0) * 1000.0;
    const double wallMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
    win.Disconnect1Click();
    if (!boxes.isEmpty())
        bench::Fail(QStringLiteral("the window showed a box: ") +
                    boxes.join(QStringLiteral(" / ")));
    std::printf("window, moving gripper: %d moves in %.0f ms, cpu %.0f ms, %d log entries\n", moves,
                wallMs, cpuMs, commander.CommandLog->Count());
    bench::Figure("window_wall_ms", wallMs, "ms");
    bench::Figure("window_cpu_ms", cpuMs, "ms");
    bench::Figure("window_cpu_share", cpuMs / wallMs, "ratio");
    return 0;
}
