#include "win32/SummaryPane.h"

#include "core/WideText.h"
#include "win32/Controls.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <optional>

namespace {

constexpr wchar_t kPlotClass[] = L"QuilletSummaryPlot";
constexpr int kFiguresWidth = 330;
constexpr int kProgressHeight = 20;
constexpr int kCancelWidth = 70;

COLORREF ColourOf(TPlotColour colour) {
    return RGB(colour.R, colour.G, colour.B);
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
        plotClass.style = CS_DBLCLKS;
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
    CarryTextOnBar(FBar);
    FCancel = Child(parent, L"BUTTON", WS_TABSTOP | BS_PUSHBUTTON, L"Cancel", cancelId);
    FTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX, 0, 0,
                           0, 0, FPlotWindow, nullptr, GetModuleHandleW(nullptr), nullptr);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = FPlotWindow;
    tool.uId = reinterpret_cast<UINT_PTR>(FPlotWindow);
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(FTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
    // Its lines are broken where the text breaks them.
    SendMessageW(FTip, TTM_SETMAXTIPWIDTH, 0, 600);
}

void TWin32SummaryPane::SetFont(HFONT font) {
    for (const HWND control : {FFigures, FCancel, FTip}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    FFont = font;
    Measure();
}

void TWin32SummaryPane::Measure() {
    RECT r{};
    GetClientRect(FPlotWindow, &r);
    const HDC dc = GetDC(FPlotWindow);
    const HGDIOBJ before = FFont != nullptr ? SelectObject(dc, FFont) : nullptr;
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SIZE zero{};
    GetTextExtentPoint32W(dc, L"0", 1, &zero);
    if (before != nullptr) {
        SelectObject(dc, before);
    }
    ReleaseDC(FPlotWindow, dc);
    FModel.SetSize(r.right, r.bottom,
                   {static_cast<int>(zero.cx), static_cast<int>(metrics.tmHeight)});
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
    FModel.SetPlot(plot);
    InvalidateRect(FPlotWindow, nullptr, TRUE);
}

void TWin32SummaryPane::SetPage(std::int64_t first, std::int64_t end) {
    FModel.SetPage(first, end);
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

void TWin32SummaryPane::Paint(HDC dc, const RECT& area) const {
    const TPlotPicture& picture = FModel.Picture();
    Fill(dc, area, ColourOf(picture.Background));
    for (const TPlotRect& r : picture.Rects) {
        Fill(dc, {r.Left, r.Top, r.Left + r.Width, r.Top + r.Height}, ColourOf(r.Colour));
    }
    for (const TPlotLine& l : picture.Lines) {
        const HPEN pen = CreatePen(PS_SOLID, 2, ColourOf(l.Colour));
        const HGDIOBJ old = SelectObject(dc, pen);
        MoveToEx(dc, l.X1, l.Y1, nullptr);
        LineTo(dc, l.X2, l.Y2);
        SelectObject(dc, old);
        DeleteObject(pen);
    }
    const HGDIOBJ before = FFont != nullptr ? SelectObject(dc, FFont) : nullptr;
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, ColourOf(picture.Ink));
    for (const TPlotText& t : picture.Texts) {
        const std::wstring text = Widen(t.Text);
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        const int x = t.Align == TPlotAlign::Left     ? t.X
                      : t.Align == TPlotAlign::Centre ? t.X - size.cx / 2
                                                      : t.X - size.cx;
        TextOutW(dc, x, t.Y, text.c_str(), static_cast<int>(text.size()));
    }
    if (before != nullptr) {
        SelectObject(dc, before);
    }
}

LRESULT TWin32SummaryPane::Mouse(UINT message, int x) {
    switch (message) {
    case WM_LBUTTONDOWN:
        SetCapture(FPlotWindow);
        FModel.Press(x);
        break;
    case WM_MOUSEMOVE: {
        if (GetCapture() == FPlotWindow) {
            FModel.Drag(x);
            break;
        }
        // Another bar: the tooltip asks for its text again.
        const TPlotColumn* column = FModel.ColumnAt(x);
        const std::int64_t offset = column != nullptr ? column->Bar.LargestOffset : -1;
        if (offset != FTipOffset) {
            FTipOffset = offset;
            SendMessageW(FTip, TTM_POP, 0, 0);
        }
        return 0;
    }
    case WM_LBUTTONUP: {
        if (GetCapture() == FPlotWindow) {
            ReleaseCapture();
        }
        const std::optional<std::int64_t> offset = FModel.Release(x);
        InvalidateRect(FPlotWindow, nullptr, TRUE);
        if (offset && FOnClick) {
            const auto handler = FOnClick;
            handler(*offset);
        }
        return 0;
    }
    default: // the right button and the double click
        FModel.ZoomOut();
        break;
    }
    InvalidateRect(FPlotWindow, nullptr, TRUE);
    return 0;
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
    case WM_SIZE:
        if (self != nullptr) {
            self->Measure();
        }
        return 0;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_MOUSEMOVE:
    case WM_RBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
        return self != nullptr ? self->Mouse(message, GET_X_LPARAM(lParam)) : 0;
    case WM_NOTIFY: {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
        if (self != nullptr && info->hdr.code == TTN_GETDISPINFOW) {
            POINT at{};
            GetCursorPos(&at);
            ScreenToClient(window, &at);
            self->FTipText = Widen(self->FModel.TipAt(at.x, self->FUnitText));
            info->lpszText = self->FTipText.data();
        }
        return 0;
    }
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
