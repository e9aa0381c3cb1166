// SPDX-License-Identifier: Apache-2.0
#include "protocol/Tick.h"

#include <chrono>

std::uint32_t GetTickCount() {
    using namespace std::chrono;
    static const auto start = steady_clock::now();
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now() - start).count());
}
