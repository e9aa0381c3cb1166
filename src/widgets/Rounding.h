// SPDX-License-Identifier: Apache-2.0
#pragma once

// Nearest integer, halves to even: the one rounding the program uses for every value it computes
// for the operator (entry values, track bars, animation steps, colour shades).
long double RoundHalfEven(long double value);

inline int RoundHalfEvenToInt(long double value) {
    return static_cast<int>(RoundHalfEven(value));
}
