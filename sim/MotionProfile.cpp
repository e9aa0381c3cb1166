// SPDX-License-Identifier: Apache-2.0
#include "MotionProfile.h"

#include <algorithm>
#include <cmath>

TTrapezoid::TTrapezoid(double start, double target, double maxSpeed, double accel)
    : FStart(start), FTarget(target), FDirection(target >= start ? 1.0 : -1.0),
      FDistance(std::fabs(target - start)), FAccel(accel) {
    if (FDistance <= 0.0 || maxSpeed <= 0.0 || accel <= 0.0)
        return;
    if (FDistance * accel < maxSpeed * maxSpeed) {
        FPeak = std::sqrt(FDistance * accel);
        FAccelTime = FPeak / accel;
    } else {
        FPeak = maxSpeed;
        FAccelTime = maxSpeed / accel;
        FCruiseTime = (FDistance - maxSpeed * maxSpeed / accel) / maxSpeed;
    }
}

double TTrapezoid::Travelled(double t) const {
    const double total = Duration();
    if (t <= 0.0)
        return 0.0;
    if (t >= total)
        return FDistance;
    if (t < FAccelTime)
        return 0.5 * FAccel * t * t;
    if (t < FAccelTime + FCruiseTime)
        return 0.5 * FAccel * FAccelTime * FAccelTime + FPeak * (t - FAccelTime);
    const double left = total - t;
    return std::clamp(FDistance - 0.5 * FAccel * left * left, 0.0, FDistance);
}

double TTrapezoid::PositionAt(double t) const {
    return FStart + FDirection * Travelled(t);
}

double TTrapezoid::SpeedAt(double t) const {
    const double total = Duration();
    if (t <= 0.0 || t >= total)
        return 0.0;
    double v = FPeak;
    if (t < FAccelTime)
        v = FAccel * t;
    else if (t > FAccelTime + FCruiseTime)
        v = FAccel * (total - t);
    return FDirection * v;
}
