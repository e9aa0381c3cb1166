// SPDX-License-Identifier: Apache-2.0
// karo-soak-window: the real main window (offscreen) against karo-sim under injected faults,
// clicked through by a simulated operator; prints the figures. Exits 1 when the window is left
// with a box open or unusable.

#include "WindowRun.h"
#include "ui/KaroApplication.h"

#include <QCommandLineParser>

#include <cstdio>

using namespace soak;

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TKaroApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Clicks through the main window against karo-sim under injected faults."));
    parser.addHelpOption();
    const QCommandLineOption linkOpt(QStringLiteral("link"),
                                     QStringLiteral("tcp, udp, serial or can."),
                                     QStringLiteral("link"), QStringLiteral("tcp"));
    const QCommandLineOption commandsOpt(QStringLiteral("commands"),
                                         QStringLiteral("Clicks under drop 0.05, corrupt 0.01."),
                                         QStringLiteral("n"), QStringLiteral("1000"));
    const QCommandLineOption seedOpt(QStringLiteral("seed"), QStringLiteral("Seed."),
                                     QStringLiteral("n"), QStringLiteral("1"));
    parser.addOptions({linkOpt, commandsOpt, seedOpt});
    parser.process(app);
    const auto link = LinkFromName(parser.value(linkOpt));
    if (!link) {
        std::fprintf(stderr, "karo-soak-window: unknown link %s\n",
                     qPrintable(parser.value(linkOpt)));
        return 2;
    }
    TRunOptions options;
    options.Link = *link;
    options.Commands = parser.value(commandsOpt).toInt();
    options.Seed = parser.value(seedOpt).toUInt();
    options.Progress = [](int done) {
        if (done % 100 == 0)
            std::fprintf(stderr, "  %d clicks\n", done);
    };
    const TWindowFigures f = RunWindow(options);
    std::printf("window %s (drop %g, corrupt %g, seed %u)\n", qPrintable(LinkName(*link)),
                options.DropRate, options.CorruptRate, options.Seed);
    std::printf("  commands %d, error boxes closed %d, other dialogs answered %d, max settle "
                "%lld ms, reconnects %d\n",
                f.Commands, f.ErrorBoxes, f.OtherDialogs, static_cast<long long>(f.MaxSettleMs),
                f.Reconnects);
    for (const QString& text : f.BoxTexts)
        std::printf("    box: %s\n", qPrintable(text));
    std::printf("  boxes left open %d, usable at end %s, next connection %s, RSS after 100 %lld "
                "KiB, at end %lld KiB\n",
                f.BoxesLeftOpen, f.Usable ? "yes" : "no", f.NextConnectionWorks ? "works" : "FAILS",
                static_cast<long long>(f.RssAfter100 / 1024),
                static_cast<long long>(f.RssEnd / 1024));
    const QStringList faults = WindowFaults(f);
    std::printf("  => window %s: %s\n", qPrintable(LinkName(*link)),
                faults.isEmpty()
                    ? "PASS"
                    : qPrintable(QStringLiteral("FAIL: ") + faults.join(QStringLiteral("; "))));
    return faults.isEmpty() ? 0 : 1;
}
