// SPDX-License-Identifier: Apache-2.0
#include "widgets/RollPanel.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>

#include <algorithm>

// The glyphs live in this static library; their registration has to be pulled in explicitly.
static void InitRollPanelResources() {
    Q_INIT_RESOURCE(rollpanel);
}

TRollPanel::TRollPanel(QWidget* parent) : QWidget(parent), FAnimator(new TSpkAnimator(this)) {
    InitRollPanelResources();
    const QPalette pal = palette();
    FCaptionFont = font();
    FCaptionFont.setBold(true);
    FCaptionFontColor = pal.color(QPalette::Active, QPalette::HighlightedText);
    FMarginColor = pal.color(QPalette::Button);
    FBorderColor = pal.color(QPalette::Button);
    FCaptionColorFrom = pal.color(QPalette::Active, QPalette::Highlight);
    FCaptionColorTo = pal.color(QPalette::Button);
    FPanelColorFrom = pal.color(QPalette::Button);
    FPanelColorTo = pal.color(QPalette::Button);

    TAnimationOptions& options = FAnimator->Options();
    options.Duration = 150;
    options.AnimatedProperty = 3;
    options.Quadratic = true;
    options.EaseOut = false;
    options.Control = this;
    FAnimator->OnFinished = [this](QObject*) { AnimationFinished(); };

    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    SetGlyph(QStringLiteral("GLYPH2A"));
    UpdateContentsMargins();
}

TRollPanel::~TRollPanel() {
    // Stop the animation before the widget parts it applies values to go away.
    FAnimator->OnFinished = nullptr;
    delete FAnimator;
    FAnimator = nullptr;
}

void TRollPanel::SetRadius(int value) {
    FRadius = value;
    update();
}

void TRollPanel::SetAnimationSpeed(int value) {
    FAnimator->Options().Duration = std::max(50, value);
}

void TRollPanel::SetCaptionFont(const QFont& font) {
    FCaptionFont = font;
    update();
}

void TRollPanel::SetCaptionFontColor(const QColor& color) {
    FCaptionFontColor = color;
    update();
}

void TRollPanel::SetClientWidth(int value) {
    resize(value + 2 * FMargin + 5, height());
}

void TRollPanel::SetClientHeight(int value) {
    SetPanelHeight(value + 2 * FMargin + FCaptionHeight + 3);
}

void TRollPanel::SetMargin(int value) {
    FMargin = value;
    UpdateContentsMargins();
    update();
}

void TRollPanel::SetMarginColor(const QColor& color) {
    FMarginColor = color;
    update();
}

void TRollPanel::SetCaptionHeight(int value) {
    FCaptionHeight = value;
    UpdateContentsMargins();
    update();
}

void TRollPanel::SetBorderColor(const QColor& color) {
    FBorderColor = color;
    update();
}

void TRollPanel::SetCaptionGradientMode(TGradientMode value) {
    FCaptionGradientMode = value;
    update();
}

void TRollPanel::SetCaptionColorFrom(const QColor& color) {
    FCaptionColorFrom = color;
    update();
}

void TRollPanel::SetCaptionColorTo(const QColor& color) {
    FCaptionColorTo = color;
    update();
}

void TRollPanel::SetCaptionGradientType(TGradientType value) {
    FCaptionGradientType = value;
    update();
}

void TRollPanel::SetPanelGradientMode(TGradientMode value) {
    FPanelGradientMode = value;
    update();
}

void TRollPanel::SetPanelColorFrom(const QColor& color) {
    FPanelColorFrom = color;
    update();
}

void TRollPanel::SetPanelColorTo(const QColor& color) {
    FPanelColorTo = color;
    update();
}

void TRollPanel::SetPanelGradientType(TGradientType value) {
    FPanelGradientType = value;
    update();
}

void TRollPanel::SetCaption(const QString& text) {
    FCaption = text;
    update();
}

void TRollPanel::SetPanelHeight(int value) {
    ApplyAnimatedProperty(this, 3, value);
}

void TRollPanel::SetGlyph(const QString& name) {
    if (name == FGlyphName)
        return;
    FGlyphName = name;
    FGlyph = QPixmap(QStringLiteral(":/rollpanel/") + name);
    update();
}

void TRollPanel::UpdateContentsMargins() {
    setContentsMargins(4, FMargin + FCaptionHeight + 4, 4, 4);
}

void TRollPanel::SetChildrenVisible(bool visible) {
    const auto children = findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (QWidget* child : children)
        if (!child->isWindow())
            child->setVisible(visible);
}

void TRollPanel::SetState(TState value) {
    if (value == FState || !FAnimator->IsIdle())
        return;
    if (value == rpCollapsed) {
        SetGlyph(QStringLiteral("GLYPH1A"));
        FExpandedHeight = height();
        if (FHideChildren)
            SetChildrenVisible(false);
        FState = rpCollapsed;
        if (FAnimate) {
            FAnimator->Options().EaseOut = true;
            FAnimator->Start(height(), CollapsedHeight());
        } else {
            SetPanelHeight(CollapsedHeight());
        }
    } else {
        SetGlyph(QStringLiteral("GLYPH2A"));
        FState = rpExpanded;
        int newSize = FExpandedHeight;
        if (OnStartExpanding)
            OnStartExpanding(this, newSize);
        const int target = std::max(newSize, height());
        FExpandedHeight = target;
        if (FAnimate) {
            FAnimator->Options().EaseOut = true;
            FAnimator->Start(height(), target);
        } else {
            SetPanelHeight(target);
            if (FHideChildren)
                SetChildrenVisible(true);
        }
    }
    update();
}

