#include "diagnostics/CommLogForm.h"

#include "protocol/ByteConv.h"
#include "protocol/Constants.h"
#include "protocol/TrimControl.h"
#include "widgets/MessageBoxes.h"

#include <QAction>
#include <QCheckBox>
#include <QClipboard>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLocale>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char HexDigits[] = "0123456789ABCDEF";

void AppendHexByte(QString& out, std::uint8_t b) {
    out += QLatin1Char(HexDigits[b >> 4]);
    out += QLatin1Char(HexDigits[b & 0xF]);
}

// Names are looked up once; a re-render asks for them hundreds of thousands of times.
const QString& CachedCommandName(std::uint8_t id) {
    static const std::array<QString, 256> names = [] {
        std::array<QString, 256> n;
        for (int i = 0; i < 256; ++i)
            n[static_cast<std::size_t>(i)] = CommandName(static_cast<std::uint8_t>(i));
        return n;
    }();
    return names[id];
}

const QString& CachedStatusName(std::uint8_t code) {
    static const std::array<QString, 256> names = [] {
        std::array<QString, 256> n;
        for (int i = 0; i < 256; ++i) {
            // Codes beyond the name table show their number.
            const QString ident = StatusIdentName(static_cast<std::uint8_t>(i));
            n[static_cast<std::size_t>(i)] = ident.isEmpty() ? QString::number(i) : ident;
        }
        return n;
    }();
    return names[code];
}

} // namespace

void AppendLogLine(QString& out, const TPacket& packet, bool received, bool showIDDescr,
                   bool evaluateErrorCodes) {
    out += received ? QLatin1String("RX PACKET: ID=") : QLatin1String("TX PACKET: ID=");
    const auto id = static_cast<std::uint8_t>(packet.ID & 0xFF);
    AppendHexByte(out, id);
    out += QLatin1Char('h');
    if (showIDDescr) {
        out += QLatin1String(" (");
        out += CachedCommandName(id);
        out += QLatin1Char(')');
    }
    out += QLatin1String(", Length=");
    out += QString::number(packet.Length);
    const std::size_t n =
        std::min(packet.Data.size(), static_cast<std::size_t>(std::max(packet.Length, 0)));
    if (n == 0)
        return;
    out += QLatin1Char(':');
    std::size_t i = 0;
    if (evaluateErrorCodes && received && n >= 2) {
        out += QLatin1Char(' ');
        AppendHexByte(out, packet.Data[0]);
        out += QLatin1Char(' ');
        AppendHexByte(out, packet.Data[1]);
        out += QLatin1String(" (");
        out += CachedStatusName(packet.Data[0]);
        out += QLatin1Char(')');
        i = 2;
    }
    for (; i < n; ++i) {
        out += QLatin1Char(' ');
        AppendHexByte(out, packet.Data[i]);
    }
}

QString FormatLogLine(const TPacket& packet, bool received, bool showIDDescr,
                      bool evaluateErrorCodes) {
    QString line;
    line.reserve(40 + 3 * static_cast<qsizetype>(packet.Data.size()));
    AppendLogLine(line, packet, received, showIDDescr, evaluateErrorCodes);
    return line;
}

int LogLineLength(const TPacket& packet, bool received, bool showIDDescr, bool evaluateErrorCodes) {
    const auto id = static_cast<std::uint8_t>(packet.ID & 0xFF);
    int len = 17; // "RX PACKET: ID=43h"
    if (showIDDescr)
        len += 3 + static_cast<int>(CachedCommandName(id).size());
    int digits = 1;
    for (long v = std::labs(static_cast<long>(packet.Length)); v >= 10; v /= 10)
        ++digits;
    len += 9 + digits + (packet.Length < 0 ? 1 : 0);
    const std::size_t n =
        std::min(packet.Data.size(), static_cast<std::size_t>(std::max(packet.Length, 0)));
    if (n == 0)
        return len;
    len += 1 + 3 * static_cast<int>(n);
    if (evaluateErrorCodes && received && n >= 2)
        len += 3 + static_cast<int>(CachedStatusName(packet.Data[0]).size());
    return len;
}

