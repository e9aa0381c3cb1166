// SPDX-License-Identifier: Apache-2.0
#include "ui/MainForm.h"

#include "ui/MainFormShared.h"

#include "protocol/Constants.h"
#include "ui/BandTitle.h"
#include "ui/GripperPicture.h"
#include "ui/MotionBand.h"
#include "widgets/FloatEdit.h"
#include "widgets/RollPanel.h"
#include "widgets/StampedLog.h"
#include "widgets/TrackCoupling.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QScrollArea>
#include <QSlider>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace mainwin;

namespace {
// The results panel's place below the splitter.
class TResultsHolder : public QWidget {
public:
    explicit TResultsHolder(std::function<void()> resized) : FResized(std::move(resized)) {}
    QSize sizeHint() const override { return {200, 180}; }

protected:
    void resizeEvent(QResizeEvent* e) override {
        QWidget::resizeEvent(e);
        FResized();
    }

private:
    std::function<void()> FResized;
};

// Lets the state read-outs grow with a window larger than its first size (maximised, say) and
// brings them back to normal at that size. The right pane widens with them, by no more than
// the window has grown, so the bands keep their room.
class TReadoutScaler : public QObject {
public:
    static constexpr double MaxScale = 1.6;

    TReadoutScaler(TMainWin* win, QWidget* pane, TRollPanel* panel, QWidget* box,
                   QList<QLabel*> rows, QLabel* stateTitle, QLabel* state)
        : QObject(win), FWin(win), FPane(pane), FPanel(panel), FBox(box), FRows(std::move(rows)),
          FStateTitle(stateTitle), FState(state), FStateTitleRect(stateTitle->geometry()),
          FStateRect(state->geometry()) {
        for (QLabel* l : FRows)
            FFonts.append(l->font());
        FStateFonts = {stateTitle->font(), state->font()};
        // Expanding again goes to the height the rows need now.
        panel->OnStartExpanding = [this](QObject*, int& size) { size = PanelHeight(); };
        win->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched == FWin && e->type() == QEvent::Resize)
            Apply(static_cast<QResizeEvent*>(e)->size());
        return false;
    }

private:
    static QFont Scaled(QFont f, double scale) {
        if (f.pointSizeF() > 0)
            f.setPointSizeF(f.pointSizeF() * scale);
        else
            f.setPixelSize(qRound(f.pixelSize() * scale));
        return f;
    }

    int PanelHeight() const {
        return FPanel->contentsMargins().top() + FBox->sizeHint().height() +
               FPanel->contentsMargins().bottom();
    }

    void Apply(const QSize& size) {
        // The first size the window is shown at and the pane's width then, before anything
        // grew; the window's construction may have widened the pane for its flag boxes.
        if (!FReference.isValid()) {
            FReference = QSize(680, 779).expandedTo(FWin->ContentSize());
            FPaneWidth = FPane->maximumWidth();
        }
        const double wide = std::max(1.0, double(size.width()) / FReference.width());
        const double high = std::max(1.0, double(size.height()) / FReference.height());
        const int pane = std::min(qRound(FPaneWidth * std::min(MaxScale, std::sqrt(wide * high))),
                                  FPaneWidth + std::max(0, size.width() - FReference.width()));
        const double scale = double(pane) / FPaneWidth;
        if (scale == FScale)
            return;
        FScale = scale;
        FPane->setFixedWidth(pane);
        for (int i = 0; i < FRows.size(); ++i)
            FRows[i]->setFont(Scaled(FFonts[i], scale));
        FStateTitle->setFont(Scaled(FStateFonts[0], scale));
        FState->setFont(Scaled(FStateFonts[1], scale));
        // The state word keeps its line above the first flag box.
        const int height = std::clamp(FState->sizeHint().height(), FStateRect.height(),
                                      FlagTop - FStateRect.top() - 2);
        const int titleWidth = std::max(FStateTitleRect.width(), FStateTitle->sizeHint().width());
        FStateTitle->setGeometry(FStateTitleRect.left(), FStateTitleRect.top(), titleWidth, height);
        FState->setGeometry(FStateRect.left() + titleWidth - FStateTitleRect.width(),
                            FStateRect.top(),
                            std::max(FStateRect.width(), FState->sizeHint().width()), height);
        if (FPanel->State() == TRollPanel::rpExpanded && !FPanel->IsAnimating())
            FPanel->SetPanelHeight(PanelHeight());
    }

