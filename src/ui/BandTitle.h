// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QColor>
#include <QWidget>

// The coloured strip at the left of a command band, with its title written bottom to top.
class TBandTitle : public QWidget {
    Q_OBJECT
public:
    TBandTitle(const QString& title, const QColor& color, QWidget* parent = nullptr);

    const QString& Title() const { return FTitle; }
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString FTitle;
    QColor FColor;
};
