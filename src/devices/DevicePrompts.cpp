#include "devices/DevicePrompts.h"

bool TGivenPrompts::SelectDevice(QObject*, int& deviceIndex, QString& portName) {
    if (FDeviceIndex < 0)
        return false;
    deviceIndex = FDeviceIndex;
    portName = FTarget.Port;
    return true;
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
