// SPDX-License-Identifier: Apache-2.0
#include "devices/DeviceComponent.h"

TDevice::TDevice(QObject* owner, const QString& shortName, const QString& displayName)
    : QObject(owner), FShortName(shortName), FDisplayName(displayName),
      FConnectTimer(new QTimer(this)) {
    setObjectName(shortName);
    Settings = std::make_unique<TIniFile>(SettingsFilePath(shortName + QStringLiteral(".cfg")));
    Settings->OnWriteError = [this](const QString& fileName) {
        if (FPrompts)
            FPrompts->ShowError(SettingsWriteErrorText(fileName));
    };
    FConnectTimer->setSingleShot(true);
    // A coarse timer may fire early, and OnConnect must never come before 50 ms.
    FConnectTimer->setTimerType(Qt::PreciseTimer);
    FConnectTimer->setInterval(ConnectTimerInterval);
    connect(FConnectTimer, &QTimer::timeout, this, &TDevice::ConnectTimerTick);
}

TDevice::~TDevice() {
    BeginDestroy();
}

void TDevice::GetPortList(QStringList& Items) {
    Items.clear();
}

TStat TDevice::Open(const QString& PortName) {
    FLastErrorText.clear();
    if (const TStat refused = RefusePort(PortName); refused != E_SUCCESS)
        return refused;
    std::optional<TDeviceSettings> chosen = OfferedSettings();
    if (chosen && (!FPrompts || !FPrompts->Edit(*chosen, PortName)))
        return E_CMD_ABORTED;
    return OpenChosen(PortName, chosen ? &*chosen : nullptr);
}

TStat TDevice::OpenTransport() {
    if (IsOpen())
        Close();
    FOpenConfirm = FConfirm;
    FState = TState::Connecting;
    FLastErrorText.clear();
    TStat status = E_IO_ERROR;
    try {
        status = OpenHook();
    } catch (...) {
        FState = TState::Unconnected;
        throw;
    }
    if (status != E_SUCCESS) {
        FState = TState::Unconnected;
        return status;
    }
    const bool atOnce = FOpenConfirm == TConfirm::WhenUsable && FState == TState::Connected;
    FConnectTimer->start(atOnce ? 0 : ConnectTimerInterval);
    return E_SUCCESS;
}

TStat TDevice::Close() {
    // No OnConnect for a transport closed before its tick.
    FConnectTimer->stop();
    const bool wasOpen = IsOpen();
    FState = TState::Closing;
    CloseHook(wasOpen);
    FState = TState::Unconnected;
    const TCloseRules rules = CloseRules();
    if (wasOpen || rules.ReportWhenNotOpen)
        DoDisconnect();
    return wasOpen ? E_SUCCESS : rules.ResultWhenNotOpen;
}

void TDevice::ReportUsable() {
    if (FState != TState::Connecting)
        return;
    FState = TState::Connected;
    // Inside Open the timer is started by OpenTransport, after Open's own work.
    if (FOpenConfirm == TConfirm::WhenUsable && FConnectTimer->isActive())
        FConnectTimer->start(0);
}

void TDevice::ReportFailed(TStat code) {
    if (FState == TState::Closing)
        return;
    FState = TState::Unconnected;
    DoError(code);
}

void TDevice::ReportLost(TStat code) {
    if (FState == TState::Closing)
        return;
    FState = TState::Unconnected;
    if (code == E_SUCCESS)
        DoDisconnect();
    else
        DoError(code);
}

void TDevice::ConnectTimerTick() {
    if (FState == TState::Connected)
        DoConnect();
    else
        FConnectTimer->start(ConnectTimerInterval);
}

void TDevice::DoDataAvailable(std::int32_t count) {
    if (OnDataAvailable && !FDestroying)
        OnDataAvailable(this, count);
}

void TDevice::DoError(TStat code) {
    if (OnError && !FDestroying)
        OnError(this, code);
}

void TDevice::DoConnect() {
    if (OnConnect && !FDestroying)
        OnConnect(this);
}

void TDevice::DoDisconnect() {
    if (OnDisconnect && !FDestroying)
        OnDisconnect(this);
}

void TDevice::BeginDestroy() {
    FDestroying = true;
    FConnectTimer->stop();
}
