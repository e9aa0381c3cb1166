// SPDX-License-Identifier: Apache-2.0
#include "devices/serial/platform/VaComm.h"
#include "devices/serial/platform/VaCommThreads.h"

#include "protocol/Tick.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {
const QString kRefused = QStringLiteral("Can't perform this operation while port is open");
} // namespace

namespace VaCommDetail {

QThread::Priority QtPriority(TThreadPriority p) {
    switch (p) {
    case tpIdle:
        return QThread::IdlePriority;
    case tpLowest:
        return QThread::LowestPriority;
    case tpLower:
        return QThread::LowPriority;
    case tpNormal:
        return QThread::NormalPriority;
    case tpHigher:
        return QThread::HighPriority;
    case tpHighest:
        return QThread::HighestPriority;
    case tpTimeCritical:
        return QThread::TimeCriticalPriority;
    }
    return QThread::NormalPriority;
}

// Errors escaping a handler go to the application's handler, from its event loop.
void PassToApplication(std::exception_ptr e) {
    if (auto* app = QCoreApplication::instance())
        QTimer::singleShot(0, app, [e] { std::rethrow_exception(e); });
}

} // namespace VaCommDetail

using namespace VaCommDetail;

// ---- the component

TVaComm::TVaComm(QObject* owner) : QObject(owner) {
    FBuffers.OnChanging = [this] { RefuseWhileOpen(); };
    FEventChars.OnChange = [this] { ApplyLine(); };
    FFlowControl.OnChange = [this] { ApplyLine(); };
}

TVaComm::~TVaComm() {
    FDestroying = true;
    ClosePause = 0;
    ClosePort();
}

void TVaComm::RefuseWhileOpen() const {
    if (IsOpen())
        throw EVaCommError(kRefused);
}

void TVaComm::Raise(const QString& pattern, int error) const {
    throw EVaCommError(pattern.arg(error).arg(QString::fromLocal8Bit(std::strerror(error))));
}

void TVaComm::ApplyLine() {
    if (!IsOpen() || !FUpdateDCB)
        return;
    TSerialPort::TLine line;
    line.Baud = FBaudrate == brUser ? static_cast<std::uint32_t>(std::max(0, FUserBaudrate))
                                    : VaBaudrateValue(FBaudrate);
    line.DataBits = 4 + static_cast<int>(FDatabits);
    line.Parity = static_cast<int>(FParity);
    line.StopBits = static_cast<int>(FStopbits);
    line.CtsFlow = FFlowControl.OutCtsFlow();
    line.XonXoffOut = FFlowControl.XonXoffOut();
    line.XonXoffIn = FFlowControl.XonXoffIn();
    line.Dtr = static_cast<int>(FFlowControl.ControlDtr());
    line.Rts = static_cast<int>(FFlowControl.ControlRts());
    line.XonChar = FEventChars.XonChar();
    line.XoffChar = FEventChars.XoffChar();
    line.ParityCheck = FOptions.count(coParityCheck) > 0;
    if (const int e = FPort.SetLine(line))
        Raise(QStringLiteral("Error writing dcb (%1), %2"), e);
}

void TVaComm::OpenPort() {
    if (IsOpen())
        throw EVaCommError(kRefused);
    const QString name = PortName();
    FLastOpenError = ENOENT;
    // A name that reaches no device is a device not found; a relative name would open a file.
    if (!name.startsWith(QLatin1Char('/')))
        throw EVaCommError(QStringLiteral("Specified device not found (%1).").arg(name));
    FLastOpenError = FPort.Open(QFile::encodeName(name));
    if (const int e = FLastOpenError) {
        if (e == ENOENT)
            throw EVaCommError(QStringLiteral("Specified device not found (%1).").arg(name));
        throw EVaCommError(
            QStringLiteral("Can't open specified device %1").arg(name) +
            QStringLiteral(" (Error %1, %2)").arg(e).arg(QString::fromLocal8Bit(std::strerror(e))));
    }
    ++FGeneration;
    try {
        ApplyLine();
        // Queue sizes and time-outs need nothing here: reads never block, and the write
        // buffer below is the output queue.
        FMask = EventMask();
        {
            std::lock_guard<std::mutex> lock(FWriteLock);
            FWriteBuffer = std::make_unique<TVaCommBuffer>(std::max(1, FBuffers.WriteSize()));
            FDataPending = false;
            FStopWriting = false;
        }
        {
            std::lock_guard<std::mutex> lock(FJobLock);
            FStopping = false;
        }
        if (FMask != 0) {
            FEventThread = std::make_unique<TVaCommEventThread>(*this, FMask, FGeneration);
            {
                std::lock_guard<std::mutex> lock(FJobLock);
                ++FWorkersRunning;
            }
            FEventThread->start(QtPriority(FEventPriority));
        }
        if (!FDirectWrite) {
            FWriteThread = std::make_unique<TVaCommWriteThread>(*this, FGeneration);
            {
                std::lock_guard<std::mutex> lock(FJobLock);
                ++FWorkersRunning;
            }
            FWriteThread->start(QtPriority(FWritePriority));
        }
    } catch (...) {
        WaitForWorkers();
        FPort.Close();
        throw;
    }
    if (OnOpen) {
        try {
            OnOpen(this);
        } catch (...) {
            PassToApplication(std::current_exception());
        }
    }
}

