// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/CommLogForm.h"

#include "devices/IniFile.h"
#include "diagnostics/CommLogEvents.h"
#include "diagnostics/CommLogExport.h"
#include "diagnostics/CommLogFile.h"
#include "diagnostics/CommLogInspector.h"
#include "diagnostics/CommLogSearch.h"
#include "protocol/TrimControl.h"
#include "widgets/MessageBoxes.h"
#include "widgets/SaveDialogs.h"

#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

TCommLog::TCommLog(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("CommLog"));
    setWindowTitle(QStringLiteral("Communications log"));
    resize(720, 420);

    auto* top = new QHBoxLayout;
    cbShowIDDescr = new QCheckBox(QStringLiteral("Show ID descriptors"), this);
    cbShowIDDescr->setObjectName(QStringLiteral("cbShowIDDescr"));
    cbEvaluateErrorCodes = new QCheckBox(QStringLiteral("Evaluate error codes"), this);
    cbEvaluateErrorCodes->setObjectName(QStringLiteral("cbEvaluateErrorCodes"));
    cbTimeStamps = new QCheckBox(QStringLiteral("Time stamps"), this);
    cbTimeStamps->setObjectName(QStringLiteral("cbTimeStamps"));
    cbTimeStamps->setToolTip(QStringLiteral("Time of sending or dispatch, and a reply's round "
                                            "trip since its request"));
    btnFilter = new TLogFilterButton(this);
    btnFilter->setObjectName(QStringLiteral("btnFilter"));
    cbPause = new QCheckBox(QStringLiteral("Pause"), this);
    cbPause->setObjectName(QStringLiteral("cbPause"));
    cbPause->setToolTip(QStringLiteral("Keep the view still; packets are still recorded"));
    top->addWidget(cbShowIDDescr);
    top->addWidget(cbEvaluateErrorCodes);
    top->addWidget(cbTimeStamps);
    // Shown in the bottom row, so that the window stays narrow enough to open beside the state
    // panel.
    cbInspector = new QCheckBox(QStringLiteral("Data inspector"), this);
    cbInspector->setObjectName(QStringLiteral("cbInspector"));
    top->addStretch();
    top->addWidget(btnFilter);
    top->addWidget(cbPause);

    RxMsgMemo = new TLogView(this);
    RxMsgMemo->setObjectName(QStringLiteral("RxMsgMemo"));
    RxMsgMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RxMsgMemo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    RxMsgMemo->setToolTip(QStringLiteral("Mark a byte sequence to convert it into its floating "
                                         "point or integer represenation."));
    RxMsgMemo->LineCount = [this] { return ShownCount() + HeaderLines(); };
    RxMsgMemo->Line = [this](int line) {
        if (line < HeaderLines())
            return DroppedLine();
        return EntryLine(ShownEntry(line - HeaderLines()));
    };
    RxMsgMemo->LineColor = [this](int line) {
        if (line < HeaderLines())
            return QColor();
        const int index = ShownEntry(line - HeaderLines());
        return FStore.IsEvent(index) ? LinkEventColor(FStore.EventKind(index)) : QColor();
    };
    connect(RxMsgMemo, &TLogView::mouseReleased, this,
            [this](const QPoint& pos, Qt::MouseButton button) {
                if (button == Qt::LeftButton)
                    RxMsgMemoMouseUp(pos);
            });
    connect(RxMsgMemo, &TLogView::contextMenuRequested, this, &TCommLog::ShowContextMenu);

    FindBar = new TLogFindBar(this);
    FindBar->hide();
    connect(FindBar, &TLogFindBar::findRequested, this, &TCommLog::FindNext);

    Inspector = new TLogInspector(this);
    Inspector->setObjectName(QStringLiteral("Inspector"));
    Inspector->hide();
    connect(RxMsgMemo, &TLogView::selectionChanged, this,
            [this] { Inspector->Inspect(SelectionToBytes(SelectedText())); });
    connect(cbInspector, &QCheckBox::toggled, Inspector, &QWidget::setVisible);

    lbCounters = new QLabel(this);
    lbCounters->setObjectName(QStringLiteral("lbCounters"));
    lbCounters->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbCounters->setWordWrap(true);
    FCountersTimer.setSingleShot(true);
    FCountersTimer.setInterval(100);
    connect(&FCountersTimer, &QTimer::timeout, this, &TCommLog::ShowCounters);
    ShowCounters();

    auto* bottom = new QHBoxLayout;
    btnOpen = new QPushButton(QStringLiteral("Open…"), this);
    btnOpen->setObjectName(QStringLiteral("btnOpen"));
    btnOpen->setToolTip(QStringLiteral("Open a saved log in a window of its own"));
    btnLogToFile = new QPushButton(QStringLiteral("Log to file..."), this);
    btnLogToFile->setObjectName(QStringLiteral("btnLogToFile"));
    btnLogToFile->setCheckable(true);
    btnLogToFile->setToolTip(QStringLiteral("Write every entry to a CSV file as it arrives"));
    bottom->addWidget(btnOpen);
    bottom->addWidget(btnLogToFile);
    bottom->addWidget(cbInspector);
    btnSave = new QPushButton(QStringLiteral("Save…"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnClear = new QPushButton(QStringLiteral("Clear"), this);
    btnClear->setObjectName(QStringLiteral("btnClear"));
    bottom->addStretch();
    bottom->addWidget(btnSave);
    bottom->addWidget(btnClear);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    auto* middle = new QHBoxLayout;
    middle->addWidget(RxMsgMemo, 1);
    middle->addWidget(Inspector);
    layout->addLayout(middle, 1);
    layout->addWidget(FindBar);
    layout->addWidget(lbCounters);
    layout->addLayout(bottom);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    miAsFloat = PopupMenu1->addAction(QStringLiteral("as Float"));
    miAsFloat->setObjectName(QStringLiteral("miAsFloat"));
    miAsInteger = PopupMenu1->addAction(QStringLiteral("as Integer"));
    miAsInteger->setObjectName(QStringLiteral("miAsInteger"));
    miAsText = PopupMenu1->addAction(QStringLiteral("as Text"));
    miAsText->setObjectName(QStringLiteral("miAsText"));

    // Window-wide keys; the same actions sit in the view's context menu.
    miFind = new QAction(QStringLiteral("Find…"), this);
    miFind->setObjectName(QStringLiteral("miFind"));
    miFind->setShortcut(QKeySequence::Find);
    miFindNext = new QAction(QStringLiteral("Find next"), this);
    miFindNext->setObjectName(QStringLiteral("miFindNext"));
    miFindNext->setShortcut(QKeySequence(Qt::Key_F3));
    miFindPrevious = new QAction(QStringLiteral("Find previous"), this);
    miFindPrevious->setObjectName(QStringLiteral("miFindPrevious"));
    miFindPrevious->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    for (QAction* a : {miFind, miFindNext, miFindPrevious}) {
        a->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(a);
    }

    mnContext = new QMenu(this);
    mnContext->setObjectName(QStringLiteral("mnContext"));
    miCopy = mnContext->addAction(QStringLiteral("Copy"));
    miCopy->setObjectName(QStringLiteral("miCopy"));
    miCopy->setShortcut(QKeySequence::Copy);
    miSelectAll = mnContext->addAction(QStringLiteral("Select All"));
    miSelectAll->setObjectName(QStringLiteral("miSelectAll"));
    miSelectAll->setShortcut(QKeySequence::SelectAll);
    for (QAction* a : {miCopy, miSelectAll})
        a->setShortcutContext(Qt::WidgetShortcut); // the view handles the keys itself
    mnContext->addSeparator();
    mnContext->addAction(miFind);
    mnContext->addSeparator();
    mnContext->addAction(miAsFloat);
    mnContext->addAction(miAsInteger);
    mnContext->addAction(miAsText);

    connect(btnClear, &QPushButton::clicked, this, &TCommLog::btnClearClick);
    connect(btnSave, &QPushButton::clicked, this, &TCommLog::btnSaveClick);
    connect(btnOpen, &QPushButton::clicked, this, &TCommLog::btnOpenClick);
    connect(btnLogToFile, &QPushButton::clicked, this, &TCommLog::btnLogToFileClick);
    for (QCheckBox* c : {cbShowIDDescr, cbEvaluateErrorCodes, cbTimeStamps, cbInspector})
        connect(c, &QCheckBox::clicked, this, &TCommLog::WriteOptions);
    connect(cbShowIDDescr, &QCheckBox::clicked, this, &TCommLog::OnOptionsChanged);
    connect(cbEvaluateErrorCodes, &QCheckBox::clicked, this, &TCommLog::OnOptionsChanged);
    connect(cbTimeStamps, &QCheckBox::clicked, this, &TCommLog::OnOptionsChanged);
    connect(cbPause, &QCheckBox::toggled, this, &TCommLog::OnPauseChanged);
    connect(btnFilter, &TLogFilterButton::filterChanged, this, &TCommLog::OnFilterChanged);
    connect(miAsFloat, &QAction::triggered, this, &TCommLog::miAsFloatClick);
    connect(miAsInteger, &QAction::triggered, this, &TCommLog::miAsIntegerClick);
    connect(miAsText, &QAction::triggered, this, &TCommLog::miAsTextClick);
    connect(miCopy, &QAction::triggered, RxMsgMemo, &TLogView::CopySelection);
    connect(miSelectAll, &QAction::triggered, RxMsgMemo, &TLogView::SelectAll);
    connect(miFind, &QAction::triggered, this, &TCommLog::miFindClick);
    connect(miFindNext, &QAction::triggered, this, [this] { FindNext(false); });
    connect(miFindPrevious, &QAction::triggered, this, [this] { FindNext(true); });
}

TCommLog::~TCommLog() = default;

QString TCommLog::DroppedLine() const {
    return QStringLiteral("%1 older entries dropped").arg(FDropped);
}

void TCommLog::DropOldest() {
    FStore.DropOldest();
    ++FDropped;
    while (!FShown.empty() && FShown.front() < FStore.FirstSeq())
        FShown.pop_front();
}

int TCommLog::ShownCount() const {
    if (Filtered())
        return static_cast<int>(FShown.size());
    const std::int64_t end = Paused() ? std::min(FPausedEnd, FStore.EndSeq()) : FStore.EndSeq();
    return static_cast<int>(std::max<std::int64_t>(0, end - FStore.FirstSeq()));
}

int TCommLog::ShownEntry(int n) const {
    if (Filtered())
        return static_cast<int>(FShown[static_cast<std::size_t>(n)] - FStore.FirstSeq());
    return n;
}

bool TCommLog::Shown(int index) const {
    const std::int64_t seq = FStore.FirstSeq() + index;
    if (Filtered())
        return std::binary_search(FShown.begin(), FShown.end(), seq);
    return !Paused() || seq < FPausedEnd;
}

bool TCommLog::Passes(int index) const {
    const TLogFilter& filter = btnFilter->Filter();
    if (FStore.IsEvent(index))
        return filter.PassesEvent(static_cast<int>(FStore.EventKind(index)));
    return filter.Passes(FStore.ID(index), FStore.Received(index));
}

QString TCommLog::EntryLine(int index) const {
    QString line;
    const TPacket& p = FStore.Raw(index);
    line.reserve(60 + 3 * static_cast<qsizetype>(p.Data.size()));
    if (cbTimeStamps->isChecked())
        AppendTimePrefix(line, FStore.WallMs(index), FStore.RoundTripMs(index));
    if (FStore.IsEvent(index)) {
        AppendEventLine(line, FStore.Event(index), cbShowIDDescr->isChecked());
        return line;
    }
    AppendLogLine(line, p, FStore.Received(index), cbShowIDDescr->isChecked(),
                  cbEvaluateErrorCodes->isChecked());
    return line;
}

int TCommLog::EntryLineLength(int index) const {
    if (FStore.IsEvent(index))
        return static_cast<int>(EntryLine(index).size()); // rare enough to build
    const int prefix = cbTimeStamps->isChecked() ? TimePrefixLength(FStore.RoundTripMs(index)) : 0;
    return prefix + LogLineLength(FStore.Raw(index), FStore.Received(index),
                                  cbShowIDDescr->isChecked(), cbEvaluateErrorCodes->isChecked());
}

void TCommLog::LogPacket(const TPacket& packet, bool received) {
    LogStampedPacket(packet, received, TLogStamp{QDateTime::currentMSecsSinceEpoch(), -1});
}

void TCommLog::LogStampedPacket(const TPacket& packet, bool received, const TLogStamp& stamp) {
    FCounters.AddPacket(received, stamp);
    FStore.Add(packet, received, stamp);
    Appended();
}

void TCommLog::LogLinkEvent(const TLinkEvent& event, const TLogStamp& stamp) {
    FCounters.AddEvent(event);
    TLogStamp at = stamp;
    if (at.WallMs == 0)
        at.WallMs = QDateTime::currentMSecsSinceEpoch();
    FStore.AddEvent(event, at);
    Appended();
}

void TCommLog::Appended() {
    const int index = Count() - 1;
    WriteToLogFile(index);
    if (!FCountersTimer.isActive())
        FCountersTimer.start();
    const bool show = !Paused() && Passes(index);
    int chars = show ? EntryLineLength(index) : 0;
    bool rerender = false;
    if (FStore.Count() > FCapacity) {
        const bool hadHeader = HeaderLines() > 0;
        const bool oldestShown = Shown(0);
        DropOldest();
        // The first drop turns the oldest entry's line into the count line; later ones remove
        // the line after it.
        if (hadHeader && oldestShown)
            RxMsgMemo->LineRemoved(1);
        else if (!hadHeader && !oldestShown)
            rerender = true; // the count line comes on top of lines that stay
        chars = std::max(chars, static_cast<int>(DroppedLine().size()));
    }
    if (show) {
        if (Filtered())
            FShown.push_back(FStore.EndSeq() - 1);
        RxMsgMemo->LineAppended(chars);
    }
    if (rerender)
        OnOptionsChanged();
    else if (!show && FDropped > 0)
        RxMsgMemo->viewport()->update(); // the count line changed
}

void TCommLog::SetCapacity(int capacity) {
    FCapacity = std::max(1, capacity);
    while (FStore.Count() > FCapacity)
        DropOldest();
    OnOptionsChanged();
}

void TCommLog::ShowCounters() {
    lbCounters->setText(FCounters.Summary());
}

void TCommLog::btnClearClick() {
    FCounters.Reset();
    ShowCounters();
    FStore.Clear();
    FShown.clear();
    FDropped = 0;
    if (Paused())
        FPausedEnd = FStore.EndSeq();
    RxMsgMemo->LinesReset(0);
}

void TCommLog::OnOptionsChanged() {
    // Lines are formatted from the store when shown; only the widest line has to be found.
    int widest = HeaderLines() > 0 ? static_cast<int>(DroppedLine().size()) : 0;
    const int shown = ShownCount();
    for (int n = 0; n < shown; ++n)
        widest = std::max(widest, EntryLineLength(ShownEntry(n)));
    RxMsgMemo->LinesReset(widest);
}

void TCommLog::AppendShown(std::int64_t fromSeq) {
    for (std::int64_t seq = std::max(fromSeq, FStore.FirstSeq()); seq < FStore.EndSeq(); ++seq) {
        const int index = static_cast<int>(seq - FStore.FirstSeq());
        if (Passes(index))
            FShown.push_back(seq);
    }
}

void TCommLog::OnFilterChanged() {
    FShown.clear();
    if (Filtered()) {
        AppendShown(FStore.FirstSeq());
        if (Paused())
            while (!FShown.empty() && FShown.back() >= FPausedEnd)
                FShown.pop_back();
    }
    OnOptionsChanged();
}

void TCommLog::OnPauseChanged() {
    if (cbPause->isChecked()) {
        FPausedEnd = FStore.EndSeq();
        return;
    }
    const std::int64_t from = FPausedEnd;
    FPausedEnd = -1;
    if (Filtered())
        AppendShown(from);
    OnOptionsChanged(); // and on to the newest
}

void TCommLog::miFindClick() {
    const QString marked = RxMsgMemo->SelectedText();
    if (!marked.isEmpty() && !marked.contains(QLatin1Char('\n')))
        FindBar->edFind->setText(marked);
    FindBar->show();
    FindBar->edFind->setFocus();
    FindBar->edFind->selectAll();
}

bool TCommLog::FindNext(bool backward) {
    const QString text = FindBar->edFind->text();
    if (text.isEmpty()) {
        miFindClick();
        return false;
    }
    const TLogView::TPos a = RxMsgMemo->Anchor();
    const TLogView::TPos c = RxMsgMemo->Cursor();
    const TLogView::TPos from = backward ? std::min(a, c) : std::max(a, c);
    const auto found = FindInLines(RxMsgMemo->LineCount(), RxMsgMemo->Line, from, text, backward);
    if (!found) {
        FindBar->lbFindStatus->setText(QStringLiteral("Not found"));
        return false;
    }
    FindBar->lbFindStatus->clear();
    RxMsgMemo->SetSelection(found->From, found->To);
    RxMsgMemo->EnsureVisible(found->To);
    RxMsgMemo->EnsureVisible(found->From);
    return true;
}

QString TCommLog::SelectedText() const {
    return RxMsgMemo->SelectedText();
}

void TCommLog::RxMsgMemoMouseUp(const QPoint& pos) {
    if (TrimControl(SelectedText()).isEmpty())
        return;
    PopupMenu1->popup(RxMsgMemo->viewport()->mapToGlobal(pos));
}

void TCommLog::ShowContextMenu(const QPoint& globalPos) {
    miCopy->setEnabled(RxMsgMemo->HasSelection());
    mnContext->popup(globalPos);
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
