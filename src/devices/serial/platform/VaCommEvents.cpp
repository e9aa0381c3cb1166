// SPDX-License-Identifier: Apache-2.0
#include "devices/serial/platform/VaComm.h"
#include "devices/serial/platform/VaCommThreads.h"

#include <QCoreApplication>

#include <cerrno>

using namespace VaCommDetail;

namespace {
// An idle port is looked at this often for bytes nobody has read yet and for hang-ups.
constexpr int kStalePollMs = 20;
} // namespace

void TVaComm::TVaCommEventThread::run() {
    TSerialPort& port = FComm.FPort;
    // poll reports input for as long as it is queued, a port event only once. After a
    // hand-over that consumed nothing, the thread waits for the queue to grow instead.
    const bool wantRx = FMask & EV_RXCHAR;
    bool stale = !wantRx;
    int seen = 0;
    while (!Stop) {
        const auto w = stale ? port.WaitHangup(kStalePollMs) : port.WaitReadable(-1);
        if (Stop || w == TSerialPort::TWait::Woken)
            break;
        if (w == TSerialPort::TWait::Hangup || w == TSerialPort::TWait::Failed) {
            FComm.PostGone(FGeneration);
            break;
        }
        int count = 0;
        if (const int e = port.InputCount(count)) {
            if (TSerialPort::IsGone(e)) {
                FComm.PostGone(FGeneration);
                break;
            }
            stale = true;
            continue;
        }
        std::uint32_t flags = 0;
        if (wantRx && count > 0 && (!stale || count > seen))
            flags |= EV_RXCHAR;
        if (FMask & (EV_ERR | EV_BREAK)) {
            std::uint32_t errors = 0;
            port.LineErrors(errors, false);
            if (errors & ~TSerialPort::CE_BREAK)
                flags |= FMask & EV_ERR;
            if (errors & TSerialPort::CE_BREAK)
                flags |= FMask & EV_BREAK;
        }
        if ((FMask & EV_RX80FULL) && count * 5 >= FComm.FBuffers.ReadSize() * 4 &&
            (!stale || count > seen))
            flags |= EV_RX80FULL;
        if (wantRx && stale && count < seen)
            seen = count; // read outside of an event
        if (wantRx && stale && count == 0)
            stale = false;
        if (!flags)
            continue;
        std::uint64_t readBefore = 0;
        {
            std::lock_guard<std::mutex> lock(FComm.FJobLock);
            readBefore = FComm.FBytesRead;
        }
        if (!FComm.HandOver([c = &FComm, flags] { c->DeliverEvents(flags); }, true))
            break;
        int after = 0;
        port.InputCount(after);
        bool consumed = false;
        {
            std::lock_guard<std::mutex> lock(FComm.FJobLock);
            consumed = FComm.FBytesRead != readBefore;
        }
        stale = !wantRx || (after > 0 && !consumed);
        seen = after;
    }
    std::lock_guard<std::mutex> lock(FComm.FJobLock);
    --FComm.FWorkersRunning;
    FComm.FJobChanged.notify_all();
}

void TVaComm::DeliverEvents(std::uint32_t flags) {
    if (flags & EV_RXCHAR) {
        const int count = InputCount();
        if (count > 0 && OnRxChar)
            OnRxChar(this, count);
        flags &= ~EV_RXCHAR;
    }
    if (!flags)
        return;
    if (flags & EV_ERR)
        ErrorCheck();
    const std::pair<std::uint32_t, TNotifyEvent*> handlers[] = {
        {EV_RXFLAG, &OnRxFlag}, {EV_CTS, &OnCts},       {EV_DSR, &OnDsr},
        {EV_RING, &OnRing},     {EV_RLSD, &OnRlsd},     {EV_TXEMPTY, &OnTxEmpty},
        {EV_BREAK, &OnBreak},   {EV_PERR, &OnPErr},     {EV_RX80FULL, &OnRx80Full},
        {EV_EVENT1, &OnEvent1}, {EV_EVENT2, &OnEvent2},
    };
    for (const auto& [flag, slot] : handlers)
        if ((flags & flag) && *slot)
            (*slot)(this);
}

void TVaComm::ErrorCheck() {
    std::uint32_t errors = 0;
    {
        std::lock_guard<std::recursive_mutex> lock(FReadLock);
        if (!IsOpen())
            return;
        if (const int e = FPort.LineErrors(errors, true))
            Raise(QStringLiteral("Error retrieving statistics (%1), %2"), e);
    }
    if (errors && OnError) {
        try {
            OnError(this, errors);
        } catch (...) {
            PassToApplication(std::current_exception());
        }
    }
}
