#include "ui/MainForm.h"

#include "ui/MainFormShared.h"

#include "protocol/Constants.h"
#include "ui/BandTitle.h"
#include "ui/GripperPicture.h"
#include "widgets/FloatEdit.h"
#include "widgets/RollPanel.h"
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
                           "Commands->\"Acknowledge a Fast Stop\" from the menu)"));
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
}

QPushButton* TMainWin::MakeBandButton(const QString& name, const QString& text,
                                      const QString& hint) {
    auto* b = new QPushButton(text);
    b->setObjectName(name);
    b->setMinimumWidth(75);
    b->setAutoDefault(false);
    SetHint(b, hint);
    return b;
}

QFrame* TMainWin::MakeBand(const QString& name, const QString& title, const QColor& color,
                           QWidget* contents, QPushButton* button) {
    auto* band = new QFrame;
    band->setObjectName(name);
    band->setFrameShape(QFrame::StyledPanel);
    // The design minimum of 495 pixels assumed a narrower font; the contents' own minimum
    // (track bars at their shortest) decides, so narrowing the window shortens the track bars
    // before the column scrolls.
    auto* h = new QHBoxLayout(band);
    h->setContentsMargins(0, 0, 8, 0);
    h->setSpacing(8);
    auto* strip = new TBandTitle(title, color, band);
    strip->setObjectName(name + QStringLiteral("Title"));
    h->addWidget(strip);
    h->addWidget(contents, 1);
    h->addWidget(button);
    return band;
}

