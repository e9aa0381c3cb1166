// SPDX-License-Identifier: Apache-2.0
// karo-soak: the engine against karo-sim under injected faults, for as long as asked, printing
// the figures. Exits 1 when a run breaks one of the rules it checks.

#include "FaultRun.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

using namespace soak;

namespace {

QString KiB(qint64 bytes) {
    return bytes < 0 ? QStringLiteral("-") : QStringLiteral("%1 KiB").arg(bytes / 1024);
}

QString YesNo(bool b) {
    return b ? QStringLiteral("yes") : QStringLiteral("no");
}

void Print(const QString& line) {
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

bool Report(const QString& what, const QStringList& faults) {
    Print(QStringLiteral("  => %1: %2")
              .arg(what, faults.isEmpty()
                             ? QStringLiteral("PASS")
                             : QStringLiteral("FAIL: ") + faults.join(QStringLiteral("; "))));
    return faults.isEmpty();
}

bool Mixed(TLink link, int commands, std::uint32_t seed) {
    TRunOptions options;
    options.Link = link;
    options.Commands = commands;
    options.Seed = seed;
    options.Progress = [](int done) {
        if (done % 1000 == 0)
            std::fprintf(stderr, "  %d commands\n", done);
    };
    const TMixedFigures f = RunMixed(options);
    QStringList others;
    for (const auto& [code, count] : f.OtherCodes)
        others << QStringLiteral("%1x%2").arg(count).arg(code);
    QStringList early;
    for (const auto& [name, count] : f.FailedEarlyByCommand)
        early << QStringLiteral("%1x%2").arg(count).arg(name);
    const double settled = f.Commands ? 100.0 * f.Settled / f.Commands : 0.0;
    const double growth = f.RssAfter1000 > 0
                              ? 100.0 * double(f.RssEnd - f.RssAfter1000) / double(f.RssAfter1000)
                              : 0.0;
    Print(QStringLiteral("mixed %1 (drop %2, corrupt %3, seed %4)")
              .arg(LinkName(link))
              .arg(options.DropRate)
              .arg(options.CorruptRate)
              .arg(seed));
    Print(QStringLiteral("  commands %1, settled %2 %, succeeded %3, time-outs (18 after 3 s) "
                         "%4, 18 before the time-out %5%6, other codes %7")
              .arg(f.Commands)
              .arg(settled, 0, 'f', 2)
              .arg(f.Succeeded)
              .arg(f.TimedOut)
              .arg(f.FailedEarly)
              .arg(early.isEmpty() ? QString()
                                   : QStringLiteral(" (%1)").arg(early.join(QLatin1Char(' '))))
              .arg(others.isEmpty() ? QStringLiteral("none") : others.join(QLatin1Char(' '))));
    Print(QStringLiteral("  max settle %1 ms (%4; successes %2 ms), final motion results %3")
              .arg(f.MaxSettleMs)
              .arg(f.MaxSucceededMs)
              .arg(f.FinalResults)
              .arg(f.SlowestCommand));
    Print(QStringLiteral("  packets arrived %1, dispatched %2, left queued %3, duplicates %4, "
                         "connection losses %5")
              .arg(f.Arrived)
              .arg(f.Dispatched)
              .arg(f.LeftQueued)
              .arg(f.Duplicates)
              .arg(f.ConnectionLosses));
    Print(
        QStringLiteral("  RSS after 1000 %1, at end %2 (%3%4 %)")
            .arg(KiB(f.RssAfter1000), KiB(f.RssEnd), growth >= 0 ? QStringLiteral("+") : QString())
            .arg(growth, 0, 'f', 2));
    return Report(QStringLiteral("mixed %1").arg(LinkName(link)), MixedFaults(f, true));
}

bool Scenario(TScenario scenario, TLink link) {
    const TScenarioResult r = RunScenario(scenario, link);
    QStringList codes;
    for (int i = 0; i < r.Codes.size(); ++i)
        codes << QStringLiteral("%1 in %2 ms").arg(r.Codes[i]).arg(r.SettleMs.value(i));
    Print(QStringLiteral("scenario %1 %2: %3; connected at end %4, disconnect reported %5%6, "
                         "late reply dispatched %7, next connection %8")
              .arg(ScenarioName(scenario), LinkName(link), codes.join(QStringLiteral(", ")))
              .arg(YesNo(r.Connected))
              .arg(YesNo(r.Disconnected))
              .arg(r.DisconnectMs >= 0 ? QStringLiteral(" after %1 ms").arg(r.DisconnectMs)
                                       : QString())
              .arg(YesNo(r.LateReplyDispatched))
              .arg(r.NextConnectionWorks ? QStringLiteral("works") : QStringLiteral("FAILS")));
    return Report(QStringLiteral("%1 %2").arg(ScenarioName(scenario), LinkName(link)),
                  ScenarioFaults(scenario, link, r, true));
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs the command set against karo-sim under injected faults and "
                       "prints the figures."));
    parser.addHelpOption();
    const QCommandLineOption linksOpt(QStringLiteral("links"),
                                      QStringLiteral("Comma list of tcp, udp, serial, can."),
                                      QStringLiteral("list"), QStringLiteral("tcp,udp"));
    const QCommandLineOption commandsOpt(
        QStringLiteral("commands"),
        QStringLiteral("Mixed commands per link under drop 0.05 and corrupt 0.01 (0: none)."),
        QStringLiteral("n"), QStringLiteral("10000"));
    const QCommandLineOption seedOpt(QStringLiteral("seed"),
                                     QStringLiteral("Seed of the simulator and the mix."),
                                     QStringLiteral("n"), QStringLiteral("1"));
    const QCommandLineOption scenariosOpt(
        QStringLiteral("scenarios"),
        QStringLiteral("Comma list of delay-2900, delay-3100, silent-ids, disconnect-after, "
                       "killed, or all, or none."),
        QStringLiteral("list"), QStringLiteral("all"));
    parser.addOptions({linksOpt, commandsOpt, seedOpt, scenariosOpt});
    parser.process(app);

    QList<TLink> links;
    for (const QString& name : parser.value(linksOpt).split(QLatin1Char(','))) {
        const auto link = LinkFromName(name.trimmed());
        if (!link) {
            std::fprintf(stderr, "karo-soak: unknown link %s\n", qPrintable(name));
            return 2;
        }
        links << *link;
    }
    QList<TScenario> scenarios;
    const QString wanted = parser.value(scenariosOpt);
    if (wanted == QStringLiteral("all")) {
        scenarios = AllScenarios();
    } else if (wanted != QStringLiteral("none")) {
        for (const QString& name : wanted.split(QLatin1Char(','))) {
            const auto s = ScenarioFromName(name.trimmed());
            if (!s) {
                std::fprintf(stderr, "karo-soak: unknown scenario %s\n", qPrintable(name));
                return 2;
            }
            scenarios << *s;
        }
    }
    const int commands = parser.value(commandsOpt).toInt();
    const auto seed = parser.value(seedOpt).toUInt();

    bool ok = true;
    for (TLink link : links) {
        if (commands > 0)
            ok = Mixed(link, commands, seed) && ok;
        for (TScenario s : scenarios)
            ok = Scenario(s, link) && ok;
    }
    return ok ? 0 : 1;
}