void TRollPanel::AnimationFinished() {
    if (FState == rpExpanded && FHideChildren)
        SetChildrenVisible(true);
    if (FState == rpExpanded) {
        if (OnExpand)
            OnExpand(this);
    } else if (OnCollapse) {
        OnCollapse(this);
    }
}

void TRollPanel::FillArea(QPainter& painter, int l, int t, int r, int b, TGradientMode mode,
                          const QColor& from, const QColor& to, TGradientType type) {
    switch (mode) {
    case gmNone:
        if (r >= l && b >= t)
            painter.fillRect(QRect(QPoint(l, t), QPoint(r, b)), from);
        break;
    case gmUser:
        DrawGradient(painter, l, t, r, b, from, to, type);
        break;
    case gmAuto:
        DrawGradient(painter, l, t, r, b, from, LightenColor(from, 0.40), type);
        break;
    }
}

void TRollPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const int m = FMargin;
    const int w = width();
    const int h = height();
    const int r = w - m - 1;
    const int b = h - m - 1;
    const int ch = FCaptionHeight;

    painter.fillRect(rect(), FMarginColor);
    DrawOutline(painter, m, m, r, m + ch + 1, FBorderColor);
    FillArea(painter, m + 1, m + 1, r - 1, m + ch, FCaptionGradientMode, FCaptionColorFrom,
             FCaptionColorTo, FCaptionGradientType);

    painter.setFont(FCaptionFont);
    painter.setPen(FCaptionFontColor);
    const QFontMetrics fm(FCaptionFont);
    const int textHeight = fm.boundingRect(QStringLiteral("Wy")).height();
    const int textY = m + 1 + (ch - textHeight) / 2;
    painter.drawText(QRect(m + 5, textY, std::max(0, r - m - 5), textHeight),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, FCaption);

    if (!FGlyph.isNull())
        painter.drawPixmap(r - FGlyph.width() - 8, m + (ch - FGlyph.height()) / 2, FGlyph);

    if (h > CollapsedHeight()) {
        DrawOutline(painter, m, m + ch + 1, r, b, FBorderColor);
        FillArea(painter, m + 1, m + ch + 2, r - 1, b - 1, FPanelGradientMode, FPanelColorFrom,
                 FPanelColorTo, FPanelGradientType);
        const int il = m + 1;
        const int it = m + ch + 2;
        const int ir = r;
        const int ib = b;
        if (FRadius < ir - il && FRadius < ib - it) {
            const QPalette pal = palette();
            DrawRoundedTrough(painter, il + 1, it, ir - 1, ib - 1, FRadius,
                              pal.color(QPalette::Light));
            DrawRoundedTrough(painter, il, it, ir - 2, ib - 2, FRadius, pal.color(QPalette::Dark));
        }
    }
}

void TRollPanel::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton)
        SetGlyph(FState == rpCollapsed ? QStringLiteral("GLYPH1B") : QStringLiteral("GLYPH2B"));
    QWidget::mousePressEvent(event);
}

void TRollPanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    FDragging = false;
    const int x = qRound(event->position().x());
    const int y = qRound(event->position().y());
    const bool inCaption =
        FMargin < x && x < width() - FMargin - 1 && FMargin < y && y < FMargin + FCaptionHeight;
    const bool alignOk = FAlign == alNone || FAlign == alTop || FAlign == alBottom;
    // A press that does not toggle leaves no pressed picture behind.
    SetGlyph(FState == rpCollapsed ? QStringLiteral("GLYPH1A") : QStringLiteral("GLYPH2A"));
    if (inCaption && alignOk)
        SetState(FState == rpExpanded ? rpCollapsed : rpExpanded);
}

bool TRollPanel::InEdgeZone(int y) const {
    return height() - FMargin - 4 <= y && y < height() - FMargin;
}

void TRollPanel::mouseMoveEvent(QMouseEvent* event) {
    if (FState != rpExpanded || !FAllowResize) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    const int x = qRound(event->position().x());
    const int y = qRound(event->position().y());
    const int screenY = qRound(event->globalPosition().y());
    const bool inX = FMargin < x && x < width() - FMargin - 1;
    if (inX && InEdgeZone(y))
        setCursor(Qt::SizeVerCursor);
    else
        unsetCursor();
    const bool leftDown = event->buttons() & Qt::LeftButton;
    if (FDragging && !leftDown)
        FDragging = false;
    if (leftDown && !FDragging && InEdgeZone(y)) {
        FDragging = true;
        FDragOffset = screenY - height();
    }
    if (FDragging) {
        SetPanelHeight(std::max(screenY - FDragOffset, 2 * FMargin + FCaptionHeight + 12));
        update();
    }
}
