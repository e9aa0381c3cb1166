#pragma once

#include "devices/DevicePrompts.h"
#include "devices/IniFile.h"
#include "protocol/Constants.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>

// A transport: moves raw bytes to and from the gripper without looking into them. All four
// notifications are raised on the user-interface thread.
class TDevice : public QObject {
    Q_OBJECT
public:
    using TDataAvailableEvent = std::function<void(TDevice* sender, std::int32_t count)>;
    using TErrorEvent = std::function<void(TDevice* sender, TStat code)>;
    using TNotifyEvent = std::function<void(TDevice* sender)>;

    static constexpr int ConnectTimerInterval = 50;

    // `shortName` becomes the object name and the stem of the settings file
    // "<settings dir>/<shortName>.cfg", opened here.
    TDevice(QObject* owner, const QString& shortName, const QString& displayName);
    ~TDevice() override;

    std::unique_ptr<TIniFile> Settings;

    TDataAvailableEvent OnDataAvailable;
    TErrorEvent OnError;
    TNotifyEvent OnConnect;
    TNotifyEvent OnDisconnect;

    const QString& DisplayName() const { return FDisplayName; }
    const QString& ShortName() const { return FShortName; }

    virtual bool IsOpen() = 0;
    // Asks the prompts for the transport's settings, then opens. Never raises OnConnect itself.
    virtual TStat Open(const QString& PortName) = 0;
    virtual TStat Close() = 0;
    virtual std::int32_t BytesAvailable() = 0;
    // -1 when not open.
    virtual std::int32_t Read(std::uint8_t* Buffer, std::int32_t Count) = 0;
    virtual TStat Write(const std::uint8_t* Buffer, std::int32_t Count) = 0;
    virtual bool IsAvailable() { return true; }
    virtual void GetPortList(QStringList& Items);
    // Where the latest Open tried to reach the gripper, for the operator ("10.0.0.5:1000");
    // empty before any Open or for a transport without such a notion.
    virtual QString Address() const { return {}; }

    QTimer* ConnectTimer() const { return FConnectTimer; }

    // Where Open asks for its settings; none means nobody can be asked, and Open cancels.
    IDevicePrompts* Prompts() const { return FPrompts; }
    void SetPrompts(IDevicePrompts* prompts) { FPrompts = prompts; }

protected:
    // Open's last step on success: OnConnect follows from the event loop once the condition
    // holds, tested every 50 ms.
    void StartConnectTimer();
    virtual bool ConnectConditionMet() = 0;

    // Raise a notification if its slot is set.
    void DoDataAvailable(std::int32_t count);
    void DoError(TStat code);
    void DoConnect();
    void DoDisconnect();

    // Called first by every transport's destructor: nothing may be raised while destroying.
    void BeginDestroy();
    bool Destroying() const { return FDestroying; }

private:
    void ConnectTimerTick();

    QString FShortName;
    QString FDisplayName;
    QTimer* FConnectTimer;
    IDevicePrompts* FPrompts = nullptr;
    bool FDestroying = false;
};
