// SPDX-License-Identifier: Apache-2.0
#pragma once

#include "protocol/Tick.h"

#include <chrono>
#include <cstdint>
#include <functional>

// The time one engine instance reads: a 32-bit wrapping millisecond tick for time-outs and
// gaps, and the wall clock for log stamps. A default clock is the program's tick and the
// system's wall clock; a test hands an instance sources it moves by hand.
struct TClock {
    using TWallSource = std::function<std::int64_t()>;

    TTickSource TickSource; // empty: GetTickCount
    TWallSource WallSource; // empty: milliseconds since the Unix epoch

    std::uint32_t Tick() const { return TickSource ? TickSource() : GetTickCount(); }
    std::int64_t WallMs() const {
        if (WallSource)
            return WallSource();
        using namespace std::chrono;
        return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    }
};
