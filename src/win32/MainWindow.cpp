#include "win32/MainWindow.h"

#include "app/PictureView.h"
#include "core/WideText.h"

#include <windowsx.h>

#include <algorithm>
#include <array>

namespace {

constexpr wchar_t kWindowClass[] = L"QuilletMainWindow";

// Design sizes, in pixels.
constexpr int kDesignLeft = 111;
constexpr int kDesignTop = 77;
constexpr int kClientWidth = 958;
constexpr int kClientHeight = 653;
constexpr int kScrollBarWidth = 16;
constexpr int kHexListTop = 16;
constexpr int kHexListBottomMargin = 2;
// The hex pane never gets so low that its label and a line or two would not fit.
constexpr int kHexPaneMinimum = 60;
constexpr int kHexLineHeight = 13;
constexpr int kLabelLeft = 4;
constexpr int kLabelTop = 2;
constexpr int kLabelHeight = 14;
constexpr int kMinPaneWidth = 40;
constexpr UINT_PTR kUpdateTimerId = 1;
constexpr UINT_PTR kFindTimerId = 2;
constexpr UINT_PTR kSummaryTimerId = 3;
constexpr int kSummaryPaneHeight = 170;
constexpr UINT kUpdateInterval = 10000; // ms
constexpr DWORD kStyle = WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN;

void RegisterWindowClass(WNDPROC procedure) {
    static const bool registered = [procedure] {
        WNDCLASSEXW windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = procedure;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
        windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = kWindowClass;
        return RegisterClassExW(&windowClass) != 0;
    }();
    (void)registered;
}

// The window's dots per inch: the monitor's, where Windows tells it per window (10 and
// later), else the screen's.
int WindowDpi(HWND window) {
    using TGetDpiForWindow = UINT(WINAPI*)(HWND);
    static const auto getDpi = reinterpret_cast<TGetDpiForWindow>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpi != nullptr) {
        const UINT dpi = getDpi(window);
        if (dpi > 0) {
            return static_cast<int>(dpi);
        }
    }
    const HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

void AppendItem(HMENU menu, UINT id, const wchar_t* caption) {
    AppendMenuW(menu, MF_STRING, id, caption);
}

} // namespace