    static constexpr int FlagTop = 64;
    TMainWin* FWin;
    QWidget* FPane;
    TRollPanel* FPanel;
    QWidget* FBox;
    QList<QLabel*> FRows;
    QList<QFont> FFonts;
    QLabel* FStateTitle;
    QLabel* FState;
    QList<QFont> FStateFonts;
    int FPaneWidth = 0;
    QRect FStateTitleRect;
    QRect FStateRect;
    QSize FReference;
    double FScale = 1;
};
} // namespace

// ---------------------------------------------------------------------------------------------
// Composition

namespace {
void StyleRollPanel(TRollPanel* panel, const QString& name, const QString& caption,
                    const QColor& captionText) {
    panel->setObjectName(name);
    panel->SetCaption(caption);
    panel->SetCaptionHeight(20);
    panel->SetMargin(2);
    panel->SetRadius(4);
    panel->SetAnimationSpeed(150);
    panel->SetAllowResize(false);
    panel->SetAnimate(true);
    panel->SetHideChildren(false);
    panel->SetCaptionFont(QApplication::font());
    panel->SetCaptionFontColor(captionText);
    panel->SetCaptionGradientMode(TRollPanel::gmUser);
    panel->SetCaptionColorFrom(FromBgr(8210719));
    panel->SetCaptionColorTo(FromBgr(12419407));
    panel->SetCaptionGradientType(gtVertical);
    panel->SetPanelGradientMode(TRollPanel::gmNone);
    panel->SetPanelColorFrom(QApplication::palette().color(QPalette::Button));
}
} // namespace

