// karo-cli: one gripper command from a terminal or a script, without a display.

#include "cli/CliArgs.h"
#include "cli/CliRunner.h"
#include "devices/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>
#include <QSocketNotifier>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

int SignalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char c = 1;
    // Only async-signal-safe work here; the event loop does the rest.
    [[maybe_unused]] const ssize_t n = write(SignalPipe[1], &c, 1);
}

// SIGINT and SIGTERM end a monitor cleanly instead of killing the process.
bool CatchStopSignals() {
    if (pipe2(SignalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return false;
    struct sigaction sa = {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    return sigaction(SIGINT, &sa, nullptr) == 0 && sigaction(SIGTERM, &sa, nullptr) == 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // The virtual CAN bus reports its sockets at info level; standard error is for our errors.
    QLoggingCategory::setFilterRules(QStringLiteral("qt.canbus.plugins.*.info=false"));
    QCoreApplication::setApplicationName(QStringLiteral("karo-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KARO_VERSION));
    // One settings home with the Commander, so its COMn ports and CAN nets work here too.
    SetProgramDirectory(CommanderDirectoryFor(QCoreApplication::applicationDirPath()));

    const TCliParse parse = ParseCliArguments(QCoreApplication::arguments().mid(1));
    switch (parse.Kind) {
    case TCliParse::Help:
        std::fputs(CliUsage, stdout);
        std::printf("\nSettings files (shared with karo-commander): %s\n"
                    "  uart.cfg maps COMn names to devices, can.cfg net numbers to buses;\n"
                    "  tcp.cfg and udp.cfg keep the last connection's settings.\n",
                    qPrintable(QDir::toNativeSeparators(SettingsDirectory(false))));
        return ExitSuccess;
    case TCliParse::Version:
        std::printf("karo-cli %s\n", KARO_VERSION);
        return ExitSuccess;
    case TCliParse::Invalid:
        std::fprintf(stderr, "karo-cli: %s\n", parse.Error.toUtf8().constData());
        return ExitUsage;
    case TCliParse::Run:
        break;
    }

    TCliRunner runner(parse.Request, stdout, stderr);
    std::unique_ptr<QSocketNotifier> stopNotifier;
    if (parse.Request.Command == TCliCommand::Monitor && CatchStopSignals()) {
        stopNotifier = std::make_unique<QSocketNotifier>(SignalPipe[0], QSocketNotifier::Read);
        QObject::connect(stopNotifier.get(), &QSocketNotifier::activated, [&runner] {
            char c = 0;
            while (read(SignalPipe[0], &c, 1) > 0) {
            }
            runner.Interrupt();
        });
    }
    return runner.Run();
}