void TVaComm::ClosePort() {
    if (!IsOpen() || FClosing)
        return;
    FClosing = true;
    {
        std::lock_guard<std::recursive_mutex> lock(FReadLock);
        WaitForWorkers();
    }
    FPort.Close();
    FClosing = false;
    {
        // What the write thread had not sent yet is gone with the port.
        std::lock_guard<std::mutex> lock(FWriteLock);
        FWriteBuffer.reset();
        FDataPending = false;
    }
    if (!FDestroying && OnClose)
        OnClose(this);
    if (ClosePause > 0)
        QThread::msleep(static_cast<unsigned long>(ClosePause));
}

int TVaComm::ThreadCount() const {
    return (FEventThread ? 1 : 0) + (FWriteThread ? 1 : 0);
}

// ---- hand-over

int TVaComm::PendingHandOvers() {
    std::lock_guard<std::mutex> lock(FJobLock);
    return static_cast<int>(FJobs.size());
}

bool TVaComm::HandOver(std::function<void()> job, bool untilRead) {
    auto j = std::make_shared<TJob>();
    j->Run = std::move(job);
    std::uint64_t readBefore = 0;
    {
        std::lock_guard<std::mutex> lock(FJobLock);
        if (FStopping)
            return false;
        FJobs.push_back(j);
        readBefore = FBytesRead;
    }
    QMetaObject::invokeMethod(
        this, [this] { RunPendingJobs(); }, Qt::QueuedConnection);
    std::unique_lock<std::mutex> lock(FJobLock);
    // A job that runs while the port closes may itself be what closes it: the closing side
    // then no longer waits for us, and we end.
    FJobChanged.wait(lock, [&] {
        return j->Done || (FStopping && j->Started) ||
               (untilRead && j->Started && FBytesRead != readBefore);
    });
    return !FStopping;
}

void TVaComm::RunJob(TJob& job) {
    try {
        job.Run();
    } catch (...) {
        PassToApplication(std::current_exception());
    }
    {
        std::lock_guard<std::mutex> lock(FJobLock);
        job.Done = true;
    }
    FJobChanged.notify_all();
}

void TVaComm::RunPendingJobs() {
    // Only the jobs queued by now: under a flood the event thread queues the next one while
    // this one still runs, and taking those too would keep the event loop from ever running.
    // Each job posted a call of its own, which takes it later.
    std::size_t queued = 0;
    {
        std::lock_guard<std::mutex> lock(FJobLock);
        queued = FJobs.size();
    }
    for (; queued > 0; --queued) {
        std::shared_ptr<TJob> j;
        {
            std::lock_guard<std::mutex> lock(FJobLock);
            if (FJobs.empty())
                return;
            j = FJobs.front();
            FJobs.pop_front();
            j->Started = true;
        }
        RunJob(*j);
    }
}

void TVaComm::WaitForWorkers() {
    {
        std::lock_guard<std::mutex> lock(FJobLock);
        FStopping = true;
    }
    FJobChanged.notify_all();
    if (FEventThread)
        FEventThread->Stop = true;
    {
        std::lock_guard<std::mutex> lock(FWriteLock);
        FStopWriting = true;
    }
    FWriteChanged.notify_all();
    FPort.Wake();
    // Keep running what the workers hand over until they have ended, or closing deadlocks.
    for (;;) {
        std::shared_ptr<TJob> j;
        {
            std::unique_lock<std::mutex> lock(FJobLock);
            FJobChanged.wait(lock, [&] { return !FJobs.empty() || FWorkersRunning == 0; });
            if (FJobs.empty())
                break;
            j = FJobs.front();
            FJobs.pop_front();
            j->Started = true;
        }
        RunJob(*j);
    }
    if (FEventThread)
        FEventThread->wait();
    if (FWriteThread)
        FWriteThread->wait();
    FEventThread.reset();
    FWriteThread.reset();
}

void TVaComm::PostGone(unsigned generation) {
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == FGeneration && IsOpen())
                ClosePort();
        },
        Qt::QueuedConnection);
}

// ---- events, reads and writes

int TVaComm::InputCount() {
    std::lock_guard<std::recursive_mutex> lock(FReadLock);
    if (!IsOpen())
        return 0;
    int count = 0;
    if (const int e = FPort.InputCount(count)) {
        if (TSerialPort::IsGone(e)) {
            PostGone(FGeneration);
            return 0;
        }
        Raise(QStringLiteral("Error retrieving statistics (%1), %2"), e);
    }
    std::uint32_t ignored = 0;
    FPort.LineErrors(ignored, true);
    return count;
}

int TVaComm::OutputCount() {
    if (!IsOpen())
        return 0;
    if (FDirectWrite) {
        std::lock_guard<std::recursive_mutex> lock(FReadLock);
        int count = 0;
        if (const int e = FPort.OutputCount(count)) {
            if (TSerialPort::IsGone(e))
                return 0;
            Raise(QStringLiteral("Error retrieving statistics (%1), %2"), e);
        }
        return count;
    }
    std::lock_guard<std::mutex> lock(FWriteLock);
    return FWriteBuffer ? FWriteBuffer->Count() : 0;
}

int TVaComm::ReadData(std::uint8_t* buffer, int count) {
    std::lock_guard<std::recursive_mutex> lock(FReadLock);
    if (!IsOpen() || !buffer || count <= 0)
        return 0;
    int got = 0;
    if (const int e = FPort.Read(buffer, count, got)) {
        if (TSerialPort::IsGone(e)) {
            PostGone(FGeneration);
            return 0;
        }
        Raise(QStringLiteral("Read error (%1), %2"), e);
    }
    if (got > 0) {
        {
            std::lock_guard<std::mutex> jobs(FJobLock);
            FBytesRead += static_cast<std::uint64_t>(got);
        }
        FJobChanged.notify_all();
    }
    return got;
}
