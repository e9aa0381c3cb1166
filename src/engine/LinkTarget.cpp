// SPDX-License-Identifier: Apache-2.0
#include "engine/LinkTarget.h"

#include <array>
#include <type_traits>

bool TRecordingPrompts::SelectDevice(IDeviceList& devices, int& deviceIndex, QString& portName) {
    return FInner && FInner->SelectDevice(devices, deviceIndex, portName);
}

bool TRecordingPrompts::Edit(TDeviceSettings& settings, const QString& portName) {
    if (!FInner || !FInner->Edit(settings, portName))
        return false;
    std::visit(
        [this](const auto& chosen) {
            using T = std::decay_t<decltype(chosen)>;
            if constexpr (std::is_same_v<T, TTcpSettings>)
                Target.Tcp = chosen;
            else if constexpr (std::is_same_v<T, TUdpSettings>)
                Target.Udp = chosen;
            else if constexpr (std::is_same_v<T, TSerialSettings>)
                Target.Serial = chosen;
            else
                Target.Can = chosen;
        },
        settings);
    return true;
}

void TRecordingPrompts::ShowError(const QString& text) {
    if (FInner)
        FInner->ShowError(text);
}

QString LinkPlaceText(const TConnectTarget& target) {
    static constexpr std::array<int, 8> bauds = {1200,  2400,  4800,  9600,
                                                 19200, 38400, 57600, 115200};
    const QString device = target.Device.toLower();
    if (device == QLatin1String("tcp"))
        return QStringLiteral("TCP %1:%2").arg(target.Tcp.Host).arg(target.Tcp.Port);
    if (device == QLatin1String("udp"))
        return QStringLiteral("UDP %1:%2 (listening on %3)")
            .arg(target.Udp.Host)
            .arg(target.Udp.TransmitPort)
            .arg(target.Udp.ListeningPort);
    if (device == QLatin1String("uart")) {
        const int i = target.Serial.BaudIndex;
        const QString baud = i >= 0 && i < int(bauds.size())
                                 ? QStringLiteral(" at %1 baud").arg(bauds[std::size_t(i)])
                                 : QString();
        return QStringLiteral("Serial %1%2").arg(target.Port, baud);
    }
    if (device == QLatin1String("can"))
        return QStringLiteral("CAN %1, identifier %2").arg(target.Port).arg(target.Can.TargetId);
    return target.Device + (target.Port.isEmpty() ? QString() : QLatin1Char(' ') + target.Port);
}
