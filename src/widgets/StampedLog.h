// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QPlainTextEdit>
#include <QTime>

#include <functional>

class QAction;

// A read-only results text whose every line shows, in a column of its own, the time it was
// added; the text itself stays as written. Its context menu has Clear.
class TStampedLog : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit TStampedLog(QWidget* parent = nullptr);

    // The time each line was added, as shown; invalid for a line never stamped.
    QTime LineTime(int line) const;
    // "HH:mm:ss.zzz", as the column shows it.
    static QString StampText(QTime time);
    QAction* ClearAction() const { return FClear; }
    // The clock the stamps come from; the wall clock unless a test sets another.
    std::function<QTime()> Now = [] { return QTime::currentTime(); };

protected:
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    friend class TStampColumn;
    void StampNewLines(int position, int added);
    void PaintColumn(QPaintEvent* event);
    int ColumnWidth() const;

    QWidget* FColumn;
    QAction* FClear;
};