TWin32Window::TWin32Window(const TWin32WindowServices& services) {
    RegisterWindowClass(WindowProcedure);
    CreateWindowExW(0, kWindowClass, L"Quillet", kStyle, kDesignLeft, kDesignTop, kClientWidth,
                    kClientHeight, nullptr, nullptr, GetModuleHandleW(nullptr), this);
    FDpi = WindowDpi(FHandle);
    FFont = MakeFont();
    BuildMenu();
    BuildControls();

    FDialogs = std::make_unique<TWin32Dialogs>(FHandle);
    FTimer = std::make_unique<TWin32Timer>(FHandle, kUpdateTimerId, kUpdateInterval);
    FFindTimer = std::make_unique<TWin32Timer>(FHandle, kFindTimerId, kFindPollInterval);
    FColumnCheck = std::make_unique<TWin32MenuCheck>(MainMenu1, kIdUnitSummaryColumn);
    FindProgress = std::make_unique<TWin32ProgressBar>(StatusBar->Handle());
    FSummaryTimer = std::make_unique<TWin32Timer>(FHandle, kSummaryTimerId, kFindPollInterval);
    FSummaryCheck = std::make_unique<TWin32MenuCheck>(MainMenu1, kIdStreamSummary);
    SummaryPane = std::make_unique<TWin32SummaryPane>(FHandle, kIdCancelSummary);
    SummaryPane->SetFont(FFont);
    PicturePane = std::make_unique<TWin32PicturePane>(FHandle);
    PicturePane->SetFont(FFont);
    FPictureCheck = std::make_unique<TWin32MenuCheck>(MainMenu1, kIdPicture);
    FMenuCheck = std::make_unique<TWin32MenuCheck>(MainMenu1, kIdCheckForUpdates);
    FViewCheck = std::make_unique<TWin32MenuCheck>(MainMenu1, kIdDecodeSliceHeaders);
    FClipboard = std::make_unique<TWin32Clipboard>(FHandle);
    TForm1Widgets widgets;
    widgets.ListView1 = ListView1.get();
    widgets.ScrollBar1 = ScrollBar1.get();
    widgets.TreeView1 = TreeView1.get();
    widgets.ListBox1 = ListBox1.get();
    widgets.ScrollBar2 = ScrollBar2.get();
    widgets.Form1 = this;
    widgets.CheckForUpdates1 = FMenuCheck.get();
    widgets.DecodeSliceHeaders1 = FViewCheck.get();
    widgets.TreeView1Bits = TreeView1.get();
    widgets.tmUpdate = FTimer.get();
    widgets.Dialogs = services.Dialogs ? services.Dialogs : FDialogs.get();
    widgets.Screen = &FScreen;
    widgets.Registry = services.Registry;
    widgets.Http = services.Http;
    widgets.Browser = services.Browser;
    widgets.Monitors = services.Monitors;
    widgets.StatusBar = StatusBar.get();
    widgets.Clipboard = FClipboard.get();
    widgets.TreeView1Selection = TreeView1.get();
    widgets.RecentFiles1 = this;
    widgets.UnitSummaryColumn1 = FColumnCheck.get();
    widgets.FindProgress = FindProgress.get();
    widgets.tmFind = FFindTimer.get();
    widgets.StreamSummary1 = FSummaryCheck.get();
    widgets.SummaryPane = SummaryPane.get();
    widgets.tmSummary = FSummaryTimer.get();
    widgets.Picture1 = FPictureCheck.get();
    for (std::size_t i = 0; i < FZoomChecks.size(); ++i) {
        FZoomChecks[i] =
            std::make_unique<TWin32MenuCheck>(MainMenu1, kIdZoomFit + static_cast<UINT>(i));
        widgets.ZoomItems[i] = FZoomChecks[i].get();
    }
    widgets.PicturePane = PicturePane.get();
    widgets.UiThread = PicturePane.get();
    FForm = std::make_unique<TForm1>(widgets);
    ConnectHandlers();

    // The design client area, with the splitter above the hex pane and the status bar
    // below it.
    RECT frame{0, 0, kClientWidth, kClientHeight + kSplitterWidth + StatusBar->Fit(kClientWidth)};
    AdjustWindowRectEx(&frame, kStyle, TRUE, 0);
    SetWindowPos(FHandle, nullptr, kDesignLeft, kDesignTop, frame.right - frame.left,
                 frame.bottom - frame.top, SWP_NOZORDER | SWP_NOACTIVATE);
    Layout();
}

TWin32Window::~TWin32Window() {
    // The logic goes first: the hex view detaches from controls that must still exist.
    FForm.reset();
    if (FHandle) {
        DestroyWindow(FHandle);
    }
    if (FAccelerators) {
        DestroyAcceleratorTable(FAccelerators);
    }
    DeleteObject(FFont);
}

HFONT TWin32Window::MakeFont() const {
    return CreateFontW(Px(-11), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       DEFAULT_PITCH | FF_SWISS, L"MS Sans Serif");
}

// The window moved to a monitor of another density, or the density changed: the font, the
// hex lines and the layout follow, in the place Windows suggests.
void TWin32Window::ApplyDpi(int dpi, const RECT* suggested) {
    FDpi = dpi;
    const HFONT old = FFont;
    FFont = MakeFont();
    for (const HWND control :
         {ListView1->Handle(), lbPacket, ListBox1->Handle(), StatusBar->Handle()}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), TRUE);
    }
    SummaryPane->SetFont(FFont);
    PicturePane->SetFont(FFont);
    DeleteObject(old);
    SendMessageW(ListBox1->Handle(), LB_SETITEMHEIGHT, 0, Px(kHexLineHeight));
    if (suggested != nullptr) {
        SetWindowPos(FHandle, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    }
    Layout();
    if (FForm && FShown) {
        FForm->HexPaneResize();
    }
}

