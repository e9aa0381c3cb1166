// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CommLogView.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cmath>

namespace {

bool IsHexDigit(QChar c) {
    const char16_t u = c.unicode();
    return (u >= '0' && u <= '9') || (u >= 'A' && u <= 'F') || (u >= 'a' && u <= 'f');
}

bool IsWordChar(QChar c) {
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

} // namespace

TLogView::TLogView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    verticalScrollBar()->setSingleStep(1);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(),
            qOverload<>(&QWidget::update));
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(),
            qOverload<>(&QWidget::update));
}

// Kept until the font changes: every appended line asks for them, and a flood appends
// hundreds of thousands a second.
const TLogView::TMetrics& TLogView::Metrics() const {
    if (!FMetrics) {
        const QFontMetricsF f(font());
        FMetrics = TMetrics{std::max(1, fontMetrics().lineSpacing()),
                            std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0'))),
                            std::max(1.0, f.horizontalAdvance(QLatin1Char('0')))};
    }
    return *FMetrics;
}

int TLogView::LineHeight() const {
    return Metrics().LineHeight;
}

int TLogView::CharWidth() const {
    return Metrics().CharWidth;
}

double TLogView::CharWidthF() const {
    return Metrics().CharWidthF;
}

// Glyph advances are fractional; a whole-pixel character width drifts off the drawn text by
// a pixel every few characters.
double TLogView::ColumnX(const QString& text, int column) const {
    const int n = std::clamp(column, 0, static_cast<int>(text.size()));
    return QFontMetricsF(font()).horizontalAdvance(text.left(n)) + (column - n) * CharWidthF();
}

int TLogView::ColumnAt(const QString& text, double x, bool nearestBoundary) const {
    // The last boundary at or left of x; advances grow with the column.
    int lo = 0;
    int hi = static_cast<int>(text.size());
    if (x < 0)
        return 0;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (ColumnX(text, mid) <= x)
            lo = mid;
        else
            hi = mid - 1;
    }
    if (nearestBoundary && lo < text.size() && x - ColumnX(text, lo) > ColumnX(text, lo + 1) - x)
        ++lo;
    return lo;
}

int TLogView::VisibleLines() const {
    return std::max(1, viewport()->height() / LineHeight());
}

void TLogView::UpdateScrollBars() {
    const int count = Count();
    QScrollBar* v = verticalScrollBar();
    v->setPageStep(VisibleLines());
    v->setRange(0, std::max(0, count - VisibleLines()));
    QScrollBar* h = horizontalScrollBar();
    h->setPageStep(std::max(1, viewport()->width()));
    h->setSingleStep(CharWidth());
    const int width = static_cast<int>(std::ceil(FMaxChars * CharWidthF()));
    h->setRange(0, std::max(0, width + 4 - viewport()->width()));
}

bool TLogView::AtNewest() const {
    const QScrollBar* v = verticalScrollBar();
    return v->value() >= v->maximum();
}