QWidget* TMainWin::MakeEditRows(const QString& name, const QString& text1, QSlider*& track1,
                                TFloatEdit*& edit1, const QString& tbName1, const QString& edName1,
                                const QString& design1, const QString& unit1, const QString& text2,
                                QSlider*& track2, TFloatEdit*& edit2, const QString& tbName2,
                                const QString& edName2, const QString& design2,
                                const QString& unit2) {
    auto* w = new QWidget;
    w->setObjectName(name);
    auto* g = new QGridLayout(w);
    g->setContentsMargins(0, 6, 0, 6);
    g->setHorizontalSpacing(6);
    QFont bold = font();
    bold.setBold(true);
    auto row = [&](int r, const QString& text, QSlider*& track, TFloatEdit*& edit,
                   const QString& tbName, const QString& edName, const QString& design,
                   const QString& unit, double designMax) {
        auto* label = new QLabel(text, w);
        track = new QSlider(Qt::Horizontal, w);
        track->setObjectName(tbName);
        track->setRange(0, TrackMax);
        track->setValue(0);
        track->setMinimumWidth(40);
        PrepareCoupledTrack(track);
        edit = new TFloatEdit(w);
        edit->setObjectName(edName);
        edit->SetErrorBkgColor(palette().color(QPalette::Base));
        edit->SetErrorFont(bold);
        edit->SetErrorFontColor(Qt::red);
        edit->SetDecSeparator(dsDefault);
        edit->SetMinValue(2);
        edit->SetMaxValue(designMax);
        edit->setText(design);
        edit->setFixedWidth(64);
        auto* unitLabel = new QLabel(unit, w);
        g->addWidget(label, r, 0);
        g->addWidget(track, r, 1);
        g->addWidget(edit, r, 2);
        g->addWidget(unitLabel, r, 3);
        FPairs.append({edit, track});
    };
    const bool speed1 = unit1 == QStringLiteral("mm/s");
    const bool speed2 = unit2 == QStringLiteral("mm/s");
    row(0, text1, track1, edit1, tbName1, edName1, design1, unit1, speed1 ? 60 : 65);
    row(1, text2, track2, edit2, tbName2, edName2, design2, unit2, speed2 ? 60 : 65);
    g->setColumnStretch(1, 1);
    return w;
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
        LMDSimplePanel3 = MakeBand(QStringLiteral("LMDSimplePanel3"), QStringLiteral("ACC"),
                                   QColor(0, 128, 128), w, btnAcc);
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
        LMDSimplePanel1 = MakeBand(QStringLiteral("LMDSimplePanel1"), QStringLiteral("FORCE"),
                                   QColor(128, 0, 128), w, btnForce);
        bv->addWidget(LMDSimplePanel1);
    }
    // MOVE
    btnMove = MakeBandButton(
        QStringLiteral("btnMove"), QStringLiteral("&Move"),
        QStringLiteral("Move the fingers to the given position (pre-positioning mode)"));
    pnGoto = MakeBand(
        QStringLiteral("pnGoto"), QStringLiteral("MOVE"), QColor(30, 80, 170),
        MakeEditRows(QStringLiteral("pnGotoRows"), QStringLiteral("Target position"), tbGotoPos,
                     edGotoPos, QStringLiteral("tbGotoPos"), QStringLiteral("edGotoPos"),
                     QStringLiteral("50"), QStringLiteral("mm"), QStringLiteral("Speed"),
                     tbGotoSpeed, edGotoSpeed, QStringLiteral("tbGotoSpeed"),
                     QStringLiteral("edGotoSpeed"), QStringLiteral("50"), QStringLiteral("mm/s")),
        btnMove);
    bv->addWidget(pnGoto);
    // GRASP
    btnGrasp = MakeBandButton(QStringLiteral("btnGrasp"), QStringLiteral("Gras&p"),
                              QStringLiteral("Grasp a part with the given width"));
    pnGrasp = MakeBand(
        QStringLiteral("pnGrasp"), QStringLiteral("GRASP"), QColor(20, 130, 50),
        MakeEditRows(QStringLiteral("pnGraspRows"), QStringLiteral("Nominal part width"),
                     tbGraspingPos, edGraspingPos, QStringLiteral("tbGraspingPos"),
                     QStringLiteral("edGraspingPos"), QStringLiteral("8"), QStringLiteral("mm"),
                     QStringLiteral("Grasping speed"), tbGraspingSpeed, edGraspingSpeed,
                     QStringLiteral("tbGraspingSpeed"), QStringLiteral("edGraspingSpeed"),
                     QStringLiteral("50"), QStringLiteral("mm/s")),
        btnGrasp);
    bv->addWidget(pnGrasp);
    // RELEASE
    btnRelease = MakeBandButton(QStringLiteral("btnRelease"), QStringLiteral("&Release"),
                                QStringLiteral("Release a previously grasped part"));
    pnRelease = MakeBand(
        QStringLiteral("pnRelease"), QStringLiteral("RELEASE"), QColor(200, 110, 0),
        MakeEditRows(QStringLiteral("pnReleaseRows"), QStringLiteral("Release position"),
                     tbReleasePos, edReleasePos, QStringLiteral("tbReleasePos"),
                     QStringLiteral("edReleasePos"), QStringLiteral("50"), QStringLiteral("mm"),
                     QStringLiteral("Release speed"), tbReleaseSpeed, edReleaseSpeed,
                     QStringLiteral("tbReleaseSpeed"), QStringLiteral("edReleaseSpeed"),
                     QStringLiteral("50"), QStringLiteral("mm/s")),
        btnRelease);
    bv->addWidget(pnRelease);
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
        pnStop = MakeBand(QStringLiteral("pnStop"), QStringLiteral("STOP"), QColor(190, 20, 20), w,
                          btnStop);
        bv->addWidget(pnStop);
    }
    bv->addStretch(1);
    sbCommands->setWidget(bands);

    RollPanel2 = new TRollPanel;
    StyleRollPanel(RollPanel2, QStringLiteral("RollPanel2"),
                   QStringLiteral("Motion Command Results"), Qt::white);
    auto* l2 = new QVBoxLayout(RollPanel2);
    l2->setContentsMargins(0, 0, 0, 0);
    AsyncLog = new QPlainTextEdit(RollPanel2);
    AsyncLog->setObjectName(QStringLiteral("AsyncLog"));
    AsyncLog->setReadOnly(true);
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

void TMainWin::CentreButtons() {
    for (auto [band, button] :
         {std::pair{pnGrasp, btnGrasp}, std::pair{pnRelease, btnRelease},
          std::pair{pnGoto, btnMove}, std::pair{pnStop, btnStop},
          std::pair{LMDSimplePanel3, btnAcc}, std::pair{LMDSimplePanel1, btnForce}})
        band->layout()->setAlignment(button, Qt::AlignRight | Qt::AlignVCenter);
}
