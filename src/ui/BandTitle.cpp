// SPDX-License-Identifier: Apache-2.0
#include "ui/BandTitle.h"

#include <QFontMetrics>
#include <QPainter>

TBandTitle::TBandTitle(const QString& title, const QColor& color, QWidget* parent)
    : QWidget(parent), FTitle(title), FColor(color) {
    QFont f = font();
    f.setBold(true);
    setFont(f);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
}

QSize TBandTitle::sizeHint() const {
    const QFontMetrics fm(font());
    return {fm.height() + 8, fm.horizontalAdvance(FTitle) + 12};
}

QSize TBandTitle::minimumSizeHint() const {
    return {sizeHint().width(), 20};
}

void TBandTitle::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), FColor);
    p.setPen(FColor.lightness() > 150 ? Qt::black : Qt::white);
    p.translate(0, height());
    p.rotate(-90);
    p.drawText(QRect(0, 0, height(), width()), Qt::AlignCenter, FTitle);
}
