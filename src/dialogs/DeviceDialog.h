// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/DevicePrompts.h"
#include "protocol/Errors.h"

#include <QDialog>
#include <QPointer>

class QComboBox;
class QLabel;
class QPushButton;
class QResizeEvent;
class QShowEvent;
class TDevice;

// The dialog was given an owner that is not the command engine.
class EDeviceDialogError : public EKaroError {
public:
    using EKaroError::EKaroError;
};

// "Select an Interface": picks the transport and its port before the engine opens it.
// The owner is the command engine; it is not the dialog's parent widget (the engine is no
// widget) but is consulted for the device list every time the dialog runs.
class TDeviceDlg : public QDialog {
    Q_OBJECT
public:
    explicit TDeviceDlg(QObject* owner, QWidget* parent = nullptr);

    // Fills both lists starting from the transport and port last confirmed (kept in
    // "settings.ini"; the first transport before any), shows the dialog modally and answers
    // true when it was closed with "Connect", keeping that choice.
    bool Execute();
    int DeviceIndex() const;
    QString PortName() const;

    QObject* Owner() const { return FOwner; }

    // Refills the port list for the selected transport and preselects the port named under
    // "Portname" in section "Common" of its settings file.
    void cbDeviceChange();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    IDeviceList* OwnerList() const;
    void FormShow();

    QPointer<QObject> FOwner;
    QLabel* lbDevice;
    QLabel* lbDevicePort;
    QComboBox* cbDevice;
    QComboBox* cbDevicePort;
    QPushButton* btnConnect;
    QPushButton* btnCancel;
};
