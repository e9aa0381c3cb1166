// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;
class TIntegerEdit;

// "CAN-Bus Configuration": bit rate and identifier of the target system; also names the bus
// that the chosen net stands for.
class TCANParamsDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int MinHeight = 210;

    explicit TCANParamsDlg(QWidget* owner = nullptr);

    bool Execute();
    // Library code of the selected entry; 0 (1 MBit/s) when the typed text names no entry.
    int BitrateCode() const;
    // Raises "%d is not a supported bitrate" for a code outside the table.
    void SetBitrateCode(int code);
    // edID's value, or -1 when it holds no valid integer.
    int TargetId() const;
    void SetTargetId(int id);
    // Shows which bus the net of `portName` ("Net n") stands for.
    void SetNet(const QString& portName);

    void edIDChange();

    QLabel* lbInfo;
    QLabel* lbBitrate;
    QComboBox* cbBitrate;
    QLabel* lbID;
    TIntegerEdit* edID;
    QLabel* lbBus;
    QPushButton* btnOk;
    QPushButton* btnCancel;
};
