// SPDX-License-Identifier: Apache-2.0
#include "dialogs/BaudrateDialog.h"

#include "devices/serial/SerialDevice.h"

#include <QComboBox>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QStyle>

#include <algorithm>

namespace {
// A window manager shows the whole title only when the window is as wide as the title in its
// (usually bold) title font plus its icon and buttons; a few of those are allowed for.
int WidthForTitle(const QWidget* w) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::TitleFont);
    font.setBold(true);
    const QFontMetrics metrics(font);
    const int button = std::max(w->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, w),
                                metrics.height() + 6);
    return metrics.horizontalAdvance(w->windowTitle()) + 4 * button + 24;
}
} // namespace

TBaudrateDlg::TBaudrateDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("BaudrateDlg"));
    setWindowTitle(QStringLiteral("Connection Properties"));

    lbDevicePath = new QLabel(this);
    lbDevicePath->setObjectName(QStringLiteral("lbDevicePath"));
    lbDevicePath->setGeometry(8, 8, 200, 17);

    lbBaudrate = new QLabel(QStringLiteral("Baudrate:"), this);
    lbBaudrate->setObjectName(QStringLiteral("lbBaudrate"));
    lbBaudrate->setGeometry(8, 32, 120, 17);

    cbBaudrate = new QComboBox(this);
    cbBaudrate->setObjectName(QStringLiteral("cbBaudrate"));
    cbBaudrate->setGeometry(8, 52, 200, 24);
    cbBaudrate->addItems({QStringLiteral("1200 baud"), QStringLiteral("2400 baud"),
                          QStringLiteral("4800 baud"), QStringLiteral("9600 baud"),
                          QStringLiteral("19200 baud"), QStringLiteral("38400 baud"),
                          QStringLiteral("57600 baud"), QStringLiteral("115200 baud")});
    lbBaudrate->setBuddy(cbBaudrate);

    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnOk->setGeometry(8, 88, 81, 27);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    btnCancel->setGeometry(127, 88, 81, 27);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cbBaudrate, &QComboBox::currentIndexChanged, this, [this](int) { cbBaudrateChange(); });

    cbBaudrate->setCurrentIndex(0);
    cbBaudrateChange();
    resize(std::max(216, WidthForTitle(this)), 124);
    FormResize();
}

bool TBaudrateDlg::Execute() {
    return exec() == QDialog::Accepted;
}

int TBaudrateDlg::ItemIndex() const {
    return cbBaudrate->currentIndex();
}

void TBaudrateDlg::SetItemIndex(int index) {
    if (index < 0 || index >= cbBaudrate->count())
        throw EKaroError(QStringLiteral("Index out of bounds"));
    cbBaudrate->setCurrentIndex(index);
}

TVaBaudrate TBaudrateDlg::Baudrate() const {
    return TSerialDevice::BaudrateCode(ItemIndex());
}

void TBaudrateDlg::SetPort(const QString& portName, const QString& devicePath) {
    const QString text = devicePath.isEmpty() || devicePath == portName
                             ? portName
                             : portName + QStringLiteral(" = ") + devicePath;
    lbDevicePath->setText(text);
    lbDevicePath->setToolTip(text);
}

void TBaudrateDlg::cbBaudrateChange() {
    btnOk->setEnabled(cbBaudrate->currentIndex() >= 0);
}

void TBaudrateDlg::FormResize() {
    const int w = width();
    cbBaudrate->resize(w - 2 * cbBaudrate->x(), cbBaudrate->height());
    lbDevicePath->resize(cbBaudrate->width(), lbDevicePath->height());
    btnCancel->move(w - btnOk->x() - btnCancel->width(), btnCancel->y());
}

void TBaudrateDlg::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    FormResize();
}
