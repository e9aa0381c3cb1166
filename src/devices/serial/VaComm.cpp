#include "devices/serial/VaComm.h"

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

// An idle port is looked at this often for bytes nobody has read yet and for hang-ups.
constexpr int kStalePollMs = 20;
// Pause between retries of a write the device refuses.
constexpr int kRetryPauseMs = 100;

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

} // namespace

std::uint32_t VaEventFlag(TVaCommEvent event) {
    switch (event) {
    case ceBreak:
        return EV_BREAK;
    case ceCts:
        return EV_CTS;
    case ceDsr:
        return EV_DSR;
    case ceError:
        return EV_ERR;
    case ceRing:
        return EV_RING;
    case ceRlsd:
        return EV_RLSD;
    case ceRxChar:
        return EV_RXCHAR;
    case ceTxEmpty:
        return EV_TXEMPTY;
    case ceRxFlag:
        return EV_RXFLAG;
    case cePErr:
        return EV_PERR;
    case ceRx80Full:
        return EV_RX80FULL;
    case ceEvent1:
        return EV_EVENT1;
    case ceEvent2:
        return EV_EVENT2;
    }
    return 0;
}

std::uint32_t VaBaudrateValue(TVaBaudrate rate) {
    static constexpr std::uint32_t values[] = {0,     110,    300,    600,   1200,  2400,
                                               4800,  9600,   14400,  19200, 38400, 56000,
                                               57600, 115200, 128000, 256000};
    const auto i = static_cast<std::size_t>(rate);
    return i < std::size(values) ? values[i] : 0;
}

// ---- settings objects

void TVaPersistent::EndUpdate() {
    if (FUpdateCount > 0)
        --FUpdateCount;
    if (FUpdateCount == 0 && OnChange)
        OnChange();
}

void TVaPersistent::Changing() const {
    if (OnChanging)
        OnChanging();
}

void TVaPersistent::Changed() {
    if (FUpdateCount == 0 && OnChange)
        OnChange();
}

void TVaBuffers::Set(int& field, int v) {
    if (field == v)
        return;
    Changing();
    field = v;
    Changed();
}

void TVaBuffers::Assign(const TVaBuffers& other) {
    BeginUpdate();
    SetReadSize(other.FReadSize);
    SetWriteSize(other.FWriteSize);
    SetReadTimeout(other.FReadTimeout);
    SetWriteTimeout(other.FWriteTimeout);
    SetXonLimit(other.FXonLimit);
    SetXoffLimit(other.FXoffLimit);
    EndUpdate();
}

void TVaEventChars::Set(int index, std::uint8_t v) {
    if (FChars[index] == v)
        return;
    FChars[index] = v;
    Changed();
}

void TVaEventChars::Assign(const TVaEventChars& other) {
    BeginUpdate();
    for (int i = 0; i < 5; ++i)
        Set(i, other.FChars[i]);
    EndUpdate();
}

void TVaFlowControl::Assign(const TVaFlowControl& other) {
    BeginUpdate();
    SetOutCtsFlow(other.FOutCtsFlow);
    SetOutDsrFlow(other.FOutDsrFlow);
    SetControlDtr(other.FControlDtr);
    SetControlRts(other.FControlRts);
    SetXonXoffOut(other.FXonXoffOut);
    SetXonXoffIn(other.FXonXoffIn);
    SetDsrSensitivity(other.FDsrSensitivity);
    SetTxContinueOnXoff(other.FTxContinueOnXoff);
    EndUpdate();
}

void TVaCommBuffer::Append(const std::uint8_t* bytes, int count) {
    std::memcpy(FData.data() + FCount, bytes, static_cast<std::size_t>(count));
    FCount += count;
}

void TVaCommBuffer::RemoveFront(int count) {
    count = std::min(count, FCount);
    std::memmove(FData.data(), FData.data() + count, static_cast<std::size_t>(FCount - count));
    FCount -= count;
}

