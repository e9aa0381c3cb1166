// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;
class TIntegerEdit;

// Asks for the gripper's host name or address and its TCP port.
class THostNameDlg : public QDialog {
    Q_OBJECT
public:
    explicit THostNameDlg(QWidget* owner = nullptr);

    bool Execute();
    QString Host() const;
    void SetHost(const QString& host);
    void SetPort(int port);
    // Raises EKaroError "Port value is invalid" when the field holds no valid port.
    int Port() const;

    void edPortChange();
    void FormResize();

    QLabel* lbPrompt;
    QLineEdit* edHostname;
    QLabel* lbPort;
    TIntegerEdit* edPort;
    QPushButton* btnOk;
    QPushButton* btnCancel;

protected:
    void resizeEvent(QResizeEvent* e) override;
};