void TMainWin::BuildRightPane() {
    pnRight = new QFrame(this);
    pnRight->setObjectName(QStringLiteral("pnRight"));
    pnRight->setFixedWidth(169);
    auto* v = new QVBoxLayout(pnRight);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    ScrollBox1 = new QScrollArea(pnRight);
    ScrollBox1->setObjectName(QStringLiteral("ScrollBox1"));
    ScrollBox1->setWidgetResizable(true);
    ScrollBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    ScrollBox1->setFrameShape(QFrame::NoFrame);
    auto* inner = new QWidget;
    auto* iv = new QVBoxLayout(inner);
    iv->setContentsMargins(0, 0, 0, 0);
    iv->setSpacing(0);

    // Grasping state: two yellow rows on black.
    RollPanel3 = new TRollPanel(inner);
    StyleRollPanel(RollPanel3, QStringLiteral("RollPanel3"), QStringLiteral("Grasping state"),
                   Qt::white);
    auto* l3 = new QVBoxLayout(RollPanel3);
    l3->setContentsMargins(0, 0, 0, 0); // the panel's own margins keep the caption free
    pnState = new QFrame(RollPanel3);
    pnState->setObjectName(QStringLiteral("pnState"));
    pnState->setAutoFillBackground(true);
    QPalette statePalette = pnState->palette();
    statePalette.setColor(QPalette::Window, Qt::black);
    statePalette.setColor(QPalette::WindowText, Qt::yellow);
    pnState->setPalette(statePalette);
    auto* g = new QGridLayout(pnState);
    g->setContentsMargins(8, 6, 8, 6);
    QFont bold = font();
    bold.setBold(true);
    lbStateTitle = new QLabel(QStringLiteral("State:"), pnState);
    lbStateTitle->setObjectName(QStringLiteral("lbStateTitle"));
    lbGraspingState = new QLabel(QStringLiteral("--"), pnState);
    lbGraspingState->setObjectName(QStringLiteral("lbGraspingState"));
    lbPositionTitle = new QLabel(QStringLiteral("Position:"), pnState);
    lbPositionTitle->setObjectName(QStringLiteral("lbPositionTitle"));
    lbPosition = new QLabel(QStringLiteral("0 mm"), pnState);
    lbPosition->setObjectName(QStringLiteral("lbPosition"));
    for (QLabel* l : {lbGraspingState, lbPosition}) {
        l->setFont(bold);
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    g->addWidget(lbStateTitle, 0, 0);
    g->addWidget(lbGraspingState, 0, 1);
    g->addWidget(lbPositionTitle, 1, 0);
    g->addWidget(lbPosition, 1, 1);
    l3->addWidget(pnState);
    iv->addWidget(RollPanel3);
    // Heights are set once the panels sit in their layout, which then keeps them.
    RollPanel3->SetPanelHeight(RollPanel3->contentsMargins().top() + pnState->sizeHint().height() +
                               RollPanel3->contentsMargins().bottom());

    // System state: the state word and one box per flag.
    RollPanel1 = new TRollPanel(inner);
    StyleRollPanel(RollPanel1, QStringLiteral("RollPanel1"), QStringLiteral("System state"),
                   Qt::white);
    lbSystemstateTitle = new QLabel(QStringLiteral("State:"), RollPanel1);
    lbSystemstateTitle->setObjectName(QStringLiteral("lbSystemstateTitle"));
    lbSystemstateTitle->setGeometry(16, 36, 40, 18);
    lbSystemstate = new QLabel(QStringLiteral("00000000h"), RollPanel1);
    lbSystemstate->setObjectName(QStringLiteral("lbSystemstate"));
    lbSystemstate->setFont(bold);
    QPalette navy = lbSystemstate->palette();
    navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
    lbSystemstate->setPalette(navy);
    lbSystemstate->setGeometry(60, 36, 90, 18);
    iv->addWidget(RollPanel1);
    RollPanel1->SetPanelHeight(64 + 16 * int(SysflagDescr.size()) + 10);
    iv->addStretch(1);
    ScrollBox1->setWidget(inner);
    v->addWidget(ScrollBox1, 1);

    // Fast stop, picture and documentation link.
    pnEmergency = new QFrame(pnRight);
    pnEmergency->setObjectName(QStringLiteral("pnEmergency"));
    pnEmergency->setFixedHeight(255);
    pnEmergency->setFrameShape(QFrame::StyledPanel);
    auto* ev = new QVBoxLayout(pnEmergency);
    ev->setContentsMargins(6, 6, 6, 6);
    btnEmergencyStop = new QPushButton(QStringLiteral("Fast Stop!"), pnEmergency);
    btnEmergencyStop->setObjectName(QStringLiteral("btnEmergencyStop"));
    btnEmergencyStop->setCheckable(true);
    btnEmergencyStop->setMinimumHeight(90);
    QFont big = font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.6);
    btnEmergencyStop->setFont(big);
    btnEmergencyStop->setStyleSheet(QStringLiteral(
        "QPushButton { background-color: #d42020; color: white; border: 3px outset #ff8080;"
        " border-radius: 6px; }"
        "QPushButton:checked { background-color: #8a1010; border: 3px inset #602020; }"
        "QPushButton:disabled { background-color: #c8a0a0; color: #f0e0e0; }"));
    SetHint(btnEmergencyStop,
            QStringLiteral("Issue a FAST STOP command (To acknowledge a FAST STOP, use "
                           "Commands->\"Acknowledge a Fast Stop\" from the menu)") +
                QStringLiteral(". Key: %1, from every window.").arg(FastStopKeyText()));
    ev->addWidget(btnEmergencyStop);
    imgGripper = new TGripperPicture(pnEmergency);
    ev->addWidget(imgGripper, 1);
    lbLink =
        new QLabel(QStringLiteral("<a href=\"readme\">Documentation (README)</a>"), pnEmergency);
    lbLink->setObjectName(QStringLiteral("lbLink"));
    lbLink->setAlignment(Qt::AlignCenter);
    lbLink->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    SetHint(lbLink, QStringLiteral("Opens the project's documentation page (README.md)"));
    ev->addWidget(lbLink);
    v->addWidget(pnEmergency);
    new TReadoutScaler(this, pnRight, RollPanel3, pnState,
                       {lbStateTitle, lbGraspingState, lbPositionTitle, lbPosition},
                       lbSystemstateTitle, lbSystemstate);
}

