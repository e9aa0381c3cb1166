// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CommLogFilter.h"

#include "diagnostics/CommLogEvents.h"
#include "protocol/Constants.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QWidgetAction>

namespace {

constexpr int OtherIDs = -1;

bool InTable(int id) {
    for (const auto& entry : CommandIDs)
        if (entry.ID == id)
            return true;
    return false;
}

} // namespace

TLogFilterButton::TLogFilterButton(QWidget* parent) : QToolButton(parent) {
    setText(QStringLiteral("Filter"));
    setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("mnFilter"));
    miShowRx = menu->addAction(QStringLiteral("Received packets (RX)"));
    miShowRx->setObjectName(QStringLiteral("miShowRx"));
    miShowTx = menu->addAction(QStringLiteral("Transmitted packets (TX)"));
    miShowTx->setObjectName(QStringLiteral("miShowTx"));
    for (QAction* a : {miShowRx, miShowTx}) {
        a->setCheckable(true);
        a->setChecked(true);
        connect(a, &QAction::toggled, this, &TLogFilterButton::Update);
    }
    menu->addSeparator();
    for (int k = 0; k < TLogFilter::EventKinds; ++k) {
        QAction* a = menu->addAction(LinkEventCaption(static_cast<TLinkEventKind>(k)));
        a->setObjectName(QStringLiteral("miShowEvent%1").arg(k));
        a->setCheckable(true);
        a->setChecked(true);
        connect(a, &QAction::toggled, this, &TLogFilterButton::Update);
        miShowEvents.append(a);
    }
    menu->addSeparator();
    miShowAllIDs = menu->addAction(QStringLiteral("All identifiers"));
    miShowAllIDs->setObjectName(QStringLiteral("miShowAllIDs"));
    connect(miShowAllIDs, &QAction::triggered, this, &TLogFilterButton::ShowAll);

    lbFilterIDs = new QListWidget(menu);
    lbFilterIDs->setObjectName(QStringLiteral("lbFilterIDs"));
    auto addItem = [this](const QString& text, int id) {
        auto* item = new QListWidgetItem(text, lbFilterIDs);
        item->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
        item->setCheckState(Qt::Checked);
        item->setData(Qt::UserRole, id);
    };
    for (const auto& entry : CommandIDs)
        addItem(QStringLiteral("%1").arg(entry.ID, 2, 16, QLatin1Char('0')).toUpper() +
                    QStringLiteral("h ") + CommandName(static_cast<std::uint8_t>(entry.ID)),
                entry.ID);
    addItem(QStringLiteral("Other identifiers"), OtherIDs);
    lbFilterIDs->setMinimumHeight(240);
    auto* listAction = new QWidgetAction(menu);
    listAction->setDefaultWidget(lbFilterIDs);
    menu->addAction(listAction);
    connect(lbFilterIDs, &QListWidget::itemChanged, this, &TLogFilterButton::ItemChanged);
    setMenu(menu);
}

void TLogFilterButton::ItemChanged(QListWidgetItem* item) {
    const int id = item->data(Qt::UserRole).toInt();
    const bool hidden = item->checkState() != Qt::Checked;
    if (id == OtherIDs) {
        for (int i = 0; i < 256; ++i)
            if (!InTable(i))
                FFilter.HiddenIDs.set(static_cast<std::size_t>(i), hidden);
    } else {
        FFilter.HiddenIDs.set(static_cast<std::size_t>(id), hidden);
    }
    Update();
}

void TLogFilterButton::ShowAll() {
    const QSignalBlocker block(lbFilterIDs);
    for (int i = 0; i < lbFilterIDs->count(); ++i)
        lbFilterIDs->item(i)->setCheckState(Qt::Checked);
    FFilter.HiddenIDs.reset();
    Update();
}

void TLogFilterButton::Update() {
    FFilter.ShowRx = miShowRx->isChecked();
    FFilter.ShowTx = miShowTx->isChecked();
    for (int k = 0; k < TLogFilter::EventKinds; ++k)
        FFilter.HiddenKinds.set(static_cast<std::size_t>(k),
                                !miShowEvents[static_cast<qsizetype>(k)]->isChecked());
    // Bold tells the operator that some entries are hidden.
    QFont f = font();
    f.setBold(!FFilter.PassesAll());
    setFont(f);
    Q_EMIT filterChanged();
}
