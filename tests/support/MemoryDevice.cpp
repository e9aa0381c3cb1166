#include "MemoryDevice.h"

#include "TestSupport.h"
#include "dialogs/DeviceDialog.h"
#include "dialogs/DialogPrompts.h"
#include "engine/CommandComponent.h"

#include <QApplication>
#include <QComboBox>
#include <QMetaObject>
#include <QPushButton>
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

void AnswerDeviceDialog(int deviceIndex, bool confirm, const QString& port) {
    WhenModal<TDeviceDlg>([deviceIndex, confirm, port](TDeviceDlg* dlg) {
        auto* devices = dlg->findChild<QComboBox*>(QStringLiteral("cbDevice"));
        if (deviceIndex != devices->currentIndex()) {
            devices->setCurrentIndex(deviceIndex);
            Q_EMIT devices->activated(deviceIndex);
        }
        auto* ports = dlg->findChild<QComboBox*>(QStringLiteral("cbDevicePort"));
        if (!port.isEmpty() && ports->findText(port) >= 0)
            ports->setCurrentIndex(ports->findText(port));
        dlg->findChild<QPushButton*>(confirm ? QStringLiteral("btnConnect")
                                             : QStringLiteral("btnCancel"))
            ->click();
    });
}

int DeviceIndex(TCommand* cmd, const QString& displayName) {
    for (int i = 0; i < cmd->DeviceCount(); ++i)
        if (cmd->Devices(i)->DisplayName() == displayName)
            return i;
    return -1;
}

void InstallDialogPrompts(TCommand* cmd) {
    struct Holder : QObject {
        using QObject::QObject;
        TDialogPrompts Prompts;
    };
    auto* holder = new Holder(cmd);
    cmd->SetPrompts(&holder->Prompts);
}
