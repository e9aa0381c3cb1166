// SPDX-License-Identifier: Apache-2.0
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
#include <optional>

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

    // Where the transport is on its way to and from the gripper. Open leaves it connecting;
    // the transport's report that it became usable makes it connected, and OnConnect follows
    // from the next ConnectTimer tick (see TConfirm). Closing lasts while Close runs.
    enum class TState { Unconnected, Connecting, Connected, Closing };
    TState State() const { return FState; }

    virtual bool IsOpen() = 0;
    // Asks the prompts for the transport's settings (none asked: cancelled, 19), then opens
    // with them. Never raises OnConnect itself.
    TStat Open(const QString& PortName);
    // Closes the transport; see CloseRules for what a transport that was not open does.
    TStat Close();
    virtual std::int32_t BytesAvailable() = 0;
    // -1 when not open.
    virtual std::int32_t Read(std::uint8_t* Buffer, std::int32_t Count) = 0;
    virtual TStat Write(const std::uint8_t* Buffer, std::int32_t Count) = 0;
    virtual bool IsAvailable() { return true; }
    virtual void GetPortList(QStringList& Items);
    // Where the latest Open tried to reach the gripper, for the operator ("10.0.0.5:1000");
    // empty before any Open or for a transport without such a notion.
    virtual QString Address() const { return {}; }
    // Why the latest open or connection failed, in plain words ("connection refused", "no
    // such device"); empty while nothing failed since the latest Open.
    virtual QString LastErrorText() const { return FLastErrorText; }
    // Forgets it, so that a caller can tell which of several transports failed next.
    void ForgetLastError() { FLastErrorText.clear(); }

    QTimer* ConnectTimer() const { return FConnectTimer; }

    // When OnConnect follows a usable transport. AfterInterval: at a tick of the 50 ms
    // ConnectTimer, as an operator's connect has it. WhenUsable: from the event loop as soon as
    // the transport is usable, for programs that nobody watches connect (never inside Open
    // all the same). Read by each Open.
    enum class TConfirm { AfterInterval, WhenUsable };
    TConfirm Confirm() const { return FConfirm; }
    void SetConfirm(TConfirm confirm) { FConfirm = confirm; }

    // Where Open asks for its settings; none means nobody can be asked, and Open cancels.
    IDevicePrompts* Prompts() const { return FPrompts; }
    void SetPrompts(IDevicePrompts* prompts) { FPrompts = prompts; }

protected:
    // What Close does when the transport was not open.
    struct TCloseRules {
        bool ReportWhenNotOpen = false; // OnDisconnect all the same
        TStat ResultWhenNotOpen = E_SUCCESS;
    };
    virtual TCloseRules CloseRules() const { return {}; }

    // Open's hooks. A port the transport refuses without asking (non-zero status); the values
    // the prompts are offered (none: nothing is asked); the open with the chosen values, which
    // is the transport's own non-interactive open.
    virtual TStat RefusePort(const QString& /*PortName*/) { return E_SUCCESS; }
    virtual std::optional<TDeviceSettings> OfferedSettings() const { return std::nullopt; }
    virtual TStat OpenChosen(const QString& PortName, const TDeviceSettings* chosen) = 0;

    // The one road of every open: an open transport is closed first (as Close does), then
    // OpenHook runs; on success the transport is connecting and the ConnectTimer runs. An
    // error raised by the hook leaves it unconnected and goes on to the caller.
    TStat OpenTransport();
    virtual TStat OpenHook() = 0;
    // Releases what the transport holds; `wasOpen` tells whether IsOpen answered true.
    virtual void CloseHook(bool wasOpen) = 0;

    // What a transport reports of its connection. Usable: OnConnect follows at the next tick.
    // Failed: an attempt that ended before it was usable, raised as OnError; the ConnectTimer
    // goes on ticking. Lost: a usable connection ended from the far side, raised as
    // OnDisconnect for 0 and as OnError otherwise. Nothing is reported while closing.
    void ReportUsable();
    void ReportFailed(TStat code);
    void ReportLost(TStat code);

    void SetLastErrorText(const QString& text) { FLastErrorText = text; }

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
    TState FState = TState::Unconnected;
    TConfirm FConfirm = TConfirm::AfterInterval;
    TConfirm FOpenConfirm = TConfirm::AfterInterval; // of the running open
    bool FDestroying = false;
    QString FLastErrorText;
};
