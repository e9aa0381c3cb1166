// SPDX-License-Identifier: Apache-2.0
#include "ui/GripperPicture.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPixmap>
#include <QPolygonF>

#include <algorithm>

namespace {
// The drawing is laid out on a 100 x 100 grid and scaled into the target rectangle.
constexpr double Grid = 100.0;

QLinearGradient Metal(double x0, double x1, const QColor& light, const QColor& dark) {
    QLinearGradient g(x0, 0, x1, 0);
    g.setColorAt(0.0, dark);
    g.setColorAt(0.35, light);
    g.setColorAt(1.0, dark);
    return g;
}
} // namespace

void DrawGripper(QPainter& painter, const QRectF& bounds, double opening, bool withPart) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const double side = std::min(bounds.width(), bounds.height());
    painter.translate(bounds.center().x() - side / 2, bounds.center().y() - side / 2);
    painter.scale(side / Grid, side / Grid);
    const QPen outline(QColor(40, 44, 52), 1.6);

    // Flange and housing.
    painter.setPen(outline);
    painter.setBrush(Metal(30, 70, QColor(170, 176, 188), QColor(90, 96, 110)));
    painter.drawRoundedRect(QRectF(34, 4, 32, 10), 2, 2);
    painter.setBrush(Metal(8, 92, QColor(96, 132, 196), QColor(30, 56, 110)));
    painter.drawRoundedRect(QRectF(8, 14, 84, 26), 4, 4);
    // The maker's stripe across the housing.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(250, 190, 40));
    painter.drawRect(QRectF(10, 33, 80, 3));

    // Guide rail the fingers slide on.
    painter.setPen(outline);
    painter.setBrush(QColor(60, 64, 72));
    painter.drawRect(QRectF(12, 40, 76, 5));

    // Two parallel fingers; the opening moves both jaws symmetrically.
    const double open = std::clamp(opening, 0.0, 1.0);
    const double innerHalf = 6 + open * 24; // half the gap between the jaws
    const double fingerWidth = 11;
    for (int sideSign : {-1, 1}) {
        const double inner = 50 + sideSign * innerHalf;
        const double outer = inner + sideSign * fingerWidth;
        // The tip tapers on the outer face, so the pads stay parallel.
        const QPolygonF finger({QPointF(inner, 45), QPointF(outer, 45), QPointF(outer, 86),
                                QPointF(inner + sideSign * 4, 96), QPointF(inner, 96)});
        painter.setPen(outline);
        painter.setBrush(Metal(std::min(inner, outer), std::max(inner, outer),
                               QColor(225, 228, 234), QColor(130, 136, 146)));
        painter.drawPolygon(finger);
        // Gripping pad on the inner face.
        painter.setBrush(QColor(50, 50, 56));
        painter.drawRect(QRectF(sideSign < 0 ? inner - 2.5 : inner, 70, 2.5, 18));
    }

    if (withPart && innerHalf > 8) {
        // A round part held between the pads.
        const double r = innerHalf - 2.5;
        QRadialGradient g(QPointF(50 - r / 3, 79 - r / 3), r * 1.4);
        g.setColorAt(0, QColor(255, 170, 90));
        g.setColorAt(1, QColor(200, 80, 20));
        painter.setBrush(g);
        painter.drawEllipse(QPointF(50, 79), r, std::min(r, 10.0));
    }
    painter.restore();
}

QIcon KaroAppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        DrawGripper(p, QRectF(0, 0, size, size), 0.45, size >= 32);
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}

TGripperPicture::TGripperPicture(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("imgGripper"));
    setMinimumSize(60, 60);
}

void TGripperPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    DrawGripper(p, QRectF(rect()).adjusted(4, 4, -4, -4));
}
