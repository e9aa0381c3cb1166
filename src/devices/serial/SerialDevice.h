// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/DeviceComponent.h"
#include "devices/serial/PortMap.h"
#include "devices/serial/platform/VaComm.h"

// The gripper over an RS232 line: 8N1 without flow control, at the rate chosen in the baud-rate
// prompt, through the serial port component.
class TSerialDevice : public TDevice {
    Q_OBJECT
public:
    static constexpr int BaudrateCount = 8;

    explicit TSerialDevice(QObject* owner);
    ~TSerialDevice() override;

    bool IsOpen() override;
    // Opens without asking: PortName is "COM" + number or a device path; BaudIndex into the
    // list of rates. The prompts are offered this rate next.
    TStat OpenPort(const QString& PortName, int BaudIndex);
    std::int32_t BytesAvailable() override;
    std::int32_t Read(std::uint8_t* Buffer, std::int32_t Count) override;
    // Raises EVaCommError when the bytes find no room within the write time-out.
    TStat Write(const std::uint8_t* Buffer, std::int32_t Count) override;
    void GetPortList(QStringList& Items) override;
    // The port as chosen and the device it reaches: "COM4 (/dev/ttyUSB0)".
    QString Address() const override;

    // Why a device could not be opened, from the system's error number.
    static QString OpenErrorText(int error);

    // The rate code of an index of the baud-rate list; raises "Baudrate index undefined".
    static TVaBaudrate BaudrateCode(int index);

    const TSerialSettings& SerialSettings() const { return FSerialSettings; }
    TVaComm* Comm() const { return FComm; }
    TSerialPortMap& PortMap() { return FPortMap; }

protected:
    TCloseRules CloseRules() const override { return {true, E_SUCCESS}; }
    std::optional<TDeviceSettings> OfferedSettings() const override { return FSerialSettings; }
    TStat OpenChosen(const QString& PortName, const TDeviceSettings* chosen) override;
    TStat OpenHook() override;
    void CloseHook(bool wasOpen) override;

private:
    void CommRxChar(int count);

    TSerialSettings FSerialSettings;
    QString FPortName; // of the open under way
    TVaComm* FComm;
    TSerialPortMap FPortMap;
};
