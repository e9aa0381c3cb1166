// SPDX-License-Identifier: Apache-2.0
#include "devices/DevicePrompts.h"

#include <type_traits>

bool TGivenPrompts::SelectDevice(IDeviceList&, int& deviceIndex, QString& portName) {
    if (FDeviceIndex < 0)
        return false;
    deviceIndex = FDeviceIndex;
    portName = FTarget.Port;
    return true;
}

bool TGivenPrompts::Edit(TDeviceSettings& settings, const QString&) {
    const auto given = [this](auto& wanted) {
        using T = std::decay_t<decltype(wanted)>;
        if constexpr (std::is_same_v<T, TTcpSettings>)
            wanted = FTarget.Tcp;
        else if constexpr (std::is_same_v<T, TUdpSettings>)
            wanted = FTarget.Udp;
        else if constexpr (std::is_same_v<T, TSerialSettings>)
            wanted = FTarget.Serial;
        else
            wanted = FTarget.Can;
    };
    std::visit(given, settings);
    return true;
}

void TGivenPrompts::ShowError(const QString& text) {
    FLastError = text;
}

bool TConfirmingPrompts::SelectDevice(IDeviceList& devices, int& deviceIndex, QString& portName) {
    return FInner && FInner->SelectDevice(devices, deviceIndex, portName);
}

bool TConfirmingPrompts::Edit(TDeviceSettings& settings, const QString& portName) {
    const bool confirmed = FInner && FInner->Edit(settings, portName);
    if (confirmed && !FFired) {
        FFired = true;
        FConfirmed();
    }
    return confirmed;
}

void TConfirmingPrompts::ShowError(const QString& text) {
    if (FInner)
        FInner->ShowError(text);
}