// ---- threads

class TVaComm::TVaCommEventThread : public QThread {
public:
    TVaCommEventThread(TVaComm& comm, std::uint32_t mask, unsigned generation)
        : FComm(comm), FMask(mask), FGeneration(generation) {}
    std::atomic<bool> Stop{false};

protected:
    void run() override;

private:
    TVaComm& FComm;
    std::uint32_t FMask;
    unsigned FGeneration;
};

class TVaComm::TVaCommWriteThread : public QThread {
public:
    TVaCommWriteThread(TVaComm& comm, unsigned generation) : FComm(comm), FGeneration(generation) {}

protected:
    void run() override;

private:
    TVaComm& FComm;
    unsigned FGeneration;
};

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

void TVaComm::SetBaudrate(TVaBaudrate v) {
    if (v == FBaudrate)
        return;
    FBaudrate = v;
    if (v != brUser)
        FUserBaudrate = 0;
    ApplyLine();
}

void TVaComm::SetUserBaudrate(int v) {
    if (v == FUserBaudrate)
        return;
    FUserBaudrate = v;
    FBaudrate = brUser;
    ApplyLine();
}

void TVaComm::SetParity(TVaParity v) {
    if (v == FParity)
        return;
    FParity = v;
    ApplyLine();
}

void TVaComm::SetDatabits(TVaDatabits v) {
    if (v == FDatabits)
        return;
    FDatabits = v;
    ApplyLine();
}

void TVaComm::SetStopbits(TVaStopbits v) {
    if (v == FStopbits)
        return;
    FStopbits = v;
    ApplyLine();
}

void TVaComm::SetOptions(const TVaCommOptions& v) {
    FOptions = v;
    ApplyLine();
}

void TVaComm::SetPortNum(int v) {
    RefuseWhileOpen();
    FPortNum = v;
}

void TVaComm::SetDeviceName(const QString& v) {
    RefuseWhileOpen();
    FDeviceName = v;
}

void TVaComm::SetMonitorEvents(const TVaCommEvents& v) {
    RefuseWhileOpen();
    FMonitorEvents = v;
}

void TVaComm::SetEventPriority(TThreadPriority v) {
    if (v == FEventPriority)
        return;
    FEventPriority = v;
    if (FEventThread)
        FEventThread->setPriority(QtPriority(v));
}

void TVaComm::SetWritePriority(TThreadPriority v) {
    if (v == FWritePriority)
        return;
    FWritePriority = v;
    if (FWriteThread)
        FWriteThread->setPriority(QtPriority(v));
}

void TVaComm::SetDirectWrite(bool v) {
    RefuseWhileOpen();
    FDirectWrite = v;
}

void TVaComm::SetUpdateDCB(bool v) {
    RefuseWhileOpen();
    FUpdateDCB = v;
}

QString TVaComm::PortName() const {
    QString name = FDeviceName;
    const int at = name.indexOf(QLatin1String("%d"));
    if (at >= 0)
        name.replace(at, 2, QString::number(FPortNum));
    if (name.startsWith(QLatin1Char('/')) || !ResolvePortName)
        return name;
    const QString path = ResolvePortName(name);
    return path.isEmpty() ? name : path;
}

std::uint32_t TVaComm::EventMask() const {
    std::uint32_t mask = 0;
    for (TVaCommEvent e : FMonitorEvents)
        mask |= VaEventFlag(e);
    // The write thread reports the end of its own writing.
    if (!FDirectWrite)
        mask &= ~EV_TXEMPTY;
    return mask;
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
    // A name that reaches no device is a device not found; a relative name would open a file.
    if (!name.startsWith(QLatin1Char('/')))
        throw EVaCommError(QStringLiteral("Specified device not found (%1).").arg(name));
    if (const int e = FPort.Open(QFile::encodeName(name))) {
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
    for (;;) {
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
