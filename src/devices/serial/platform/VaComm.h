// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/serial/platform/SerialPort.h"
#include "protocol/Errors.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

class QThread;

// Every error the serial port component raises.
class EVaCommError : public EKaroError {
public:
    using EKaroError::EKaroError;
};

enum TVaBaudrate {
    brUser,
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
    br128000,
    br256000
};
enum TVaParity { paNone, paOdd, paEven, paMark, paSpace };
enum TVaDatabits { db4, db5, db6, db7, db8 };
enum TVaStopbits { sb1, sb15, sb2 };
enum TVaCommOption { coErrorChar, coNullStrip, coParityCheck };
enum TVaControlDtr { dtrDisabled, dtrEnabled, dtrHandshake };
enum TVaControlRts { rtsDisabled, rtsEnabled, rtsHandshake, rtsToggle };
enum TVaCommEvent {
    ceBreak,
    ceCts,
    ceDsr,
    ceError,
    ceRing,
    ceRlsd,
    ceRxChar,
    ceTxEmpty,
    ceRxFlag,
    cePErr,
    ceRx80Full,
    ceEvent1,
    ceEvent2
};
enum TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };
using TVaCommOptions = std::set<TVaCommOption>;
using TVaCommEvents = std::set<TVaCommEvent>;

// Port event flags.
inline constexpr std::uint32_t EV_RXCHAR = 0x0001;
inline constexpr std::uint32_t EV_RXFLAG = 0x0002;
inline constexpr std::uint32_t EV_TXEMPTY = 0x0004;
inline constexpr std::uint32_t EV_CTS = 0x0008;
inline constexpr std::uint32_t EV_DSR = 0x0010;
inline constexpr std::uint32_t EV_RLSD = 0x0020;
inline constexpr std::uint32_t EV_BREAK = 0x0040;
inline constexpr std::uint32_t EV_ERR = 0x0080;
inline constexpr std::uint32_t EV_RING = 0x0100;
inline constexpr std::uint32_t EV_PERR = 0x0200;
inline constexpr std::uint32_t EV_RX80FULL = 0x0400;
inline constexpr std::uint32_t EV_EVENT1 = 0x0800;
inline constexpr std::uint32_t EV_EVENT2 = 0x1000;

std::uint32_t VaEventFlag(TVaCommEvent event);
// Bits per second; 0 for brUser.
std::uint32_t VaBaudrateValue(TVaBaudrate rate);

// Settings object of the component: reports each change once, or once per update.
class TVaPersistent {
public:
    virtual ~TVaPersistent() = default;
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();

    // Set by the owning component: may refuse a change by raising, is told of every change.
    std::function<void()> OnChanging;
    std::function<void()> OnChange;

protected:
    void Changing() const;
    void Changed();

private:
    int FUpdateCount = 0;
};

class TVaBuffers : public TVaPersistent {
public:
    int ReadSize() const { return FReadSize; }
    int WriteSize() const { return FWriteSize; }
    int ReadTimeout() const { return FReadTimeout; }
    int WriteTimeout() const { return FWriteTimeout; }
    int XonLimit() const { return FXonLimit; }
    int XoffLimit() const { return FXoffLimit; }
    void SetReadSize(int v) { Set(FReadSize, v); }
    void SetWriteSize(int v) { Set(FWriteSize, v); }
    // Plain values, taken at their next use.
    void SetReadTimeout(int v) { FReadTimeout = v; }
    void SetWriteTimeout(int v) { FWriteTimeout = v; }
    void SetXonLimit(int v) { Set(FXonLimit, v); }
    void SetXoffLimit(int v) { Set(FXoffLimit, v); }
    void Assign(const TVaBuffers& other);

private:
    void Set(int& field, int v);
    int FReadSize = 4096;
    int FWriteSize = 2048;
    int FReadTimeout = 1000;
    int FWriteTimeout = 1000;
    int FXonLimit = 1024;
    int FXoffLimit = 1024;
};

class TVaEventChars : public TVaPersistent {
public:
    std::uint8_t XonChar() const { return FChars[0]; }
    std::uint8_t XoffChar() const { return FChars[1]; }
    std::uint8_t ErrorChar() const { return FChars[2]; }
    std::uint8_t EventChar() const { return FChars[3]; }
    std::uint8_t EofChar() const { return FChars[4]; }
    void SetXonChar(std::uint8_t v) { Set(0, v); }
    void SetXoffChar(std::uint8_t v) { Set(1, v); }
    void SetErrorChar(std::uint8_t v) { Set(2, v); }
    void SetEventChar(std::uint8_t v) { Set(3, v); }
    void SetEofChar(std::uint8_t v) { Set(4, v); }
    void Assign(const TVaEventChars& other);

private:
    void Set(int index, std::uint8_t v);
    std::uint8_t FChars[5] = {17, 19, 0, 0, 0};
};

