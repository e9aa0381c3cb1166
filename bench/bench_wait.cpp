// SPDX-License-Identifier: Apache-2.0
// CPU cost of waiting for a reply that never comes: one STOP against karo-sim told never to
// answer it (--silent-ids), which takes the full 3000 ms reply time-out.
#include "BenchSupport.h"
#include "engine/MorvForm.h"
#include "protocol/Constants.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir settings;
    SetSettingsDirectory(settings.path());

    bench::TSim sim({QStringLiteral("--referenced"), QStringLiteral("--silent-ids"),
                     QString::number(int(CMD_STOP))});
    TMorv morv(nullptr);
    bench::ConnectEngine(morv, sim.Target());

    QElapsedTimer wall;
    const double cpu0 = bench::CpuSeconds();
    wall.start();
    const TStat status = morv.Stop();
    const double cpuMs = (bench::CpuSeconds() - cpu0) * 1000.0;
    const double wallMs = static_cast<double>(wall.nsecsElapsed()) / 1e6;
    if (status != E_CMD_FAILED)
        bench::Fail(QStringLiteral("STOP to a silent gripper gave status %1, not 18").arg(status));
    std::printf("silent gripper: wall %.0f ms, cpu %.1f ms\n", wallMs, cpuMs);
    bench::Figure("wait_wall_ms", wallMs, "ms");
    bench::Figure("wait_cpu_ms", cpuMs, "ms");
    bench::Figure("wait_cpu_share", cpuMs / wallMs, "ratio");
    morv.Disconnect();
    return 0;
}
