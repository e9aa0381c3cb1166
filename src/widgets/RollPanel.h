// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "widgets/SpkAnimator.h"
#include "widgets/SpkGraphTools.h"

#include <QColor>
#include <QFont>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <functional>

// A captioned panel that collapses to its caption bar and expands again when the caption bar
// is clicked, animating its height from a thread of its own. While expanded its bottom edge can
// be dragged.
class TRollPanel : public QWidget {
    Q_OBJECT
public:
    enum TState { rpExpanded, rpCollapsed };
    enum TGradientMode { gmNone, gmUser, gmAuto };
    // How the panel sits in its parent; clicks toggle only for alNone, alTop and alBottom.
    enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient };

    explicit TRollPanel(QWidget* parent = nullptr);
    ~TRollPanel() override;

    std::function<void(QObject* sender)> OnCollapse;
    std::function<void(QObject* sender)> OnExpand;
    std::function<void(QObject* sender, int& NewSize)> OnStartExpanding;

    int Radius() const { return FRadius; }
    void SetRadius(int value);
    int AnimationSpeed() const { return FAnimator->Options().Duration; }
    void SetAnimationSpeed(int value);
    const QFont& CaptionFont() const { return FCaptionFont; }
    void SetCaptionFont(const QFont& font);
    const QColor& CaptionFontColor() const { return FCaptionFontColor; }
    void SetCaptionFontColor(const QColor& color);
    int ClientWidth() const { return width() - 2 * FMargin - 5; }
    void SetClientWidth(int value);
    int ClientHeight() const { return height() - 2 * FMargin - FCaptionHeight - 3; }
    void SetClientHeight(int value);
    int Margin() const { return FMargin; }
    void SetMargin(int value);
    const QColor& MarginColor() const { return FMarginColor; }
    void SetMarginColor(const QColor& color);
    int CaptionHeight() const { return FCaptionHeight; }
    void SetCaptionHeight(int value);
    const QColor& BorderColor() const { return FBorderColor; }
    void SetBorderColor(const QColor& color);
    bool AllowResize() const { return FAllowResize; }
    void SetAllowResize(bool value) { FAllowResize = value; }
    bool Animate() const { return FAnimate; }
    void SetAnimate(bool value) { FAnimate = value; }
    bool HideChildren() const { return FHideChildren; }
    void SetHideChildren(bool value) { FHideChildren = value; }
    TState State() const { return FState; }
    void SetState(TState value);
    TGradientMode CaptionGradientMode() const { return FCaptionGradientMode; }
    void SetCaptionGradientMode(TGradientMode value);
    const QColor& CaptionColorFrom() const { return FCaptionColorFrom; }
    void SetCaptionColorFrom(const QColor& color);
    const QColor& CaptionColorTo() const { return FCaptionColorTo; }
    void SetCaptionColorTo(const QColor& color);
    TGradientType CaptionGradientType() const { return FCaptionGradientType; }
    void SetCaptionGradientType(TGradientType value);
    TGradientMode PanelGradientMode() const { return FPanelGradientMode; }
    void SetPanelGradientMode(TGradientMode value);
    const QColor& PanelColorFrom() const { return FPanelColorFrom; }
    void SetPanelColorFrom(const QColor& color);
    const QColor& PanelColorTo() const { return FPanelColorTo; }
    void SetPanelColorTo(const QColor& color);
    TGradientType PanelGradientType() const { return FPanelGradientType; }
    void SetPanelGradientType(TGradientType value);

    QString Caption() const { return FCaption; }
    void SetCaption(const QString& text);
    TAlign Align() const { return FAlign; }
    void SetAlign(TAlign value) { FAlign = value; }

    int CollapsedHeight() const { return 2 * FMargin + FCaptionHeight + 2; }
    // The height the next expansion starts from (set when a collapse starts).
    int ExpandedHeight() const { return FExpandedHeight; }
    // Sets the height the way the animation and the drag do (inside a layout: fixed height).
    void SetPanelHeight(int value);
    bool IsAnimating() const { return !FAnimator->IsIdle(); }
    // Resource name of the glyph currently drawn ("GLYPH2A", ...).
    QString GlyphName() const { return FGlyphName; }
    TSpkAnimator* Animator() const { return FAnimator; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    void SetGlyph(const QString& name);
    void SetChildrenVisible(bool visible);
    void UpdateContentsMargins();
    void AnimationFinished();
    void FillArea(QPainter& painter, int l, int t, int r, int b, TGradientMode mode,
                  const QColor& from, const QColor& to, TGradientType type);
    bool InEdgeZone(int y) const;

    int FRadius = 4;
    QFont FCaptionFont;
    QColor FCaptionFontColor;
    int FMargin = 2;
    QColor FMarginColor;
    int FCaptionHeight = 16;
    QColor FBorderColor;
    bool FAllowResize = true;
    bool FAnimate = true;
    bool FHideChildren = false;
    TState FState = rpExpanded;
    TGradientMode FCaptionGradientMode = gmAuto;
    QColor FCaptionColorFrom;
    QColor FCaptionColorTo;
    TGradientType FCaptionGradientType = gtVertical;
    TGradientMode FPanelGradientMode = gmAuto;
    QColor FPanelColorFrom;
    QColor FPanelColorTo;
    TGradientType FPanelGradientType = gtVertical;
    QString FCaption;
    TAlign FAlign = alNone;

    int FExpandedHeight = 0;
    bool FDragging = false;
    int FDragOffset = 0;
    QString FGlyphName;
    QPixmap FGlyph;
    TSpkAnimator* FAnimator;
};
