// SPDX-License-Identifier: Apache-2.0
// Time from start to the first painted window: karo-commander (KARO_EXIT_AFTER_FIRST_PAINT)
// against the smallest Qt window, this program run with --bare-window, each started afresh
// several times on the same platform plugin.
#include "BenchSupport.h"
#include "app/FirstPaintProbe.h"

#include <QApplication>
#include <QLabel>
#include <QProcessEnvironment>

#include <algorithm>
#include <vector>

namespace {

constexpr int Runs = 7;

// Median milliseconds from starting `program` to its "first-paint-ms" line.
double StartToPaintMs(const QString& program, const QStringList& args) {
    std::vector<double> ms;
    for (int i = 0; i < Runs; ++i) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("KARO_EXIT_AFTER_FIRST_PAINT"), QStringLiteral("1"));
        if (!env.contains(QStringLiteral("QT_QPA_PLATFORM")))
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QElapsedTimer t;
        t.start();
        p.start(program, args);
        QByteArray out;
        while (!out.contains("first-paint-ms")) {
            if (!p.waitForReadyRead(30000))
                bench::Fail(program + QStringLiteral(" printed no first-paint-ms line"));
            out += p.readAllStandardOutput();
        }
        ms.push_back(static_cast<double>(t.nsecsElapsed()) / 1e6);
        if (!p.waitForFinished(30000)) {
            p.kill();
            bench::Fail(program + QStringLiteral(" did not quit after its first paint"));
        }
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1 && QByteArray(argv[1]) == "--bare-window") {
        QElapsedTimer started;
        started.start();
        QApplication app(argc, argv);
        QLabel window(QStringLiteral("Karo"));
        const TFirstPaintProbe probe(&window, started);
        window.show();
        return app.exec();
    }
    QCoreApplication app(argc, argv);
    const double commander = StartToPaintMs(QStringLiteral(KARO_COMMANDER_PATH), {});
    const double bare =
        StartToPaintMs(QCoreApplication::applicationFilePath(), {QStringLiteral("--bare-window")});
    std::printf("start to first paint, median of %d: karo-commander %.0f ms, bare Qt window "
                "%.0f ms (platform %s)\n",
                Runs, commander, bare,
                qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")
                    ? "offscreen"
                    : qgetenv("QT_QPA_PLATFORM").constData());
    bench::Figure("firstpaint_commander_ms", commander, "ms");
    bench::Figure("firstpaint_bare_ms", bare, "ms");
    bench::Figure("firstpaint_ratio", commander / bare, "ratio");
    return 0;
}
