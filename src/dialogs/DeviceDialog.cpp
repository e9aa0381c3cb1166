// SPDX-License-Identifier: Apache-2.0
#include "dialogs/DeviceDialog.h"

#include "devices/DeviceComponent.h"
#include "devices/IniFile.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QShowEvent>

#include <algorithm>

TDeviceDlg::TDeviceDlg(QObject* owner, QWidget* parent)
    : QDialog(parent), FOwner(owner), lbDevice(new QLabel(QStringLiteral("Device:"), this)),
      lbDevicePort(new QLabel(QStringLiteral("Port:"), this)), cbDevice(new QComboBox(this)),
      cbDevicePort(new QComboBox(this)),
      btnConnect(new QPushButton(QStringLiteral("Connect"), this)),
      btnCancel(new QPushButton(QStringLiteral("Abort"), this)) {
    setObjectName(QStringLiteral("DeviceDlg"));
    setWindowTitle(QStringLiteral("Select an Interface"));
    lbDevice->setObjectName(QStringLiteral("lbDevice"));
    lbDevicePort->setObjectName(QStringLiteral("lbDevicePort"));
    cbDevice->setObjectName(QStringLiteral("cbDevice"));
    cbDevicePort->setObjectName(QStringLiteral("cbDevicePort"));
    btnConnect->setObjectName(QStringLiteral("btnConnect"));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    lbDevice->setBuddy(cbDevice);
    lbDevicePort->setBuddy(cbDevicePort);

    // Fixed design geometry; only the cancel button follows the width (resizeEvent).
    lbDevice->setGeometry(8, 12, 48, 16);
    cbDevice->setGeometry(64, 8, 185, 24);
    lbDevicePort->setGeometry(8, 44, 48, 16);
    cbDevicePort->setGeometry(64, 40, 185, 24);
    btnConnect->setGeometry(8, 80, 80, 26);
    btnCancel->setGeometry(169, 80, 80, 26);
    resize(257, 114);

    btnConnect->setDefault(true);
    btnConnect->setAutoDefault(true);
    btnCancel->setAutoDefault(false);
    connect(btnConnect, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cbDevice, &QComboBox::activated, this, [this](int) { cbDeviceChange(); });
}

IDeviceList* TDeviceDlg::OwnerList() const {
    auto* list = dynamic_cast<IDeviceList*>(FOwner.data());
    if (!list)
        throw EDeviceDialogError(QStringLiteral("Owner is not TCommand"));
    return list;
}

namespace {
const QString LastSection = QStringLiteral("link");
const QString LastDeviceKey = QStringLiteral("LastDevice");
const QString LastPortKey = QStringLiteral("LastPort");
} // namespace

bool TDeviceDlg::Execute() {
    IDeviceList* list = OwnerList();
    TIniFile settings(SettingsFilePath(QStringLiteral("settings.ini")));
    // It opens on the choice that last connected, so that Enter, Enter connects again.
    const QString lastDevice = settings.ReadString(LastSection, LastDeviceKey, {});
    int start = -1;
    cbDevice->clear();
    for (int i = 0; i < list->DeviceCount(); ++i) {
        cbDevice->addItem(list->Devices(i)->DisplayName());
        if (!lastDevice.isEmpty() &&
            list->Devices(i)->ShortName().compare(lastDevice, Qt::CaseInsensitive) == 0)
            start = i;
    }
    cbDevice->setCurrentIndex(cbDevice->count() > 0 ? std::max(start, 0) : -1);
    cbDeviceChange();
    const int lastPort = cbDevicePort->findText(settings.ReadString(LastSection, LastPortKey, {}),
                                                Qt::MatchFixedString);
    // The transport's own memory of its port comes first.
    const bool ownPort =
        start >= 0 &&
        cbDevicePort->findText(list->Devices(start)->Settings->ReadString(
                                   QStringLiteral("Common"), QStringLiteral("Portname"), {}),
                               Qt::MatchFixedString) >= 0;
    if (start >= 0 && !ownPort && lastPort >= 0)
        cbDevicePort->setCurrentIndex(lastPort);
    if (exec() != QDialog::Accepted)
        return false;
    if (DeviceIndex() >= 0) {
        settings.WriteString(LastSection, LastDeviceKey, list->Devices(DeviceIndex())->ShortName());
        settings.WriteString(LastSection, LastPortKey, PortName());
    }
    return true;
}

int TDeviceDlg::DeviceIndex() const {
    return cbDevice->currentIndex();
}

QString TDeviceDlg::PortName() const {
    return cbDevicePort->currentText();
}

void TDeviceDlg::cbDeviceChange() {
    IDeviceList* list = OwnerList();
    cbDevicePort->clear();
    const int index = cbDevice->currentIndex();
    // Nothing selected only happens with an empty device list: no ports to offer then.
    if (index < 0)
        return;
    TDevice* device = list->Devices(index);
    QStringList ports;
    device->GetPortList(ports);
    cbDevicePort->addItems(ports);
    if (ports.isEmpty())
        return;
    const QString wanted =
        device->Settings->ReadString(QStringLiteral("Common"), QStringLiteral("Portname"), {});
    int pick = 0;
    for (int i = 0; i < ports.size(); ++i) {
        if (ports[i].compare(wanted, Qt::CaseInsensitive) == 0) {
            pick = i;
            break;
        }
    }
    cbDevicePort->setCurrentIndex(pick);
}

void TDeviceDlg::FormShow() {
    cbDevice->setFocus();
}

void TDeviceDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TDeviceDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    // Mirror the connect button: same distance from the right edge as it has from the left.
    btnCancel->move(width() - btnConnect->x() - btnCancel->width(), btnCancel->y());
}
