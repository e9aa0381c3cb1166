// SPDX-License-Identifier: Apache-2.0
#include "ui/ListBoxDialog.h"

#include <QEvent>
#include <QFrame>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {
constexpr int RowHeight = 16;
constexpr int RowTextRole = Qt::UserRole + 1;
} // namespace

TListBoxDlg::TListBoxDlg(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("ListBoxDlg"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    resize(327, 218);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    ListBox = new QTreeWidget(this);
    ListBox->setObjectName(QStringLiteral("ListBox"));
    ListBox->setColumnCount(2);
    ListBox->setHeaderLabels({QStringLiteral("Description"), QStringLiteral("Value")});
    ListBox->setColumnWidth(0, 165);
    ListBox->setColumnWidth(1, 141);
    ListBox->setRootIsDecorated(false);
    ListBox->setUniformRowHeights(true);
    ListBox->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox->setStyleSheet(QStringLiteral("QTreeView::item { height: %1px; }").arg(RowHeight));
    ListBox->clear();
    layout->addWidget(ListBox, 1);

    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFixedHeight(41);
    layout->addWidget(Panel2);

    btnClose = new QPushButton(QStringLiteral("&close"), Panel2);
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnClose->resize(75, 25);
    btnClose->move(0, 8);
    btnClose->setAutoDefault(false);
    connect(btnClose, &QPushButton::clicked, this, &QDialog::reject);
    Panel2->installEventFilter(this);
}

void TListBoxDlg::AddRow(const QString& description, const QString& value) {
    auto* item = new QTreeWidgetItem(ListBox, {description, value});
    item->setData(0, RowTextRole, description + QLatin1Char(';') + value);
}

QStringList TListBoxDlg::Rows() const {
    QStringList out;
    for (int i = 0; i < ListBox->topLevelItemCount(); ++i)
        out << ListBox->topLevelItem(i)->data(0, RowTextRole).toString();
    return out;
}

int TListBoxDlg::ShowList() {
    ListBox->resizeColumnToContents(0);
    return exec();
}

void TListBoxDlg::Panel2Resize() {
    btnClose->move((Panel2->width() - btnClose->width()) / 2,
                   (Panel2->height() - btnClose->height()) / 2);
}

bool TListBoxDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Panel2 && event->type() == QEvent::Resize)
        Panel2Resize();
    return QDialog::eventFilter(watched, event);
}
