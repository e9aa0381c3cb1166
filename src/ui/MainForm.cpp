// SPDX-License-Identifier: Apache-2.0
#include "ui/MainForm.h"

#include "ui/MainFormShared.h"
#include "ui/WindowPlacement.h"

#include "devices/IniFile.h"
#include "diagnostics/CommLogForm.h"
#include "diagnostics/CustomCmdForm.h"
#include "diagnostics/PlotForm.h"
#include "engine/MorvForm.h"
#include "widgets/FloatEdit.h"
#include "widgets/FloatEditDialog.h"
#include "widgets/MessageBoxes.h"
#include "widgets/SaveDialogs.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QWidget>

using namespace mainwin;

namespace {
const QString TargetsSection = QStringLiteral("targets");
} // namespace

TMainWin::TMainWin(TMainWinParts parts, QWidget* parent)
    : QMainWindow(parent), FGripper(std::move(parts.Gripper)) {
    setObjectName(QStringLiteral("MainWin"));
    setWindowTitle(QStringLiteral("Karo Commander"));
    resize(680, 779);
    setMinimumSize(300, 480);

    BuildMenus();
    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    BuildLeftPane();
    BuildRightPane();
    layout->addWidget(pnLeft, 1);
    layout->addWidget(pnRight);
    setCentralWidget(central);
    WireHandlers();
    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    lbConnecting = new QLabel(StatusBar);
    lbConnecting->setObjectName(QStringLiteral("lbConnecting"));
    StatusBar->addWidget(lbConnecting);
    // Hints wrap instead of being cut off in a narrow window; two lines hold the longest.
    lbHint = new QLabel(StatusBar);
    lbHint->setObjectName(QStringLiteral("lbHint"));
    lbHint->setWordWrap(true);
    lbHint->setFixedHeight(2 * lbHint->fontMetrics().lineSpacing() + 2);
    lbHint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    StatusBar->addWidget(lbHint, 1);
    setStatusBar(StatusBar);
    // The design size is the first size unless this platform's fonts need more room, and never
    // more than the screen holds with a title bar: the bands scroll instead.
    const QScreen* screen = QGuiApplication::primaryScreen();
    resize(DefaultWindowSize(QSize(680, 779).expandedTo(ContentSize()),
                             screen ? screen->availableGeometry().size() : QSize()));

    // Construction proper.
    FLastSystemState = -1;
    // Qt paints every widget double-buffered; nothing to switch on for pnLeft, pnRight,
    // pnEmergency and StatusBar.
    setWindowTitle(windowTitle() + VersionText);
    CentreButtons();

    FSettings = std::make_unique<TIniFile>(SettingsFilePath(QStringLiteral("settings.ini")));
    // Written while the window goes away: the box must not hang on it.
    FSettings->OnWriteError = [](const QString& fileName) {
        ShowError(SettingsWriteErrorText(fileName));
    };
    manualinit1->setChecked(
        FSettings->ReadBool(QStringLiteral("main"), QStringLiteral("manualinit"), false));
    SetLastSaveFolder(
        FSettings->ReadString(QStringLiteral("Common"), QStringLiteral("SaveFolder"), QString()));

    FGripper->Command()->SetPrompts(parts.Prompts);
    FCommLog = parts.CommandLog;
    FGripper->SetPacketLog(parts.CommandLog);
    FGripper->OnConnect = [this](auto&&...) { GripperConnected(); };
    FGripper->OnDisconnect = [this](auto&&...) { GripperDisconnected(); };
    FGripper->OnConnectionError = [this](auto&&...) { ConnectionError(); };
    FGripper->OnSystemState = [this](auto&&...) {
        const std::int64_t before = FLastSystemState;
        SystemStateChanged();
        NoteSystemState(before, FGripper->SystemState());
    };
    FGripper->OnGraspingState = [this](auto&&...) {
        GraspingStateChanged();
        NoteGraspingState(FGripper->GraspingState());
    };
    FGripper->OnPosition = [this](auto&&...) { PositionChanged(); };
    SetUpLink();

    FValueDialog = new TFloatEditDlg(this);
    FValueDialog->setObjectName(QStringLiteral("FValueDialog"));
    FCommandEditor = new TCustomCmd(FGripper.get(), this);
    FCommandEditor->setAttribute(Qt::WA_QuitOnClose, false);
    // Created now, hidden: it records from the first connection on, also while not shown.
    FPlot = new TPlotForm(this);
    FPlot->setAttribute(Qt::WA_QuitOnClose, false);
    // Fast Stop by key from every window of the program, modal dialogs included.
    qApp->installEventFilter(this);

    ReadTargets();
    for (const TEditPair& pair : FPairs)
        FloatEditChange(pair.Edit);

    FStateBoxes.clear();
    CreateStateFlagBoxes(16, 64, 130, 16);
    SetMinimumWindowSize();
    SetConnectedState(false);
    // Nothing has been read from a gripper yet.
    lbAcc->setText(NotAvailable);
    lbForce->setText(NotAvailable);
}

