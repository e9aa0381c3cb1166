// SPDX-License-Identifier: Apache-2.0
#pragma once

// Shared by the benchmark programs: the simulator as a child process, process CPU time, and
// the machine-readable lines that scripts/bench.sh assembles into its table.

#include "devices/DevicePrompts.h"
#include "engine/MorvForm.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>

namespace bench {

inline double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// One figure: "figure NAME VALUE UNIT", read by scripts/bench.sh.
inline void Figure(const char* name, double value, const char* unit) {
    std::printf("figure %s %.6g %s\n", name, value, unit);
    std::fflush(stdout);
}

[[noreturn]] inline void Fail(const QString& why) {
    std::fprintf(stderr, "%s\n", qPrintable(why));
    std::exit(1);
}

// karo-sim on a free loopback TCP port; stopped when this object goes.
class TSim {
public:
    explicit TSim(const QStringList& extraArgs) {
        FProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FProcess.start(QStringLiteral(KARO_SIM_PATH),
                       QStringList{QStringLiteral("--tcp"), QStringLiteral("0")} + extraArgs);
        if (!FProcess.waitForStarted(10000))
            Fail(QStringLiteral("karo-sim did not start: ") + FProcess.errorString());
        static const QRegularExpression listening(QStringLiteral("listening tcp \\S+:(\\d+)"));
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (FPort == 0 && t.elapsed() < 10000) {
            if (!FProcess.waitForReadyRead(10000))
                break;
            out += FProcess.readAllStandardOutput();
            const auto m = listening.match(QString::fromLatin1(out));
            if (m.hasMatch())
                FPort = static_cast<quint16>(m.captured(1).toUInt());
        }
        if (FPort == 0)
            Fail(QStringLiteral("karo-sim did not report its TCP port"));
    }
    ~TSim() {
        FProcess.terminate();
        if (!FProcess.waitForFinished(3000))
            FProcess.kill();
        FProcess.waitForFinished(3000);
    }
    TSim(const TSim&) = delete;
    TSim& operator=(const TSim&) = delete;

    quint16 Port() const { return FPort; }

    TConnectTarget Target() const {
        TConnectTarget target;
        target.Device = QStringLiteral("tcp");
        target.Tcp.Host = QStringLiteral("127.0.0.1");
        target.Tcp.Port = FPort;
        return target;
    }

private:
    QProcess FProcess;
    quint16 FPort = 0;
};

// Runs the event loop until `done` holds; gives up (and ends the program) after `limitMs`, so
// a benchmark never hangs.
template <class Pred> void WaitFor(Pred done, int limitMs, const char* what) {
    QTimer wake; // sleeping in the event loop, not spinning: the CPU figures include this
    wake.start(50);
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs)
            Fail(QStringLiteral("timed out waiting for ") + QLatin1String(what));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
}

// Connects the engine to the simulator without dialogs and waits until the link is up.
inline void ConnectEngine(TMorv& morv, const TConnectTarget& target) {
    bool connected = false;
    morv.OnConnect = [&connected](TMorv*) { connected = true; };
    if (morv.ConnectTo(target) != E_SUCCESS)
        Fail(QStringLiteral("could not connect to karo-sim"));
    WaitFor([&] { return connected; }, 10000, "the connection");
}

} // namespace bench
