// SPDX-License-Identifier: Apache-2.0
#include "dialogs/DialogPrompts.h"

#include "devices/IniFile.h"
#include "devices/serial/PortMap.h"
#include "dialogs/BaudrateDialog.h"
#include "dialogs/CanParamsDialog.h"
#include "dialogs/DeviceDialog.h"
#include "dialogs/HostnameDialog.h"
#include "dialogs/UDPSettingsDialog.h"
#include "widgets/MessageBoxes.h"

TDialogPrompts::TDialogPrompts() = default;
TDialogPrompts::~TDialogPrompts() = default;

bool TDialogPrompts::SelectDevice(IDeviceList& devices, int& deviceIndex, QString& portName) {
    // The dialog consults its owner for the list; a list that is no engine makes it refuse.
    QObject* engine = dynamic_cast<QObject*>(&devices);
    if (!FDeviceDlg || FDeviceDlgOwner != engine) {
        FDeviceDlg = std::make_unique<TDeviceDlg>(engine);
        FDeviceDlgOwner = engine;
    }
    if (!FDeviceDlg->Execute())
        return false;
    deviceIndex = FDeviceDlg->DeviceIndex();
    portName = FDeviceDlg->PortName();
    return true;
}

bool TDialogPrompts::Edit(TDeviceSettings& settings, const QString& portName) {
    struct TAsk {
        TDialogPrompts& Self;
        const QString& Port;
        bool operator()(TSerialSettings& s) const { return Self.AskBaudrate(s, Port); }
        bool operator()(TTcpSettings& s) const { return Self.AskHost(s); }
        bool operator()(TUdpSettings& s) const { return Self.AskUdpSettings(s); }
        bool operator()(TCanSettings& s) const { return Self.AskCanParams(s, Port); }
    };
    return std::visit(TAsk{*this, portName}, settings);
}

bool TDialogPrompts::AskHost(TTcpSettings& settings) {
    // The dialog keeps what the operator typed into a cancelled showing, unless the transport's
    // values changed since (an open without asking).
    if (!FHostDlg || settings != FHostShown) {
        if (!FHostDlg)
            FHostDlg = std::make_unique<THostNameDlg>();
        FHostDlg->SetHost(settings.Host);
        FHostDlg->SetPort(settings.Port);
        FHostShown = settings;
    }
    if (!FHostDlg->Execute())
        return false;
    settings = {FHostDlg->Host(), FHostDlg->Port()};
    FHostShown = settings;
    return true;
}

bool TDialogPrompts::AskUdpSettings(TUdpSettings& settings) {
    if (!FUdpDlg || settings != FUdpShown) {
        if (!FUdpDlg)
            FUdpDlg = std::make_unique<TUDPSettingsDlg>();
        FUdpDlg->SetHost(settings.Host);
        FUdpDlg->SetListeningPort(settings.ListeningPort);
        FUdpDlg->SetTransmitPort(settings.TransmitPort);
        FUdpShown = settings;
    }
    if (!FUdpDlg->Execute())
        return false;
    settings = {FUdpDlg->Host(), FUdpDlg->ListeningPort(), FUdpDlg->TransmitPort()};
    FUdpShown = settings;
    return true;
}

bool TDialogPrompts::AskBaudrate(TSerialSettings& settings, const QString& portName) {
    // As with the host dialog: a cancelled showing keeps the operator's choice.
    if (!FBaudDlg || settings != FSerialShown) {
        if (!FBaudDlg)
            FBaudDlg = std::make_unique<TBaudrateDlg>();
        FBaudDlg->SetItemIndex(settings.BaudIndex);
        FSerialShown = settings;
    }
    TIniFile uart(SettingsFilePath(QStringLiteral("uart.cfg")));
    FBaudDlg->SetPort(portName, TSerialPortMap(uart).DevicePath(portName));
    if (!FBaudDlg->Execute())
        return false;
    settings.BaudIndex = FBaudDlg->ItemIndex();
    FSerialShown = settings;
    return true;
}

bool TDialogPrompts::AskCanParams(TCanSettings& settings, const QString& portName) {
    // The identifier stays as the operator left it, unless the transport's changed since.
    if (!FCanDlg || settings.TargetId != FCanIdShown) {
        if (!FCanDlg)
            FCanDlg = std::make_unique<TCANParamsDlg>();
        FCanDlg->SetTargetId(settings.TargetId);
        FCanIdShown = settings.TargetId;
    }
    FCanDlg->SetBitrateCode(settings.BitrateCode);
    FCanDlg->SetNet(portName);
    if (!FCanDlg->Execute())
        return false;
    settings = {FCanDlg->BitrateCode(), FCanDlg->TargetId()};
    FCanIdShown = settings.TargetId;
    return true;
}

void TDialogPrompts::ShowError(const QString& text) {
    ::ShowError(text);
}
