// SPDX-License-Identifier: Apache-2.0
// The window connected to karo-sim over each link (the arguments name them: tcp udp serial can;
// default all), once with updates at their period and once with a flood of valid updates
// (--flood-updates): how long a Stop exchange takes, how late the event loop runs a posted call
// (a key press waits as long), how many updates the full queue gave up, and the resident memory
// of the process.
#include "BenchSupport.h"
#include "FaultRun.h"
#include "app/Commander.h"
#include "devices/IniFile.h"
#include "ui/MainForm.h"
#include "widgets/MessageBoxes.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>

#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

constexpr int Stops = 20;
constexpr int PauseMs = 250; // between two Stops
constexpr int ProbeMs = 10;  // how often the event loop's delay is sampled

double ResidentMb() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = f.readAll().simplified().split(' ');
    return fields.size() < 2
               ? -1
               : static_cast<double>(fields[1].toLongLong() * ::sysconf(_SC_PAGESIZE)) / 1e6;
}

double Max(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}
double Median(std::vector<double> v) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Error boxes shown so far; any before the end of a run means its figures are not of a working
// window (closing the link at its end may show one).
QStringList gBoxes;

struct TRun {
    std::vector<double> StopMs;
    std::vector<double> LoopMs; // from posting a call to its running
    std::uint64_t Arrived = 0;
    std::uint64_t Dropped = 0;
    double Seconds = 0;
    double PeakMb = 0;
    QString Failure; // set when the run could not finish
};

TRun Run(soak::TLink link, const QStringList& simArgs) {
    TRun run;
    soak::TSimTarget sim(link, QStringList{QStringLiteral("--referenced")} + simArgs);
    if (!sim.Start())
        bench::Fail(QStringLiteral("karo-sim did not start: ") + sim.ErrorString());
    const TCommander commander;
    TMainWin& win = commander.Win();
    win.show();
    TMorv* gripper = win.Gripper();
    if (gripper->ConnectTo(sim.Target()) != E_SUCCESS)
        bench::Fail(QStringLiteral("could not connect to karo-sim"));
    // Initialized (the updates are on): the window enables its commands.
    bench::WaitFor(
        [&] { return win.findChild<QPushButton*>(QStringLiteral("btnStop"))->isEnabled(); }, 15000,
        "the initialization");

    // Samples how late a posted call runs, all the time, also inside the Stops' waits.
    QElapsedTimer posted;
    bool pending = false;
    QTimer probe;
    probe.setInterval(ProbeMs);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        if (pending)
            return;
        pending = true;
        posted.start();
        QMetaObject::invokeMethod(
            &probe,
            [&] {
                run.LoopMs.push_back(static_cast<double>(posted.nsecsElapsed()) / 1e6);
                pending = false;
            },
            Qt::QueuedConnection);
    });
    probe.start();

    const std::uint64_t arrived0 = gripper->Command()->PacketsArrived();
    QElapsedTimer wall;
    wall.start();
    for (int i = 0; i < Stops; ++i) {
        bool waited = false;
        QTimer::singleShot(PauseMs, [&waited] { waited = true; });
        bench::WaitFor([&] { return waited; }, 20000, "the pause");
        QElapsedTimer t;
        t.start();
        const TStat status = gripper->Stop();
        run.StopMs.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        if (status != E_SUCCESS || gripper->LastOutcome().Kind != TOutcomeKind::Replied) {
            // Returned, not ended here: the simulator must go with its owner, not flood on.
            run.Failure = QStringLiteral("Stop %1 was not answered (status %2)").arg(i).arg(status);
            break;
        }
        run.PeakMb = std::max(run.PeakMb, ResidentMb());
    }
    probe.stop();
    run.Seconds = static_cast<double>(wall.elapsed()) / 1e3;
    run.Arrived = gripper->Command()->PacketsArrived() - arrived0;
    run.Dropped = gripper->Command()->PacketsDropped();
    if (!gBoxes.isEmpty())
        bench::Fail(QStringLiteral("message boxes: ") + gBoxes.join(QStringLiteral("; ")));
    gripper->Disconnect();
    return run;
}

void Report(const QString& link, const char* name, const TRun& r) {
    std::printf("%s %s: Stop median %.2f ms, max %.2f ms; posted call late by median %.2f ms, max "
                "%.2f ms; %.0f packets/s, %llu dropped by the full queue; peak resident %.1f MB\n",
                qPrintable(link), name, Median(r.StopMs), Max(r.StopMs), Median(r.LoopMs),
                Max(r.LoopMs), static_cast<double>(r.Arrived) / r.Seconds,
                static_cast<unsigned long long>(r.Dropped), r.PeakMb);
    const std::string p = "flood_" + link.toStdString() + "_" + name + "_";
    bench::Figure((p + "stop_median_ms").c_str(), Median(r.StopMs), "ms");
    bench::Figure((p + "stop_max_ms").c_str(), Max(r.StopMs), "ms");
    bench::Figure((p + "loop_max_ms").c_str(), Max(r.LoopMs), "ms");
    bench::Figure((p + "packets_per_s").c_str(), static_cast<double>(r.Arrived) / r.Seconds, "1/s");
    bench::Figure((p + "dropped").c_str(), static_cast<double>(r.Dropped), "packets");
    bench::Figure((p + "peak_mb").c_str(), r.PeakMb, "MB");
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir settings;
    SetSettingsDirectory(settings.path());
    SetMessageBoxHook([](TMsgKind, const QString& text) { gBoxes << text; });

    QStringList names = app.arguments().mid(1);
    if (names.isEmpty())
        names = {QStringLiteral("tcp"), QStringLiteral("udp"), QStringLiteral("serial"),
                 QStringLiteral("can")};
    bool failed = false;
    for (const QString& name : names) {
        const std::optional<soak::TLink> link = soak::LinkFromName(name);
        if (!link)
            bench::Fail(QStringLiteral("no link ") + name);
        gBoxes.clear();
        const TRun calm = Run(*link, {});
        gBoxes.clear();
        const TRun flood = Run(*link, {QStringLiteral("--flood-updates")});
        for (const TRun* r : {&calm, &flood})
            if (!r->Failure.isEmpty()) {
                std::printf("%s: %s\n", qPrintable(name), qPrintable(r->Failure));
                failed = true;
            }
        if (calm.Failure.isEmpty())
            Report(name, "calm", calm);
        if (flood.Failure.isEmpty())
            Report(name, "flooded", flood);
    }
    return failed ? 1 : 0;
}