TByteArray SelectionToBytes(const QString& selection) {
    TByteArray bytes;
    QString rest = selection;
    while (!rest.isEmpty()) {
        rest = TrimControl(rest);
        if (rest.isEmpty())
            break;
        QString token;
        const qsizetype blank = rest.indexOf(QLatin1Char(' '));
        if (blank < 0) {
            token = rest;
            rest.clear();
        } else {
            token = rest.left(blank);
            rest = rest.mid(blank + 1);
        }
        unsigned value = 0;
        for (const QChar c : token) {
            const char16_t u = c.unicode();
            int digit = -1;
            if (u >= '0' && u <= '9')
                digit = u - '0';
            else if (u >= 'a' && u <= 'f')
                digit = u - 'a' + 10;
            else if (u >= 'A' && u <= 'F')
                digit = u - 'A' + 10;
            if (digit < 0)
                return {};
            value = value * 16 + static_cast<unsigned>(digit);
            if (value > 255)
                return {};
        }
        if (token.isEmpty())
            return {};
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

QString FormatFloat4(double value) {
    if (std::isnan(value))
        return QStringLiteral("NAN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
    if (value == 0)
        return QStringLiteral("0");
    // Exact leading digits first, then rounding to 4 significant digits with ties away from
    // zero (12345 shows as 1.235E4); the rounding decides the exponent (9999.5 becomes 1E4).
    char buf[80];
    std::snprintf(buf, sizeof buf, "%.40e", std::fabs(value));
    const char* ePos = std::strchr(buf, 'e');
    int exp10 = std::atoi(ePos + 1);
    int digits[5] = {buf[0] - '0', buf[2] - '0', buf[3] - '0', buf[4] - '0', buf[5] - '0'};
    if (digits[4] >= 5) {
        int i = 3;
        for (; i >= 0 && digits[i] == 9; --i)
            digits[i] = 0;
        if (i >= 0) {
            ++digits[i];
        } else {
            digits[0] = 1;
            ++exp10;
        }
    }
    QString mantissa; // the 4 digits without their trailing zeros
    int used = 4;
    while (used > 1 && digits[used - 1] == 0)
        --used;
    for (int i = 0; i < used; ++i)
        mantissa += QLatin1Char(static_cast<char>('0' + digits[i]));
    const QChar point = QLocale().decimalPoint().at(0);
    QString text = value < 0 ? QStringLiteral("-") : QString();
    const int e = exp10 + 1; // as 0.d x 10^e
    if (e >= -3 && e <= 4) {
        if (e <= 0) {
            text += QLatin1Char('0');
            text += point;
            text += QString(-e, QLatin1Char('0'));
            text += mantissa;
        } else if (e >= used) {
            text += mantissa;
            text += QString(e - used, QLatin1Char('0'));
        } else {
            text += mantissa.left(e);
            text += point;
            text += mantissa.mid(e);
        }
    } else {
        text += mantissa.left(1);
        if (used > 1) {
            text += point;
            text += mantissa.mid(1);
        }
        text += QLatin1Char('E');
        text += QString::number(exp10);
    }
    return text;
}

TConversionResult ConvertAsFloat(const TByteArray& bytes) {
    if (bytes.empty())
        return {true, QStringLiteral("Error while converting selected data.")};
    if (bytes.size() != 4)
        return {true, QStringLiteral("Error: 4 bytes required to form a float value")};
    const float v = SingleFromBytes(bytes[0], bytes[1], bytes[2], bytes[3]);
    return {false, QStringLiteral("Value is ") + FormatFloat4(static_cast<double>(v))};
}

TConversionResult ConvertAsInteger(const TByteArray& bytes) {
    if (bytes.empty())
        return {true, QStringLiteral("Error while converting selected data.")};
    std::uint32_t u = 0;
    for (std::size_t i = 0; i < bytes.size() && i < 4; ++i)
        u |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    const auto s = static_cast<std::int32_t>(u);
    const QString hex = QStringLiteral("%1").arg(u, 8, 16, QLatin1Char('0')).toUpper();
    return {false, QStringLiteral("Value is ") + QString::number(s) + QStringLiteral(" (") + hex +
                       QStringLiteral("h)")};
}

TConversionResult ConvertAsText(const TByteArray& bytes) {
    if (bytes.empty())
        return {true, QStringLiteral("Error while converting selected data.")};
    QString text;
    for (const std::uint8_t b : bytes)
        text += b < 32 ? QLatin1Char('_') : QChar(static_cast<char16_t>(b)); // Latin-1
    return {false, QStringLiteral("Text string is \"") + text + QLatin1Char('"')};
}

TLogView::TLogView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setCursor(Qt::IBeamCursor);
    verticalScrollBar()->setSingleStep(1);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, viewport(),
            qOverload<>(&QWidget::update));
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, viewport(),
            qOverload<>(&QWidget::update));
}