void TWin32Window::BuildMenu() {
    MainMenu1 = CreateMenu();
    File1 = CreatePopupMenu();
    AppendItem(File1, kIdOpen, L"&Open\tCtrl+O");
    AppendItem(File1, kIdClose, L"&Close");
    AppendMenuW(File1, MF_SEPARATOR, 0, nullptr);
    AppendItem(File1, kIdExit, L"E&xit\tCtrl+Q");
    HMENU view = CreatePopupMenu();
    AppendItem(view, kIdDecodeSliceHeaders, L"&Decode Slice Headers and SEI\tCtrl+D");
    AppendItem(view, kIdUnitSummaryColumn, L"&Unit Summary Column");
    AppendItem(view, kIdStreamSummary, L"Stream &Summary");
    AppendItem(view, kIdPicture, L"&Picture");
    HMENU zoom = CreatePopupMenu();
    for (int i = 0; i < kZoomCount; ++i) {
        AppendItem(zoom, kIdZoomFit + static_cast<UINT>(i),
                   (Widen(kZoomItems[i]) + L"\tCtrl+" + std::to_wstring(i)).c_str());
    }
    AppendMenuW(view, MF_POPUP, reinterpret_cast<UINT_PTR>(zoom), L"&Zoom");
    HMENU go = CreatePopupMenu();
    AppendItem(go, kIdGoToOffset, L"Go to &Offset\u2026\tCtrl+G");
    AppendMenuW(go, MF_SEPARATOR, 0, nullptr);
    AppendItem(go, kIdFind, L"&Find\u2026\tCtrl+F");
    AppendItem(go, kIdFindNext, L"Find &Next\tF3");
    AppendItem(go, kIdFindPrevious, L"Find &Previous\tShift+F3");
    HMENU help = CreatePopupMenu();
    AppendItem(help, kIdCheckForUpdates, L"Check For &Updates");
    AppendItem(help, kIdAbout, L"&About");
    AppendMenuW(MainMenu1, MF_POPUP, reinterpret_cast<UINT_PTR>(File1), L"&File");
    AppendMenuW(MainMenu1, MF_POPUP, reinterpret_cast<UINT_PTR>(view), L"&View");
    AppendMenuW(MainMenu1, MF_POPUP, reinterpret_cast<UINT_PTR>(go), L"&Go");
    AppendMenuW(MainMenu1, MF_POPUP, reinterpret_cast<UINT_PTR>(help), L"&Help");
    SetMenu(FHandle, MainMenu1);

    std::array<ACCEL, 10> keys = {{
        {FCONTROL | FVIRTKEY, 'O', kIdOpen},
        {FCONTROL | FVIRTKEY, 'Q', kIdExit},
        {FCONTROL | FVIRTKEY, 'D', kIdDecodeSliceHeaders},
        {FCONTROL | FVIRTKEY, 'G', kIdGoToOffset},
        {FCONTROL | FVIRTKEY, '0', kIdZoomFit},
        {FCONTROL | FVIRTKEY, '1', kIdZoomFit + 1},
        {FCONTROL | FVIRTKEY, '2', kIdZoomFit + 2},
        {FCONTROL | FVIRTKEY, 'F', kIdFind},
        {FVIRTKEY, VK_F3, kIdFindNext},
        {FSHIFT | FVIRTKEY, VK_F3, kIdFindPrevious},
    }};
    FAccelerators = CreateAcceleratorTableW(keys.data(), static_cast<int>(keys.size()));
}

void TWin32Window::BuildControls() {
    ListView1 = std::make_unique<TWin32ReportList>(FHandle, kIdListView1);
    ScrollBar1 = std::make_unique<TWin32ScrollBar>(FHandle, kIdScrollBar1, "Window scroll bar");
    TreeView1 = std::make_unique<TWin32TreeLines>(FHandle, kIdTreeView1);
    lbPacket = CreateWindowExW(0, L"STATIC", L"Hex View", WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 0,
                               0, FHandle, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kIdLabel)),
                               GetModuleHandleW(nullptr), nullptr);
    ListBox1 = std::make_unique<TWin32LineList>(FHandle, kIdListBox1);
    ScrollBar2 = std::make_unique<TWin32ScrollBar>(FHandle, kIdScrollBar2, "Hex scroll bar");
    StatusBar = std::make_unique<TWin32StatusBar>(FHandle, kIdStatusBar);
    for (const HWND control :
         {ListView1->Handle(), lbPacket, ListBox1->Handle(), StatusBar->Handle()}) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    }
    ListView1->FitColumns();
    FFocus = ListView1->Handle();
}

