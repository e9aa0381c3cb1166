// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QList>
#include <QToolButton>

#include <bitset>
#include <cstdint>

class QAction;
class QListWidget;
class QListWidgetItem;

// Which entries the command log shows.
struct TLogFilter {
    static constexpr int EventKinds = 9;
    bool ShowRx = true;
    bool ShowTx = true;
    std::bitset<256> HiddenIDs;
    // Link events go by their kind alone.
    std::bitset<EventKinds> HiddenKinds;

    bool PassesAll() const { return ShowRx && ShowTx && HiddenIDs.none() && HiddenKinds.none(); }
    bool Passes(std::uint8_t id, bool received) const {
        return (received ? ShowRx : ShowTx) && !HiddenIDs.test(id);
    }
    bool PassesEvent(int kind) const {
        return kind < 0 || kind >= EventKinds || !HiddenKinds.test(static_cast<std::size_t>(kind));
    }
};

// The "Filter" button: directions as checkable entries and the command identifiers as a
// checkable list that stays open while the operator ticks it.
class TLogFilterButton : public QToolButton {
    Q_OBJECT
public:
    explicit TLogFilterButton(QWidget* parent = nullptr);

    const TLogFilter& Filter() const { return FFilter; }

    QAction* miShowRx;
    QAction* miShowTx;
    QAction* miShowAllIDs;
    // One per kind of link event, in the order of the kinds.
    QList<QAction*> miShowEvents;
    // One item per identifier of the command table, then one for every other identifier.
    QListWidget* lbFilterIDs;

Q_SIGNALS:
    void filterChanged();

private:
    void ItemChanged(QListWidgetItem* item);
    void ShowAll();
    void Update();

    TLogFilter FFilter;
};