class TVaFlowControl : public TVaPersistent {
public:
    bool OutCtsFlow() const { return FOutCtsFlow; }
    bool OutDsrFlow() const { return FOutDsrFlow; }
    TVaControlDtr ControlDtr() const { return FControlDtr; }
    TVaControlRts ControlRts() const { return FControlRts; }
    bool XonXoffOut() const { return FXonXoffOut; }
    bool XonXoffIn() const { return FXonXoffIn; }
    bool DsrSensitivity() const { return FDsrSensitivity; }
    bool TxContinueOnXoff() const { return FTxContinueOnXoff; }
    void SetOutCtsFlow(bool v) { Set(FOutCtsFlow, v); }
    void SetOutDsrFlow(bool v) { Set(FOutDsrFlow, v); }
    void SetControlDtr(TVaControlDtr v) { Set(FControlDtr, v); }
    void SetControlRts(TVaControlRts v) { Set(FControlRts, v); }
    void SetXonXoffOut(bool v) { Set(FXonXoffOut, v); }
    void SetXonXoffIn(bool v) { Set(FXonXoffIn, v); }
    void SetDsrSensitivity(bool v) { Set(FDsrSensitivity, v); }
    void SetTxContinueOnXoff(bool v) { Set(FTxContinueOnXoff, v); }
    void Assign(const TVaFlowControl& other);

private:
    template <typename T> void Set(T& field, T v) {
        if (field == v)
            return;
        field = v;
        Changed();
    }
    bool FOutCtsFlow = false;
    bool FOutDsrFlow = false;
    TVaControlDtr FControlDtr = dtrDisabled;
    TVaControlRts FControlRts = rtsDisabled;
    bool FXonXoffOut = false;
    bool FXonXoffIn = false;
    bool FDsrSensitivity = false;
    bool FTxContinueOnXoff = false;
};

// The write buffer: fixed capacity, filled at the end, emptied from the front.
class TVaCommBuffer {
public:
    explicit TVaCommBuffer(int capacity) : FData(static_cast<std::size_t>(capacity)) {}
    int Capacity() const { return static_cast<int>(FData.size()); }
    int Count() const { return FCount; }
    const std::uint8_t* Data() const { return FData.data(); }
    void Append(const std::uint8_t* bytes, int count);
    void RemoveFront(int count);

private:
    std::vector<std::uint8_t> FData;
    int FCount = 0;
};

// The serial port component: opens a port, writes its line settings, runs an event thread that
// hands port events to the user-interface thread and a write thread that drains a bounded write
// buffer. Every operation and every notification runs on the user-interface thread.
class TVaComm : public QObject {
    Q_OBJECT
public:
    using TNotifyEvent = std::function<void(TVaComm* sender)>;
    using TRxCharEvent = std::function<void(TVaComm* sender, int count)>;
    using TErrorEvent = std::function<void(TVaComm* sender, std::uint32_t errors)>;
    using TRxBufEvent = std::function<void(TVaComm* sender, const std::uint8_t* buffer, int count)>;

    explicit TVaComm(QObject* owner = nullptr);
    ~TVaComm() override;

    // Settings. Setters of settings refused while open raise "Can't perform this operation
    // while port is open"; line settings are written to an open port at once.
    bool AutoOpen() const { return FAutoOpen; }
    void SetAutoOpen(bool v) { FAutoOpen = v; }
    TVaBaudrate Baudrate() const { return FBaudrate; }
    void SetBaudrate(TVaBaudrate v);
    TVaParity Parity() const { return FParity; }
    void SetParity(TVaParity v);
    TVaDatabits Databits() const { return FDatabits; }
    void SetDatabits(TVaDatabits v);
    TVaStopbits Stopbits() const { return FStopbits; }
    void SetStopbits(TVaStopbits v);
    TVaEventChars& EventChars() { return FEventChars; }
    TVaFlowControl& FlowControl() { return FFlowControl; }
    const TVaCommOptions& Options() const { return FOptions; }
    void SetOptions(const TVaCommOptions& v);
    int PortNum() const { return FPortNum; }
    void SetPortNum(int v);
    const QString& DeviceName() const { return FDeviceName; }
    void SetDeviceName(const QString& v);
    const TVaCommEvents& MonitorEvents() const { return FMonitorEvents; }
    void SetMonitorEvents(const TVaCommEvents& v);
    TVaBuffers& Buffers() { return FBuffers; }
    TThreadPriority EventPriority() const { return FEventPriority; }
    void SetEventPriority(TThreadPriority v);
    TThreadPriority WritePriority() const { return FWritePriority; }
    void SetWritePriority(TThreadPriority v);
    bool DirectWrite() const { return FDirectWrite; }
    void SetDirectWrite(bool v);
    bool UpdateDCB() const { return FUpdateDCB; }
    void SetUpdateDCB(bool v);
    int UserBaudrate() const { return FUserBaudrate; }
    void SetUserBaudrate(int v);

