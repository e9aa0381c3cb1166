// SPDX-License-Identifier: Apache-2.0
#include "widgets/StampedLog.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QTextBlock>

class TStampColumn : public QWidget {
public:
    explicit TStampColumn(TStampedLog* log) : QWidget(log), FLog(log) {}
    QSize sizeHint() const override { return {FLog->ColumnWidth(), 0}; }

protected:
    void paintEvent(QPaintEvent* e) override { FLog->PaintColumn(e); }

private:
    TStampedLog* FLog;
};

TStampedLog::TStampedLog(QWidget* parent)
    : QPlainTextEdit(parent), FColumn(new TStampColumn(this)) {
    setReadOnly(true);
    setUndoRedoEnabled(false);
    FClear = new QAction(QStringLiteral("C&lear"), this);
    FClear->setObjectName(QStringLiteral("acClear"));
    connect(FClear, &QAction::triggered, this, &QPlainTextEdit::clear);
    // Stamped however a line arrives, appendPlainText included.
    connect(document(), &QTextDocument::contentsChange, this,
            [this](int position, int, int added) { StampNewLines(position, added); });
    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect& rect, int dy) {
        if (dy)
            FColumn->scroll(0, dy);
        else
            FColumn->update(0, rect.y(), FColumn->width(), rect.height());
    });
    setViewportMargins(ColumnWidth(), 0, 0, 0);
}

QString TStampedLog::StampText(QTime time) {
    return time.toString(QStringLiteral("HH:mm:ss.zzz"));
}

int TStampedLog::ColumnWidth() const {
    return fontMetrics().horizontalAdvance(QStringLiteral("00:00:00.000")) + 8;
}

void TStampedLog::StampNewLines(int position, int added) {
    const int stamp = Now().msecsSinceStartOfDay();
    QTextBlock b = document()->findBlock(position);
    const QTextBlock last = document()->findBlock(position + added);
    while (b.isValid()) {
        // A block keeps the stamp of when it began; the first block of an empty text has none
        // until it holds something.
        if (b.userState() < 0 && !(b.length() <= 1 && document()->blockCount() == 1))
            b.setUserState(stamp);
        if (b == last)
            break;
        b = b.next();
    }
}

QTime TStampedLog::LineTime(int line) const {
    const QTextBlock b = document()->findBlockByNumber(line);
    return b.isValid() && b.userState() >= 0 ? QTime::fromMSecsSinceStartOfDay(b.userState())
                                             : QTime();
}

void TStampedLog::resizeEvent(QResizeEvent* e) {
    QPlainTextEdit::resizeEvent(e);
    const QRect r = contentsRect();
    FColumn->setGeometry(r.left(), r.top(), ColumnWidth(), r.height());
}

void TStampedLog::PaintColumn(QPaintEvent* e) {
    QPainter p(FColumn);
    p.fillRect(e->rect(), palette().color(QPalette::AlternateBase));
    p.setPen(palette().color(QPalette::PlaceholderText));
    QTextBlock b = firstVisibleBlock();
    int top = qRound(blockBoundingGeometry(b).translated(contentOffset()).top());
    while (b.isValid() && top <= e->rect().bottom()) {
        const int height = qRound(blockBoundingRect(b).height());
        if (b.isVisible() && b.userState() >= 0)
            p.drawText(0, top, FColumn->width() - 4, fontMetrics().height(),
                       Qt::AlignRight | Qt::AlignTop,
                       StampText(QTime::fromMSecsSinceStartOfDay(b.userState())));
        top += height;
        b = b.next();
    }
}

void TStampedLog::contextMenuEvent(QContextMenuEvent* e) {
    QMenu* menu = createStandardContextMenu();
    menu->addSeparator();
    menu->addAction(FClear);
    FClear->setEnabled(!document()->isEmpty());
    menu->exec(e->globalPos());
    delete menu;
}
