#include "win32/services/Win32Monitors.h"

#include <windows.h>

namespace {

BOOL CALLBACK AddMonitor(HMONITOR monitor, HDC, LPRECT, LPARAM data) {
    auto& areas = *reinterpret_cast<std::vector<TScreenRect>*>(data);
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoW(monitor, &info)) {
        const RECT& r = info.rcWork;
        const TScreenRect area{r.left, r.top, r.right - r.left, r.bottom - r.top};
        if ((info.dwFlags & MONITORINFOF_PRIMARY) != 0) {
            areas.insert(areas.begin(), area);
        } else {
            areas.push_back(area);
        }
    }
    return TRUE;
}

} // namespace

std::vector<TScreenRect> TWin32Monitors::WorkAreas() const {
    std::vector<TScreenRect> areas;
    EnumDisplayMonitors(nullptr, nullptr, AddMonitor, reinterpret_cast<LPARAM>(&areas));
    return areas;
}
