// SPDX-License-Identifier: Apache-2.0
#include "devices/can/CANDevice.h"

#include "devices/can/platform/CanNets.h"
#include "protocol/Errors.h"

#include <QTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <span>

namespace {
const QString kNotInstalled = QStringLiteral("not installed");
} // namespace

TCANRxThread::TCANRxThread(TDevice* device, TByteQueue* queue, TCanHandle handle,
                           TDevice::TDataAvailableEvent onData, TDevice::TErrorEvent onError)
    : FQueue(queue), FHandle(handle), FOnData(std::move(onData)), FOnError(std::move(onError)),
      FDevice(device), FErrorTimer(new QTimer(this)) {
    FErrorTimer->setSingleShot(true);
    FErrorTimer->setInterval(ErrorTimerInterval);
    connect(FErrorTimer, &QTimer::timeout, this, &TCANRxThread::ErrorHandOver);
    if (!FQueue)
        throw EKaroError(QStringLiteral("rx queue not assigned"));
    start();
}

TCANRxThread::~TCANRxThread() {
    Stop();
}

void TCANRxThread::Stop() {
    FStopping = true;
    requestInterruption();
    { std::lock_guard lock(FSleepMutex); }
    FSleepCv.notify_all();
    FHandOver.WaitForWorker();
    wait();
}

void TCANRxThread::run() {
    FErrorCode = E_SUCCESS;
    while (!isInterruptionRequested()) {
        // As many frames as the byte queue has room for, in one hand-over: one hand-over per
        // frame costs two thread switches, and at a full bus's 9 000 frames a second the
        // library's receive queue overflowed behind them.
        std::array<TCanMsg, RxBatch> msgs;
        const std::int32_t room = (FQueue->Size() - 1 - FQueue->Count()) / 8;
        std::int32_t count = std::clamp<std::int32_t>(room, 1, RxBatch);
        const std::int32_t result = canRead(FHandle, msgs.data(), &count, nullptr);
        if (result == CAN_SUCCESS && count >= 1) {
            for (const TCanMsg& msg : std::span(msgs.data(), std::min(count, RxBatch)))
                for (int i = 0; i < std::min<int>(msg.len, 8); ++i)
                    FQueue->Put(msg.data[i]); // a full queue drops the byte
            const std::int32_t queued = FQueue->Count();
            FHandOver.Run([this, queued] { DataHandOver(queued); });
        } else if (result == CAN_SUCCESS || result == CAN_RX_TIMEOUT || result == CAN_ABORTED) {
            continue;
        } else {
            FErrorCode = E_READ_ERROR;
            QMetaObject::invokeMethod(FErrorTimer, qOverload<>(&QTimer::start),
                                      Qt::QueuedConnection);
            SleepUntilStopped();
            break;
        }
    }
    FHandOver.WorkerDone();
}

void TCANRxThread::SleepUntilStopped() {
    std::unique_lock lock(FSleepMutex);
    while (!isInterruptionRequested())
        FSleepCv.wait_for(lock, std::chrono::milliseconds(100));
}

void TCANRxThread::DataHandOver(std::int32_t count) {
    // A closing transport drains the hand-over without raising anything.
    if (FStopping || !FOnData)
        return;
    ++FInHandOver;
    FOnData(FDevice, count);
    LeaveHandOver();
}

void TCANRxThread::ErrorHandOver() {
    FErrorTimer->stop();
    if (!FOnError)
        return;
    ++FInHandOver;
    FOnError(FDevice, FErrorCode);
    LeaveHandOver();
}

void TCANRxThread::LeaveHandOver() {
    if (--FInHandOver == 0 && FReleased)
        deleteLater();
}

void TCANRxThread::Release() {
    FReleased = true;
    if (FInHandOver == 0)
        deleteLater();
}

TCANDevice::TCANDevice(QObject* owner)
    : TDevice(owner, QStringLiteral("can"), QStringLiteral("CAN-Bus")) {
    FParams.BitrateCode = DefaultBitrateCode;
}

TCANDevice::~TCANDevice() {
    BeginDestroy();
    Close();
}

bool TCANDevice::IsOpen() {
    return FRxThread != nullptr && FHandle != -1;
}

TStat TCANDevice::RefusePort(const QString& PortName) {
    if (CanNets::NetNumber(PortName) || CanNets::IsBusName(PortName))
        return E_SUCCESS;
    SetLastErrorText(QStringLiteral("no CAN net is installed"));
    return E_NOT_FOUND;
}

QString TCANDevice::Address() const {
    if (FPortName.isEmpty())
        return {};
    const auto net = CanNets::NetNumber(FPortName);
    const QString bus = net ? CanNets::BusOf(*net) : QString();
    return QStringLiteral("%1%2, identifier %3")
        .arg(FPortName, bus.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(bus))
        .arg(FParams.TargetId);
}

std::optional<TDeviceSettings> TCANDevice::OfferedSettings() const {
    TCanSettings offered = FParams;
    offered.BitrateCode = static_cast<int>(DefaultBitrateCode);
    return offered;
}

TStat TCANDevice::OpenChosen(const QString& PortName, const TDeviceSettings* chosen) {
    return OpenWith(PortName, std::get<TCanSettings>(*chosen));
}