int TLogView::LineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

int TLogView::CharWidth() const {
    return std::max(1, fontMetrics().horizontalAdvance(QLatin1Char('0')));
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
    h->setRange(0, std::max(0, FMaxChars * CharWidth() + 4 - viewport()->width()));
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
    auto shift = [index](TPos& p) {
        if (p.Line > index)
            --p.Line;
        else if (p.Line == index)
            p.Column = 0;
    };
    shift(FAnchor);
    shift(FCursor);
    QScrollBar* v = verticalScrollBar();
    if (v->value() > index && v->value() < v->maximum())
        v->setValue(v->value() - 1);
    viewport()->update();
}

void TLogView::LinesReset(int maxChars) {
    FMaxChars = maxChars;
    FAnchor = FCursor = TPos{};
    FSelecting = false;
    UpdateScrollBars();
    ScrollToNewest();
    viewport()->update();
}

void TLogView::SetSelection(TPos anchor, TPos cursor) {
    FAnchor = anchor;
    FCursor = cursor;
    viewport()->update();
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
    const int column = (std::max(0, x) + CharWidth() / 2) / CharWidth();
    return {line, std::min(column, static_cast<int>(Text(line).size()))};
}

void TLogView::paintEvent(QPaintEvent*) {
    QPainter painter(viewport());
    const QPalette pal = palette();
    painter.fillRect(viewport()->rect(), pal.color(QPalette::Base));
    painter.setFont(font());
    const int lh = LineHeight();
    const int cw = CharWidth();
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
        painter.setPen(pal.color(QPalette::Text));
        painter.drawText(x0, y + ascent, text);
        if (to > from) {
            const QRect marked(x0 + from * cw, y, (to - from) * cw, lh);
            painter.fillRect(marked, pal.color(QPalette::Highlight));
            painter.setPen(pal.color(QPalette::HighlightedText));
            painter.drawText(x0 + from * cw, y + ascent, text.mid(from, to - from));
        }
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
    if (event->type() == QEvent::FontChange)
        UpdateScrollBars();
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
    }
    QAbstractScrollArea::mouseMoveEvent(event);
}

void TLogView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        FSelecting = false;
    QAbstractScrollArea::mouseReleaseEvent(event);
    Q_EMIT mouseReleased(event->position().toPoint(), event->button());
}

void TLogView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        if (HasSelection())
            QGuiApplication::clipboard()->setText(SelectedText());
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        SelectAll();
        return;
    }
    QAbstractScrollArea::keyPressEvent(event);
}

TCommLog::TCommLog(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("CommLog"));
    setWindowTitle(QStringLiteral("Communications log"));
    resize(640, 420);

    auto* top = new QHBoxLayout;
    cbShowIDDescr = new QCheckBox(QStringLiteral("Show ID descriptors"), this);
    cbShowIDDescr->setObjectName(QStringLiteral("cbShowIDDescr"));
    cbEvaluateErrorCodes = new QCheckBox(QStringLiteral("Evaluate error codes"), this);
    cbEvaluateErrorCodes->setObjectName(QStringLiteral("cbEvaluateErrorCodes"));
    top->addWidget(cbShowIDDescr);
    top->addWidget(cbEvaluateErrorCodes);
    top->addStretch();

    RxMsgMemo = new TLogView(this);
    RxMsgMemo->setObjectName(QStringLiteral("RxMsgMemo"));
    RxMsgMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RxMsgMemo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    RxMsgMemo->setToolTip(QStringLiteral("Mark a byte sequence to convert it into its floating "
                                         "point or integer represenation."));
    RxMsgMemo->LineCount = [this] { return FPackets.Count() + HeaderLines(); };
    RxMsgMemo->Line = [this](int line) {
        if (line < HeaderLines())
            return DroppedLine();
        const int index = line - HeaderLines();
        return FormatLogLine(FPackets.At(index), FReceived[static_cast<std::size_t>(index)] != 0,
                             cbShowIDDescr->isChecked(), cbEvaluateErrorCodes->isChecked());
    };
    connect(RxMsgMemo, &TLogView::mouseReleased, this,
            [this](const QPoint& pos, Qt::MouseButton button) {
                if (button == Qt::LeftButton)
                    RxMsgMemoMouseUp(pos);
            });

    auto* bottom = new QHBoxLayout;
    btnClear = new QPushButton(QStringLiteral("Clear"), this);
    btnClear->setObjectName(QStringLiteral("btnClear"));
    bottom->addStretch();
    bottom->addWidget(btnClear);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(RxMsgMemo, 1);
    layout->addLayout(bottom);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    miAsFloat = PopupMenu1->addAction(QStringLiteral("as Float"));
    miAsFloat->setObjectName(QStringLiteral("miAsFloat"));
    miAsInteger = PopupMenu1->addAction(QStringLiteral("as Integer"));
    miAsInteger->setObjectName(QStringLiteral("miAsInteger"));
    miAsText = PopupMenu1->addAction(QStringLiteral("as Text"));
    miAsText->setObjectName(QStringLiteral("miAsText"));

    connect(btnClear, &QPushButton::clicked, this, &TCommLog::btnClearClick);
    connect(cbShowIDDescr, &QCheckBox::clicked, this, &TCommLog::OnOptionsChanged);
    connect(cbEvaluateErrorCodes, &QCheckBox::clicked, this, &TCommLog::OnOptionsChanged);
    connect(miAsFloat, &QAction::triggered, this, &TCommLog::miAsFloatClick);
    connect(miAsInteger, &QAction::triggered, this, &TCommLog::miAsIntegerClick);
    connect(miAsText, &QAction::triggered, this, &TCommLog::miAsTextClick);
}

