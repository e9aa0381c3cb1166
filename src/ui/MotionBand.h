// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QColor>
#include <QFrame>
#include <QString>

#include <array>

class QPushButton;
class QSlider;
class TFloatEdit;

// A command band: the coloured title strip at the left, the contents, the button at the right.
void LayOutBand(QFrame* band, const QString& title, const QColor& color, QWidget* contents,
                QPushButton* button);
QPushButton* MakeBandButton(const QString& name, const QString& text, const QString& hint);

// One value of a motion band: its caption, the names of its track bar and edit, the edit's
// design text and range, and its unit.
struct TMotionRow {
    QString Caption;
    QString TrackName;
    QString EditName;
    QString DesignText;
    double DesignMax = 0;
    QString Unit;
};

// A band that starts a motion: a position (or width) row and a speed row, each an edit coupled
// to a track bar, and the button that starts it.
class TMotionBand : public QFrame {
    Q_OBJECT
public:
    static constexpr int TrackMax = 200;
    static constexpr double DesignMin = 2;

    TMotionBand(const QString& name, const QString& title, const QColor& color,
                const TMotionRow& position, const TMotionRow& speed, QPushButton* button);

    TFloatEdit* PositionEdit() const { return FEdits[0]; }
    TFloatEdit* SpeedEdit() const { return FEdits[1]; }
    QSlider* PositionTrack() const { return FTracks[0]; }
    QSlider* SpeedTrack() const { return FTracks[1]; }
    QPushButton* Button() const { return FButton; }
    // The button may start the motion only while both values are valid.
    bool ValuesValid() const;

private:
    std::array<TFloatEdit*, 2> FEdits{};
    std::array<QSlider*, 2> FTracks{};
    QPushButton* FButton;
};
