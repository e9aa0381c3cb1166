// SPDX-License-Identifier: Apache-2.0
#include "widgets/SpkGraphTools.h"

#include "widgets/Rounding.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

QColor ColorFromBgr(unsigned value) {
    return QColor(static_cast<int>(value & 0xFF), static_cast<int>((value >> 8) & 0xFF),
                  static_cast<int>((value >> 16) & 0xFF));
}

void DrawOutline(QPainter& painter, int l, int t, int r, int b, const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(color, 0));
    painter.drawLine(l, t, r, t);
    painter.drawLine(r, t, r, b);
    painter.drawLine(r, b, l, b);
    painter.drawLine(l, b, l, t);
    painter.drawPoint(l, t);
    painter.drawPoint(r, t);
    painter.drawPoint(r, b);
    painter.drawPoint(l, b);
    painter.restore();
}

QColor BlendColor(const QColor& from, const QColor& to, int percent) {
    const QColor a = from.toRgb();
    const QColor z = to.toRgb();
    auto mix = [percent](int f, int t) {
        const int v = RoundHalfEvenToInt(static_cast<double>(t - f) * percent / 100.0 + f);
        return ((v % 256) + 256) % 256;
    };
    return QColor(mix(a.red(), z.red()), mix(a.green(), z.green()), mix(a.blue(), z.blue()));
}

QColor LightenColor(const QColor& color, double share) {
    const QColor c = color.toRgb();
    auto up = [share](int v) {
        return std::clamp(RoundHalfEvenToInt((255 - v) * share + v), 0, 255);
    };
    return QColor(up(c.red()), up(c.green()), up(c.blue()));
}

void DrawGradient(QPainter& painter, int l, int t, int r, int b, const QColor& from,
                  const QColor& to, TGradientType type) {
    if (r < l || b < t)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    const int lo = type == gtVertical ? l : t;
    const int hi = type == gtVertical ? r : b;
    for (int c = lo; c <= hi; ++c) {
        // A one-pixel area has no direction to change along: it takes the first colour.
        const int p =
            hi > lo ? RoundHalfEvenToInt(static_cast<double>(c - lo) * 100.0 / (hi - lo)) : 0;
        painter.setPen(QPen(BlendColor(from, to, p), 0));
        if (type == gtVertical)
            painter.drawLine(c, t, c, b);
        else
            painter.drawLine(l, c, r, c);
    }
    painter.restore();
}

void DrawRoundedTrough(QPainter& painter, int l, int t, int r, int b, int radius,
                       const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QPen(color, 0));
    painter.setBrush(Qt::NoBrush);
    QPainterPath path;
    const int d = 2 * radius;
    path.moveTo(l, t);
    path.lineTo(l, b - radius);
    path.arcTo(l, b - d, d, d, 180, 90);
    path.lineTo(r - radius, b);
    path.arcTo(r - d, b - d, d, d, 270, 90);
    path.lineTo(r, t);
    painter.drawPath(path);
    painter.restore();
}
