#include "app/WindowPlacement.h"

#include <algorithm>
#include <cstdint>

namespace {

bool Overlaps(const TScreenRect& a, const TScreenRect& b) {
    // 64-bit, as stored bounds may be anything a 32-bit value holds.
    const auto right = [](const TScreenRect& r) { return std::int64_t{r.Left} + r.Width; };
    const auto bottom = [](const TScreenRect& r) { return std::int64_t{r.Top} + r.Height; };
    return a.Width > 0 && a.Height > 0 && b.Width > 0 && b.Height > 0 &&
           std::max<std::int64_t>(a.Left, b.Left) < std::min(right(a), right(b)) &&
           std::max<std::int64_t>(a.Top, b.Top) < std::min(bottom(a), bottom(b));
}

// The start of a span of length size placed as near to start as the area allows.
int Clamp(int start, int size, int areaStart, int areaSize) {
    const std::int64_t last = std::int64_t{areaStart} + areaSize - size;
    return static_cast<int>(
        std::clamp<std::int64_t>(start, areaStart, std::max<std::int64_t>(areaStart, last)));
}

} // namespace

TScreenRect PlaceOnScreen(const TScreenRect& window, const std::vector<TScreenRect>& workAreas) {
    if (workAreas.empty() ||
        std::any_of(workAreas.begin(), workAreas.end(),
                    [&](const TScreenRect& area) { return Overlaps(window, area); })) {
        return window;
    }
    const TScreenRect& primary = workAreas.front();
    TScreenRect placed;
    placed.Width = std::clamp(window.Width, 1, std::max(primary.Width, 1));
    placed.Height = std::clamp(window.Height, 1, std::max(primary.Height, 1));
    placed.Left = Clamp(window.Left, placed.Width, primary.Left, primary.Width);
    placed.Top = Clamp(window.Top, placed.Height, primary.Top, primary.Height);
    return placed;
}

TScreenRect FirstRunBounds(const TScreenRect& workArea) {
    TScreenRect r;
    r.Width = std::clamp(workArea.Width, 1, kFirstRunWidth);
    r.Height = std::clamp(workArea.Height, 1, kFirstRunHeight);
    r.Left = workArea.Left + (std::max(workArea.Width, 1) - r.Width) / 2;
    r.Top = workArea.Top + (std::max(workArea.Height, 1) - r.Height) / 2;
    return r;
}
