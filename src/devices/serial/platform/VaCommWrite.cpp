// SPDX-License-Identifier: Apache-2.0
#include "devices/serial/platform/VaComm.h"
#include "devices/serial/platform/VaCommThreads.h"

#include "protocol/Tick.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

using namespace VaCommDetail;

namespace {
// Pause between retries of a write the device refuses.
constexpr int kRetryPauseMs = 100;
} // namespace

void TVaComm::TVaCommWriteThread::run() {
    TVaComm& c = FComm;
    for (;;) {
        const std::uint8_t* data = nullptr;
        int n = 0;
        {
            std::unique_lock<std::mutex> lock(c.FWriteLock);
            c.FWriteChanged.wait(lock, [&] { return c.FStopWriting || c.FDataPending; });
            if (c.FStopWriting)
                break;
            data = c.FWriteBuffer->Data();
            n = c.FWriteBuffer->Count();
            if (n == 0) {
                c.FDataPending = false;
                continue;
            }
        }
        // Only this thread removes bytes, and appending never moves them.
        int written = 0;
        const int e = c.FPort.Write(data, n, written);
        if (e) {
            if (TSerialPort::IsGone(e)) {
                c.PostGone(FGeneration);
                break;
            }
            c.HandOver([&c] { c.ErrorCheck(); });
            // The bytes stay buffered; try again a little later (a failing adapter would
            // otherwise keep the user-interface thread busy with error checks).
            std::unique_lock<std::mutex> lock(c.FWriteLock);
            if (c.FWriteChanged.wait_for(lock, std::chrono::milliseconds(kRetryPauseMs),
                                         [&] { return c.FStopWriting; }))
                break;
            continue;
        }
        if (written == 0) {
            const auto w = c.FPort.WaitWritable(-1);
            if (w == TSerialPort::TWait::Woken)
                break;
            if (w == TSerialPort::TWait::Hangup) {
                c.PostGone(FGeneration);
                break;
            }
            continue;
        }
        bool empty = false;
        {
            std::lock_guard<std::mutex> lock(c.FWriteLock);
            c.FWriteBuffer->RemoveFront(written);
            empty = c.FWriteBuffer->Count() == 0;
            // Reset under the lock, so bytes appended meanwhile keep it set.
            if (empty)
                c.FDataPending = false;
        }
        c.FWriteChanged.notify_all();
        if (empty && !c.HandOver([&c] {
                if (c.OnTxEmpty)
                    c.OnTxEmpty(&c);
            }))
            break;
    }
    std::lock_guard<std::mutex> lock(c.FJobLock);
    --c.FWorkersRunning;
    c.FJobChanged.notify_all();
}

int TVaComm::WriteData(const std::uint8_t* buffer, int count) {
    if (!IsOpen() || !buffer || count <= 0)
        return 0;
    return FDirectWrite ? WriteDirect(buffer, count) : WriteThroughThread(buffer, count);
}

int TVaComm::WriteThroughThread(const std::uint8_t* buffer, int count) {
    std::unique_lock<std::mutex> lock(FWriteLock);
    const std::uint32_t start = GetTickCount();
    const auto timeout = static_cast<std::uint32_t>(std::max(0, FBuffers.WriteTimeout()));
    while (!FWriteBuffer || FWriteBuffer->Count() + count > FWriteBuffer->Capacity()) {
        const std::uint32_t elapsed = GetTickCount() - start;
        if (!FWriteBuffer || elapsed >= timeout)
            throw EVaCommError(QStringLiteral("Output buffer is full. Please check comm status."));
        FWriteChanged.wait_for(lock, std::chrono::milliseconds(std::min(timeout - elapsed, 50u)));
    }
    FWriteBuffer->Append(buffer, count);
    FDataPending = true;
    lock.unlock();
    FWriteChanged.notify_all();
    return count;
}

int TVaComm::WriteDirect(const std::uint8_t* buffer, int count) {
    std::lock_guard<std::mutex> lock(FWriteLock);
    const std::uint32_t start = GetTickCount();
    const auto timeout = static_cast<std::uint32_t>(std::max(0, FBuffers.WriteTimeout()));
    int done = 0;
    while (done < count) {
        int written = 0;
        if (const int e = FPort.Write(buffer + done, count - done, written)) {
            if (TSerialPort::IsGone(e)) {
                PostGone(FGeneration);
                return done;
            }
            Raise(QStringLiteral("Write error (%1), %2"), e);
        }
        done += written;
        const std::uint32_t elapsed = GetTickCount() - start;
        if (done < count) {
            if (elapsed >= timeout)
                return 0; // no completion within the time-out
            if (FPort.WaitWritable(static_cast<int>(timeout - elapsed)) !=
                TSerialPort::TWait::Ready)
                return 0;
        }
    }
    return done;
}