void TLogView::ScrollToNewest() {
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TLogView::LineAppended(int chars) {
    // The view stays where the operator put it while text is marked or the view is scrolled up.
    const bool follow = !HasSelection() && AtNewest();
    FMaxChars = std::max(FMaxChars, chars);
    UpdateScrollBars();
    if (follow)
        ScrollToNewest();
    const int last = Count() - 1;
    const int first = verticalScrollBar()->value();
    if (last >= first && last <= first + VisibleLines())
        viewport()->update();
}

void TLogView::LineRemoved(int index) {
    // Marked text and the scroll position stay on the lines they were on.
    // Only a mark over the removed line now covers other text; a full log removes a line per
    // packet, and telling the inspector each time would stall a flood.
    const bool changed = FAnchor != FCursor && std::min(FAnchor, FCursor).Line <= index &&
                         std::max(FAnchor, FCursor).Line >= index;
    auto shift = [index](TPos& p) {
        if (p.Line > index)
            --p.Line;
        else if (p.Line == index)
            p.Column = 0;
    };
    shift(FAnchor);
    shift(FCursor);
    if (changed)
        Q_EMIT selectionChanged();
    QScrollBar* v = verticalScrollBar();
    if (v->value() > index && v->value() < v->maximum())
        v->setValue(v->value() - 1);
    UpdateScrollBars();
    viewport()->update();
}

void TLogView::LinesReset(int maxChars) {
    FMaxChars = maxChars;
    FAnchor = FCursor = TPos{};
    FSelecting = false;
    UpdateScrollBars();
    ScrollToNewest();
    viewport()->update();
    Q_EMIT selectionChanged();
}

void TLogView::SetSelection(TPos anchor, TPos cursor) {
    FAnchor = anchor;
    FCursor = cursor;
    viewport()->update();
    Q_EMIT selectionChanged();
}

void TLogView::ClearSelection() {
    SetSelection(FCursor, FCursor);
}

void TLogView::SelectAll() {
    const int count = Count();
    if (count == 0)
        return;
    SetSelection(TPos{}, TPos{count - 1, static_cast<int>(Text(count - 1).size())});
}

QString TLogView::SelectedText() const {
    if (!HasSelection())
        return {};
    const TPos a = std::min(FAnchor, FCursor);
    const TPos b = std::max(FAnchor, FCursor);
    QString out;
    for (int line = a.Line; line <= b.Line && line < Count(); ++line) {
        const QString text = Text(line);
        const int from = line == a.Line ? std::min(a.Column, static_cast<int>(text.size())) : 0;
        const int to = line == b.Line ? std::min(b.Column, static_cast<int>(text.size()))
                                      : static_cast<int>(text.size());
        if (line > a.Line)
            out += QLatin1Char('\n');
        out += text.mid(from, std::max(0, to - from));
    }
    return out;
}

QString TLogView::ToPlainText() const {
    QString out;
    const int count = Count();
    for (int i = 0; i < count; ++i) {
        if (i > 0)
            out += QLatin1Char('\n');
        out += Text(i);
    }
    return out;
}

TLogView::TPos TLogView::PosAt(const QPoint& point) const {
    const int count = Count();
    if (count == 0)
        return {};
    int line = verticalScrollBar()->value() + std::max(0, point.y()) / LineHeight();
    line = std::clamp(line, 0, count - 1);
    const int x = point.x() + horizontalScrollBar()->value() - 2;
    return {line, ColumnAt(Text(line), x, true)};
}

void TLogView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QPalette pal = palette();
    painter.fillRect(viewport()->rect(), pal.color(QPalette::Base));
    painter.setFont(font());
    const int lh = LineHeight();
    const int ascent = fontMetrics().ascent();
    const int x0 = 2 - horizontalScrollBar()->value();
    const int first = verticalScrollBar()->value();
    const int last = std::min(Count() - 1, first + VisibleLines());
    const TPos a = std::min(FAnchor, FCursor);
    const TPos b = std::max(FAnchor, FCursor);
    for (int line = first; line <= last; ++line) {
        const QString text = Text(line);
        const int y = (line - first) * lh;
        int from = 0;
        int to = 0;
        if (HasSelection() && line >= a.Line && line <= b.Line) {
            from = line == a.Line ? a.Column : 0;
            // A marked line end shows as one marked cell.
            to = line == b.Line ? b.Column : static_cast<int>(text.size()) + 1;
        }
        const QColor own = LineColor ? LineColor(line) : QColor();
        painter.setPen(own.isValid() ? own : pal.color(QPalette::Text));
        painter.drawText(x0, y + ascent, text);
        if (to > from) {
            // The marked glyphs are the same glyphs in the marked colours, clipped to the mark.
            const QRectF marked(x0 + ColumnX(text, from), y,
                                ColumnX(text, to) - ColumnX(text, from), lh);
            painter.fillRect(marked, pal.color(QPalette::Highlight));
            painter.save();
            painter.setClipRect(marked);
            painter.setPen(pal.color(QPalette::HighlightedText));
            painter.drawText(x0, y + ascent, text);
            painter.restore();
        }
        if (hasFocus() && line == FCursor.Line)
            painter.fillRect(QRectF(x0 + ColumnX(text, FCursor.Column), y, 1, lh),
                             pal.color(QPalette::Text));
    }
}

void TLogView::resizeEvent(QResizeEvent* event) {
    const bool follow = AtNewest();
    QAbstractScrollArea::resizeEvent(event);
    UpdateScrollBars();
    if (follow)
        ScrollToNewest();
}

void TLogView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        FMetrics.reset();
        UpdateScrollBars();
    }
}

void TLogView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        const TPos pos = PosAt(event->position().toPoint());
        if (event->modifiers() & Qt::ShiftModifier)
            FCursor = pos;
        else
            FAnchor = FCursor = pos;
        FSelecting = true;
        viewport()->update();
        Q_EMIT selectionChanged();
    }
    QAbstractScrollArea::mousePressEvent(event);
}

void TLogView::mouseMoveEvent(QMouseEvent* event) {
    if (FSelecting && (event->buttons() & Qt::LeftButton)) {
        const QPoint p = event->position().toPoint();
        if (p.y() < 0)
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
        else if (p.y() > viewport()->height())
            verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
        FCursor = PosAt(p);
        viewport()->update();
        Q_EMIT selectionChanged();
    }
    QAbstractScrollArea::mouseMoveEvent(event);
}

