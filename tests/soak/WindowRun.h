// SPDX-License-Identifier: Apache-2.0
#pragma once

// The real main window against karo-sim losing and corrupting frames: an operator clicks through
// the bands and menus, closes every box that comes up, and at the end the window must have no
// box left open and be usable.

#include "FaultRun.h"

#include <QStringList>

namespace soak {

struct TWindowFigures {
    int Commands = 0;
    int ErrorBoxes = 0;     // error boxes the operator closed
    QStringList BoxTexts;   // their distinct first lines
    int OtherDialogs = 0;   // value and information dialogs answered
    qint64 MaxSettleMs = 0; // from a click until the window took the next one
    int Reconnects = 0;     // connections the window gave up and the operator made again
    int BoxesLeftOpen = 0;  // message boxes still shown at the end
    bool Usable = false;    // connected, bands enabled, no fast stop pending
    bool NextConnectionWorks = false;
    qint64 RssAfter100 = -1;
    qint64 RssEnd = -1;
    QString Failure;
};

// Needs a QApplication.
TWindowFigures RunWindow(const TRunOptions& options);

// How the end state departs from a usable window; empty when it does not.
QStringList WindowFaults(const TWindowFigures& figures);

} // namespace soak
