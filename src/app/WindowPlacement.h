#pragma once

#include "toolkit/Toolkit.h"

#include <vector>

// Where a window with the bounds given should go so that the user can reach it: unchanged
// when it overlaps one of the work areas; otherwise moved the least distance onto the
// first (primary) work area, keeping its size but no larger than that area. Unchanged
// when there are no work areas.
TScreenRect PlaceOnScreen(const TScreenRect& window, const std::vector<TScreenRect>& workAreas);

// The largest size a first run gives the window: enough for the NAL list's columns beside
// the detail tree's values.
inline constexpr int kFirstRunWidth = 1400;
inline constexpr int kFirstRunHeight = 900;

// A first run's bounds on the work area given: as large as it allows up to the size above,
// in its middle.
TScreenRect FirstRunBounds(const TScreenRect& workArea);
