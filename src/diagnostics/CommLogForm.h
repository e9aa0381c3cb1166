#pragma once

#include "protocol/PacketListClass.h"
#include "protocol/PacketLog.h"

#include <QAbstractScrollArea>
#include <QString>
#include <QWidget>

#include <deque>
#include <functional>

class QCheckBox;
class QMenu;
class QAction;
class QPushButton;

// One log line: "RX PACKET: ID=43h (GET_POS), Length=6: 00 00 (E_SUCCESS) 00 00 48 42".
QString FormatLogLine(const TPacket& packet, bool received, bool showIDDescr,
                      bool evaluateErrorCodes);
// Appends the same line to `out` without temporaries; the full re-render is built with it.
void AppendLogLine(QString& out, const TPacket& packet, bool received, bool showIDDescr,
                   bool evaluateErrorCodes);

// The length FormatLogLine would give, without building the line.
int LogLineLength(const TPacket& packet, bool received, bool showIDDescr, bool evaluateErrorCodes);

// Blank-separated hexadecimal bytes ("48 69 0a") as bytes; empty when any token is not a
// hexadecimal number of 0 to 255.
TByteArray SelectionToBytes(const QString& selection);
// The operator's conversions of selected bytes; each returns the text of the box to show and
// whether it is an error.
struct TConversionResult {
    bool Error = false;
    QString Text;
};
TConversionResult ConvertAsFloat(const TByteArray& bytes);
TConversionResult ConvertAsInteger(const TByteArray& bytes);
TConversionResult ConvertAsText(const TByteArray& bytes);
// 4 significant digits, fixed or scientific ("10", "0.0001", "1.235E4", "1E-5", "INF", "NAN").
QString FormatFloat4(double value);

// A read-only, fixed-pitch view of numbered lines that it asks for only when it paints them.
// Appending a line and replacing all lines cost the same however many lines there are, which a
// text document of several hundred thousand blocks cannot offer. The operator can mark text
// with the mouse (Ctrl+C copies, Ctrl+A marks everything).
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

    // One line was added at the end, `chars` long.
    void LineAppended(int chars);
    // The line at `index` went; the lines after it moved up by one.
    void LineRemoved(int index);
    // Every line changed or went; `maxChars` is the longest line.
    void LinesReset(int maxChars);

    bool HasSelection() const { return FAnchor != FCursor; }
    QString SelectedText() const;
    void SetSelection(TPos anchor, TPos cursor);
    void ClearSelection();
    void SelectAll();
    QString ToPlainText() const;
    bool AtNewest() const;
    void ScrollToNewest();

Q_SIGNALS:
    void mouseReleased(const QPoint& pos, Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    int Count() const { return LineCount ? LineCount() : 0; }
    QString Text(int index) const { return Line ? Line(index) : QString(); }
    int LineHeight() const;
    int CharWidth() const;
    int VisibleLines() const;
    TPos PosAt(const QPoint& point) const;
    void UpdateScrollBars();

    int FMaxChars = 0;
    TPos FAnchor;
    TPos FCursor;
    bool FSelecting = false;
};

// The communications log: keeps a copy of every packet the command set sends or receives and
// shows each as a line of hexadecimal text. Lines are formatted from the stored packets, so an
// option change re-renders everything from the store in one pass.
class TCommLog : public QWidget, public IPacketLog {
    Q_OBJECT
public:
    // At 30 packets a second a working day is about a million entries.
    static constexpr int DefaultCapacity = 1000000;

    explicit TCommLog(QWidget* parent = nullptr);
    ~TCommLog() override;

    void LogPacket(const TPacket& packet, bool received) override;

    // The most entries kept; beyond it the oldest go, and the view's first line says how many.
    int Capacity() const { return FCapacity; }
    void SetCapacity(int capacity);
    int Dropped() const { return FDropped; }

    int Count() const { return FPackets.Count(); }
    const TPacket& Packet(int index) const { return FPackets.At(index); }
    bool Received(int index) const { return FReceived.at(static_cast<std::size_t>(index)) != 0; }

    TLogView* RxMsgMemo;
    QCheckBox* cbShowIDDescr;
    QCheckBox* cbEvaluateErrorCodes;
    QPushButton* btnClear;
    QMenu* PopupMenu1;
    QAction* miAsFloat;
    QAction* miAsInteger;
    QAction* miAsText;

public Q_SLOTS:
    void btnClearClick();
    void OnOptionsChanged();
    void miAsFloatClick();
    void miAsIntegerClick();
    void miAsTextClick();

private:
    void RxMsgMemoMouseUp(const QPoint& pos);
    void ShowResult(const TConversionResult& result);
    QString SelectedText() const;
    // Lines before the first entry: the one saying how many were dropped, once any were.
    int HeaderLines() const { return FDropped > 0 ? 1 : 0; }
    QString DroppedLine() const;
    void DropOldest();

    TPacketList FPackets;
    std::deque<std::uint8_t> FReceived; // direction of each stored packet, same index
    int FCapacity = DefaultCapacity;
    int FDropped = 0;
};
