// SPDX-License-Identifier: Apache-2.0
#include "widgets/Rounding.h"

#include <cfenv>
#include <cmath>

long double RoundHalfEven(long double value) {
    // nearbyint follows the current rounding mode; pin it, whatever a library left behind.
    const int mode = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const long double r = std::nearbyint(value);
    std::fesetround(mode);
    return r;
}
