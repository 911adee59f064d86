#include "win32/SummaryPane.h"

#include "core/WideText.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>

namespace {

constexpr wchar_t kPlotClass[] = L"QuilletSummaryPlot";
constexpr int kFiguresWidth = 330;
constexpr int kProgressHeight = 20;
constexpr int kCancelWidth = 70;
constexpr int kMarkHeight = 4;

COLORREF ColourOf(const TSummaryBar& bar) {
    if (bar.I >= bar.P && bar.I >= bar.B) {
        return RGB(208, 64, 64);
    }
    return bar.P >= bar.B ? RGB(64, 96, 208) : RGB(64, 160, 64);
}

HWND Child(HWND parent, const wchar_t* className, DWORD style, const wchar_t* text, int id = 0) {
    return CreateWindowExW(0, className, text, WS_CHILD | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                           GetModuleHandleW(nullptr), nullptr);
}

void Fill(HDC dc, const RECT& r, COLORREF colour) {
    const HBRUSH brush = CreateSolidBrush(colour);
    FillRect(dc, &r, brush);
    DeleteObject(brush);
}

} // namespace

TWin32SummaryPane::TWin32SummaryPane(HWND parent, int cancelId) {
    static const bool registered = [] {
        WNDCLASSEXW plotClass{};
        plotClass.cbSize = sizeof plotClass;
        plotClass.lpfnWndProc = PlotProcedure;
        plotClass.hInstance = GetModuleHandleW(nullptr);
        plotClass.hCursor = LoadCursorW(nullptr, IDC_HAND);
        plotClass.lpszClassName = kPlotClass;
        return RegisterClassExW(&plotClass) != 0;
    }();
    (void)registered;
    FFigures = Child(parent, L"STATIC", SS_LEFT | SS_NOPREFIX, L"");
    FPlotWindow = Child(parent, kPlotClass, WS_BORDER, L"Picture sizes");
    SetWindowLongPtrW(FPlotWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    FBar = Child(parent, PROGRESS_CLASSW, 0, L"Summary progress");
    SendMessageW(FBar, PBM_SETRANGE32, 0, 1000);
    FCancel = Child(parent, L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, L"Cancel", cancelId);
}

void TWin32SummaryPane::SetFont(HFONT font) {
    for (const HWND control : {FFigures, FCancel}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
}

void TWin32SummaryPane::Place(int left, int top, int width, int height) {
    const int plotHeight = std::max(height - (FRunning ? kProgressHeight + 4 : 0), 0);
    MoveWindow(FFigures, left + 4, top + 2, kFiguresWidth, plotHeight - 4, TRUE);
    MoveWindow(FPlotWindow, left + kFiguresWidth + 8, top + 2,
               std::max(width - kFiguresWidth - 12, 0), plotHeight - 4, TRUE);
    MoveWindow(FBar, left + 4, top + plotHeight, std::max(width - kCancelWidth - 12, 0),
               kProgressHeight, TRUE);
    MoveWindow(FCancel, left + width - kCancelWidth - 4, top + plotHeight, kCancelWidth,
               kProgressHeight, TRUE);
}

void TWin32SummaryPane::ShowControls() {
    ShowWindow(FFigures, FVisible ? SW_SHOW : SW_HIDE);
    ShowWindow(FPlotWindow, FVisible ? SW_SHOW : SW_HIDE);
    ShowWindow(FBar, FVisible && FRunning ? SW_SHOW : SW_HIDE);
    ShowWindow(FCancel, FVisible && FRunning ? SW_SHOW : SW_HIDE);
}

void TWin32SummaryPane::OnCancel() {
    if (FOnCancel) {
        const NotifyHandler handler = FOnCancel;
        handler();
    }
}

void TWin32SummaryPane::SetPaneVisible(bool visible) {
    FVisible = visible;
    ShowControls();
    // The window lays its panes out again around it.
    SendMessageW(GetParent(FFigures), WM_SIZE, 0, 0);
}

void TWin32SummaryPane::SetFigures(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) {
        text += (text.empty() ? "" : "\r\n") + line;
    }
    SetWindowTextW(FFigures, Widen(text).c_str());
}

void TWin32SummaryPane::SetPlot(const TSummaryPlot& plot) {
    const std::int64_t first = FPlot.PageFirst;
    const std::int64_t end = FPlot.PageEnd;
    FPlot = plot;
    FPlot.PageFirst = first;
    FPlot.PageEnd = end;
    InvalidateRect(FPlotWindow, nullptr, TRUE);
}

void TWin32SummaryPane::SetPage(std::int64_t first, std::int64_t end) {
    FPlot.PageFirst = first;
    FPlot.PageEnd = end;
    InvalidateRect(FPlotWindow, nullptr, TRUE);
}

void TWin32SummaryPane::SetProgress(bool running, int permille, const std::string& text) {
    const bool changed = running != FRunning;
    FRunning = running;
    SendMessageW(FBar, PBM_SETPOS, static_cast<WPARAM>(std::clamp(permille, 0, 1000)), 0);
    SetWindowTextW(FBar, Widen(text).c_str());
    ShowControls();
    if (changed && FVisible) {
        SendMessageW(GetParent(FFigures), WM_SIZE, 0, 0);
    }
}

int TWin32SummaryPane::XOf(std::int64_t offset, int width) const {
    if (FPlot.FileSize <= 0) {
        return 0;
    }
    return static_cast<int>(static_cast<double>(offset) * width /
                            static_cast<double>(FPlot.FileSize));
}

std::int64_t TWin32SummaryPane::OffsetAt(int x) const {
    RECT r{};
    GetClientRect(FPlotWindow, &r);
    if (r.right <= 0) {
        return 0;
    }
    return static_cast<std::int64_t>(static_cast<double>(std::clamp<int>(x, 0, r.right)) *
                                     static_cast<double>(FPlot.FileSize) / r.right);
}

void TWin32SummaryPane::Paint(HDC dc, const RECT& area) const {
    Fill(dc, area, GetSysColor(COLOR_WINDOW));
    const int width = area.right;
    const int height = area.bottom;
    if (FPlot.PageFirst >= 0) {
        const int left = XOf(FPlot.PageFirst, width);
        Fill(dc, {left, 0, left + std::max(XOf(FPlot.PageEnd, width) - left, 2), height},
             RGB(0xE0, 0xE8, 0xF8));
    }
    std::int64_t largest = 1;
    for (const TSummaryBar& bar : FPlot.Bars) {
        largest = std::max(largest, bar.Largest);
    }
    const int room = std::max(height - kMarkHeight - 2, 1);
    const int barWidth =
        std::max(1, XOf(FPlot.BucketWidth, width));
    for (const TSummaryBar& bar : FPlot.Bars) {
        if (bar.Pictures <= 0) {
            continue;
        }
        const int x = XOf(bar.FirstOffset, width);
        const int h = std::max(1, static_cast<int>(static_cast<double>(bar.Largest) * room /
                                                   static_cast<double>(largest)));
        Fill(dc, {x, height - h, x + barWidth, height}, ColourOf(bar));
        if (bar.Idr > 0) {
            Fill(dc, {x, 0, x + std::max(barWidth, 2), kMarkHeight}, GetSysColor(COLOR_WINDOWTEXT));
        }
    }
}

LRESULT CALLBACK TWin32SummaryPane::PlotProcedure(HWND window, UINT message, WPARAM wParam,
                                                  LPARAM lParam) {
    auto* self = reinterpret_cast<TWin32SummaryPane*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint{};
        const HDC dc = BeginPaint(window, &paint);
        if (self != nullptr) {
            RECT area{};
            GetClientRect(window, &area);
            self->Paint(dc, area);
        }
        EndPaint(window, &paint);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_LBUTTONDOWN:
        if (self != nullptr && self->FOnClick && self->FPlot.FileSize > 0) {
            self->FOnClick(self->OffsetAt(GET_X_LPARAM(lParam)));
        }
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