TMainWin::~TMainWin() {
    WriteSettings();
    // The transports go before the widgets they report to.
    FGripper.reset();
}

void TMainWin::WireHandlers() {
    connect(Connect1, &QAction::triggered, this, Guarded([this] { Connect1Click(); }));
    connect(Initialize1, &QAction::triggered, this, Guarded([this] { Initialize1Click(); }));
    connect(Disconnect1, &QAction::triggered, this, Guarded([this] { Disconnect1Click(); }));
    connect(Commands1, &QMenu::aboutToShow, this, Guarded([this] { Commands1Click(); }));
    connect(GetSystemInfo1, &QAction::triggered, this, Guarded([this] { GetSystemInfo1Click(); }));
    connect(GetSystemLimits1, &QAction::triggered, this,
            Guarded([this] { GetSystemLimits1Click(); }));
    connect(GetGraspingStatistics1, &QAction::triggered, this,
            Guarded([this] { GetGraspingStatistics1Click(); }));
    connect(Homing1, &QAction::triggered, this, Guarded([this] { Homing1Click(); }));
    connect(FastStopAcknowledge1, &QAction::triggered, this,
            Guarded([this] { FastStopAcknowledge1Click(); }));
    connect(CustomCommands1, &QAction::triggered, this,
            Guarded([this] { CustomCommands1Click(); }));
    connect(View1, &QMenu::aboutToShow, this, Guarded([this] { View1Click(); }));
    connect(Commandlog1, &QAction::triggered, this, Guarded([this] { Commandlog1Click(); }));
    connect(Plot1, &QAction::triggered, this, Guarded([this] { Plot1Click(); }));
    connect(manualinit1, &QAction::triggered, this, Guarded([this] { manualinit1Click(); }));
    connect(Reconnect1, &QAction::triggered, this, Guarded([this] { Reconnect1Click(); }));
    connect(Quit1, &QAction::triggered, this, &QWidget::close);
    connect(KeyboardShortcuts1, &QAction::triggered, this,
            Guarded([this] { KeyboardShortcuts1Click(); }));
    connect(About1, &QAction::triggered, this, Guarded([this] { About1Click(); }));
    connect(btnEmergencyStop, &QPushButton::clicked, this,
            Guarded([this] { btnEmergencyStopClick(); }));
    connect(lbLink, &QLabel::linkActivated, this, [this] { OpenDocumentation(); });
    connect(btnAcc, &QPushButton::clicked, this, Guarded([this] { btnAccClick(); }));
    connect(btnForce, &QPushButton::clicked, this, Guarded([this] { btnForceClick(); }));
    connect(pnGoto->Button(), &QPushButton::clicked, this, Guarded([this] { btnMoveClick(); }));
    connect(pnGrasp->Button(), &QPushButton::clicked, this, Guarded([this] { btnGraspClick(); }));
    connect(pnRelease->Button(), &QPushButton::clicked, this,
            Guarded([this] { btnReleaseClick(); }));
    connect(btnStop, &QPushButton::clicked, this, Guarded([this] { btnStopClick(); }));
    for (const TEditPair& pair : FPairs) {
        TFloatEdit* e = pair.Edit;
        e->OnChange = [this, e](QObject*) { FloatEditChange(e); };
        QSlider* t = pair.Track;
        connect(t, &QSlider::valueChanged, this, [this, t] { TrackbarChange(t); });
        // Only the operator's own changes count as chosen values, not those of the program.
        connect(e, &QLineEdit::textEdited, this, [e] { KeepTarget(e); });
        connect(t, &QSlider::actionTriggered, this, [e] { KeepTarget(e); });
    }
}

void TMainWin::WriteSettings() {
    if (FSettingsWritten)
        return;
    FSettingsWritten = true;
    FSettings->WriteString(QStringLiteral("Common"), QStringLiteral("MainWin"), PlacementText());
    FSettings->WriteBool(QStringLiteral("main"), QStringLiteral("manualinit"),
                         manualinit1->isChecked());
    WriteToolPlacements();
    FSettings->WriteString(QStringLiteral("Common"), QStringLiteral("SaveFolder"),
                           LastSaveFolder());
    WriteTargets();
}

