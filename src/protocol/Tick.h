// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <functional>

// A millisecond tick: 32 bits, wrapping; compare with unsigned differences.
using TTickSource = std::function<std::uint32_t()>;

// The steady clock as such a tick. Code that an instance's clock should drive reads a TClock
// (protocol/Clock.h) instead.
std::uint32_t GetTickCount();
