// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QIcon>
#include <QWidget>

class QPainter;

// Paints a two-finger parallel gripper holding a part into `bounds`, keeping its proportions.
// `opening` runs from 0 (closed) to 1 (fully open).
void DrawGripper(QPainter& painter, const QRectF& bounds, double opening = 0.55,
                 bool withPart = true);

// The program's icon, rendered from the same drawing at the usual icon sizes.
QIcon KaroAppIcon();

// The picture in the right pane.
class TGripperPicture : public QWidget {
    Q_OBJECT
public:
    explicit TGripperPicture(QWidget* parent = nullptr);
    QSize sizeHint() const override { return {150, 110}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};
