// SPDX-License-Identifier: Apache-2.0
#include "MemoryDevice.h"

#include "TestSupport.h"
#include "engine/CommandComponent.h"

#include <QMetaObject>
#include <QTimer>

#include <algorithm>

TMemoryDevice::TMemoryDevice(QObject* owner, const QString& shortName, const QString& displayName)
    : TDevice(owner, shortName, displayName) {}

TMemoryDevice::~TMemoryDevice() {
    BeginDestroy();
    FOpen = false;
}

TByteArray TMemoryDevice::Written() const {
    TByteArray all;
    for (const TByteArray& w : Writes)
        all.insert(all.end(), w.begin(), w.end());
    return all;
}

void TMemoryDevice::Feed(const TByteArray& bytes) {
    FInput.insert(FInput.end(), bytes.begin(), bytes.end());
    DoDataAvailable(Pending());
}

void TMemoryDevice::FeedLater(const TByteArray& bytes) {
    QMetaObject::invokeMethod(
        this, [this, bytes] { Feed(bytes); }, Qt::QueuedConnection);
}

void TMemoryDevice::Announce(std::int32_t count) {
    DoDataAvailable(count);
}

void TMemoryDevice::RaiseError(TStat code) {
    DoError(code);
}

void TMemoryDevice::ConfirmConnection() {
    ReportUsable();
    ConnectTimer()->stop();
    DoConnect();
}

void TMemoryDevice::DropConnection() {
    FOpen = false;
    ConnectTimer()->stop();
    ReportLost(E_SUCCESS);
}

TStat TMemoryDevice::OpenChosen(const QString& PortName, const TDeviceSettings*) {
    ++OpenCalls;
    LastPortName = PortName;
    if (FOpen)
        Close();
    if (OpenResult != E_SUCCESS)
        return OpenResult;
    return OpenTransport();
}

TStat TMemoryDevice::OpenHook() {
    FOpen = true;
    FInput.clear();
    // Otherwise the connection stays pending until ConfirmConnection.
    if (AutoConfirm)
        ReportUsable();
    return E_SUCCESS;
}

void TMemoryDevice::CloseHook(bool) {
    ++CloseCalls;
    FOpen = false;
}

std::int32_t TMemoryDevice::BytesAvailable() {
    return FOpen ? Pending() : 0;
}

std::int32_t TMemoryDevice::Read(std::uint8_t* Buffer, std::int32_t Count) {
    ReadRequests.push_back(Count);
    if (!FOpen)
        return -1;
    const std::int32_t n = std::max(0, std::min(Count, Pending()));
    std::copy_n(FInput.begin(), n, Buffer);
    FInput.erase(FInput.begin(), FInput.begin() + n);
    return n;
}

TStat TMemoryDevice::Write(const std::uint8_t* Buffer, std::int32_t Count) {
    if (!FOpen)
        return E_NOT_OPENED;
    TByteArray bytes(Buffer, Buffer + std::max(0, Count));
    Writes.push_back(bytes);
    if (OnWritten)
        OnWritten(bytes);
    return WriteResult;
}

void TMemoryDevice::GetPortList(QStringList& Items) {
    Items = Ports;
}

int DeviceIndex(TCommand* cmd, const QString& displayName) {
    for (int i = 0; i < cmd->DeviceCount(); ++i)
        if (cmd->Devices(i)->DisplayName() == displayName)
            return i;
    return -1;
}

bool TPickPrompts::SelectDevice(IDeviceList& list, int& index, QString& port) {
    if (!Confirm)
        return false;
    QStringList ports;
    list.Devices(Index)->GetPortList(ports);
    index = Index;
    port = ports.contains(Port) ? Port : ports.value(0);
    return true;
}
