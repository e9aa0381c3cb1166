// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "diagnostics/PlotTrace.h"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

#include <cstdint>
#include <functional>

class QLabel;
class QPushButton;
class QTimer;
class TPlotCanvas;

// "Plot": position and grasping state over the last 60 s of automatic updates, with the
// system-state flags as a strip below. It records while hidden, follows while connected and
// keeps the last run when the link ends. The main window feeds it; it never asks the gripper.
class TPlotForm : public QWidget {
    Q_OBJECT
public:
    explicit TPlotForm(QWidget* parent = nullptr);

    // A new run starts with every connection; a disconnect freezes it.
    void SetConnected(bool connected);
    void AddPosition(float mm);
    void AddGraspingState(std::uint8_t state);
    void AddSystemState(std::uint32_t state);

    const TPlotTrace& Trace() const { return FTrace; }
    // Milliseconds of the trace's clock; tests may replace it.
    std::int64_t Now() const;
    void SetClock(std::function<std::int64_t()> clock) { FClock = std::move(clock); }

    // The window as it is shown, as a PNG file; false when it cannot be written.
    bool SavePng(const QString& fileName);

    QLabel* lbPlotStatus;
    QPushButton* btnSavePng;
    TPlotCanvas* Canvas;

public Q_SLOTS:
    void btnSavePngClick();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void UpdateFollowing();
    void ShowStatus();

    TPlotTrace FTrace;
    QElapsedTimer FElapsed;
    std::function<std::int64_t()> FClock;
    QTimer* FRepaint;
};
