#include "protocol/Tick.h"

#include <chrono>

namespace {
TTickSource& CurrentSource() {
    static TTickSource source;
    return source;
}

std::uint32_t SteadyTick() {
    using namespace std::chrono;
    static const auto start = steady_clock::now();
    return static_cast<std::uint32_t>(
        duration_cast<milliseconds>(steady_clock::now() - start).count());
}
} // namespace

std::uint32_t GetTickCount() {
    const TTickSource& source = CurrentSource();
    return source ? source() : SteadyTick();
}

TTickSource SetTickSource(TTickSource source) {
    TTickSource previous = std::move(CurrentSource());
    CurrentSource() = std::move(source);
    return previous;
}
