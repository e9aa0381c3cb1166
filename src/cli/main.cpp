// SPDX-License-Identifier: Apache-2.0
// karo-cli: one gripper command from a terminal or a script, without a display.

#include "cli/CliArgs.h"
#include "cli/CliRunner.h"
#include "cli/CliSignals.h"
#include "cli/CliTap.h"
#include "devices/IniFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QLoggingCategory>

#include <cstdio>

namespace {

// The commands that leave something running that a signal must not leave behind: a motion
// (also one sent by identifier) and the monitor's updates. The rest keep the default action.
bool StopsOnSignal(TCliCommand command) {
    switch (command) {
    case TCliCommand::Home:
    case TCliCommand::Move:
    case TCliCommand::Grasp:
    case TCliCommand::Release:
    case TCliCommand::Send:
    case TCliCommand::Monitor:
        return true;
    default:
        return false;
    }
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

    if (parse.Request.Command == TCliCommand::Tap) {
        TCliTap tap(parse.Request, stdout, stderr);
        TCliSignals tapSignals;
        if (tapSignals.Install())
            tapSignals.OnSignal = [&tap](int) { tap.Interrupt(); };
        return tap.Run();
    }
    TCliRunner runner(parse.Request, stdout, stderr);
    TCliSignals stopSignals;
    if (StopsOnSignal(parse.Request.Command) && stopSignals.Install())
        stopSignals.OnSignal = [&runner](int signalNumber) { runner.Interrupt(signalNumber); };
    return runner.Run();
}