void TWin32Window::ConnectHandlers() {
    ListView1->SetDataHandler([this](int index, TReportRow& row) {
        // Once closed, the logic has released the table.
        if (FForm && !FClosed) {
            FForm->ListView1Data(index, row);
        }
    });
    ListView1->SetKeyDownHandler([this](int key) { FForm->ListView1KeyDown(key); });
    ListView1->SetKeyUpHandler([this](int key) { FForm->ListView1KeyUp(key); });
    ListView1->SetMouseDownHandler([this] { FForm->ListView1MouseDown(); });
    // A taller or shorter list holds another number of rows: scan again.
    ListView1->SetPageHeightHandler([this] {
        if (FForm && FShown && !FClosed) {
            FForm->FormResize();
        }
    });
    // The wheel over the list or its bar moves the page; over the hex view, its lines.
    ListView1->SetWheelHandler([this](int notches) { FForm->ListView1MouseWheel(notches); });
    ScrollBar1->SetWheelHandler([this](int notches) { FForm->ListView1MouseWheel(notches); });
    ListBox1->SetWheelHandler([this](int notches) { FForm->ListBox1MouseWheel(notches); });
    TreeView1->SetSelectHandler([this](std::int64_t firstBit, std::int64_t bits) {
        if (FForm) {
            FForm->TreeView1Change(firstBit, bits);
        }
    });
}

void TWin32Window::Show(int showCommand) {
    // Set first, so that a resize by the startup steps reaches FormResize.
    FShown = true;
    Layout();
    FForm->FormShow();
    int command = showCommand;
    if (FPendingState == TWindowState::Maximized) {
        command = SW_SHOWMAXIMIZED;
    } else if (FPendingState == TWindowState::Minimized) {
        command = SW_SHOWMINIMIZED;
    }
    ShowWindow(FHandle, command);
    UpdateWindow(FHandle);
}

bool TWin32Window::PreTranslate(MSG& message) {
    if (FHandle == nullptr) {
        return false;
    }
    if (TranslateAcceleratorW(FHandle, FAccelerators, &message)) {
        return true;
    }
    // The wheel turns what lies under the pointer, as it does on present Windows, not
    // what has the keys.
    if (message.message == WM_MOUSEWHEEL) {
        const POINT at{GET_X_LPARAM(message.lParam), GET_Y_LPARAM(message.lParam)};
        const HWND under = WindowFromPoint(at);
        if (under != nullptr && IsChild(FHandle, under)) {
            message.hwnd = under;
        }
        return false;
    }
    // Esc ends a search under way, wherever the keys are.
    if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE && FindProgress->Visible()) {
        FindProgress->Cancel();
        return true;
    }
    if (message.message == WM_KEYDOWN && message.wParam == 'C' &&
        (GetKeyState(VK_CONTROL) & 0x8000) != 0 && CopyFrom(message.hwnd)) {
        return true;
    }
    if (message.message == WM_KEYDOWN && message.wParam == VK_TAB &&
        IsChild(FHandle, message.hwnd)) {
        const bool back = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
        if (const HWND next = GetNextDlgTabItem(FHandle, message.hwnd, back ? TRUE : FALSE)) {
            ::SetFocus(next);
        }
        return true;
    }
    return false;
}

bool TWin32Window::CopyFrom(HWND view) {
    if (view == ListView1->Handle()) {
        FForm->ListView1Copy();
    } else if (view == TreeView1->Handle()) {
        FForm->TreeView1Copy();
    } else if (view == ListBox1->Handle()) {
        FForm->ListBox1Copy();
    } else {
        return false;
    }
    return true;
}