void TMainWin::ReadTargets() {
    for (const TEditPair& pair : FPairs) {
        bool ok = false;
        const double v = QLocale::c().toDouble(
            FSettings->ReadString(TargetsSection, pair.Edit->objectName(), QString()), &ok);
        if (!ok)
            continue;
        pair.Edit->SetValue(v);
        KeepTarget(pair.Edit);
    }
}

void TMainWin::WriteTargets() {
    // A field emptied or garbled by the operator has nothing to keep: the defaults come back.
    for (const TEditPair& pair : FPairs) {
        const QString key = pair.Edit->objectName();
        const auto v = IsKeptTarget(pair.Edit)
                           ? TFloatEdit::ReadFloat(pair.Edit->text(), pair.Edit->DecSeparator())
                           : std::nullopt;
        if (v)
            FSettings->WriteString(TargetsSection, key, QString::number(double(*v), 'g', 15));
        else if (FSettings->ValueExists(TargetsSection, key))
            FSettings->WriteString(TargetsSection, key, QString());
    }
}

// ---------------------------------------------------------------------------------------------
// Windows of the menus

void TMainWin::Commands1Click() {
    CustomCommands1->setChecked(FCommandEditor->isVisible());
}

void TMainWin::View1Click() {
    Commandlog1->setChecked(FCommLog && FCommLog->isVisible());
    Plot1->setChecked(FPlot->isVisible());
}

void TMainWin::CustomCommands1Click() {
    CustomCommands1->setChecked(true);
    ShowToolWindow(FCommandEditor, QStringLiteral("CustomCmd"));
}

void TMainWin::Commandlog1Click() {
    Commandlog1->setChecked(true);
    if (FCommLog)
        ShowToolWindow(FCommLog, QStringLiteral("CommLog"));
}

void TMainWin::Plot1Click() {
    Plot1->setChecked(true);
    ShowToolWindow(FPlot, QStringLiteral("Plot"));
}

void TMainWin::manualinit1Click() {
    // The entry has flipped its own check; it takes effect at the next connect.
}

void TMainWin::AppHint(const QString& hint) {
    lbHint->setText(hint);
}

void TMainWin::keyPressEvent(QKeyEvent* e) {
    // Stop is the window's cancel button: Escape that no control took presses it, except in
    // the results text, which keeps the key.
    if (e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) {
        if (btnStop->isEnabled() && focusWidget() != AsyncLog)
            btnStop->click();
        e->accept();
        return;
    }
    QMainWindow::keyPressEvent(e);
}

bool TMainWin::event(QEvent* e) {
    if (e->type() == QEvent::StatusTip) {
        AppHint(static_cast<QStatusTipEvent*>(e)->tip());
        return true;
    }
    return QMainWindow::event(e);
}

// ---------------------------------------------------------------------------------------------
// Placement

QString TMainWin::PlacementText() const {
    TWindowPlacement p;
    p.Normal = (isMaximized() || isMinimized()) ? normalGeometry() : geometry();
    if (isMinimized())
        p.Show = 2;
    else if (isMaximized())
        p.Show = 3;
    p.Flags = (isMinimized() && (windowState() & Qt::WindowMaximized)) ? 2 : 0;
    return FormatPlacement(p);
}

bool TMainWin::ApplyPlacement(const QString& text) {
    const std::optional<TWindowPlacement> p = ParsePlacement(text);
    if (!p)
        return false;
    QRect r = p->Normal;
    if (const QScreen* s = screen() ? screen() : QApplication::primaryScreen()) {
        // The desktop has to hold the whole window, frame included.
        const QRect inner = geometry();
        const QRect outer = frameGeometry();
        const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                             outer.right() - inner.right(), outer.bottom() - inner.bottom());
        r = ClampToDesktop(r, frame, s->availableVirtualGeometry());
    }
    setGeometry(r);
    switch (p->Show) {
    case 2:
        setWindowState((p->Flags & 2) ? (Qt::WindowMinimized | Qt::WindowMaximized)
                                      : Qt::WindowMinimized);
        break;
    case 3:
        setWindowState(Qt::WindowMaximized);
        break;
    default:
        setWindowState(Qt::WindowNoState);
        break;
    }
    return true;
}

void TMainWin::showEvent(QShowEvent* e) {
    QMainWindow::showEvent(e);
    if (FPlacementRead)
        return;
    FPlacementRead = true;
    ApplyPlacement(
        FSettings->ReadString(QStringLiteral("Common"), QStringLiteral("MainWin"), QString()));
}
