#include "ui/WindowPlacement.h"

#include <QStringList>

namespace {
constexpr int PlacementMarker = 200;
}

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
    int v[7];
    for (int i = 0; i < 7; ++i) {
        bool ok = false;
        v[i] = fields[i].trimmed().toInt(&ok);
        if (!ok)
            return std::nullopt;
    }
    const QRect r(QPoint(v[3], v[4]), QSize(v[5] - v[3], v[6] - v[4]));
    if (r.width() <= 0 || r.height() <= 0)
        return std::nullopt;
    return TWindowPlacement{v[1], v[2], r};
}

QRect ClampToDesktop(const QRect& client, const QMargins& frame, const QRect& desktop) {
    QRect f = client.marginsAdded(frame);
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