void TMainWin::BuildLeftPane() {
    pnLeft = new QFrame(this);
    pnLeft->setObjectName(QStringLiteral("pnLeft"));
    auto* v = new QVBoxLayout(pnLeft);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);

    sbCommands = new QScrollArea;
    sbCommands->setObjectName(QStringLiteral("sbCommands"));
    sbCommands->setWidgetResizable(true);
    auto* bands = new QWidget;
    bands->setObjectName(QStringLiteral("sbCommandsContents"));
    auto* bv = new QVBoxLayout(bands);
    bv->setContentsMargins(2, 2, 2, 2);
    bv->setSpacing(3);
    QFont bold = font();
    bold.setBold(true);

    // ACC
    {
        auto* w = new QWidget;
        auto* h = new QHBoxLayout(w);
        h->setContentsMargins(0, 10, 0, 10);
        h->addWidget(new QLabel(QStringLiteral("Acceleration:"), w));
        lbAcc = new QLabel(QStringLiteral("500 mm/s²"), w);
        lbAcc->setObjectName(QStringLiteral("lbAcc"));
        lbAcc->setFont(bold);
        h->addWidget(lbAcc);
        h->addStretch(1);
        btnAcc = MakeBandButton(QStringLiteral("btnAcc"), QStringLiteral("Change"),
                                QStringLiteral("Set a new finger acceleration"));
        LMDSimplePanel3 = new QFrame;
        LMDSimplePanel3->setObjectName(QStringLiteral("LMDSimplePanel3"));
        LayOutBand(LMDSimplePanel3, QStringLiteral("ACC"), QColor(0, 128, 128), w, btnAcc);
        bv->addWidget(LMDSimplePanel3);
    }
    // FORCE
    {
        auto* w = new QWidget;
        auto* h = new QHBoxLayout(w);
        h->setContentsMargins(0, 10, 0, 10);
        h->addWidget(new QLabel(QStringLiteral("Grasping Force Limit:"), w));
        lbForce = new QLabel(QStringLiteral("20 N"), w);
        lbForce->setObjectName(QStringLiteral("lbForce"));
        lbForce->setFont(bold);
        h->addWidget(lbForce);
        h->addStretch(1);
        btnForce = MakeBandButton(QStringLiteral("btnForce"), QStringLiteral("Change"),
                                  QStringLiteral("Set a new grasping force limit"));
        LMDSimplePanel1 = new QFrame;
        LMDSimplePanel1->setObjectName(QStringLiteral("LMDSimplePanel1"));
        LayOutBand(LMDSimplePanel1, QStringLiteral("FORCE"), QColor(128, 0, 128), w, btnForce);
        bv->addWidget(LMDSimplePanel1);
    }
    const QString mm = QStringLiteral("mm");
    const QString mms = QStringLiteral("mm/s");
    const auto row = [](const char* caption, const char* name, const char* design,
                        const QString& unit) {
        const QString n = QString::fromLatin1(name);
        const bool speed = unit == QStringLiteral("mm/s");
        return TMotionRow{QString::fromLatin1(caption), QStringLiteral("tb") + n,
                          QStringLiteral("ed") + n,     QString::fromLatin1(design),
                          speed ? 60.0 : 65.0,          unit};
    };
    pnGoto = new TMotionBand(
        QStringLiteral("pnGoto"), QStringLiteral("MOVE"), QColor(30, 80, 170),
        row("Target position", "GotoPos", "50", mm), row("Speed", "GotoSpeed", "50", mms),
        MakeBandButton(
            QStringLiteral("btnMove"), QStringLiteral("&Move"),
            QStringLiteral("Move the fingers to the given position (pre-positioning mode)")));
    pnGrasp =
        new TMotionBand(QStringLiteral("pnGrasp"), QStringLiteral("GRASP"), QColor(20, 130, 50),
                        row("Nominal part width", "GraspingPos", "8", mm),
                        row("Grasping speed", "GraspingSpeed", "50", mms),
                        MakeBandButton(QStringLiteral("btnGrasp"), QStringLiteral("Gras&p"),
                                       QStringLiteral("Grasp a part with the given width")));
    pnRelease =
        new TMotionBand(QStringLiteral("pnRelease"), QStringLiteral("RELEASE"), QColor(200, 110, 0),
                        row("Release position", "ReleasePos", "50", mm),
                        row("Release speed", "ReleaseSpeed", "50", mms),
                        MakeBandButton(QStringLiteral("btnRelease"), QStringLiteral("&Release"),
                                       QStringLiteral("Release a previously grasped part")));
    for (TMotionBand* band : {pnGoto, pnGrasp, pnRelease}) {
        bv->addWidget(band);
        FPairs.append({band->PositionEdit(), band->PositionTrack()});
        FPairs.append({band->SpeedEdit(), band->SpeedTrack()});
    }
    // STOP
    {
        auto* w = new QWidget;
        auto* h = new QHBoxLayout(w);
        h->setContentsMargins(0, 10, 0, 10);
        auto* text = new QLabel(
            QStringLiteral("Pressing \"Stop\" will immediately stop the movement of the gripper."),
            w);
        text->setWordWrap(true);
        h->addWidget(text, 1);
        btnStop = MakeBandButton(QStringLiteral("btnStop"), QStringLiteral("Stop"),
                                 QStringLiteral("Stop a movement immediately"));
        pnStop = new QFrame;
        pnStop->setObjectName(QStringLiteral("pnStop"));
        LayOutBand(pnStop, QStringLiteral("STOP"), QColor(190, 20, 20), w, btnStop);
        bv->addWidget(pnStop);
    }
    // A short column scrolls instead of squeezing the bands.
    for (int i = 0; i < bv->count(); ++i) {
        QWidget* band = bv->itemAt(i)->widget();
        band->setSizePolicy(band->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
    }
    bv->addStretch(1);
    sbCommands->setWidget(bands);

    RollPanel2 = new TRollPanel;
    StyleRollPanel(RollPanel2, QStringLiteral("RollPanel2"),
                   QStringLiteral("Motion Command Results"), Qt::white);
    auto* l2 = new QVBoxLayout(RollPanel2);
    l2->setContentsMargins(0, 0, 0, 0);
    AsyncLog = new TStampedLog(RollPanel2);
    AsyncLog->setObjectName(QStringLiteral("AsyncLog"));
    AsyncLog->setMaximumBlockCount(2000);
    l2->addWidget(AsyncLog);
    // Below the splitter the panel fills its holder while expanded, so dragging the splitter
    // resizes the results text; collapsed it keeps to the top and the splitter stays put.
    pnResults = new TResultsHolder([this] { LayOutResults(); });
    pnResults->setObjectName(QStringLiteral("pnResults"));
    RollPanel2->setParent(pnResults);
    pnResults->setMinimumHeight(RollPanel2->CollapsedHeight());
    RollPanel2->OnStartExpanding = [this](QObject*, int& size) { size = pnResults->height(); };
    RollPanel2->OnExpand = [this](QObject*) { LayOutResults(); };

    Splitter1 = new QSplitter(Qt::Vertical, pnLeft);
    Splitter1->setObjectName(QStringLiteral("Splitter1"));
    Splitter1->addWidget(sbCommands);
    Splitter1->addWidget(pnResults);
    Splitter1->setStretchFactor(0, 1);
    Splitter1->setStretchFactor(1, 0);
    Splitter1->setChildrenCollapsible(false);
    v->addWidget(Splitter1);
}

