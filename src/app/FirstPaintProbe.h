// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>

// With KARO_EXIT_AFTER_FIRST_PAINT set, the program prints "first-paint-ms N" (milliseconds
// from `started` to the end of the window's first paint) and quits: the start-up figure of
// scripts/bench.sh, measured on the real program.
class TFirstPaintProbe : public QObject {
public:
    TFirstPaintProbe(QWidget* window, const QElapsedTimer& started)
        : FWindow(window), FStarted(started) {
        if (qEnvironmentVariableIsSet("KARO_EXIT_AFTER_FIRST_PAINT"))
            QCoreApplication::instance()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!FSeen && event->type() == QEvent::Paint && widget && widget->window() == FWindow) {
            FSeen = true;
            // Queued, so the painting of this pass (every child of the window) finishes first.
            QTimer::singleShot(0, this, [this] {
                std::printf("first-paint-ms %.1f\n",
                            static_cast<double>(FStarted.nsecsElapsed()) / 1e6);
                std::fflush(stdout);
                QCoreApplication::quit();
            });
        }
        return false;
    }

private:
    QWidget* FWindow;
    const QElapsedTimer& FStarted;
    bool FSeen = false;
};
