// SPDX-License-Identifier: Apache-2.0
// A query's round trip over TCP to karo-sim from Python (the karo module reading force_limit,
// bench_python.py) against the same GET_FORCE_LIMIT exchange from the C++ engine, on the same
// simulator.
#include "BenchSupport.h"
#include "devices/IniFile.h"
#include "engine/MorvForm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <vector>

namespace {

constexpr int Warmup = 200;
constexpr int Rounds = 3000;

double EngineRoundTripUs(const bench::TSim& sim) {
    TMorv morv(nullptr);
    bench::ConnectEngine(morv, sim.Target());
    std::vector<double> us;
    float force = 0;
    for (int i = 0; i < Warmup + Rounds; ++i) {
        QElapsedTimer t;
        t.start();
        if (morv.GetForceLimit(force) != E_SUCCESS)
            bench::Fail(QStringLiteral("GET_FORCE_LIMIT failed"));
        if (i >= Warmup)
            us.push_back(static_cast<double>(t.nsecsElapsed()) / 1000.0);
    }
    morv.Disconnect();
    std::sort(us.begin(), us.end());
    return us[us.size() / 2];
}

double PythonRoundTripUs(const bench::TSim& sim, const QString& settings) {
    QProcess python;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PYTHONPATH"), QStringLiteral(KARO_PYTHON_DIR));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), settings);
    python.setProcessEnvironment(env);
    python.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    python.start(QStringLiteral(KARO_PYTHON_EXE),
                 {QStringLiteral(KARO_BENCH_DIR "/bench_python.py"),
                  QStringLiteral("tcp://127.0.0.1:%1").arg(sim.Port()), QString::number(Rounds),
                  QString::number(Warmup)});
    if (!python.waitForFinished(600000) || python.exitCode() != 0)
        bench::Fail(QStringLiteral("bench_python.py failed"));
    bool ok = false;
    const double us = python.readAllStandardOutput().trimmed().toDouble(&ok);
    if (!ok)
        bench::Fail(QStringLiteral("bench_python.py printed no figure"));
    return us;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir settings;
    SetSettingsDirectory(settings.path());
    bench::TSim sim({QStringLiteral("--referenced")});
    // Alternated, so a change in the machine's load hits both alike.
    const double engine1 = EngineRoundTripUs(sim);
    const double python1 = PythonRoundTripUs(sim, settings.path());
    const double engine2 = EngineRoundTripUs(sim);
    const double python2 = PythonRoundTripUs(sim, settings.path());
    const double engine = std::min(engine1, engine2), python = std::min(python1, python2);
    std::printf("query round trip, median of %d: python %.1f us, engine %.1f us\n", Rounds, python,
                engine);
    bench::Figure("python_roundtrip_us", python, "us");
    bench::Figure("python_engine_roundtrip_us", engine, "us");
    bench::Figure("python_roundtrip_ratio", python / engine, "ratio");
    return 0;
}
