// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QString>

#include <functional>
#include <utility>
#include <variant>

class TDevice;

// What the transport selection needs of the engine that owns the transports.
class IDeviceList {
public:
    virtual ~IDeviceList() = default;
    virtual int DeviceCount() const = 0;
    // Raises for an index outside the list.
    virtual TDevice* Devices(int index) const = 0;
};

// The values each transport asks for before it opens.
struct TTcpSettings {
    QString Host;
    int Port = 1000;
    bool operator==(const TTcpSettings&) const = default;
};

struct TUdpSettings {
    QString Host;
    int ListeningPort = 1501;
    int TransmitPort = 1500;
    bool operator==(const TUdpSettings&) const = default;
};

struct TSerialSettings {
    int BaudIndex = 0; // into the baud-rate list, 0 = 1200 baud
    bool operator==(const TSerialSettings&) const = default;
};

struct TCanSettings {
    int BitrateCode = 4; // library code, 4 = 250 kBit/s
    int TargetId = 100;
    bool operator==(const TCanSettings&) const = default;
};

// The settings of one transport; the alternative held tells which transport asks.
using TDeviceSettings = std::variant<TSerialSettings, TTcpSettings, TUdpSettings, TCanSettings>;

// Where the engine and the transports get what an operator would choose: the window answers
// with its dialogs, a program without a display with values it was given.
class IDevicePrompts {
public:
    virtual ~IDevicePrompts() = default;

    // Picks a transport of `devices` and one of its ports.
    virtual bool SelectDevice(IDeviceList& devices, int& deviceIndex, QString& portName) = 0;
    // Gets the transport's current values and, on true, leaves the chosen ones in `settings`
    // (of the same alternative); false means the operator cancelled and nothing may change.
    // `portName` is the port chosen in the selection, for the transports that show it.
    virtual bool Edit(TDeviceSettings& settings, const QString& portName) = 0;
    // A transport's report meant for the operator.
    virtual void ShowError(const QString& text) = 0;
};

// A connection named in full: which transport (its short name: "uart", "tcp", "udp", "can"),
// which entry of its port list, and the settings for it.
struct TConnectTarget {
    QString Device;
    QString Port;
    TTcpSettings Tcp;
    TUdpSettings Udp;
    TSerialSettings Serial;
    TCanSettings Can;
};

// Answers every prompt from a TConnectTarget, never asking anybody. The engine resolves the
// target's transport to its index in the list; -1 answers the choice as cancelled.
class TGivenPrompts : public IDevicePrompts {
public:
    explicit TGivenPrompts(TConnectTarget target, int deviceIndex = -1)
        : FTarget(std::move(target)), FDeviceIndex(deviceIndex) {}

    const TConnectTarget& Target() const { return FTarget; }
    // The last error a transport reported, for a caller that wants to print it.
    const QString& LastError() const { return FLastError; }

    bool SelectDevice(IDeviceList& devices, int& deviceIndex, QString& portName) override;
    bool Edit(TDeviceSettings& settings, const QString& portName) override;
    void ShowError(const QString& text) override;

private:
    TConnectTarget FTarget;
    int FDeviceIndex;
    QString FLastError;
};

// Hands a transport's questions on and runs `confirmed` once, when the first of them was
// answered: only then may an earlier connection go.
class TConfirmingPrompts : public IDevicePrompts {
public:
    TConfirmingPrompts(IDevicePrompts* inner, std::function<void()> confirmed)
        : FInner(inner), FConfirmed(std::move(confirmed)) {}

    bool Fired() const { return FFired; }

    bool SelectDevice(IDeviceList& devices, int& deviceIndex, QString& portName) override;
    bool Edit(TDeviceSettings& settings, const QString& portName) override;
    void ShowError(const QString& text) override;

private:
    IDevicePrompts* FInner;
    std::function<void()> FConfirmed;
    bool FFired = false;
};
