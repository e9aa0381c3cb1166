// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/DevicePrompts.h"

#include <QString>

// Hands a transport's questions on and keeps what was chosen, so that the same connection can
// be opened again later without asking anybody.
class TRecordingPrompts : public IDevicePrompts {
public:
    explicit TRecordingPrompts(IDevicePrompts* inner) : FInner(inner) {}

    // Device and Port are the caller's to fill in; the settings are those the transport was given.
    TConnectTarget Target;

    bool SelectDevice(IDeviceList& devices, int& deviceIndex, QString& portName) override;
    bool Edit(TDeviceSettings& settings, const QString& portName) override;
    void ShowError(const QString& text) override;

private:
    IDevicePrompts* FInner;
};

// Where a connection goes, for the operator: "TCP 10.0.0.5:1000", "Serial /dev/ttyUSB0 at
// 115200 baud", "CAN Net 0, identifier 100".
QString LinkPlaceText(const TConnectTarget& target);