TCommLog::~TCommLog() = default;

QString TCommLog::DroppedLine() const {
    return QStringLiteral("%1 older entries dropped").arg(FDropped);
}

void TCommLog::DropOldest() {
    FPackets.Delete(0);
    FReceived.pop_front();
    ++FDropped;
}

void TCommLog::LogPacket(const TPacket& packet, bool received) {
    FPackets.Add(packet);
    FReceived.push_back(received ? 1 : 0);
    int chars = LogLineLength(FPackets.At(FPackets.Count() - 1), received,
                              cbShowIDDescr->isChecked(), cbEvaluateErrorCodes->isChecked());
    if (FPackets.Count() > FCapacity) {
        // The first drop turns the oldest entry's line into the count line; later ones remove
        // the line after it.
        const bool hadHeader = HeaderLines() > 0;
        DropOldest();
        if (hadHeader)
            RxMsgMemo->LineRemoved(1);
        chars = std::max(chars, static_cast<int>(DroppedLine().size()));
    }
    RxMsgMemo->LineAppended(chars);
}

void TCommLog::SetCapacity(int capacity) {
    FCapacity = std::max(1, capacity);
    while (FPackets.Count() > FCapacity)
        DropOldest();
    OnOptionsChanged();
}

void TCommLog::btnClearClick() {
    FPackets.Clear();
    FReceived.clear();
    FDropped = 0;
    RxMsgMemo->LinesReset(0);
}

void TCommLog::OnOptionsChanged() {
    // Lines are formatted from the store when shown; only the widest line has to be found.
    const bool showIds = cbShowIDDescr->isChecked();
    const bool evaluate = cbEvaluateErrorCodes->isChecked();
    int widest = HeaderLines() > 0 ? static_cast<int>(DroppedLine().size()) : 0;
    for (int i = 0; i < FPackets.Count(); ++i)
        widest = std::max(widest,
                          LogLineLength(FPackets.At(i), FReceived[static_cast<std::size_t>(i)] != 0,
                                        showIds, evaluate));
    RxMsgMemo->LinesReset(widest);
}

QString TCommLog::SelectedText() const {
    return RxMsgMemo->SelectedText();
}

void TCommLog::RxMsgMemoMouseUp(const QPoint& pos) {
    if (TrimControl(SelectedText()).isEmpty())
        return;
    PopupMenu1->popup(RxMsgMemo->viewport()->mapToGlobal(pos));
}

void TCommLog::ShowResult(const TConversionResult& result) {
    if (result.Error)
        ShowError(result.Text, this);
    else
        ShowInformation(result.Text, this);
}

void TCommLog::miAsFloatClick() {
    ShowResult(ConvertAsFloat(SelectionToBytes(SelectedText())));
}

void TCommLog::miAsIntegerClick() {
    ShowResult(ConvertAsInteger(SelectionToBytes(SelectedText())));
}

void TCommLog::miAsTextClick() {
    ShowResult(ConvertAsText(SelectionToBytes(SelectedText())));
}
