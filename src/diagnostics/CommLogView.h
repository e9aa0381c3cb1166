// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <QString>

#include <functional>
#include <optional>

// A read-only, fixed-pitch view of numbered lines that it asks for only when it paints them.
// Appending a line and replacing all lines cost the same however many lines there are, which a
// text document of several hundred thousand blocks cannot offer. It marks text as a text control
// does: mouse drag, Shift+click, Shift with the cursor keys, double-click on a word or a
// hexadecimal byte; Ctrl+C copies, Ctrl+A marks everything.
class TLogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    struct TPos {
        int Line = 0;
        int Column = 0;
        auto operator<=>(const TPos&) const = default;
    };

    explicit TLogView(QWidget* parent = nullptr);

    // Where the lines come from.
    std::function<int()> LineCount;
    std::function<QString(int index)> Line;
    // The colour of a line's text; an invalid colour for the ordinary one.
    std::function<QColor(int index)> LineColor;

    // One line was added at the end, `chars` long.
    void LineAppended(int chars);
    // The line at `index` went; the lines after it moved up by one.
    void LineRemoved(int index);
    // Every line changed or went; `maxChars` is the longest line.
    void LinesReset(int maxChars);

    bool HasSelection() const { return FAnchor != FCursor; }
    TPos Anchor() const { return FAnchor; }
    TPos Cursor() const { return FCursor; }
    QString SelectedText() const;
    void SetSelection(TPos anchor, TPos cursor);
    void ClearSelection();
    void SelectAll();
    void CopySelection() const;
    QString ToPlainText() const;
    bool AtNewest() const;
    void ScrollToNewest();
    // Scrolls as little as needed to show `pos`.
    void EnsureVisible(TPos pos);
    // Top left of the character at `pos` in viewport coordinates.
    QPoint PointOf(TPos pos) const;
    // Where the glyphs of a line place the boundary before `column`, from the line's left edge.
    double ColumnX(const QString& text, int column) const;

Q_SIGNALS:
    void selectionChanged();
    void mouseReleased(const QPoint& pos, Qt::MouseButton button);
    void contextMenuRequested(const QPoint& globalPos);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int Count() const { return LineCount ? LineCount() : 0; }
    QString Text(int index) const {
        return Line && index >= 0 && index < Count() ? Line(index) : QString();
    }
    int LineHeight() const;
    int CharWidth() const;
    double CharWidthF() const;
    // The column of the boundary nearest to `x` (from the line's left edge), or of the
    // character under it.
    int ColumnAt(const QString& text, double x, bool nearestBoundary) const;
    int VisibleLines() const;
    // The boundary between characters nearest to `point` (for marking by dragging).
    TPos PosAt(const QPoint& point) const;
    void UpdateScrollBars();
    // Moves the cursor for a navigation key; false when the key is none.
    bool MoveCursor(QKeyEvent* event);

    int FMaxChars = 0;
    struct TMetrics {
        int LineHeight;
        int CharWidth;
        double CharWidthF;
    };
    const TMetrics& Metrics() const;
    mutable std::optional<TMetrics> FMetrics;
    TPos FAnchor;
    TPos FCursor;
    bool FSelecting = false;
};
