// SPDX-License-Identifier: Apache-2.0
// Command log: cost of one append at the start and after 200 000 entries, the time of a
// full re-render of 200 000 entries after an option change, and the heap taken per entry when
// the log is full (1 000 000 entries) and keeps dropping its oldest. Each is measured with time
// stamps off and on; the second runs stamp entries as a session at 30 packets a second would,
// with a round trip on every reply.
#include "diagnostics/CommLogForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QProcess>
#include <QScrollBar>

#include <cstdio>
#include <malloc.h>

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

// A session's clock: 30 packets a second from 05:00 on, a round trip on every second reply.
TLogStamp SessionStamp(int i, bool received) {
    return {1765170000000LL + i * 33LL, received && i % 2 == 0 ? 5 + i % 40 : -1};
}

void Append(TCommLog& log, int i, bool received, bool stamped) {
    if (stamped)
        log.LogStampedPacket(SamplePacket(i), received, SessionStamp(i, received));
    else
        log.LogPacket(SamplePacket(i), received);
}

double Run(bool visible, bool stamped) {
    TCommLog log;
    log.resize(800, 500);
    if (visible)
        log.show();
    if (stamped)
        log.cbTimeStamps->click();
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
            Append(log, i, i % 3 != 0 || i % 2 == 0, stamped);
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

    std::printf("%s window, time stamps %s, %d entries\n", visible ? "visible" : "hidden",
                stamped ? "on" : "off", total);
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

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

void MeasureMemory(bool stamped) {
    TCommLog log;
    QCoreApplication::processEvents();
    const int capacity = log.Capacity();
    const std::size_t before = HeapInUse();
    for (int i = 0; i < capacity; ++i) {
        Append(log, i, i % 3 != 0 || i % 2 == 0, stamped);
        if (i % 1000 == 999)
            QCoreApplication::processEvents(); // as between packets in the running program
    }
    QCoreApplication::processEvents();
    const std::size_t full = HeapInUse();
    QElapsedTimer t;
    t.start();
    constexpr int more = 200000;
    for (int i = 0; i < more; ++i) {
        Append(log, capacity + i, true, stamped);
        if (i % 1000 == 999)
            QCoreApplication::processEvents();
    }
    const double dropUs = static_cast<double>(t.nsecsElapsed()) / 1000.0 / more;
    const std::size_t after = HeapInUse();
    std::printf("memory, hidden window, %s, capacity %d entries\n",
                stamped ? "session clock" : "entries stamped when logged", capacity);
    std::printf("  full log: %.1f MB heap, %.1f bytes per entry (payloads of 3 to 6 bytes)\n",
                static_cast<double>(full - before) / 1e6,
                static_cast<double>(full - before) / capacity);
    std::printf("  %d more entries: %d kept, %d dropped, heap %+.1f MB, %.2f us per append\n", more,
                log.Count(), log.Dropped(),
                (static_cast<double>(after) - static_cast<double>(full)) / 1e6, dropUs);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // Each heap figure in a fresh process: what one run leaves in the allocator skews the next.
    if (argc == 3 && qstrcmp(argv[1], "--memory") == 0) {
        MeasureMemory(qstrcmp(argv[2], "session") == 0);
        return 0;
    }
    for (const bool stamped : {false, true}) {
        Run(false, stamped);
        Run(true, stamped);
    }
    std::fflush(stdout);
    for (const char* clock : {"logged", "session"}) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--memory"), QString::fromLatin1(clock)});
        child.waitForFinished(-1);
    }
    return 0;
}
