#pragma once

// The one rule by which an entry field and its track bar follow each other, shared by the main
// window's bands and the value dialog.

#include "widgets/Rounding.h"

// Track position (0..trackMax) for a value of the range; 0 for an empty range.
int TrackPosition(long double value, long double minimum, long double maximum, int trackMax);

// The value a track position stands for, to one decimal.
long double TrackValue(int position, long double minimum, long double maximum, int trackMax);
