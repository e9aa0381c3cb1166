#pragma once

#include <cstdint>
#include <functional>

// The program's millisecond tick: 32 bits, wrapping; compare with unsigned differences.
using TTickSource = std::function<std::uint32_t()>;

std::uint32_t GetTickCount();

// Replaces the tick for the whole program (tests only); an empty source restores the clock.
// Returns the previous source.
TTickSource SetTickSource(TTickSource source);