// Copy in each view's context menu; the list's also copies the selected unit's offset.
void TWin32Window::ShowContextMenu(HWND view, POINT at) {
    if (view != ListView1->Handle() && view != TreeView1->Handle() && view != ListBox1->Handle()) {
        return;
    }
    if (at.x == -1 && at.y == -1) {
        // From the keyboard (the menu key, Shift+F10): at the view's corner.
        RECT r{};
        GetWindowRect(view, &r);
        at = {r.left + 8, r.top + 8};
    }
    HMENU menu = CreatePopupMenu();
    AppendItem(menu, kIdCopy, L"&Copy\tCtrl+C");
    if (view == ListView1->Handle()) {
        AppendItem(menu, kIdCopyOffset, L"Copy &Offset");
    }
    const auto chosen = static_cast<int>(
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, FHandle, nullptr));
    DestroyMenu(menu);
    if (chosen == kIdCopy) {
        CopyFrom(view);
    } else if (chosen == kIdCopyOffset) {
        FForm->CopyOffset1Click();
    }
}

void TWin32Window::SetRecentFiles(const std::vector<std::string>& paths) {
    // The items and their separator stand between Close (position 1) and the separator
    // before Exit.
    constexpr UINT kFirst = 2;
    for (std::size_t i = 0; i < FRecentCount; ++i) {
        DeleteMenu(File1, kFirst, MF_BYPOSITION);
    }
    if (FRecentCount > 0) {
        DeleteMenu(File1, kFirst, MF_BYPOSITION);
    }
    FRecentCount = std::min(paths.size(), kRecentFileCount);
    if (FRecentCount == 0) {
        return;
    }
    InsertMenuW(File1, kFirst, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
    for (std::size_t i = 0; i < FRecentCount; ++i) {
        std::wstring path = Widen(paths[i]);
        // An ampersand in the path is text, not a mnemonic.
        for (std::size_t at = path.find(L'&'); at != std::wstring::npos;
             at = path.find(L'&', at + 2)) {
            path.insert(at, 1, L'&');
        }
        const std::wstring caption = L"&" + std::to_wstring(i + 1) + L" " + path;
        InsertMenuW(File1, kFirst + 1 + static_cast<UINT>(i), MF_BYPOSITION | MF_STRING,
                    kIdRecentFile1 + i, caption.c_str());
    }
}

void TWin32Window::OpenDropped(const std::vector<std::string>& paths) {
    TPathDrop drop(paths);
    TMessage message{kWmDropFiles, &drop};
    FForm->WMDROPFILES(message);
}

void TWin32Window::Layout() {
    if (!FHandle || !ListView1) {
        return;
    }
    RECT client{};
    GetClientRect(FHandle, &client);
    const int width = client.right;
    const int statusHeight = StatusBar->Fit(width);
    // The summary pane, when shown, lies over the status bar.
    const int summary = SummaryPane && SummaryPane->PaneVisible() ? kSummaryPaneHeight : 0;
    const int below = std::max<int>(client.bottom - statusHeight - summary, 0);
    if (summary > 0) {
        SummaryPane->Place(0, below, width, summary);
    }
    const int hexPane =
        std::clamp(FHexPaneHeight, kHexPaneMinimum,
                   std::max(below - kSplitterWidth - kHexPaneMinimum, kHexPaneMinimum));
    FPanesHeight = std::max(below - hexPane - kSplitterWidth, 0);
    const int panel2 = std::clamp(FPanel2Width, 0, std::max(width - kSplitterWidth, 0));
    const int hexTop = FPanesHeight + kSplitterWidth;
    const int barWidth = Px(kScrollBarWidth);
    const int hexListTop = Px(kHexListTop);
    const int labelLeft = Px(kLabelLeft);
    const int hexList = std::max(hexPane - hexListTop - Px(kHexListBottomMargin), 0);
    ListView1->Place(0, 0, panel2 - barWidth, FPanesHeight);
    ScrollBar1->Place(panel2 - barWidth, 0, barWidth, FPanesHeight);
    // The picture pane, when shown, takes the lower half of the tree's place.
    const int treeWidth = width - panel2 - kSplitterWidth;
    const bool picture = PicturePane && PicturePane->Visible();
    const int treeHeight = picture ? FPanesHeight / 2 : FPanesHeight;
    TreeView1->Place(panel2 + kSplitterWidth, 0, treeWidth, treeHeight);
    if (picture) {
        PicturePane->Place(panel2 + kSplitterWidth, treeHeight, treeWidth,
                           FPanesHeight - treeHeight, Px(kLabelHeight + kLabelTop));
    }
    MoveWindow(lbPacket, labelLeft, hexTop + Px(kLabelTop), Px(200), Px(kLabelHeight), TRUE);
    ListBox1->Place(labelLeft, hexTop + hexListTop, width - labelLeft - barWidth, hexList);
    ScrollBar2->Place(width - barWidth, hexTop + hexListTop, barWidth, hexList);
}

TWin32Window::TSplitter TWin32Window::SplitterAt(int x, int y) const {
    const int panel2 = std::max(FPanel2Width, 0);
    if (y < FPanesHeight && x >= panel2 && x < panel2 + kSplitterWidth) {
        return TSplitter::Panes;
    }
    if (y >= FPanesHeight && y < FPanesHeight + kSplitterWidth) {
        return TSplitter::HexPane;
    }
    return TSplitter::None;
}

void TWin32Window::OnCommand(int id) {
    switch (id) {
    case kIdOpen:
        FForm->Open1Click();
        break;
    case kIdClose:
        FForm->Close1Click();
        break;
    case kIdExit:
        FForm->Exit1Click();
        break;
    case kIdDecodeSliceHeaders:
        FForm->DecodeSliceHeaders1Click();
        break;
    case kIdCheckForUpdates:
        FForm->CheckForUpdates1Click();
        break;
    case kIdAbout:
        FForm->About1Click();
        break;
    case kIdUnitSummaryColumn:
        FForm->UnitSummaryColumn1Click();
        break;
    case kIdStreamSummary:
        FForm->StreamSummary1Click();
        break;
    case kIdPicture:
        FForm->Picture1Click();
        break;
    case kIdZoomFit:
    case kIdZoomFit + 1:
    case kIdZoomFit + 2:
        FForm->ZoomClick(static_cast<int>(id - kIdZoomFit));
        break;
    case kIdGoToOffset:
        FForm->GoToOffset1Click();
        break;
    case kIdFind:
        FForm->Find1Click();
        break;
    case kIdFindNext:
        FForm->FindNext1Click();
        break;
    case kIdFindPrevious:
        FForm->FindPrevious1Click();
        break;
    default:
        if (id >= kIdRecentFile1 && id < kIdRecentFile1 + static_cast<int>(kRecentFileCount)) {
            FForm->RecentFileClick(id - kIdRecentFile1);
        }
        break;
    }
}

LRESULT CALLBACK TWin32Window::WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                               LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* self =
            static_cast<TWin32Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->FHandle = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<TWin32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (self == nullptr) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        self->FHandle = nullptr;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    return self->Handle(message, wParam, lParam);
}

