// SPDX-License-Identifier: Apache-2.0
#include "dialogs/CanParamsDialog.h"

#include "devices/can/platform/CanNets.h"
#include "protocol/Errors.h"
#include "widgets/IntegerEdit.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <array>
#include <utility>

namespace {
// Entry text and library code, in list order.
const std::array<std::pair<const char*, int>, 8> kBitrates{{{"10 kBit/s", 13},
                                                            {"20 kBit/s", 11},
                                                            {"50 kBit/s", 9},
                                                            {"100 kBit/s", 7},
                                                            {"125 kBit/s", 6},
                                                            {"250 kBit/s", 4},
                                                            {"500 kBit/s", 2},
                                                            {"1 MBit/s", 0}}};
} // namespace

TCANParamsDlg::TCANParamsDlg(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("CANParamsDlg"));
    setWindowTitle(QStringLiteral("CAN-Bus Configuration"));

    lbInfo = new QLabel(QStringLiteral("Please select the CAN-Bus configuration. You need to "
                                       "select the same settings that you are using for the "
                                       "target system:"),
                        this);
    lbInfo->setObjectName(QStringLiteral("lbInfo"));
    lbInfo->setWordWrap(true);
    lbInfo->setGeometry(8, 8, 314, 48);

    lbBitrate = new QLabel(QStringLiteral("CAN-Bus bitrate:"), this);
    lbBitrate->setObjectName(QStringLiteral("lbBitrate"));
    lbBitrate->setGeometry(8, 68, 150, 17);
    cbBitrate = new QComboBox(this);
    cbBitrate->setObjectName(QStringLiteral("cbBitrate"));
    cbBitrate->setEditable(true);
    cbBitrate->setInsertPolicy(QComboBox::NoInsert);
    for (const auto& [text, code] : kBitrates)
        cbBitrate->addItem(QString::fromLatin1(text), code);
    cbBitrate->setGeometry(164, 64, 158, 24);
    lbBitrate->setBuddy(cbBitrate);

    lbID = new QLabel(QStringLiteral("ID of the target system:"), this);
    lbID->setObjectName(QStringLiteral("lbID"));
    lbID->setGeometry(8, 100, 150, 17);
    edID = new TIntegerEdit(this);
    edID->setObjectName(QStringLiteral("edID"));
    edID->SetMinValue(0);
    edID->SetMaxValue(0);
    edID->setText(QStringLiteral("100"));
    edID->setGeometry(164, 96, 158, 22);
    lbID->setBuddy(edID);

    lbBus = new QLabel(this);
    lbBus->setObjectName(QStringLiteral("lbBus"));
    lbBus->setGeometry(8, 132, 314, 17);

    btnOk = new QPushButton(QStringLiteral("OK"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    btnOk->setGeometry(72, 168, 81, 27);
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    btnCancel->setAutoDefault(false);
    btnCancel->setGeometry(177, 168, 81, 27);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

    edID->OnChange = [this](QObject*) { edIDChange(); };
    edIDChange();
    setMinimumHeight(MinHeight);
    resize(330, MinHeight);
}

bool TCANParamsDlg::Execute() {
    return exec() == QDialog::Accepted;
}

int TCANParamsDlg::BitrateCode() const {
    // Typed text counts as a selection only when it is one of the entries.
    const int index = cbBitrate->findText(cbBitrate->currentText(), Qt::MatchFixedString);
    return index < 0 ? 0 : cbBitrate->itemData(index).toInt();
}

void TCANParamsDlg::SetBitrateCode(int code) {
    const int index = cbBitrate->findData(code);
    if (index < 0)
        throw EKaroError(QStringLiteral("%1 is not a supported bitrate").arg(code));
    cbBitrate->setCurrentIndex(index);
    cbBitrate->setEditText(cbBitrate->itemText(index));
}

int TCANParamsDlg::TargetId() const {
    if (!edID->IsValid())
        return -1;
    return TIntegerEdit::ReadInteger(edID->text()).value_or(-1);
}

void TCANParamsDlg::SetTargetId(int id) {
    edID->setText(QString::number(id));
}

void TCANParamsDlg::SetNet(const QString& portName) {
    const auto net = CanNets::NetNumber(portName);
    const QString bus = net ? CanNets::BusOf(*net) : QString();
    lbBus->setText(bus.isEmpty() ? QString() : QStringLiteral("%1 is %2").arg(portName, bus));
}

void TCANParamsDlg::edIDChange() {
    btnOk->setEnabled(edID->IsValid());
}
