// SPDX-License-Identifier: Apache-2.0
#include "widgets/TrackCoupling.h"

#include <QEvent>
#include <QSlider>

int TrackPosition(long double value, long double minimum, long double maximum, int trackMax) {
    const long double span = maximum - minimum;
    if (!(span > 0))
        return 0;
    return static_cast<int>(RoundHalfEven((value - minimum) / span * trackMax));
}

long double TrackValue(int position, long double minimum, long double maximum, int trackMax) {
    const long double value =
        static_cast<long double>(position) / trackMax * (maximum - minimum) + minimum;
    return RoundHalfEven(value * 10) / 10;
}

namespace {
class TWheelFocus : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Wheel) {
            auto* track = static_cast<QSlider*>(watched);
            if (track->isEnabled() && !track->hasFocus())
                track->setFocus(Qt::MouseFocusReason);
        }
        return false;
    }
};
} // namespace

void PrepareCoupledTrack(QSlider* track) {
    track->setFocusPolicy(Qt::WheelFocus);
    track->installEventFilter(new TWheelFocus(track));
}