LRESULT TWin32Window::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    // Until the logic exists and once it is gone, the window only does what any does.
    if (!FForm) {
        return DefWindowProcW(FHandle, message, wParam, lParam);
    }
    switch (message) {
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        LRESULT result = 0;
        if (header->hwndFrom == ListView1->Handle() && ListView1->OnNotify(header, result)) {
            return result;
        }
        if (header->hwndFrom == TreeView1->Handle() && TreeView1->OnNotify(header, result)) {
            return result;
        }
        break;
    }
    case WM_VSCROLL: {
        const auto bar = reinterpret_cast<HWND>(lParam);
        for (TWin32ScrollBar* scrollBar : {ScrollBar1.get(), ScrollBar2.get()}) {
            if (bar == scrollBar->Handle()) {
                scrollBar->OnScroll(LOWORD(wParam));
                return 0;
            }
        }
        break;
    }
    case WM_MEASUREITEM: {
        auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lParam);
        if (item->CtlID == kIdListBox1) {
            item->itemHeight = static_cast<UINT>(Px(kHexLineHeight));
            return TRUE;
        }
        break;
    }
    case WM_DRAWITEM: {
        const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
        if (item->CtlID == kIdListBox1) {
            ListBox1->Draw(*item);
            return TRUE;
        }
        break;
    }
    case WM_COMMAND:
        // Menus and accelerators; of the controls' own notifications only the summary's
        // Cancel button is needed.
        if (lParam == 0) {
            OnCommand(LOWORD(wParam));
            return 0;
        }
        if (LOWORD(wParam) == kIdCancelSummary && HIWORD(wParam) == BN_CLICKED) {
            SummaryPane->OnCancel();
            return 0;
        }
        break;
    case WM_CONTEXTMENU:
        ShowContextMenu(reinterpret_cast<HWND>(wParam),
                        {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return 0;
    case WM_TIMER:
        if (wParam == kUpdateTimerId) {
            FForm->tmUpdateTimer();
            return 0;
        }
        if (wParam == kFindTimerId) {
            FForm->tmFindTimer();
            return 0;
        }
        if (wParam == kSummaryTimerId) {
            FForm->tmSummaryTimer();
            return 0;
        }
        break;
    case WM_SIZE:
        Layout();
        return 0;
    case WM_DPICHANGED:
        ApplyDpi(HIWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_GETMINMAXINFO: {
        auto* limits = reinterpret_cast<MINMAXINFO*>(lParam);
        limits->ptMinTrackSize = {320, 400};
        return 0;
    }
    case WM_SETCURSOR:
        if (FScreen.Busy()) {
            SetCursor(LoadCursorW(nullptr, IDC_WAIT));
            return TRUE;
        }
        if (reinterpret_cast<HWND>(wParam) == FHandle && LOWORD(lParam) == HTCLIENT) {
            POINT p{};
            GetCursorPos(&p);
            ScreenToClient(FHandle, &p);
            const TSplitter splitter = SplitterAt(p.x, p.y);
            if (splitter != TSplitter::None) {
                SetCursor(
                    LoadCursorW(nullptr, splitter == TSplitter::Panes ? IDC_SIZEWE : IDC_SIZENS));
                return TRUE;
            }
        }
        break;
    case WM_LBUTTONDOWN:
        FSplitterDrag = SplitterAt(GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
        FDragOffset = FSplitterDrag == TSplitter::Panes ? GET_X_LPARAM(lParam) - FPanel2Width
                                                        : GET_Y_LPARAM(lParam) - FPanesHeight;
        if (FSplitterDrag != TSplitter::None) {
            SetCapture(FHandle);
            return 0;
        }
        break;
    case WM_MOUSEMOVE:
        if (FSplitterDrag != TSplitter::None) {
            RECT client{};
            GetClientRect(FHandle, &client);
            if (FSplitterDrag == TSplitter::Panes) {
                const int most =
                    std::max<int>(client.right - kSplitterWidth - kMinPaneWidth, kMinPaneWidth);
                FPanel2Width = std::clamp(GET_X_LPARAM(lParam) - FDragOffset, kMinPaneWidth, most);
                Layout();
            } else {
                // The hex pane takes what lies below the pointer, above the status bar and
                // the summary.
                SetHexPaneHeight(ViewsBottom() - kSplitterWidth -
                                 (GET_Y_LPARAM(lParam) - FDragOffset));
            }
            return 0;
        }
        break;
    case WM_LBUTTONUP:
        if (FSplitterDrag != TSplitter::None) {
            ReleaseCapture();
            return 0;
        }
        break;
    case WM_CAPTURECHANGED:
        FSplitterDrag = TSplitter::None;
        break;
    case WM_ACTIVATE:
        // The control that had the keys gets them back when the window is active again.
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focus = GetFocus();
            if (focus != nullptr && IsChild(FHandle, focus)) {
                FFocus = focus;
            }
            return 0;
        }
        break;
    case WM_SETFOCUS:
        ::SetFocus(FFocus != nullptr && IsWindow(FFocus) ? FFocus : ListView1->Handle());
        return 0;
    case WM_CLOSE:
        if (FShown && !FClosed) {
            FClosed = true;
            FForm->FormClose();
        }
        DestroyWindow(FHandle);
        return 0;
    case WM_DESTROY:
        if (FQuitOnDestroy) {
            PostQuitMessage(0);
        }
        return 0;
    default:
        break;
    }
    return DefWindowProcW(FHandle, message, wParam, lParam);
}

std::string TWin32Window::Caption() const {
    const int length = GetWindowTextLengthW(FHandle);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(FHandle, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(std::max(got, 0)));
    return Narrow(text);
}

void TWin32Window::SetCaption(const std::string& caption) {
    SetWindowTextW(FHandle, Widen(caption).c_str());
}

// The bounds the window returns to from a maximised or minimised state, as a Windows user
// expects a program to remember them; otherwise where the window is now.
RECT TWin32Window::NormalRect() const {
    RECT r{};
    if (IsIconic(FHandle) || IsZoomed(FHandle)) {
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        GetWindowPlacement(FHandle, &placement);
        return placement.rcNormalPosition;
    }
    GetWindowRect(FHandle, &r);
    return r;
}

int TWin32Window::Left() const {
    return NormalRect().left;
}

int TWin32Window::Top() const {
    return NormalRect().top;
}

int TWin32Window::Width() const {
    const RECT r = NormalRect();
    return r.right - r.left;
}

int TWin32Window::Height() const {
    const RECT r = NormalRect();
    return r.bottom - r.top;
}

void TWin32Window::SetBounds(int left, int top, int width, int height) {
    if (IsIconic(FHandle) || IsZoomed(FHandle)) {
        WINDOWPLACEMENT placement{};
        placement.length = sizeof placement;
        GetWindowPlacement(FHandle, &placement);
        placement.rcNormalPosition = {left, top, left + width, top + height};
        SetWindowPlacement(FHandle, &placement);
        return;
    }
    SetWindowPos(FHandle, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

TWindowState TWin32Window::State() const {
    if (!IsWindowVisible(FHandle)) {
        return FPendingState;
    }
    if (IsIconic(FHandle)) {
        return TWindowState::Minimized;
    }
    return IsZoomed(FHandle) ? TWindowState::Maximized : TWindowState::Normal;
}

// Before the window is shown the state waits for Show, which shows the window in it.
void TWin32Window::SetState(TWindowState state) {
    FPendingState = state;
    if (!IsWindowVisible(FHandle)) {
        return;
    }
    switch (state) {
    case TWindowState::Minimized:
        ShowWindow(FHandle, SW_MINIMIZE);
        break;
    case TWindowState::Maximized:
        ShowWindow(FHandle, SW_MAXIMIZE);
        break;
    case TWindowState::Normal:
        ShowWindow(FHandle, SW_RESTORE);
        break;
    }
}

void TWin32Window::SetPanel2Width(int width) {
    FPanel2Width = width;
    Layout();
}

int TWin32Window::ViewsBottom() const {
    RECT client{};
    GetClientRect(FHandle, &client);
    RECT status{};
    GetWindowRect(StatusBar->Handle(), &status);
    const int summary = SummaryPane && SummaryPane->PaneVisible() ? kSummaryPaneHeight : 0;
    return std::max<int>(client.bottom - (status.bottom - status.top) - summary, 0);
}

// Kept within what the window holds; the hex view then shows as many lines as fit.
void TWin32Window::SetHexPaneHeight(int height) {
    const int below = ViewsBottom();
    FHexPaneHeight =
        std::clamp(height, kHexPaneMinimum,
                   std::max(below - kSplitterWidth - kHexPaneMinimum, kHexPaneMinimum));
    Layout();
    if (FForm) {
        FForm->HexPaneResize();
    }
}

void TWin32Window::Close() {
    // Posted: the menu command that asks for it is still running.
    PostMessageW(FHandle, WM_CLOSE, 0, 0);
}
