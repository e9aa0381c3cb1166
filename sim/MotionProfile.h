// SPDX-License-Identifier: Apache-2.0
#pragma once

// A rest-to-rest move with constant acceleration, an optional cruise at the speed limit and a
// symmetric deceleration (a triangle when the distance is too short to reach the speed).
// Times in seconds, distances in mm.
class TTrapezoid {
public:
    TTrapezoid() = default;
    TTrapezoid(double start, double target, double maxSpeed, double accel);

    double Start() const { return FStart; }
    double Target() const { return FTarget; }
    double Duration() const { return 2.0 * FAccelTime + FCruiseTime; }
    double PeakSpeed() const { return FPeak; }

    double PositionAt(double t) const;
    // Signed: positive while opening.
    double SpeedAt(double t) const;

private:
    double Travelled(double t) const;

    double FStart = 0.0;
    double FTarget = 0.0;
    double FDirection = 1.0;
    double FDistance = 0.0;
    double FAccel = 1.0;
    double FPeak = 0.0;
    double FAccelTime = 0.0;
    double FCruiseTime = 0.0;
};
