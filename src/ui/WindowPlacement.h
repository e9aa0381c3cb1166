// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QMargins>
#include <QRect>
#include <QString>

#include <optional>

// The main window's placement as "settings.ini" stores it: "200,flags,show,left,top,right,bottom"
// (show 1 normal, 2 minimized, 3 maximized; flag 2: maximized again when restored). Pure
// functions, so the rules are checked without a screen.
struct TWindowPlacement {
    int Flags = 0;
    int Show = 1;
    QRect Normal; // the client area in its normal state
};

QString FormatPlacement(const TWindowPlacement& placement);
// Nothing for a text that is not a placement or whose rectangle is empty.
std::optional<TWindowPlacement> ParsePlacement(const QString& text);
// Moves `client` so that it and its window frame lie on `desktop`, shrinking it to the desktop
// when it is larger.
QRect ClampToDesktop(const QRect& client, const QMargins& frame, const QRect& desktop);
// Where a tool window whose frame is `tool` large opens: beside the main window's frame when the
// desktop has room there, else over the main window but clear of `keepClear` (what must stay in
// sight, such as the Fast Stop button and the state panel). Frame coordinates throughout.
QRect PlaceToolWindow(const QRect& mainFrame, const QRect& keepClear, const QSize& tool,
                      const QRect& desktop);
// The first size of the main window: `wanted`, cut to what `available` holds once a window
// manager's title bar and borders are added (nothing cut when `available` is empty).
QSize DefaultWindowSize(const QSize& wanted, const QSize& available);
