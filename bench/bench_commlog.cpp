// Command log: cost of one append at the start and after 200 000 entries, and the time of a
// full re-render of 200 000 entries after an option change.
#include "diagnostics/CommLogForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QScrollBar>

#include <cstdio>

namespace {

// The mix of an automatic-update session: position, system state and grasping state replies.
TPacket SamplePacket(int i) {
    TPacket p;
    switch (i % 3) {
    case 0:
        p.ID = 0x43;
        p.Data = {0x00, 0x00, 0x00, 0x00, 0x48, 0x42};
        break;
    case 1:
        p.ID = 0x40;
        p.Data = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
        break;
    default:
        p.ID = 0x41;
        p.Data = {0x00, 0x00, 0x04};
        break;
    }
    p.Length = static_cast<int>(p.Data.size());
    return p;
}

double Run(bool visible) {
    TCommLog log;
    log.resize(800, 500);
    if (visible)
        log.show();
    QCoreApplication::processEvents();

    constexpr int total = 200000;
    constexpr int block = 1000;
    double firstBlockUs = 0, lastBlockUs = 0, worstBlockUs = 0;
    QElapsedTimer all;
    all.start();
    for (int start = 0; start < total; start += block) {
        QElapsedTimer t;
        t.start();
        for (int i = start; i < start + block; ++i)
            log.LogPacket(SamplePacket(i), i % 3 != 0 || i % 2 == 0);
        const double us = static_cast<double>(t.nsecsElapsed()) / 1000.0 / block;
        if (start == 0)
            firstBlockUs = us;
        if (start + block == total)
            lastBlockUs = us;
        worstBlockUs = std::max(worstBlockUs, us);
        QCoreApplication::processEvents(); // paints, as between packets in the running program
    }
    const double appendAllMs = static_cast<double>(all.nsecsElapsed()) / 1e6;

    QElapsedTimer r;
    r.start();
    log.cbShowIDDescr->click(); // re-renders every entry
    const double renderMs = static_cast<double>(r.nsecsElapsed()) / 1e6;
    QElapsedTimer p;
    p.start();
    QCoreApplication::processEvents();
    const double paintMs = static_cast<double>(p.nsecsElapsed()) / 1e6;
    r.restart();
    log.cbEvaluateErrorCodes->click();
    QCoreApplication::processEvents();
    const double render2Ms = static_cast<double>(r.nsecsElapsed()) / 1e6;

    // Marking everything formats every line once, the most a single operator action costs.
    QElapsedTimer m;
    m.start();
    log.RxMsgMemo->SelectAll();
    const qsizetype chars = log.RxMsgMemo->SelectedText().size();
    const double selectAllMs = static_cast<double>(m.nsecsElapsed()) / 1e6;

    std::printf("%s window, %d entries\n", visible ? "visible" : "hidden", total);
    std::printf("  append: first 1000 %.1f us/entry, last 1000 %.1f us/entry, worst block "
                "%.1f us/entry, all %.0f ms\n",
                firstBlockUs, lastBlockUs, worstBlockUs, appendAllMs);
    std::printf("  re-render (descriptors on): %.0f ms, then first event pass %.0f ms\n", renderMs,
                paintMs);
    std::printf("  re-render (both options on) incl. event pass: %.0f ms, %d lines\n", render2Ms,
                log.Count());
    std::printf("  mark all and fetch its text: %.0f ms, %lld characters\n", selectAllMs,
                static_cast<long long>(chars));
    return renderMs + paintMs;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    Run(false);
    Run(true);
    return 0;
}
