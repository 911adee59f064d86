#include "win32/PicturePane.h"

#include "core/WideText.h"

#include <algorithm>
#include <tuple>

namespace {

constexpr wchar_t kCanvasClass[] = L"QuilletPictureCanvas";
constexpr UINT kRunPosted = WM_APP + 1;

HWND Child(HWND parent, const wchar_t* className, DWORD style, const wchar_t* text) {
    return CreateWindowExW(0, className, text, WS_CHILD | style, 0, 0, 0, 0, parent, nullptr,
                           GetModuleHandleW(nullptr), nullptr);
}

} // namespace

TWin32PicturePane::TWin32PicturePane(HWND parent) {
    static const bool registered = [] {
        WNDCLASSEXW canvasClass{};
        canvasClass.cbSize = sizeof canvasClass;
        canvasClass.lpfnWndProc = CanvasProcedure;
        canvasClass.hInstance = GetModuleHandleW(nullptr);
        canvasClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        canvasClass.lpszClassName = kCanvasClass;
        return RegisterClassExW(&canvasClass) != 0;
    }();
    (void)registered;
    FCanvas = Child(parent, kCanvasClass, WS_HSCROLL | WS_VSCROLL, L"Decoded picture");
    ShowScrollBar(FCanvas, SB_BOTH, FALSE);
    SetWindowLongPtrW(FCanvas, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    FLine = Child(parent, L"STATIC", SS_LEFTNOWORDWRAP | SS_NOPREFIX, L"");
}

TWin32PicturePane::~TWin32PicturePane() {
    // Tasks posted meanwhile find the canvas without its pane.
    SetWindowLongPtrW(FCanvas, GWLP_USERDATA, 0);
}

void TWin32PicturePane::SetFont(HFONT font) {
    SendMessageW(FLine, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
}

void TWin32PicturePane::Place(int left, int top, int width, int height, int lineHeight) {
    const int canvas = std::max(height - lineHeight, 0);
    MoveWindow(FCanvas, left, top, width, canvas, TRUE);
    MoveWindow(FLine, left, top + canvas, width, height - canvas, TRUE);
    FitScrollBars();
}

void TWin32PicturePane::SetZoom(int zoom) {
    FZoom = zoom;
    FitScrollBars();
    InvalidateRect(FCanvas, nullptr, FALSE);
}

void TWin32PicturePane::FitScrollBars() {
    RECT area{};
    GetClientRect(FCanvas, &area);
    const bool zoomed = FZoom > 0 && HasImage();
    for (const auto& [bar, size, room] :
         {std::tuple{SB_HORZ, FImage.Width * FZoom, static_cast<int>(area.right)},
          std::tuple{SB_VERT, FImage.Height * FZoom, static_cast<int>(area.bottom)}}) {
        SCROLLINFO info{};
        info.cbSize = sizeof info;
        info.fMask = SIF_RANGE | SIF_PAGE;
        info.nMax = zoomed ? size - 1 : 0;
        info.nPage = static_cast<UINT>(zoomed ? std::max(room, 1) : 1);
        SetScrollInfo(FCanvas, bar, &info, TRUE);
        ShowScrollBar(FCanvas, bar, zoomed && size > room);
    }
}

void TWin32PicturePane::PointerAt(int x, int y) {
    if (!FPointer) {
        return;
    }
    const RECT place = Placement();
    if (x < place.left || y < place.top || x >= place.right || y >= place.bottom) {
        FPointer(-1, -1);
        return;
    }
    // Told when the pointer leaves, to take its samples off the line.
    TRACKMOUSEEVENT track{sizeof track, TME_LEAVE, FCanvas, 0};
    TrackMouseEvent(&track);
    FPointer((x - place.left) * FImage.Width / (place.right - place.left),
             (y - place.top) * FImage.Height / (place.bottom - place.top));
}

void TWin32PicturePane::Scroll(int bar, int request) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    GetScrollInfo(FCanvas, bar, &info);
    const int page = static_cast<int>(info.nPage);
    const int line = std::max(page / 10, 8);
    switch (request) {
    case SB_LINEUP:
        info.nPos -= line;
        break;
    case SB_LINEDOWN:
        info.nPos += line;
        break;
    case SB_PAGEUP:
        info.nPos -= page;
        break;
    case SB_PAGEDOWN:
        info.nPos += page;
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        info.nPos = info.nTrackPos;
        break;
    default:
        return;
    }
    info.fMask = SIF_POS;
    SetScrollInfo(FCanvas, bar, &info, TRUE);
    InvalidateRect(FCanvas, nullptr, FALSE);
}

RECT TWin32PicturePane::Placement() const {
    RECT area{};
    GetClientRect(FCanvas, &area);
    if (!HasImage() || area.right <= 0 || area.bottom <= 0) {
        return {};
    }
    if (FZoom > 0) {
        // Centred where smaller than the area, else from where the bars have scrolled to.
        const int width = FImage.Width * FZoom;
        const int height = FImage.Height * FZoom;
        const int left =
            width < area.right ? (area.right - width) / 2 : -GetScrollPos(FCanvas, SB_HORZ);
        const int top =
            height < area.bottom ? (area.bottom - height) / 2 : -GetScrollPos(FCanvas, SB_VERT);
        return {left, top, left + width, top + height};
    }
    // The picture comes fitted to the area it was asked for; a smaller area since shrinks
    // it with its shape kept.
    int width = FImage.Width;
    int height = FImage.Height;
    if (width > area.right || height > area.bottom) {
        const double scale = std::min(static_cast<double>(area.right) / width,
                                      static_cast<double>(area.bottom) / height);
        width = std::max(1, static_cast<int>(width * scale));
        height = std::max(1, static_cast<int>(height * scale));
    }
    const int left = (area.right - width) / 2;
    const int top = (area.bottom - height) / 2;
    return {left, top, left + width, top + height};
}

void TWin32PicturePane::SetVisible(bool visible) {
    FVisible = visible;
    ShowWindow(FCanvas, visible ? SW_SHOW : SW_HIDE);
    ShowWindow(FLine, visible ? SW_SHOW : SW_HIDE);
    // The window lays its panes out again around it.
    SendMessageW(GetParent(FCanvas), WM_SIZE, 0, 0);
}

int TWin32PicturePane::ImageWidth() const {
    RECT area{};
    GetClientRect(FCanvas, &area);
    return area.right;
}

int TWin32PicturePane::ImageHeight() const {
    RECT area{};
    GetClientRect(FCanvas, &area);
    return area.bottom;
}

void TWin32PicturePane::ShowImage(const TRgbImage& image) {
    FImage = image;
    FitScrollBars();
    InvalidateRect(FCanvas, nullptr, FALSE);
}

void TWin32PicturePane::ClearImage() {
    ShowImage(TRgbImage{});
}

void TWin32PicturePane::SetLine(const std::string& text) {
    SetWindowTextW(FLine, Widen(text).c_str());
}

std::string TWin32PicturePane::Line() const {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(FLine)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(FLine, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

void TWin32PicturePane::Post(std::function<void()> task) {
    {
        const std::lock_guard<std::mutex> lock(FLock);
        FTasks.push_back(std::move(task));
    }
    PostMessageW(FCanvas, kRunPosted, 0, 0);
}

void TWin32PicturePane::RunPosted() {
    std::deque<std::function<void()>> tasks;
    {
        const std::lock_guard<std::mutex> lock(FLock);
        tasks.swap(FTasks);
    }
    for (const auto& task : tasks) {
        task();
    }
}

void TWin32PicturePane::Paint(HDC dc) const {
    RECT area{};
    GetClientRect(FCanvas, &area);
    const RECT place = Placement();
    FillRect(dc, &area, GetSysColorBrush(COLOR_BTNSHADOW));
    if (place.right <= place.left) {
        return;
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = FImage.Width;
    info.bmiHeader.biHeight = -FImage.Height; // rows from the top
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    // Zoomed, each sample stays a sharp square.
    SetStretchBltMode(dc, FZoom > 0 ? COLORONCOLOR : HALFTONE);
    SetBrushOrgEx(dc, 0, 0, nullptr);
    StretchDIBits(dc, place.left, place.top, place.right - place.left, place.bottom - place.top, 0,
                  0, FImage.Width, FImage.Height, FImage.Pixels->data(), &info, DIB_RGB_COLORS,
                  SRCCOPY);
}

LRESULT CALLBACK TWin32PicturePane::CanvasProcedure(HWND window, UINT message, WPARAM wParam,
                                                    LPARAM lParam) {
    auto* self = reinterpret_cast<TWin32PicturePane*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
    case kRunPosted:
        if (self) {
            self->RunPosted();
        }
        return 0;
    case WM_ERASEBKGND:
        return 1; // the paint fills it all
    case WM_MOUSEMOVE:
        if (self) {
            self->PointerAt(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        }
        return 0;
    case WM_MOUSELEAVE:
        if (self) {
            self->PointerAt(-1, -1);
        }
        return 0;
    case WM_HSCROLL:
    case WM_VSCROLL:
        if (self) {
            self->Scroll(message == WM_HSCROLL ? SB_HORZ : SB_VERT, LOWORD(wParam));
        }
        return 0;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        const HDC dc = BeginPaint(window, &paint);
        if (self) {
            self->Paint(dc);
        }
        EndPaint(window, &paint);
        return 0;
    }
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
