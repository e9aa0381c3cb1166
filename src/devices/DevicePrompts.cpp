#include "devices/DevicePrompts.h"

#include "devices/DeviceComponent.h"

#include <cstdio>

bool TGivenPrompts::SelectDevice(QObject* engine, int& deviceIndex, QString& portName) {
    auto* list = dynamic_cast<IDeviceList*>(engine);
    if (!list)
        return false;
    for (int i = 0; i < list->DeviceCount(); ++i) {
        if (list->Devices(i)->ShortName().compare(FTarget.Device, Qt::CaseInsensitive) == 0) {
            deviceIndex = i;
            portName = FTarget.Port;
            return true;
        }
    }
    return false;
}

bool TGivenPrompts::EditTcp(TTcpSettings& settings) {
    settings = FTarget.Tcp;
    return true;
}

bool TGivenPrompts::EditUdp(TUdpSettings& settings) {
    settings = FTarget.Udp;
    return true;
}

bool TGivenPrompts::EditSerial(TSerialSettings& settings, const QString&) {
    settings = FTarget.Serial;
    return true;
}

bool TGivenPrompts::EditCan(TCanSettings& settings, const QString&) {
    settings = FTarget.Can;
    return true;
}

void TGivenPrompts::ShowError(const QString& text) {
    FLastError = text;
}
