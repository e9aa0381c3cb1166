// SPDX-License-Identifier: Apache-2.0
#include "diagnostics/PlotTrace.h"

#include <algorithm>

void TPlotTrace::BeginRun(std::int64_t now) {
    FHead = 0;
    FCount = 0;
    FCurrent = TPlotSample{};
    FCurrent.Time = now;
    FRunning = true;
    FEnd = now;
}

void TPlotTrace::EndRun(std::int64_t now) {
    if (!FRunning)
        return;
    FRunning = false;
    FEnd = std::max(now, FCount ? Last().Time : now);
}

void TPlotTrace::AddPosition(std::int64_t time, float mm) {
    if (!FRunning)
        return;
    FCurrent.Position = mm;
    FCurrent.Known |= HasPosition;
    Append(time);
}

void TPlotTrace::AddGraspingState(std::int64_t time, std::uint8_t state) {
    if (!FRunning)
        return;
    FCurrent.GraspingState = state;
    FCurrent.Known |= HasGraspingState;
    Append(time);
}

void TPlotTrace::AddSystemState(std::int64_t time, std::uint32_t state) {
    if (!FRunning)
        return;
    FCurrent.SystemState = state;
    FCurrent.Known |= HasSystemState;
    Append(time);
}

void TPlotTrace::Append(std::int64_t time) {
    // A clock that steps back must not put samples out of order.
    if (FCount)
        time = std::max(time, Last().Time);
    FCurrent.Time = time;
    // Updates of one moment (state and grasping state come together) make one sample.
    if (FCount && Last().Time == time) {
        FRing[(FHead + FCount - 1) % FRing.size()] = FCurrent;
        return;
    }
    // Keep one sample at or before the window's start: it holds the values at its left edge.
    while (FCount >= 2 && At(1).Time <= time - WindowMs) {
        FHead = (FHead + 1) % FRing.size();
        --FCount;
    }
    if (FCount == MaxSamples) { // cannot happen with the pruning above; never overrun the ring
        FHead = (FHead + 1) % FRing.size();
        --FCount;
    }
    if (FCount == FRing.size()) {
        // Grow, unrolling the ring so that it starts at index 0 again.
        std::vector<TPlotSample> bigger(
            std::min(MaxSamples, std::max<std::size_t>(256, FRing.size() * 2)));
        for (std::size_t i = 0; i < FCount; ++i)
            bigger[i] = At(i);
        FRing.swap(bigger);
        FHead = 0;
    }
    FRing[(FHead + FCount) % FRing.size()] = FCurrent;
    ++FCount;
}
