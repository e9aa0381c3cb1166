#include "widgets/TrackCoupling.h"

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
