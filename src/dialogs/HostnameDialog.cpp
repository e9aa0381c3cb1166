// SPDX-License-Identifier: Apache-2.0
#include "dialogs/HostnameDialog.h"

#include "widgets/IntegerEdit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QResizeEvent>

#include <algorithm>

THostNameDlg::THostNameDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("HostNameDlg"));
    setWindowTitle(QStringLiteral("TCP Connection"));

    lbPrompt = new QLabel(
        QStringLiteral("Please enter the Hostname or the IP Address of the device:"), this);
    lbPrompt->setObjectName(QStringLiteral("lbPrompt"));
    lbPrompt->setGeometry(8, 8, 330, 17);

    edHostname = new QLineEdit(this);
    edHostname->setObjectName(QStringLiteral("edHostname"));
    edHostname->setGeometry(8, 28, 330, 22);

    lbPort = new QLabel(QStringLiteral("Connect via port:"), this);
    lbPort->setObjectName(QStringLiteral("lbPort"));
    lbPort->setGeometry(8, 64, 120, 17);

    edPort = new TIntegerEdit(this);
    edPort->setObjectName(QStringLiteral("edPort"));
    edPort->setGeometry(136, 60, 202, 22);
    edPort->SetMinValue(1);
    edPort->SetMaxValue(65535);
    edPort->setText(QStringLiteral("1000"));

    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnOk->setGeometry(72, 96, 81, 27);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    btnCancel->setGeometry(193, 96, 81, 27);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    // Texts keep their design places but never get less room than the platform font needs.
    lbPrompt->resize(std::max(lbPrompt->width(), lbPrompt->sizeHint().width()), lbPrompt->height());
    lbPort->resize(std::max(lbPort->width(), lbPort->sizeHint().width()), lbPort->height());
    edPort->move(std::max(edPort->x(), lbPort->x() + lbPort->width() + 8), edPort->y());

    edPort->OnChange = [this](QObject*) { edPortChange(); };
    connect(edHostname, &QLineEdit::textChanged, this, [this] { edPortChange(); });
    edPortChange();
    resize(std::max(346, lbPrompt->x() * 2 + lbPrompt->width()), 132);
    FormResize();
}

bool THostNameDlg::Execute() {
    return exec() == QDialog::Accepted;
}

QString THostNameDlg::Host() const {
    return edHostname->text();
}

void THostNameDlg::SetHost(const QString& host) {
    edHostname->setText(host);
}

void THostNameDlg::SetPort(int port) {
    edPort->setText(QString::number(port));
}

int THostNameDlg::Port() const {
    try {
        return edPort->Value();
    } catch (const EConvertError&) {
        throw EKaroError(QStringLiteral("Port value is invalid"));
    }
}

void THostNameDlg::edPortChange() {
    // An empty host is refused as a bad port is: there is nothing to connect to.
    btnOk->setEnabled(edPort->IsValid() && !edHostname->text().trimmed().isEmpty());
}

void THostNameDlg::FormResize() {
    const int w = width();
    edHostname->resize(w - 2 * edHostname->x(), edHostname->height());
    const int right = edHostname->x() + edHostname->width();
    edPort->resize(right - edPort->x(), edPort->height());
    btnCancel->move(w - btnOk->x() - btnCancel->width(), btnCancel->y());
}

void THostNameDlg::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    FormResize();
}
