// SPDX-License-Identifier: Apache-2.0
#include "dialogs/UDPSettingsDialog.h"

#include "widgets/IntegerEdit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>

namespace {
TIntegerEdit* PortField(QWidget* parent, const char* name, const char* text, int y) {
    auto* ed = new TIntegerEdit(parent);
    ed->setObjectName(QString::fromLatin1(name));
    ed->setGeometry(136, y, 202, 22);
    ed->SetMinValue(1);
    ed->SetMaxValue(65535);
    ed->setText(QString::fromLatin1(text));
    return ed;
}
} // namespace

TUDPSettingsDlg::TUDPSettingsDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("UDPSettingsDlg"));
    setWindowTitle(QStringLiteral("UDP Connection"));

    lbPrompt = new QLabel(QStringLiteral("Please enter the IP Address of the device:"), this);
    lbPrompt->setObjectName(QStringLiteral("lbPrompt"));
    lbPrompt->setGeometry(8, 8, 330, 17);

    edHostname = new QLineEdit(this);
    edHostname->setObjectName(QStringLiteral("edHostname"));
    edHostname->setGeometry(8, 28, 330, 22);

    lbTransmitPort = new QLabel(QStringLiteral("Transmit Port"), this);
    lbTransmitPort->setObjectName(QStringLiteral("lbTransmitPort"));
    lbTransmitPort->setGeometry(8, 64, 120, 17);
    edTransmitPort = PortField(this, "edTransmitPort", "1500", 60);

    lbListeningPort = new QLabel(QStringLiteral("Listening Port"), this);
    lbListeningPort->setObjectName(QStringLiteral("lbListeningPort"));
    lbListeningPort->setGeometry(8, 94, 120, 17);
    edListeningPort = PortField(this, "edListeningPort", "1501", 90);

    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnOk->setGeometry(72, 126, 81, 27);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    btnCancel->setGeometry(193, 126, 81, 27);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    edTransmitPort->OnChange = [this](QObject*) { edListeningPortChange(); };
    edListeningPort->OnChange = [this](QObject*) { edListeningPortChange(); };
    edListeningPortChange();
    resize(346, 162);
    FormResize();
}

bool TUDPSettingsDlg::Execute() {
    return exec() == QDialog::Accepted;
}

QString TUDPSettingsDlg::Host() const {
    return edHostname->text();
}

void TUDPSettingsDlg::SetHost(const QString& host) {
    edHostname->setText(host);
}

void TUDPSettingsDlg::SetListeningPort(int port) {
    edListeningPort->setText(QString::number(port));
}

void TUDPSettingsDlg::SetTransmitPort(int port) {
    edTransmitPort->setText(QString::number(port));
}

int TUDPSettingsDlg::ListeningPort() const {
    try {
        return edListeningPort->Value();
    } catch (const EConvertError&) {
        throw EKaroError(QStringLiteral("Listening Port value is invalid"));
    }
}

int TUDPSettingsDlg::TransmitPort() const {
    try {
        return edTransmitPort->Value();
    } catch (const EConvertError&) {
        throw EKaroError(QStringLiteral("Transmit Port value is invalid"));
    }
}

void TUDPSettingsDlg::edListeningPortChange() {
    btnOk->setEnabled(edListeningPort->IsValid() && edTransmitPort->IsValid());
}

void TUDPSettingsDlg::FormResize() {
    const int w = width();
    edHostname->resize(w - 2 * edHostname->x(), edHostname->height());
    const int right = edHostname->x() + edHostname->width();
    edTransmitPort->resize(right - edTransmitPort->x(), edTransmitPort->height());
    edListeningPort->resize(right - edListeningPort->x(), edListeningPort->height());
    btnCancel->move(w - btnOk->x() - btnCancel->width(), btnCancel->y());
}

void TUDPSettingsDlg::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    FormResize();
}
