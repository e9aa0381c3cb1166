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
    FConnectTimer->setInterval(ConnectTimerInterval);
    connect(FConnectTimer, &QTimer::timeout, this, &TDevice::ConnectTimerTick);
}

TDevice::~TDevice() {
    BeginDestroy();
}

void TDevice::GetPortList(QStringList& Items) {
    Items.clear();
}

void TDevice::StartConnectTimer() {
    FConnectTimer->start();
}

void TDevice::ConnectTimerTick() {
    if (ConnectConditionMet())
        DoConnect();
    else
        FConnectTimer->start();
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
