// SPDX-License-Identifier: Apache-2.0
// karo-soak-editor: the command editor of the real console (offscreen) auto-sending to karo-sim
// for a given time, with the resident memory sampled every minute. Exits 1 when memory grew by
// more than the allowance from the first minute's sample to the last, or sends failed. Each
// sample also shows the heap in use and the command log's share of it: the log keeps every
// packet, so it grows with the sends by design.

#include "FaultRun.h"
#include "app/Commander.h"
#include "diagnostics/CustomCmdForm.h"
#include "ui/KaroApplication.h"
#include "ui/MainForm.h"
#include "widgets/IntegerEdit.h"

#include <QCheckBox>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <malloc.h>

using namespace soak;

int main(int argc, char* argv[]) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TKaroApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Auto-sends from the command editor to karo-sim and samples memory."));
    parser.addHelpOption();
    const QCommandLineOption minutesOpt(QStringLiteral("minutes"), QStringLiteral("Run time."),
                                        QStringLiteral("n"), QStringLiteral("60"));
    const QCommandLineOption intervalOpt(QStringLiteral("interval"),
                                         QStringLiteral("Auto-send interval in ms."),
                                         QStringLiteral("ms"), QStringLiteral("50"));
    const QCommandLineOption allowOpt(QStringLiteral("allow-kib"),
                                      QStringLiteral("Growth allowed after the first minute."),
                                      QStringLiteral("KiB"), QStringLiteral("2048"));
    // The log keeps every packet up to its capacity by design; a smaller one shows whether
    // anything else grows.
    const QCommandLineOption logOpt(QStringLiteral("log-capacity"),
                                    QStringLiteral("Entries the command log keeps (0: as set)."),
                                    QStringLiteral("n"), QStringLiteral("0"));
    parser.addOptions({minutesOpt, intervalOpt, allowOpt, logOpt});
    parser.process(app);
    const int minutes = std::max(2, parser.value(minutesOpt).toInt());
    const qint64 allow = parser.value(allowOpt).toLongLong() * 1024;

    QTemporaryDir settings;
    SetSettingsDirectory(settings.path());
    TSimTarget sim(TLink::Tcp, {});
    if (!sim.Start()) {
        std::fprintf(stderr, "karo-soak-editor: simulator: %s\n", qPrintable(sim.ErrorString()));
        return 2;
    }
    const TCommander console;
    TMainWin& w = console.Win();
    w.show();
    if (!ConnectAndWait(*w.Gripper(), sim.Target())) {
        std::fprintf(stderr, "karo-soak-editor: cannot connect\n");
        return 2;
    }
    // The initialization the window runs on connecting ends before the editor starts.
    QTest::qWait(2000);
    if (const int capacity = parser.value(logOpt).toInt(); capacity > 0)
        w.CommandLog()->SetCapacity(capacity);
    TCustomCmd* ed = w.CommandEditor();
    w.CustomCommands1Click();
    ed->edID->setText(QStringLiteral("0x40")); // the system state: answered at once
    ed->AutosendIntervalEdit->setValue(parser.value(intervalOpt).toInt());
    ed->cbAutosend->setChecked(true);

    std::printf("editor auto-send every %d ms for %d min (TCP), command log of %d entries\n",
                ed->AutosendIntervalEdit->value(), minutes, w.CommandLog()->Capacity());
    qint64 first = -1;
    qint64 last = -1;
    for (int m = 1; m <= minutes; ++m) {
        QTest::qWait(60 * 1000);
        last = ResidentBytes();
        if (m == 1)
            first = last;
        const TCustomCmd::TSendCounts& c = ed->Counts();
        const TLogStore& log = w.CommandLog()->Store();
        std::printf("  minute %2d: RSS %lld KiB, heap in use %zu KiB, command log %d entries "
                    "%zu KiB; sent %d, answered %d, failed %d\n",
                    m, static_cast<long long>(last / 1024), mallinfo2().uordblks / 1024,
                    log.Count(), log.Bytes() / 1024, c.Sent, c.Answered, c.Failed);
        std::fflush(stdout);
    }
    const TCustomCmd::TSendCounts& c = ed->Counts();
    std::printf("  %s\n", qPrintable(TCustomCmd::CountsText(c)));
    const qint64 growth = last - first;
    std::printf("  growth after the first minute %lld KiB (allowed %lld KiB)\n",
                static_cast<long long>(growth / 1024), static_cast<long long>(allow / 1024));
    const bool ok =
        growth <= allow && c.Failed == 0 && c.Answered > 0 && ed->cbAutosend->isChecked();
    std::printf("%s\n", ok ? "== editor soak: memory flat" : "== editor soak: FAIL");
    return ok ? 0 : 1;
}
