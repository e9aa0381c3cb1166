// SPDX-License-Identifier: Apache-2.0
#include "widgets/RollPanel.h"
#include "widgets/SpkAnimator.h"
#include "widgets/SpkGraphTools.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QTest>
#include <QThread>
#include <QVBoxLayout>

#include <memory>

namespace {

void SendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button,
               Qt::MouseButtons buttons, QPoint globalOffset = {}) {
    QMouseEvent ev(type, QPointF(pos), QPointF(pos + globalOffset), button, buttons,
                   Qt::NoModifier);
    QApplication::sendEvent(w, &ev);
}

void Click(QWidget* w, QPoint pos) {
    SendMouse(w, QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
    SendMouse(w, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

// Records every height a widget takes, in order.
class HeightLog : public QObject {
public:
    explicit HeightLog(QWidget* w) { w->installEventFilter(this); }
    QList<int> Heights;

protected:
    bool eventFilter(QObject* o, QEvent* e) override {
        if (e->type() == QEvent::Resize)
            Heights.append(static_cast<QWidget*>(o)->height());
        return QObject::eventFilter(o, e);
    }
};

} // namespace

class TestRollPanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void collapsedHeightFollowsMarginAndCaption();
    void animationCurves();
    void clickCollapsesAnimatedAndRestores();
    void startExpandingHandlerSetsTarget();
    void clicksOutsideCaptionOrWhileBusyDoNothing();
    void dragStopsAtMinimumHeight();
    void hiddenChildrenReturnAfterExpansion();
    void gradientColours();
    void destroyedMidAnimation();
    void animatedControlDestroyedMidAnimation();
    void animatedHeightInsideLayout();
};

void TestRollPanel::collapsedHeightFollowsMarginAndCaption() {
    TRollPanel p;
    p.SetAnimate(false);
    p.resize(200, 150);
    QCOMPARE(p.CollapsedHeight(), 22);
    p.SetState(TRollPanel::rpCollapsed);
    QCOMPARE(p.height(), 22);
    QCOMPARE(p.GlyphName(), QStringLiteral("GLYPH1A"));
    p.SetState(TRollPanel::rpExpanded);
    QCOMPARE(p.height(), 150);
    QCOMPARE(p.GlyphName(), QStringLiteral("GLYPH2A"));
    p.SetCaptionHeight(20);
    QCOMPARE(p.CollapsedHeight(), 26);
    // Children sit below the caption bar.
    QCOMPARE(p.contentsMargins().top(), 2 + 20 + 4);

    p.SetAnimationSpeed(20);
    QCOMPARE(p.AnimationSpeed(), 50);
    p.SetAnimationSpeed(150);
    QCOMPARE(p.AnimationSpeed(), 150);
}

void TestRollPanel::animationCurves() {
    TAnimationOptions o;
    o.Quadratic = true;
    o.EaseOut = true;
    QCOMPARE(AnimationValue(o, 369, 26, 0), 369);
    QCOMPARE(AnimationValue(o, 369, 26, 100), 26);
    // Easing out covers three quarters of the way in the first half.
    QCOMPARE(AnimationValue(o, 0, 400, 50), 300);
    QCOMPARE(AnimationValue(o, 400, 0, 50), 100);
    // Values away from a rounding half, so they hold at any floating-point width: at 20 % the
    // way covered is 1950 x 0.36 = 702, at 45 % 1950 x 0.6975 = 1360.125.
    QCOMPARE(AnimationValue(o, 1950, 0, 20), 1248);
    QCOMPARE(AnimationValue(o, 1950, 0, 45), 590);
    o.EaseOut = false;
    QCOMPARE(AnimationValue(o, 0, 400, 50), 100);
    QCOMPARE(AnimationValue(o, 1950, 0, 45), 1555); // 1950 x 0.2025 = 394.875 covered
    QCOMPARE(AnimationValue(o, 0, 400, 100), 400);
    o.Quadratic = false;
    QCOMPARE(AnimationValue(o, 10, 20, 50), 15);
    QCOMPARE(AnimationValue(o, 0, 3, 50), 2); // 1.5 rounds to even
}

void TestRollPanel::clickCollapsesAnimatedAndRestores() {
    TRollPanel p;
    p.SetCaptionHeight(20);
    p.resize(300, 369);
    p.show();
    HeightLog log(&p);
    int collapses = 0, expands = 0;
    QThread* finishThread = nullptr;
    p.OnCollapse = [&](QObject* sender) {
        QCOMPARE(sender, &p);
        ++collapses;
        finishThread = QThread::currentThread();
    };
    p.OnExpand = [&](QObject*) { ++expands; };

    Click(&p, QPoint(50, 10));
    QCOMPARE(p.State(), TRollPanel::rpCollapsed); // changes at the start, not the end
    QCOMPARE(p.ExpandedHeight(), 369);
    QTRY_COMPARE_WITH_TIMEOUT(collapses, 1, 10000);
    QCOMPARE(p.height(), 26);
    QCOMPARE(finishThread, QThread::currentThread());
    QVERIFY(!p.IsAnimating());
    QVERIFY(!log.Heights.isEmpty());
    QCOMPARE(log.Heights.last(), 26);
    for (int i = 1; i < log.Heights.size(); ++i)
        QVERIFY(log.Heights[i] <= log.Heights[i - 1]);

    Click(&p, QPoint(50, 10));
    QCOMPARE(p.State(), TRollPanel::rpExpanded);
    QTRY_COMPARE_WITH_TIMEOUT(expands, 1, 10000);
    QCOMPARE(p.height(), 369);
    QCOMPARE(collapses, 1);
}

void TestRollPanel::startExpandingHandlerSetsTarget() {
    for (const bool animate : {false, true}) {
        TRollPanel p;
        p.SetCaptionHeight(20);
        p.SetAnimate(animate);
        p.SetAnimationSpeed(50);
        p.resize(200, 300);
        int expanded = 0;
        p.OnExpand = [&](QObject*) { ++expanded; };
        p.SetState(TRollPanel::rpCollapsed);
        QTRY_COMPARE_WITH_TIMEOUT(p.height(), 26, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!p.IsAnimating(), 10000);

        int offered = -1;
        p.OnStartExpanding = [&](QObject*, int& size) {
            offered = size;
            size = 100;
        };
        p.SetState(TRollPanel::rpExpanded);
        QCOMPARE(offered, 300);
        QTRY_COMPARE_WITH_TIMEOUT(p.height(), 100, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!p.IsAnimating(), 10000);
        QCOMPARE(p.ExpandedHeight(), 100);
        // Without animation there is no finish notification.
        QCOMPARE(expanded, animate ? 1 : 0);

        // A target below the current height leaves the height as it is.
        p.SetAnimate(false);
        p.SetState(TRollPanel::rpCollapsed);
        p.SetPanelHeight(60);
        p.OnStartExpanding = [](QObject*, int& size) { size = 40; };
        p.SetState(TRollPanel::rpExpanded);
        QCOMPARE(p.height(), 60);
        QCOMPARE(p.ExpandedHeight(), 60);
    }
}

void TestRollPanel::clicksOutsideCaptionOrWhileBusyDoNothing() {
    TRollPanel p;
    p.SetAnimate(false);
    p.resize(200, 120);
    // Right end of the caption bar, within Margin + 1 of the edge.
    Click(&p, QPoint(200 - 3, 10));
    QCOMPARE(p.State(), TRollPanel::rpExpanded);
    // The body.
    Click(&p, QPoint(50, 60));
    QCOMPARE(p.State(), TRollPanel::rpExpanded);
    // Last pixel inside the bar toggles.
    Click(&p, QPoint(200 - 4, 10));
    QCOMPARE(p.State(), TRollPanel::rpCollapsed);
    QCOMPARE(p.GlyphName(), QStringLiteral("GLYPH1A"));
    Click(&p, QPoint(50, 10));
    QCOMPARE(p.State(), TRollPanel::rpExpanded);

    for (const auto align : {TRollPanel::alClient, TRollPanel::alLeft, TRollPanel::alRight}) {
        p.SetAlign(align);
        Click(&p, QPoint(50, 10));
        QCOMPARE(p.State(), TRollPanel::rpExpanded);
    }
    p.SetAlign(TRollPanel::alTop);

    // The pressed picture shows while the button is down.
    SendMouse(&p, QEvent::MouseButtonPress, QPoint(50, 60), Qt::LeftButton, Qt::LeftButton);
    QCOMPARE(p.GlyphName(), QStringLiteral("GLYPH2B"));
    SendMouse(&p, QEvent::MouseButtonRelease, QPoint(50, 60), Qt::LeftButton, Qt::NoButton);
    QCOMPARE(p.GlyphName(), QStringLiteral("GLYPH2A"));

    // While an animation runs, state changes are ignored.
    p.SetAnimate(true);
    p.SetAnimationSpeed(10000);
    p.SetState(TRollPanel::rpCollapsed);
    QVERIFY(p.IsAnimating());
    p.SetState(TRollPanel::rpExpanded);
    Click(&p, QPoint(50, 10));
    QCOMPARE(p.State(), TRollPanel::rpCollapsed);
}

void TestRollPanel::dragStopsAtMinimumHeight() {
    TRollPanel p;
    p.resize(200, 120);
    const QPoint global(1000, 500); // the screen offset of the panel
    const int edgeY = 120 - 2 - 2;
    SendMouse(&p, QEvent::MouseMove, QPoint(50, edgeY), Qt::NoButton, Qt::NoButton, global);
    QCOMPARE(p.cursor().shape(), Qt::SizeVerCursor);
    SendMouse(&p, QEvent::MouseButtonPress, QPoint(50, edgeY), Qt::LeftButton, Qt::LeftButton,
              global);
    SendMouse(&p, QEvent::MouseMove, QPoint(50, edgeY), Qt::NoButton, Qt::LeftButton, global);
    SendMouse(&p, QEvent::MouseMove, QPoint(50, edgeY + 30), Qt::NoButton, Qt::LeftButton, global);
    QCOMPARE(p.height(), 150);
    SendMouse(&p, QEvent::MouseMove, QPoint(50, edgeY - 200), Qt::NoButton, Qt::LeftButton, global);
    QCOMPARE(p.height(), 32);
    // Moving without the button ends the drag.
    SendMouse(&p, QEvent::MouseMove, QPoint(50, edgeY + 40), Qt::NoButton, Qt::NoButton, global);
    QCOMPARE(p.height(), 32);

    // Not while resizing is off.
    p.SetAllowResize(false);
    p.resize(200, 120);
    SendMouse(&p, QEvent::MouseMove, QPoint(50, edgeY), Qt::NoButton, Qt::LeftButton, global);
    SendMouse(&p, QEvent::MouseMove, QPoint(50, edgeY + 30), Qt::NoButton, Qt::LeftButton, global);
    QCOMPARE(p.height(), 120);
}

void TestRollPanel::hiddenChildrenReturnAfterExpansion() {
    TRollPanel p;
    p.SetHideChildren(true);
    p.SetAnimationSpeed(50);
    p.resize(200, 120);
    auto* label = new QLabel(QStringLiteral("x"), &p);
    p.show();
    QVERIFY(label->isVisible());
    p.SetState(TRollPanel::rpCollapsed);
    QVERIFY(!label->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!p.IsAnimating(), 10000);
    p.SetState(TRollPanel::rpExpanded);
    QVERIFY(!label->isVisible()); // only once the expansion has finished
    QTRY_VERIFY_WITH_TIMEOUT(label->isVisible(), 10000);
    QCOMPARE(p.height(), 120);
}

void TestRollPanel::gradientColours() {
    QCOMPARE(LightenColor(QColor(0, 0, 255), 0.40), QColor(102, 102, 255));
    QCOMPARE(ColorFromBgr(8210719), QColor(31, 73, 125));
    QCOMPARE(BlendColor(QColor(0, 0, 0), QColor(255, 100, 1), 50), QColor(128, 50, 0));

    TRollPanel p;
    p.resize(120, 80);
    p.SetCaptionGradientMode(TRollPanel::gmAuto);
    p.SetCaptionColorFrom(QColor(0, 0, 255));
    p.SetMarginColor(QColor(1, 2, 3));
    p.SetBorderColor(QColor(9, 9, 9));
    p.SetPanelGradientMode(TRollPanel::gmNone);
    p.SetPanelColorFrom(QColor(200, 10, 10));
    p.SetCaption(QString());
    const QImage img = p.grab().toImage();
    const int m = 2, r = 120 - m - 1;
    QCOMPARE(QColor(img.pixel(m + 1, m + 8)), QColor(0, 0, 255));
    QCOMPARE(QColor(img.pixel(r - 1, m + 8)), QColor(102, 102, 255));
    QCOMPARE(QColor(img.pixel(0, 0)), QColor(1, 2, 3));
    QCOMPARE(QColor(img.pixel(m, m)), QColor(9, 9, 9));
    QCOMPARE(QColor(img.pixel(r, m + 17)), QColor(9, 9, 9));
    QCOMPARE(QColor(img.pixel(40, 50)), QColor(200, 10, 10));

    // Horizontal: the colour changes from top to bottom.
    p.SetCaptionGradientMode(TRollPanel::gmUser);
    p.SetCaptionGradientType(gtHorizontal);
    p.SetCaptionColorTo(QColor(255, 0, 0));
    const QImage h = p.grab().toImage();
    QCOMPARE(QColor(h.pixel(30, m + 1)), QColor(0, 0, 255));
    QCOMPARE(QColor(h.pixel(30, m + 16)), QColor(255, 0, 0));

    // Collapsed: no body frame or fill below the caption bar.
    p.SetAnimate(false);
    p.SetState(TRollPanel::rpCollapsed);
    const QImage c = p.grab().toImage();
    QCOMPARE(c.height(), 22);
    QCOMPARE(QColor(c.pixel(40, 21)), QColor(1, 2, 3));
}

void TestRollPanel::destroyedMidAnimation() {
    for (int round = 0; round < 5; ++round) {
        auto p = std::make_unique<TRollPanel>();
        p->resize(200, 400);
        p->SetAnimationSpeed(60000);
        p->show();
        p->SetState(TRollPanel::rpCollapsed);
        if (round % 2)
            QTRY_VERIFY_WITH_TIMEOUT(p->height() < 400, 10000);
        // Destruction stops the animation instead of waiting for its minute to run out.
        QElapsedTimer destroying;
        destroying.start();
        p.reset();
        QVERIFY(destroying.elapsed() < 30000);
        QCoreApplication::processEvents();
    }
}

void TestRollPanel::animatedControlDestroyedMidAnimation() {
    TSpkAnimator animator;
    auto* target = new QWidget;
    target->resize(10, 10);
    animator.Options().Control = target;
    animator.Options().AnimatedProperty = 2;
    animator.Options().Duration = 60000;
    QVERIFY(animator.Start(10, 500));
    QVERIFY(!animator.IsIdle());
    QVERIFY(!animator.Start(0, 1));
    QTRY_VERIFY_WITH_TIMEOUT(target->width() > 10, 10000);
    delete target;
    // Hand-overs after the deletion find no control and do nothing; the animator's destruction
    // then stops the thread mid-way.
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents();
}

void TestRollPanel::animatedHeightInsideLayout() {
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    auto* p = new TRollPanel;
    layout->addWidget(p);
    layout->addStretch();
    p->SetCaptionHeight(20);
    p->SetAnimationSpeed(50);
    p->SetPanelHeight(200);
    window.resize(300, 500);
    window.show();
    QTRY_COMPARE(p->height(), 200);
    p->SetState(TRollPanel::rpCollapsed);
    QTRY_VERIFY_WITH_TIMEOUT(!p->IsAnimating(), 10000);
    // The layout keeps the collapsed height instead of stretching the panel back.
    window.resize(300, 600);
    QTRY_COMPARE(p->height(), 26);
    p->SetState(TRollPanel::rpExpanded);
    QTRY_VERIFY_WITH_TIMEOUT(!p->IsAnimating(), 10000);
    QTRY_COMPARE(p->height(), 200);
}

QTEST_MAIN(TestRollPanel)
#include "tst_rollpanel.moc"