void TLogView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        FSelecting = false;
    QAbstractScrollArea::mouseReleaseEvent(event);
    Q_EMIT mouseReleased(event->position().toPoint(), event->button());
}

void TLogView::CopySelection() const {
    if (HasSelection())
        QGuiApplication::clipboard()->setText(SelectedText());
}

void TLogView::EnsureVisible(TPos pos) {
    QScrollBar* v = verticalScrollBar();
    if (pos.Line < v->value())
        v->setValue(pos.Line);
    else if (pos.Line >= v->value() + VisibleLines())
        v->setValue(pos.Line - VisibleLines() + 1);
    QScrollBar* h = horizontalScrollBar();
    const int x = static_cast<int>(ColumnX(Text(pos.Line), pos.Column));
    if (x < h->value())
        h->setValue(std::max(0, x - 4 * CharWidth()));
    else if (x + CharWidth() > h->value() + viewport()->width())
        h->setValue(x + 4 * CharWidth() - viewport()->width());
}

QPoint TLogView::PointOf(TPos pos) const {
    return {2 - horizontalScrollBar()->value() +
                static_cast<int>(std::lround(ColumnX(Text(pos.Line), pos.Column))),
            (pos.Line - verticalScrollBar()->value()) * LineHeight()};
}

void TLogView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || Count() == 0)
        return QAbstractScrollArea::mouseDoubleClickEvent(event);
    // The character under the pointer, not the nearest boundary.
    const QPoint p = event->position().toPoint();
    const int line = std::clamp(verticalScrollBar()->value() + std::max(0, p.y()) / LineHeight(), 0,
                                Count() - 1);
    const QString text = Text(line);
    const int column = ColumnAt(text, p.x() + horizontalScrollBar()->value() - 2, false);
    if (column >= text.size())
        return;
    // A hexadecimal byte is the blank-separated token of two digits, so that "00" in
    // "ID=00h" is no byte but "00" in ": 00 48" is.
    int from = column;
    int to = column;
    while (from > 0 && text[from - 1] != QLatin1Char(' '))
        --from;
    while (to < text.size() && text[to] != QLatin1Char(' '))
        ++to;
    if (!(to - from == 2 && IsHexDigit(text[from]) && IsHexDigit(text[from + 1]))) {
        if (!IsWordChar(text[column]))
            return;
        from = to = column;
        while (from > 0 && IsWordChar(text[from - 1]))
            --from;
        while (to < text.size() && IsWordChar(text[to]))
            ++to;
    }
    FSelecting = false;
    SetSelection({line, from}, {line, to});
}

bool TLogView::MoveCursor(QKeyEvent* event) {
    const int count = Count();
    if (count == 0)
        return false;
    TPos pos = FCursor;
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    auto lineLength = [this](int line) { return static_cast<int>(Text(line).size()); };
    switch (event->key()) {
    case Qt::Key_Left:
        if (pos.Column > 0)
            --pos.Column;
        else if (pos.Line > 0)
            pos = {pos.Line - 1, lineLength(pos.Line - 1)};
        break;
    case Qt::Key_Right:
        if (pos.Column < lineLength(pos.Line))
            ++pos.Column;
        else if (pos.Line + 1 < count)
            pos = {pos.Line + 1, 0};
        break;
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown: {
        const int key = event->key();
        const int step = key == Qt::Key_Up || key == Qt::Key_Down ? 1 : VisibleLines();
        const int line =
            key == Qt::Key_Up || key == Qt::Key_PageUp ? pos.Line - step : pos.Line + step;
        pos.Line = std::clamp(line, 0, count - 1);
        pos.Column = std::min(pos.Column, lineLength(pos.Line));
        break;
    }
    case Qt::Key_Home:
        pos = ctrl ? TPos{} : TPos{pos.Line, 0};
        break;
    case Qt::Key_End:
        pos = ctrl ? TPos{count - 1, lineLength(count - 1)} : TPos{pos.Line, lineLength(pos.Line)};
        break;
    default:
        return false;
    }
    pos.Line = std::clamp(pos.Line, 0, count - 1);
    FCursor = pos;
    if (!(event->modifiers() & Qt::ShiftModifier))
        FAnchor = FCursor;
    EnsureVisible(FCursor);
    viewport()->update();
    Q_EMIT selectionChanged();
    return true;
}

void TLogView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        CopySelection();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
        return;
    }
    if (MoveCursor(event))
        return;
    QAbstractScrollArea::keyPressEvent(event);
}

void TLogView::contextMenuEvent(QContextMenuEvent* event) {
    Q_EMIT contextMenuRequested(event->globalPos());
}
