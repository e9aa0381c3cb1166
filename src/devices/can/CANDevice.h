// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/ByteQueue.h"
#include "devices/DeviceComponent.h"
#include "devices/can/HandOver.h"
#include "devices/can/platform/CanLib.h"

#include <QThread>

#include <atomic>
#include <condition_variable>
#include <mutex>

class QTimer;

// Waits on the library for frames of the receive identifier, puts their bytes into the
// transport's queue and hands every data notification to the user-interface thread, waiting
// until it has been taken up there (see THandOver). A receive failure goes over through a
// one-shot timer.
class TCANRxThread : public QThread {
    Q_OBJECT
public:
    static constexpr int ErrorTimerInterval = 50;
    static constexpr std::int32_t RxBatch = 64; // frames one read may take

    // Starts at once. Raises "rx queue not assigned" without a queue.
    TCANRxThread(TDevice* device, TByteQueue* queue, TCanHandle handle,
                 TDevice::TDataAvailableEvent onData, TDevice::TErrorEvent onError);
    ~TCANRxThread() override;

    // User-interface thread: asks the loop to end and waits until it has, still running the
    // hand-overs it waits for. No data notification is raised any more once this began.
    void Stop();
    // Deletes the object once none of its hand-overs is running any more; Close may come from
    // inside one of them.
    void Release();

    TStat ErrorCode() const { return FErrorCode; }
    QTimer* ErrorTimer() const { return FErrorTimer; }

protected:
    void run() override;

private:
    // `count`: the queue's bytes once the frame was in.
    void DataHandOver(std::int32_t count);
    void ErrorHandOver();
    void SleepUntilStopped();
    void LeaveHandOver();

    TByteQueue* FQueue;
    TCanHandle FHandle;
    std::atomic<TStat> FErrorCode{E_SUCCESS};
    TDevice::TDataAvailableEvent FOnData;
    TDevice::TErrorEvent FOnError;
    TDevice* FDevice;
    QTimer* FErrorTimer;

    THandOver FHandOver;
    std::atomic<bool> FStopping{false};
    int FInHandOver = 0; // user-interface thread
    bool FReleased = false;
    std::mutex FSleepMutex;
    std::condition_variable FSleepCv;
};

// The gripper over a CAN bus used as a byte pipe: frames of at most 8 bytes go out with the
// target identifier, and the data of frames with the target identifier + 1 forms the byte
// stream that comes back.
class TCANDevice : public TDevice {
    Q_OBJECT
public:
    static constexpr int QueueSize = 512;
    static constexpr int LibraryQueueSize = 64;
    static constexpr int LibraryTimeout = 1000; // ms, transmit and receive
    static constexpr std::uint32_t DefaultBitrateCode = 4;

    explicit TCANDevice(QObject* owner);
    ~TCANDevice() override;

    bool IsOpen() override;
    // Opens "Net n", or a bus named directly ("virtualcan:can0"), without asking.
    TStat OpenWith(const QString& PortName, const TCanSettings& params);
    std::int32_t BytesAvailable() override;
    std::int32_t Read(std::uint8_t* Buffer, std::int32_t Count) override;
    TStat Write(const std::uint8_t* Buffer, std::int32_t Count) override;
    // "Net n" for every net 0 to 20 that opens, or the single entry "not installed".
    void GetPortList(QStringList& Items) override;
    // The net, the bus it stands for and the target identifier: "Net 0 (virtualcan:can0),
    // identifier 100".
    QString Address() const override;

    // What the parameters were last confirmed as; the target identifier is offered again.
    const TCanSettings& Params() const { return FParams; }
    TCanHandle Handle() const { return FHandle; }
    std::int32_t TransmitId() const { return FTransmitId; }
    TCANRxThread* RxThread() const { return FRxThread; }
    TByteQueue& Queue() { return FQueue; }

protected:
    TCloseRules CloseRules() const override { return {false, E_NOT_OPENED}; }
    TStat RefusePort(const QString& PortName) override;
    // The bit rate is offered at 250 kBit/s every time; the identifier as last chosen.
    std::optional<TDeviceSettings> OfferedSettings() const override;
    TStat OpenChosen(const QString& PortName, const TDeviceSettings* chosen) override;
    TStat OpenHook() override;
    void CloseHook(bool wasOpen) override;

private:
    void ReleaseHandle();

    TCanSettings FParams;
    QString FPortName; // of the open under way
    TCANRxThread* FRxThread = nullptr;
    TByteQueue FQueue{QueueSize};
    TCanHandle FHandle = -1;
    std::int32_t FTransmitId = 0;
};