TStat TCANDevice::OpenWith(const QString& PortName, const TCanSettings& params) {
    if (const TStat refused = RefusePort(PortName); refused != E_SUCCESS)
        return refused;
    FParams = params;
    FPortName = PortName;
    return OpenTransport();
}

TStat TCANDevice::OpenHook() {
    ReleaseHandle(); // what a refused open may have left
    const auto net = CanNets::NetNumber(FPortName);
    const std::int32_t target = FParams.TargetId;

    const std::int32_t opened = net ? canOpen(*net, 0, LibraryQueueSize, LibraryQueueSize,
                                              LibraryTimeout, LibraryTimeout, &FHandle)
                                    : canOpenBus(FPortName, 0, LibraryQueueSize, LibraryQueueSize,
                                                 LibraryTimeout, LibraryTimeout, &FHandle);
    if (opened != CAN_SUCCESS) {
        FHandle = -1;
        SetLastErrorText(net && CanNets::BusOf(*net).isEmpty()
                             ? QStringLiteral("no bus is configured for this net")
                             : QStringLiteral("the bus did not open (no such device, or "
                                              "not up)"));
        return E_IO_ERROR;
    }
    if (canSetBaudrate(FHandle, static_cast<std::uint32_t>(FParams.BitrateCode)) != CAN_SUCCESS) {
        const QString why = canErrorText(FHandle);
        SetLastErrorText(why.isEmpty() ? QStringLiteral("bit rate refused") : why);
        ReleaseHandle();
        if (!why.isEmpty() && Prompts())
            Prompts()->ShowError(why);
        return E_INVALID_PARAMETER;
    }
    if (target < 0 || canIdAdd(FHandle, target + 1) != CAN_SUCCESS) {
        SetLastErrorText(QStringLiteral("receive identifier %1 refused").arg(target + 1));
        ReleaseHandle();
        return E_INSUFFICIENT_RESOURCES;
    }
    if (FRxThread)
        throw EKaroError(QStringLiteral("rx thread was already assigned"));
    // Bytes of an earlier connection must not come before the first reply of this one.
    FQueue.Clear();
    // A receive failure is handed over on this thread while the handle is still held.
    auto onError = [this, report = OnError](TDevice* sender, TStat code) {
        const QString why = FHandle != -1 ? canErrorText(FHandle) : QString();
        SetLastErrorText(why.isEmpty() ? QStringLiteral("the bus failed") : why);
        if (report)
            report(sender, code);
    };
    FRxThread = new TCANRxThread(this, &FQueue, FHandle, OnDataAvailable, onError);
    FRxThread->setParent(this);
    FTransmitId = target;
    ReportUsable();
    return E_SUCCESS;
}

void TCANDevice::ReleaseHandle() {
    if (FHandle == -1)
        return;
    canClose(FHandle);
    FHandle = -1;
}

void TCANDevice::CloseHook(bool /*wasOpen*/) {
    if (FHandle == -1)
        return;
    if (FRxThread) {
        TCANRxThread* thread = FRxThread;
        FRxThread = nullptr;
        thread->requestInterruption();
        canIoctl(FHandle, CAN_IOCTL_ABORT_RX, nullptr);
        canIoctl(FHandle, CAN_IOCTL_ABORT_RX, nullptr);
        thread->Stop();
        thread->Release();
    }
    ReleaseHandle();
}

std::int32_t TCANDevice::BytesAvailable() {
    return IsOpen() ? FQueue.Count() : 0;
}

std::int32_t TCANDevice::Read(std::uint8_t* Buffer, std::int32_t Count) {
    if (!IsOpen())
        return -1;
    return FQueue.Read(Buffer, Count);
}

TStat TCANDevice::Write(const std::uint8_t* Buffer, std::int32_t Count) {
    if (!IsOpen())
        return E_NOT_OPENED;
    if (Count < 0 || (Count > 0 && !Buffer))
        return E_WRITE_ERROR;
    std::int32_t pos = 0;
    while (Count - pos > 0) {
        TCanMsg msg;
        msg.id = FTransmitId;
        msg.len = static_cast<std::uint8_t>(std::min<std::int32_t>(8, Count - pos));
        std::memcpy(msg.data, Buffer + pos, msg.len);
        std::int32_t frames = 1;
        if (canSend(FHandle, &msg, &frames) != CAN_SUCCESS)
            return E_WRITE_ERROR;
        pos += msg.len;
    }
    return E_SUCCESS;
}

void TCANDevice::GetPortList(QStringList& Items) {
    Items.clear();
    // Opening a virtual bus nobody hosts would host it here, and the server would outlive the
    // question: only a bus the settings name is tried; the machine's own are listed as found.
    const bool named = CanNets::NamedInSettings();
    for (const auto& [net, bus] : CanNets::NetMap()) {
        if (!named && bus.startsWith(QLatin1String("virtualcan:"))) {
            Items << QStringLiteral("Net %1").arg(net);
            continue;
        }
        TCanHandle handle = -1;
        if (canOpen(net, 0, LibraryQueueSize, LibraryQueueSize, LibraryTimeout, LibraryTimeout,
                    &handle) == CAN_SUCCESS) {
            Items << QStringLiteral("Net %1").arg(net);
            canClose(handle);
        }
    }
    if (Items.isEmpty())
        Items << kNotInstalled;
}
