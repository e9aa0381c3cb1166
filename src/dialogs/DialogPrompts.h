// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/DevicePrompts.h"

#include <QPointer>

#include <memory>

class QObject;
class TBaudrateDlg;
class TCANParamsDlg;
class TDeviceDlg;
class THostNameDlg;
class TUDPSettingsDlg;

// The prompts of the window: each question is a modal dialog, created when first shown and kept
// until the program ends, so a cancelled dialog still shows what the operator typed.
class TDialogPrompts : public IDevicePrompts {
public:
    TDialogPrompts();
    ~TDialogPrompts() override;

    bool SelectDevice(IDeviceList& devices, int& deviceIndex, QString& portName) override;
    bool Edit(TDeviceSettings& settings, const QString& portName) override;
    void ShowError(const QString& text) override;

    // The dialogs once shown; null before.
    TDeviceDlg* DeviceDialog() const { return FDeviceDlg.get(); }
    THostNameDlg* HostDialog() const { return FHostDlg.get(); }
    TUDPSettingsDlg* UdpDialog() const { return FUdpDlg.get(); }
    TBaudrateDlg* BaudrateDialog() const { return FBaudDlg.get(); }
    TCANParamsDlg* CanDialog() const { return FCanDlg.get(); }

private:
    bool AskHost(TTcpSettings& settings);
    bool AskUdpSettings(TUdpSettings& settings);
    bool AskBaudrate(TSerialSettings& settings, const QString& portName);
    bool AskCanParams(TCanSettings& settings, const QString& portName);

    std::unique_ptr<TDeviceDlg> FDeviceDlg;
    QPointer<QObject> FDeviceDlgOwner;
    std::unique_ptr<THostNameDlg> FHostDlg;
    TTcpSettings FHostShown; // what the transport last handed the host dialog
    std::unique_ptr<TUDPSettingsDlg> FUdpDlg;
    TUdpSettings FUdpShown;
    std::unique_ptr<TBaudrateDlg> FBaudDlg;
    TSerialSettings FSerialShown;
    std::unique_ptr<TCANParamsDlg> FCanDlg;
    int FCanIdShown = 0;
};
