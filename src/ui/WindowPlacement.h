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
// Moves `client` (never resizes it) so that it and its window frame lie on `desktop`, preferring
// the top-left corner when the window is larger than the desktop.
QRect ClampToDesktop(const QRect& client, const QMargins& frame, const QRect& desktop);
