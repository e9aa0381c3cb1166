// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "devices/serial/platform/VaComm.h"

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

// "Connection Properties": the line speed of the serial transport.
class TBaudrateDlg : public QDialog {
    Q_OBJECT
public:
    explicit TBaudrateDlg(QWidget* owner = nullptr);

    bool Execute();
    // -1 when nothing is selected.
    int ItemIndex() const;
    // Raises EKaroError "Index out of bounds" outside the list.
    void SetItemIndex(int index);
    // The rate code of the selection; raises EKaroError "Baudrate index undefined" when none.
    TVaBaudrate Baudrate() const;

    // Shows which port the rate is for and the device behind it.
    void SetPort(const QString& portName, const QString& devicePath);

    void cbBaudrateChange();
    void FormResize();

    QLabel* lbDevicePath;
    QLabel* lbBaudrate;
    QComboBox* cbBaudrate;
    QPushButton* btnOk;
    QPushButton* btnCancel;

protected:
    void resizeEvent(QResizeEvent* e) override;
};
