// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class TIntegerEdit;

// Asks for the gripper's address and the two UDP ports.
class TUDPSettingsDlg : public QDialog {
    Q_OBJECT
public:
    explicit TUDPSettingsDlg(QWidget* owner = nullptr);

    bool Execute();
    QString Host() const;
    void SetHost(const QString& host);
    void SetListeningPort(int port);
    void SetTransmitPort(int port);
    // Raise EKaroError "Listening Port value is invalid" / "Transmit Port value is invalid".
    int ListeningPort() const;
    int TransmitPort() const;

    void edListeningPortChange();
    void FormResize();

    QLabel* lbPrompt;
    QLineEdit* edHostname;
    QLabel* lbTransmitPort;
    TIntegerEdit* edTransmitPort;
    QLabel* lbListeningPort;
    TIntegerEdit* edListeningPort;
    QPushButton* btnOk;
    QPushButton* btnCancel;

protected:
    void resizeEvent(QResizeEvent* e) override;
};
