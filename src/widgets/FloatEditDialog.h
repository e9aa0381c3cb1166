// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "widgets/FloatEdit.h"

#include <QDialog>

class QLabel;
class QPushButton;
class QSlider;
class QWidget;

// Asks for one floating-point value, typed or set with a track bar coupled to the field.
class TFloatEditDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int TrackMax = 200;

    explicit TFloatEditDlg(QWidget* owner = nullptr);

    void SetUnit(const QString& unit);
    void SetMinimum(double v);
    void SetMaximum(double v);
    // The allowed values in the operator's words, under the entry; empty hides it.
    void SetRangeText(const QString& text);
    // Also moves the track bar; raises EConvertError when v lies outside a real range.
    void SetValue(double v);
    bool Execute();
    // Raises EConvertError when the field holds no valid number.
    double Value();

    void tbChange();
    void edNumericChange(QObject* Sender);
    void FormResize();

    QLabel* pnDescription;
    QWidget* Panel1;
    QSlider* tb;
    TFloatEdit* ed;
    QLabel* lbUnit;
    QLabel* lbRange;
    QWidget* Panel2;
    QPushButton* BitBtn2;
    QPushButton* BitBtn1;

protected:
    void resizeEvent(QResizeEvent* e) override;
    void showEvent(QShowEvent* e) override;

private:
    void PlaceTrackBar();
    void FitUnit();
    int FEdRight = 0;   // distance of ed's left edge from Panel1's right edge
    int FUnitRight = 0; // same for lbUnit
    int FButtonsRight = 0;
};
