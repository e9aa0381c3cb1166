// SPDX-License-Identifier: Apache-2.0
// One-shot commands as a script runs them: a whole process per command against one karo-sim
// over TCP. Times the bare client (oneshot_client), `karo-cli info` and `karo-cli state`, each
// a whole process from spawn to exit, in turns so that the machine's load falls on all alike.
// With KARO_CLI_BEFORE naming another karo-cli build, that one runs in the same turns.
//
// Figures (medians of the runs, wall time and the child's CPU time):
//   cli_bare_ms, cli_info_ms, cli_state_ms, cli_before_info_ms, cli_before_state_ms and the
//   same names with _cpu_ms.

#include "BenchSupport.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

extern char** environ;

namespace {

constexpr int Runs = 41;

struct TSample {
    double WallMs = 0;
    double CpuMs = 0;
};

// Spawns the command, waits for it and fails the benchmark unless it exited 0.
TSample RunOnce(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0)
        bench::Fail(QStringLiteral("cannot start ") + QString::fromStdString(argv[0]));
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const auto t1 = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        bench::Fail(QStringLiteral("failed: ") + QString::fromStdString(argv[0]) +
                    QLatin1Char(' ') + QString::fromStdString(argv.back()));
    TSample s;
    s.WallMs = std::chrono::duration<double, std::milli>(t1 - t0).count();
    s.CpuMs = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
              static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
    return s;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

struct TSeries {
    std::string Name;
    std::vector<std::string> Argv;
    std::vector<double> Wall;
    std::vector<double> Cpu;
};

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    bench::TSim sim({QStringLiteral("--referenced")});
    const std::string port = std::to_string(sim.Port());
    const std::string target = "tcp://127.0.0.1:" + port;

    std::vector<TSeries> series{
        {"cli_bare", {KARO_ONESHOT_PATH, "127.0.0.1", port}, {}, {}},
        {"cli_info", {KARO_CLI_PATH, target, "info"}, {}, {}},
        {"cli_state", {KARO_CLI_PATH, target, "state"}, {}, {}},
    };
    if (const char* before = std::getenv("KARO_CLI_BEFORE"); before && *before) {
        series.push_back({"cli_before_info", {before, target, "info"}, {}, {}});
        series.push_back({"cli_before_state", {before, target, "state"}, {}, {}});
    }
    // One warm-up turn loads every binary into the page cache.
    for (TSeries& s : series)
        RunOnce(s.Argv);
    for (int i = 0; i < Runs; ++i) {
        for (TSeries& s : series) {
            const TSample sample = RunOnce(s.Argv);
            s.Wall.push_back(sample.WallMs);
            s.Cpu.push_back(sample.CpuMs);
        }
    }
    for (const TSeries& s : series) {
        bench::Figure((s.Name + "_ms").c_str(), Median(s.Wall), "ms");
        bench::Figure((s.Name + "_cpu_ms").c_str(), Median(s.Cpu), "ms");
    }
    return 0;
}
