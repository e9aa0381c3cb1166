// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QColor>

class QPainter;

// Drawing helpers of the collapsible panel. Coordinates are inclusive pixel positions, as the
// panel's frame arithmetic expects.

enum TGradientType { gtVertical, gtHorizontal };

// A colour from the packed 0x00BBGGRR value of design files (8210719 is (31, 73, 125)).
QColor ColorFromBgr(unsigned value);

// The four lines of a rectangle outline from (l, t) to (r, b), end pixels included.
void DrawOutline(QPainter& painter, int l, int t, int r, int b, const QColor& color);

// The colour `percent` of the way from `from` to `to`, each component taken modulo 256.
QColor BlendColor(const QColor& from, const QColor& to, int percent);

// Each component moved `share` (0..1) of the way towards white.
QColor LightenColor(const QColor& color, double share);

// One line per column (gtVertical) or per row (gtHorizontal) of the area (l, t)..(r, b), the
// colour moving from `from` to `to` across it.
void DrawGradient(QPainter& painter, int l, int t, int r, int b, const QColor& from,
                  const QColor& to, TGradientType type);

// An open outline down x = l, along y = b and up x = r, starting and ending at y = t, with
// quarter-circle corners of `radius` at the bottom.
void DrawRoundedTrough(QPainter& painter, int l, int t, int r, int b, int radius,
                       const QColor& color);
