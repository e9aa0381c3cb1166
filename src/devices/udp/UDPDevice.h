// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/ByteQueue.h"
#include "devices/DeviceComponent.h"
#include "devices/udp/platform/NMUDP.h"

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
    // Opens without asking; the prompts are offered these values next.
    TStat OpenWith(const QString& Host, int ListeningPort, int TransmitPort);
    std::int32_t BytesAvailable() override;
    std::int32_t Read(std::uint8_t* Buffer, std::int32_t Count) override;
    TStat Write(const std::uint8_t* Buffer, std::int32_t Count) override;
    void GetPortList(QStringList& Items) override;
    QString Address() const override;

    // Address and ports as read from "udp.cfg" at construction, then as last used.
    const TUdpSettings& LinkSettings() const { return FLinkSettings; }
    TNMUDP* Socket() const { return FUdp; }
    // Datagrams dropped since the last Open because they did not come from the gripper's
    // address.
    int StrangerDatagrams() const { return FStrangers; }

protected:
    TCloseRules CloseRules() const override { return {true, E_SUCCESS}; }
    std::optional<TDeviceSettings> OfferedSettings() const override { return FLinkSettings; }
    TStat OpenChosen(const QString& PortName, const TDeviceSettings* chosen) override;
    TStat OpenHook() override;
    void CloseHook(bool wasOpen) override;

private:
    void DataReceived(QObject* Sender, int NumberBytes, const QString& FromIP);

    TUdpSettings FLinkSettings;
    TByteQueue FQueue{QueueSize};
    TNMUDP* FUdp = nullptr;
    int FStrangers = 0;
    bool FTried = false; // OpenWith ran at least once
};