    // How a port name that is not a device path (such as "COM3") reaches a device; empty when
    // it names none. Without it only device paths open.
    std::function<QString(const QString& name)> ResolvePortName;

    // The name as opened and as error messages show it: DeviceName with PortNum, then resolved.
    QString PortName() const;
    // The event mask OpenPort hands to the event thread.
    std::uint32_t EventMask() const;

    void OpenPort();
    void ClosePort();
    bool IsOpen() const { return FPort.IsOpen(); }
    // The system's error number of the latest OpenPort that failed to open the device (ENOENT
    // for a name that reaches none), 0 after one that opened it.
    int LastOpenError() const { return FLastOpenError; }
    int ReadData(std::uint8_t* buffer, int count);
    int WriteData(const std::uint8_t* buffer, int count);
    int InputCount();
    int OutputCount();

    TNotifyEvent OnOpen;
    TNotifyEvent OnClose;
    TRxCharEvent OnRxChar;
    TErrorEvent OnError;
    TNotifyEvent OnRxFlag, OnCts, OnDsr, OnRing, OnRlsd, OnTxEmpty, OnBreak, OnPErr, OnRx80Full,
        OnEvent1, OnEvent2;
    TRxBufEvent OnRxBuf; // for attached readers; none exist here

    // The background threads running now (0 to 2).
    int ThreadCount() const;
    // Hand-overs waiting for the user-interface thread.
    int PendingHandOvers();
    // How long ClosePort pauses at its end; tests shorten it.
    int ClosePause = 300;

private:
    class TVaCommEventThread;
    class TVaCommWriteThread;
    friend class TVaCommEventThread;
    friend class TVaCommWriteThread;

    void RefuseWhileOpen() const;
    void ApplyLine();
    void Raise(const QString& pattern, int error) const;

    // Hand-over to the user-interface thread: a worker calls HandOver and blocks until the
    // job ran there or the port is closing; the user-interface thread runs pending jobs from
    // its event loop, and also while it waits for the workers to end.
    // With `untilRead`, the worker is also released once the job has read input: a handler
    // that waits for a reply inside the job (handlers nest) then still hears of the reply.
    bool HandOver(std::function<void()> job, bool untilRead = false);
    void RunPendingJobs();
    struct TJob;
    // Runs a job taken from the queue and tells its worker that it is done.
    void RunJob(TJob& job);
    void WaitForWorkers();
    // The device went away: close from the event loop, never from a worker.
    void PostGone(unsigned generation);

    void DeliverEvents(std::uint32_t flags);
    void ErrorCheck();
    int WriteThroughThread(const std::uint8_t* buffer, int count);
    int WriteDirect(const std::uint8_t* buffer, int count);

    bool FAutoOpen = false;
    TVaBaudrate FBaudrate = br1200;
    TVaParity FParity = paNone;
    TVaDatabits FDatabits = db8;
    TVaStopbits FStopbits = sb1;
    TVaEventChars FEventChars;
    TVaFlowControl FFlowControl;
    TVaCommOptions FOptions;
    int FPortNum = 0;
    QString FDeviceName = QStringLiteral("COM%d");
    TVaCommEvents FMonitorEvents{ceError, ceRxChar, ceTxEmpty};
    TVaBuffers FBuffers;
    TThreadPriority FEventPriority = tpNormal;
    TThreadPriority FWritePriority = tpHighest;
    bool FDirectWrite = false;
    bool FUpdateDCB = true;
    int FUserBaudrate = 0;

    TSerialPort FPort;
    std::uint32_t FMask = 0;
    bool FDestroying = false;
    bool FClosing = false;
    int FLastOpenError = 0;
    unsigned FGeneration = 0; // counts opens, so a late report of a gone device is ignored

    std::recursive_mutex FReadLock;

    // Write lock and what it guards.
    std::mutex FWriteLock;
    std::condition_variable FWriteChanged;
    std::unique_ptr<TVaCommBuffer> FWriteBuffer;
    bool FDataPending = false;
    bool FStopWriting = false;

    // Hand-over state.
    std::mutex FJobLock;
    std::condition_variable FJobChanged;
    struct TJob {
        std::function<void()> Run;
        bool Started = false;
        bool Done = false;
    };
    std::deque<std::shared_ptr<TJob>> FJobs;
    bool FStopping = false;       // workers may no longer hand over
    std::uint64_t FBytesRead = 0; // by ReadData, over the component's life
    int FWorkersRunning = 0;

    std::unique_ptr<TVaCommEventThread> FEventThread;
    std::unique_ptr<TVaCommWriteThread> FWriteThread;
};
