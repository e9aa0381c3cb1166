// SPDX-License-Identifier: Apache-2.0
#include "ui/WindowPlacement.h"

#include <QStringList>

#include <algorithm>

namespace {
constexpr int PlacementMarker = 200;
constexpr qint64 PlacementLimit = 1 << 24;
} // namespace

QString FormatPlacement(const TWindowPlacement& p) {
    const QRect& r = p.Normal;
    return QStringLiteral("%1,%2,%3,%4,%5,%6,%7")
        .arg(PlacementMarker)
        .arg(p.Flags)
        .arg(p.Show)
        .arg(r.left())
        .arg(r.top())
        .arg(r.left() + r.width())
        .arg(r.top() + r.height());
}

std::optional<TWindowPlacement> ParsePlacement(const QString& text) {
    const QStringList fields = text.split(QLatin1Char(','));
    if (fields.size() != 7 || fields[0].trimmed() != QString::number(PlacementMarker))
        return std::nullopt;
    qint64 v[7];
    for (int i = 0; i < 7; ++i) {
        bool ok = false;
        v[i] = fields[i].trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    // In 64 bits, so that a far corner cannot wrap the size round; beyond any desktop a
    // coordinate is cut to a value QRect can still add to.
    const qint64 width = v[5] - v[3];
    const qint64 height = v[6] - v[4];
    if (width <= 0 || height <= 0)
        return std::nullopt;
    auto cut = [](qint64 x) { return int(std::clamp<qint64>(x, -PlacementLimit, PlacementLimit)); };
    const QRect r(cut(v[3]), cut(v[4]), cut(width), cut(height));
    return TWindowPlacement{int(v[1]), int(v[2]), r};
}

QRect ClampToDesktop(const QRect& client, const QMargins& frame, const QRect& desktop) {
    QRect f = client.marginsAdded(frame);
    f.setWidth(std::min(f.width(), desktop.width()));
    f.setHeight(std::min(f.height(), desktop.height()));
    if (f.right() > desktop.right())
        f.moveRight(desktop.right());
    if (f.bottom() > desktop.bottom())
        f.moveBottom(desktop.bottom());
    if (f.left() < desktop.left())
        f.moveLeft(desktop.left());
    if (f.top() < desktop.top())
        f.moveTop(desktop.top());
    return f.marginsRemoved(frame);
}

QRect PlaceToolWindow(const QRect& mainFrame, const QRect& keepClear, const QSize& tool,
                      const QRect& desktop) {
    const int w = std::min(tool.width(), desktop.width());
    const int h = std::min(tool.height(), desktop.height());
    const int top = std::clamp(mainFrame.top(), desktop.top(), desktop.bottom() + 1 - h);
    // Beside the main window, right then left, when the desktop has room there.
    if (mainFrame.right() + w <= desktop.right())
        return {mainFrame.right() + 1, top, w, h};
    if (mainFrame.left() - w >= desktop.left())
        return {mainFrame.left() - w, top, w, h};
    // Else over the main window, but left of what must stay in sight, narrowed to the room there
    // (the caller's minimum width may widen it again); or right of it.
    const int leftRoom = keepClear.left() - desktop.left();
    const int rightRoom = desktop.right() - keepClear.right();
    if (rightRoom >= w)
        return {keepClear.right() + 1, top, w, h};
    if (leftRoom >= rightRoom) {
        const int fit = std::min(w, leftRoom);
        return {std::max(desktop.left(), keepClear.left() - fit), top, fit, h};
    }
    return {keepClear.right() + 1, top, rightRoom, h};
}

QSize DefaultWindowSize(const QSize& wanted, const QSize& available) {
    // What a typical window manager adds: a title bar and thin borders.
    constexpr int FrameWidth = 8;
    constexpr int FrameHeight = 36;
    if (available.isEmpty())
        return wanted;
    return wanted.boundedTo(available - QSize(FrameWidth, FrameHeight));
}
