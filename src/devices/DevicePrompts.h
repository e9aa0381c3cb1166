#pragma once

#include <QString>

#include <utility>

class QObject;
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

// Where the engine and the transports get what an operator would choose: the window answers
// with its dialogs, a program without a display with values it was given. Every Edit call gets
// the transport's current values and, on true, leaves the chosen ones in `settings`; false means
// the operator cancelled and nothing may change.
class IDevicePrompts {
public:
    virtual ~IDevicePrompts() = default;

    // `engine` is the owner of the transports and implements IDeviceList.
    virtual bool SelectDevice(QObject* engine, int& deviceIndex, QString& portName) = 0;
    virtual bool EditTcp(TTcpSettings& settings) = 0;
    virtual bool EditUdp(TUdpSettings& settings) = 0;
    virtual bool EditSerial(TSerialSettings& settings, const QString& portName) = 0;
    virtual bool EditCan(TCanSettings& settings, const QString& portName) = 0;
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
    TGivenPrompts(TConnectTarget target, int deviceIndex)
        : FTarget(std::move(target)), FDeviceIndex(deviceIndex) {}

    const TConnectTarget& Target() const { return FTarget; }
    // The last error a transport reported, for a caller that wants to print it.
    const QString& LastError() const { return FLastError; }

    bool SelectDevice(QObject* engine, int& deviceIndex, QString& portName) override;
    bool EditTcp(TTcpSettings& settings) override;
    bool EditUdp(TUdpSettings& settings) override;
    bool EditSerial(TSerialSettings& settings, const QString& portName) override;
    bool EditCan(TCanSettings& settings, const QString& portName) override;
    void ShowError(const QString& text) override;

private:
    TConnectTarget FTarget;
    int FDeviceIndex;
    QString FLastError;
};
