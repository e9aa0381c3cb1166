#pragma once

#include "devices/ByteQueue.h"
#include "devices/DeviceComponent.h"
#include "devices/NMUDP.h"
#include "devices/UDPSettingsDialog.h"

#include <memory>

// The gripper over UDP: each Write is one datagram to the transmit port; every datagram that
// reaches the listening port joins one byte stream.
class TUDPDevice : public TDevice {
    Q_OBJECT
public:
    static constexpr int QueueSize = 4096;
    static constexpr int DefaultListeningPort = 1501;
    static constexpr int DefaultTransmitPort = 1500;

    explicit TUDPDevice(QObject* owner);
    ~TUDPDevice() override;

    bool IsOpen() override;
    // Runs the settings dialog, then OpenWith its values.
    TStat Open(const QString& PortName) override;
    // Opens without a dialog; the dialog shows these values next time.
    TStat OpenWith(const QString& Host, int ListeningPort, int TransmitPort);
    TStat Close() override;
    std::int32_t BytesAvailable() override;
    std::int32_t Read(std::uint8_t* Buffer, std::int32_t Count) override;
    TStat Write(const std::uint8_t* Buffer, std::int32_t Count) override;
    void GetPortList(QStringList& Items) override;

    TUDPSettingsDlg* SettingsDialog() const { return FDlg.get(); }
    TNMUDP* Socket() const { return FUdp; }

protected:
    bool ConnectConditionMet() override { return true; }

private:
    void DataReceived(QObject* Sender, int NumberBytes);

    std::unique_ptr<TUDPSettingsDlg> FDlg;
    TByteQueue FQueue{QueueSize};
    TNMUDP* FUdp = nullptr;
};
