// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// One moment of the gripper's reported state, with every value carried forward from the last
// update that reported it.
struct TPlotSample {
    std::int64_t Time = 0; // ms on the caller's clock
    float Position = 0;    // mm
    std::uint32_t SystemState = 0;
    std::uint8_t GraspingState = 0;
    std::uint8_t Known = 0; // TPlotTrace::Has* bits: what the gripper has reported in this run
};

// The last 60 s of automatic updates of one connection ("run"), kept in a ring so that updates
// at 100 Hz for hours cost a constant amount of memory and O(1) each. Time comes from the caller,
// so the trace can be driven without a clock. After EndRun the samples stay as they were until
// the next BeginRun.
class TPlotTrace {
public:
    static constexpr std::int64_t WindowMs = 60000;
    // Updates of one millisecond share a sample, so even a flood keeps at most one sample per
    // millisecond of the window; at the usual 50 updates per second about 3000 are in use.
    static constexpr std::size_t MaxSamples = std::size_t(WindowMs) + 1;
    enum : std::uint8_t { HasPosition = 1, HasGraspingState = 2, HasSystemState = 4 };

    void BeginRun(std::int64_t now);
    void EndRun(std::int64_t now);
    bool Running() const { return FRunning; }
    // Where the visible minute ends: now while running, else where the run ended.
    std::int64_t ViewEnd(std::int64_t now) const { return FRunning ? now : FEnd; }

    // Ignored between runs, so the last run is kept as it ended.
    void AddPosition(std::int64_t time, float mm);
    void AddGraspingState(std::int64_t time, std::uint8_t state);
    void AddSystemState(std::int64_t time, std::uint32_t state);

    // Oldest first. The oldest may lie just before the window, so lines reach its left edge.
    std::size_t Size() const { return FCount; }
    bool Empty() const { return FCount == 0; }
    const TPlotSample& At(std::size_t i) const { return FRing[(FHead + i) % FRing.size()]; }
    const TPlotSample& Last() const { return At(FCount - 1); }
    std::size_t Capacity() const { return FRing.size(); }

private:
    void Append(std::int64_t time);

    std::vector<TPlotSample> FRing;
    std::size_t FHead = 0;
    std::size_t FCount = 0;
    TPlotSample FCurrent;
    bool FRunning = false;
    std::int64_t FEnd = 0;
};