void TMainWin::LayOutResults() {
    const QSize area = pnResults->size();
    if (RollPanel2->State() == TRollPanel::rpExpanded && !RollPanel2->IsAnimating())
        RollPanel2->setGeometry(0, 0, area.width(), area.height());
    else
        RollPanel2->resize(area.width(), RollPanel2->height());
}

QSize TMainWin::ContentSize() const {
    QWidget* bands = sbCommands->widget();
    const int frame = 2 * sbCommands->frameWidth();
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int width = bands->minimumSizeHint().width() + frame + scrollBar + pnRight->width();
    const int left = bands->sizeHint().height() + frame + Splitter1->handleWidth() +
                     pnResults->sizeHint().height();
    const int right = ScrollBox1->widget()->sizeHint().height() + pnEmergency->height();
    const int height =
        menuBar()->sizeHint().height() + std::max(left, right) + statusBar()->sizeHint().height();
    return {width, height};
}

void TMainWin::SetMinimumWindowSize() {
    // Move and Grasp stay in view at the smallest size: the column is wide enough for the
    // bands beside a vertical scroll bar and tall enough for the bands down to Grasp; the
    // results give way to their caption first.
    QWidget* bands = sbCommands->widget();
    const auto* column = static_cast<QBoxLayout*>(bands->layout());
    int height = column->contentsMargins().top();
    for (QWidget* band :
         {static_cast<QWidget*>(LMDSimplePanel3), static_cast<QWidget*>(LMDSimplePanel1),
          static_cast<QWidget*>(pnGoto), static_cast<QWidget*>(pnGrasp)})
        height += band->sizeHint().height() + column->spacing();
    const int frame = 2 * sbCommands->frameWidth();
    sbCommands->setMinimumSize(bands->minimumSizeHint().width() + frame +
                                   style()->pixelMetric(QStyle::PM_ScrollBarExtent),
                               height + frame);
    setMinimumSize(QSize(300, 480).expandedTo(minimumSizeHint()));
}

void TMainWin::CentreButtons() {
    for (auto [band, button] :
         {std::pair<QFrame*, QPushButton*>{pnGrasp, pnGrasp->Button()},
          std::pair<QFrame*, QPushButton*>{pnRelease, pnRelease->Button()},
          std::pair<QFrame*, QPushButton*>{pnGoto, pnGoto->Button()}, std::pair{pnStop, btnStop},
          std::pair{LMDSimplePanel3, btnAcc}, std::pair{LMDSimplePanel1, btnForce}})
        band->layout()->setAlignment(button, Qt::AlignRight | Qt::AlignVCenter);
}
