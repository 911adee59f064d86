#include "win32/Controls.h"

#include "app/ListColumns.h"
#include "core/WideText.h"

#include <commdlg.h>
#include <shellapi.h>

#include <algorithm>
#include <array>
#include <cstdlib>

namespace {

constexpr int kColumnCount = static_cast<int>(kListColumns.size());

// The hex lines are bytes; Windows-1252 is how the window shows bytes 0x80 to 0x9F.
constexpr UINT kHexCodePage = 1252;

std::wstring HexText(const std::string& bytes) {
    if (bytes.empty()) {
        return {};
    }
    const int n = MultiByteToWideChar(kHexCodePage, 0, bytes.data(),
                                      static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(kHexCodePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                        text.data(), n);
    return text;
}

// Copies text into a buffer the control lent, cut to its size.
void CopyOut(const std::wstring& text, wchar_t* buffer, int capacity) {
    if (buffer == nullptr || capacity <= 0) {
        return;
    }
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(capacity - 1));
    std::copy_n(text.data(), n, buffer);
    buffer[n] = L'\0';
}

HFONT MakeFont(const wchar_t* family, int pixelHeight, BYTE pitch) {
    return CreateFontW(-pixelHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                       OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                       static_cast<BYTE>(pitch | FF_DONTCARE), family);
}

int PointsToPixels(int points) {
    const HDC screen = GetDC(nullptr);
    const int pixels = MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
    ReleaseDC(nullptr, screen);
    return pixels;
}

ScrollCode CodeOf(int request) {
    switch (request) {
    case SB_LINEUP:
        return ScrollCode::LineUp;
    case SB_LINEDOWN:
        return ScrollCode::LineDown;
    case SB_PAGEUP:
        return ScrollCode::PageUp;
    case SB_PAGEDOWN:
        return ScrollCode::PageDown;
    case SB_THUMBPOSITION:
        return ScrollCode::ThumbReleased;
    case SB_THUMBTRACK:
        return ScrollCode::ThumbDragged;
    case SB_TOP:
        return ScrollCode::Top;
    case SB_BOTTOM:
        return ScrollCode::Bottom;
    default:
        return ScrollCode::EndScroll;
    }
}

HTREEITEM ItemOf(TTreeLine line) {
    return reinterpret_cast<HTREEITEM>(line);
}

TTreeLine LineOf(HTREEITEM item) {
    return reinterpret_cast<TTreeLine>(item);
}

} // namespace

// ---------------------------------------------------------------------------------------

bool TWheelNotches::Deliver(WPARAM wParam, const TWheelHandler& handler) {
    if (!handler) {
        return false;
    }
    FDelta += GET_WHEEL_DELTA_WPARAM(wParam);
    const int notches = FDelta / WHEEL_DELTA;
    FDelta -= notches * WHEEL_DELTA;
    if (notches != 0) {
        handler(notches);
    }
    return true;
}

TChildControl::TChildControl(HWND parent, const wchar_t* className, DWORD style, DWORD exStyle,
                             int id, const std::string& name)
    : FHandle(CreateWindowExW(exStyle, className, Widen(name).c_str(),
                              WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                              GetModuleHandleW(nullptr), nullptr)) {
    SetWindowSubclass(FHandle, SubclassProc, 0, reinterpret_cast<DWORD_PTR>(this));
}

TChildControl::~TChildControl() {
    if (IsWindow(FHandle)) {
        RemoveWindowSubclass(FHandle, SubclassProc, 0);
    }
}

void TChildControl::Place(int left, int top, int width, int height) const {
    MoveWindow(FHandle, left, top, std::max(width, 0), std::max(height, 0), TRUE);
}

LRESULT TChildControl::Subclass(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefaultProc(message, wParam, lParam);
}

LRESULT TChildControl::DefaultProc(UINT message, WPARAM wParam, LPARAM lParam) {
    return DefSubclassProc(FHandle, message, wParam, lParam);
}

LRESULT CALLBACK TChildControl::SubclassProc(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam, UINT_PTR, DWORD_PTR self) {
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, SubclassProc, 0);
        return DefSubclassProc(window, message, wParam, lParam);
    }
    return reinterpret_cast<TChildControl*>(self)->Subclass(message, wParam, lParam);
}

// ---------------------------------------------------------------------------------------

int TShellDrop::Count() {
    return FDrop ? static_cast<int>(DragQueryFileW(FDrop, 0xFFFFFFFF, nullptr, 0)) : 0;
}

std::string TShellDrop::Path(int index) {
    if (!FDrop || index < 0) {
        return {};
    }
    const auto i = static_cast<UINT>(index);
    const UINT length = DragQueryFileW(FDrop, i, nullptr, 0);
    std::wstring path(length + 1, L'\0');
    const UINT got = DragQueryFileW(FDrop, i, path.data(), length + 1);
    path.resize(got);
    return Narrow(path);
}

void TShellDrop::Finish() {
    if (FDrop) {
        DragFinish(FDrop);
        FDrop = nullptr;
    }
}

std::string TPathDrop::Path(int index) {
    if (FFinished || index < 0 || index >= static_cast<int>(FPaths.size())) {
        return {};
    }
    return FPaths[static_cast<std::size_t>(index)];
}

// ---------------------------------------------------------------------------------------

TWin32ReportList::TWin32ReportList(HWND parent, int id)
    : TChildControl(parent, WC_LISTVIEWW,
                    WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL |
                        LVS_SHOWSELALWAYS | LVS_NOSORTHEADER,
                    0, id, "NAL list"),
      FWindowProc([](TMessage&) {}) {
    ListView_SetExtendedListViewStyle(Handle(), LVS_EX_GRIDLINES | LVS_EX_FULLROWSELECT);
    for (int c = 0; c < kColumnCount; ++c) {
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        const std::wstring caption = Widen(kListColumns[static_cast<std::size_t>(c)].Caption);
        column.pszText = const_cast<wchar_t*>(caption.c_str());
        column.cx = 100;
        column.iSubItem = c;
        SendMessageW(Handle(), LVM_INSERTCOLUMNW, static_cast<WPARAM>(c),
                     reinterpret_cast<LPARAM>(&column));
    }
    FTip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_NOPREFIX, 0, 0,
                           0, 0, Handle(), nullptr, GetModuleHandleW(nullptr), nullptr);
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = Handle();
    tool.uId = reinterpret_cast<UINT_PTR>(Handle());
    tool.lpszText = LPSTR_TEXTCALLBACKW;
    SendMessageW(FTip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
}

std::string TWin32ReportList::CutTextAt(int x, int y) const {
    LVHITTESTINFO hit{};
    hit.pt = {x, y};
    if (SendMessageW(Handle(), LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit)) < 0 ||
        hit.iItem < 0 || hit.iSubItem < 0 || hit.iSubItem >= kColumnCount || !FOnData) {
        return {};
    }
    TReportRow row;
    FOnData(hit.iItem, row);
    const std::string& text =
        hit.iSubItem == 0 ? row.Caption : row.SubItems[static_cast<std::size_t>(hit.iSubItem - 1)];
    const std::wstring wide = Widen(text);
    const int width = static_cast<int>(
        SendMessageW(Handle(), LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(wide.c_str())));
    // The list leaves a few pixels each side of a cell's text.
    return width + kCellMargin / 2 > ColumnWidth(hit.iSubItem) ? text : std::string();
}

void TWin32ReportList::FitColumns() {
    // Each column as wide as the text it commonly holds, in the font in use (saved widths
    // still apply).
    for (int c = 0; c < kColumnCount; ++c) {
        const TListColumn& column = kListColumns[static_cast<std::size_t>(c)];
        int widest = 0;
        for (const char* text : {column.Caption, column.Widest}) {
            const std::wstring wide = Widen(text);
            widest = std::max(widest, static_cast<int>(SendMessageW(Handle(), LVM_GETSTRINGWIDTHW, 0,
                                                                    reinterpret_cast<LPARAM>(wide.c_str()))));
        }
        SetColumnWidth(c, widest + kCellMargin);
    }
}

bool TWin32ReportList::OnNotify(NMHDR* header, LRESULT& result) {
    switch (header->code) {
    case LVN_GETDISPINFOW: {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(header)->item;
        if ((item.mask & LVIF_TEXT) != 0) {
            TReportRow row;
            if (FOnData) {
                FOnData(item.iItem, row);
            }
            const int column = item.iSubItem;
            const bool known = column >= 0 && column < kColumnCount;
            const std::string& text =
                column <= 0 || !known ? row.Caption
                                      : row.SubItems[static_cast<std::size_t>(column - 1)];
            CopyOut(Widen(known ? text : std::string()), item.pszText, item.cchTextMax);
        }
        result = 0;
        return true;
    }
    case LVN_ODFINDITEMW:
        // Typing a row's first letters finds nothing: the rows are offsets.
        result = -1;
        return true;
    default:
        return false;
    }
}

LRESULT TWin32ReportList::Subclass(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN:
        if (FOnKeyDown) {
            FOnKeyDown(static_cast<int>(wParam));
        }
        return DefaultProc(message, wParam, lParam);
    case WM_KEYUP: {
        const LRESULT r = DefaultProc(message, wParam, lParam);
        if (FOnKeyUp) {
            FOnKeyUp(static_cast<int>(wParam));
        }
        return r;
    }
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        // The list's own routine moves the selection (and waits to tell a click from a
        // drag) before the handler hears of the press.
        const LRESULT r = DefaultProc(message, wParam, lParam);
        if (FOnMouseDown) {
            FOnMouseDown();
        }
        return r;
    }
    case WM_MOUSEWHEEL:
        return FWheel.Deliver(wParam, FOnWheel) ? 0 : DefaultProc(message, wParam, lParam);
    case WM_MOUSEMOVE: {
        // Another cell: the tooltip goes, and asks for its text again when it comes back.
        LVHITTESTINFO hit{};
        hit.pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        SendMessageW(Handle(), LVM_SUBITEMHITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (std::pair{hit.iItem, hit.iSubItem} != FTipCell) {
            FTipCell = {hit.iItem, hit.iSubItem};
            SendMessageW(FTip, TTM_POP, 0, 0);
        }
        return DefaultProc(message, wParam, lParam);
    }
    case WM_NOTIFY: {
        auto* info = reinterpret_cast<NMTTDISPINFOW*>(lParam);
        if (info->hdr.hwndFrom == FTip && info->hdr.code == TTN_GETDISPINFOW) {
            POINT at{};
            GetCursorPos(&at);
            ScreenToClient(Handle(), &at);
            FTipText = Widen(CutTextAt(at.x, at.y));
            info->lpszText = FTipText.data();
            return 0;
        }
        return DefaultProc(message, wParam, lParam);
    }
    case WM_DROPFILES: {
        TShellDrop drop(reinterpret_cast<HDROP>(wParam));
        TMessage dropped{kWmDropFiles, &drop};
        // The routine in force now: the window's wrapper once it stands in front.
        const TWindowProc proc = FWindowProc;
        proc(dropped);
        return 0;
    }
    case WM_SIZE: {
        const LRESULT r = DefaultProc(message, wParam, lParam);
        const int rows = RowsPerPage();
        if (rows != FRowsPerPage) {
            FRowsPerPage = rows;
            if (FOnPageHeight) {
                FOnPageHeight();
            }
        }
        return r;
    }
    default:
        return DefaultProc(message, wParam, lParam);
    }
}

void TWin32ReportList::SetRowCount(int count) {
    count = std::max(count, 0);
    // A row that goes takes its selection along.
    if (SelectedIndex() >= count) {
        ClearSelection();
    }
    SendMessageW(Handle(), LVM_SETITEMCOUNT, static_cast<WPARAM>(count),
                 LVSICF_NOINVALIDATEALL | LVSICF_NOSCROLL);
    InvalidateRect(Handle(), nullptr, TRUE);
}

int TWin32ReportList::RowCount() const {
    return static_cast<int>(SendMessageW(Handle(), LVM_GETITEMCOUNT, 0, 0));
}

int TWin32ReportList::RowsPerPage() const {
    return static_cast<int>(SendMessageW(Handle(), LVM_GETCOUNTPERPAGE, 0, 0));
}

int TWin32ReportList::SelectedIndex() const {
    return static_cast<int>(
        SendMessageW(Handle(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
}

std::string TWin32ReportList::SelectedCaption() const {
    const int index = SelectedIndex();
    if (index < 0) {
        return {};
    }
    std::array<wchar_t, 64> buffer{};
    LVITEMW item{};
    item.iSubItem = 0;
    item.pszText = buffer.data();
    item.cchTextMax = static_cast<int>(buffer.size());
    SendMessageW(Handle(), LVM_GETITEMTEXTW, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&item));
    return Narrow(buffer.data());
}

void TWin32ReportList::Select(int index) {
    if (index < 0 || index >= RowCount()) {
        ClearSelection();
        return;
    }
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    item.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageW(Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&item));
}

void TWin32ReportList::ClearSelection() {
    LVITEMW item{};
    item.stateMask = LVIS_SELECTED;
    item.state = 0;
    SendMessageW(Handle(), LVM_SETITEMSTATE, static_cast<WPARAM>(-1),
                 reinterpret_cast<LPARAM>(&item));
}

void TWin32ReportList::SetFocus() {
    ::SetFocus(Handle());
}

void TWin32ReportList::Invalidate() {
    InvalidateRect(Handle(), nullptr, TRUE);
}

int TWin32ReportList::ColumnWidth(int column) const {
    if (column < 0 || column >= kColumnCount) {
        return 0;
    }
    if (const auto& hidden = FHiddenWidths[static_cast<std::size_t>(column)]) {
        return *hidden;
    }
    return static_cast<int>(
        SendMessageW(Handle(), LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(column), 0));
}

void TWin32ReportList::SetColumnWidth(int column, int width) {
    if (column >= 0 && column < kColumnCount) {
        // A hidden column takes the width it shows again with.
        if (auto& hidden = FHiddenWidths[static_cast<std::size_t>(column)]) {
            hidden = std::max(width, 0);
            return;
        }
        SendMessageW(Handle(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column),
                     MAKELPARAM(std::max(width, 0), 0));
    }
}

// A report list has no hidden columns of its own: a hidden one is 0 wide.
void TWin32ReportList::SetColumnVisible(int column, bool visible) {
    if (column < 0 || column >= kColumnCount) {
        return;
    }
    auto& hidden = FHiddenWidths[static_cast<std::size_t>(column)];
    if (visible && hidden) {
        const int width = *hidden;
        hidden.reset();
        SetColumnWidth(column, width);
    } else if (!visible && !hidden) {
        const int width = ColumnWidth(column);
        SendMessageW(Handle(), LVM_SETCOLUMNWIDTH, static_cast<WPARAM>(column), 0);
        hidden = width;
    }
}

void TWin32ReportList::SetWindowProc(TWindowProc proc) {
    FWindowProc = proc ? std::move(proc) : TWindowProc([](TMessage&) {});
}

void TWin32ReportList::SetAcceptDrops(bool accept) {
    DragAcceptFiles(Handle(), accept ? TRUE : FALSE);
}

// ---------------------------------------------------------------------------------------

TWin32LineList::TWin32LineList(HWND parent, int id)
    : TChildControl(parent, L"LISTBOX",
                    WS_TABSTOP | WS_BORDER | LBS_OWNERDRAWFIXED | LBS_HASSTRINGS | LBS_NOTIFY |
                        LBS_NOINTEGRALHEIGHT,
                    0, id, "Hex view") {}

TWin32LineList::~TWin32LineList() {
    if (FFont) {
        DeleteObject(FFont);
    }
}

void TWin32LineList::Draw(const DRAWITEMSTRUCT& item) const {
    if (item.itemID == static_cast<UINT>(-1) || item.itemID >= FLines.size()) {
        return;
    }
    const HDC dc = item.hDC;
    const RECT& r = item.rcItem;
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    FillRect(dc, &r, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    const std::wstring text = HexText(FLines[item.itemID]);
    constexpr int kMargin = 2;
    // Marked characters get a background of their own under the text; the font has a
    // fixed pitch, but the prefix is measured anyway.
    const auto xAt = [&](int chars) {
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), std::clamp(chars, 0, static_cast<int>(text.size())),
                              &size);
        return r.left + kMargin + size.cx;
    };
    const HBRUSH markBrush = CreateSolidBrush(RGB(0xFF, 0xE0, 0x80));
    for (const auto& [first, last] : MarksOf(static_cast<int>(item.itemID))) {
        const RECT mark{xAt(first), r.top, xAt(last + 1), r.bottom};
        FillRect(dc, &mark, markBrush);
    }
    DeleteObject(markBrush);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
    RECT textRect = r;
    textRect.left += kMargin;
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &textRect,
              DT_LEFT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_EXPANDTABS);
    if ((item.itemState & ODS_FOCUS) != 0) {
        DrawFocusRect(dc, &r);
    }
}

std::vector<std::pair<int, int>> TWin32LineList::MarksOf(int line) const {
    std::vector<std::pair<int, int>> ranges;
    for (const TLineMark& mark : FMarks) {
        if (mark.Line == line) {
            ranges.emplace_back(mark.FirstChar, mark.LastChar);
        }
    }
    return ranges;
}

TRangeInput TWin32LineList::PointerInput(TRangeInput::TKind kind, int x, int y) const {
    const int height = std::max(LineHeight(), 1);
    const int top = static_cast<int>(SendMessageW(Handle(), LB_GETTOPINDEX, 0, 0));
    const int line = std::clamp(top + (y < 0 ? -1 : y / height), 0, std::max(Count() - 1, 0));
    // The text starts two pixels in (Draw); the font has a fixed pitch.
    const HDC dc = GetDC(Handle());
    const HGDIOBJ old = SelectObject(dc, FFont ? FFont : GetStockObject(DEFAULT_GUI_FONT));
    SIZE digit{};
    GetTextExtentPoint32W(dc, L"0", 1, &digit);
    SelectObject(dc, old);
    ReleaseDC(Handle(), dc);
    return TRangeInput{kind, 0, line, std::max(x - 2, 0) / std::max<int>(digit.cx, 1), false};
}

LRESULT TWin32LineList::Subclass(UINT message, WPARAM wParam, LPARAM lParam) {
    // Keys with Shift select a range in place of the list's own moves.
    if (message == WM_KEYDOWN && FOnRange && GetKeyState(VK_SHIFT) < 0 &&
        wParam >= static_cast<WPARAM>(Key::PageUp) && wParam <= static_cast<WPARAM>(Key::Down)) {
        FOnRange(TRangeInput{TRangeInput::TKind::Key, static_cast<int>(wParam)});
        return 0;
    }
    if ((message == WM_LBUTTONDOWN || (message == WM_MOUSEMOVE && (wParam & MK_LBUTTON) != 0)) &&
        FOnRange) {
        // After the list's own handling, which selects the line under the pointer.
        const LRESULT result = DefaultProc(message, wParam, lParam);
        TRangeInput input = PointerInput(
            message == WM_LBUTTONDOWN ? TRangeInput::TKind::Press : TRangeInput::TKind::Drag,
            static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        input.Shift = (wParam & MK_SHIFT) != 0;
        FOnRange(input);
        return result;
    }
    if (message == WM_KEYDOWN && FOnKeyDown) {
        FOnKeyDown(static_cast<int>(wParam));
    }
    if (message == WM_MOUSEWHEEL && FWheel.Deliver(wParam, FOnWheel)) {
        return 0;
    }
    return DefaultProc(message, wParam, lParam);
}

void TWin32LineList::Clear() {
    FLines.clear();
    FMarks.clear();
    SendMessageW(Handle(), LB_RESETCONTENT, 0, 0);
}

void TWin32LineList::Append(const std::string& text) {
    FLines.push_back(text);
    SendMessageW(Handle(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(HexText(text).c_str()));
}

int TWin32LineList::Count() const {
    return static_cast<int>(FLines.size());
}

std::string TWin32LineList::Line(int index) const {
    if (index < 0 || index >= Count()) {
        return {};
    }
    return FLines[static_cast<std::size_t>(index)];
}

void TWin32LineList::SetLine(int index, const std::string& text) {
    if (index < 0 || index >= Count()) {
        return;
    }
    FLines[static_cast<std::size_t>(index)] = text;
    const int selected = SelectedIndex();
    SendMessageW(Handle(), WM_SETREDRAW, FALSE, 0);
    SendMessageW(Handle(), LB_DELETESTRING, static_cast<WPARAM>(index), 0);
    SendMessageW(Handle(), LB_INSERTSTRING, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(HexText(text).c_str()));
    if (selected == index) {
        SendMessageW(Handle(), LB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
    SendMessageW(Handle(), WM_SETREDRAW, TRUE, 0);
    InvalidateRect(Handle(), nullptr, TRUE);
}

int TWin32LineList::SelectedIndex() const {
    return static_cast<int>(SendMessageW(Handle(), LB_GETCURSEL, 0, 0));
}

void TWin32LineList::SetSelectedIndex(int index) {
    SendMessageW(Handle(), LB_SETCURSEL, static_cast<WPARAM>(index >= 0 && index < Count() ? index : -1),
                 0);
}

int TWin32LineList::InnerHeight() const {
    RECT r{};
    GetClientRect(Handle(), &r);
    return r.bottom - r.top;
}

int TWin32LineList::LineHeight() const {
    return static_cast<int>(SendMessageW(Handle(), LB_GETITEMHEIGHT, 0, 0));
}

void TWin32LineList::SetFont(const std::string& family, int pointSize) {
    const HFONT font = MakeFont(Widen(family).c_str(), PointsToPixels(pointSize), FIXED_PITCH);
    SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (FFont) {
        DeleteObject(FFont);
    }
    FFont = font;
    // Every line exactly one font line high, so the lines that fit are the inner height
    // divided by LineHeight.
    const HDC dc = GetDC(Handle());
    const HGDIOBJ old = SelectObject(dc, font);
    TEXTMETRICW metrics{};
    GetTextMetricsW(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(Handle(), dc);
    SendMessageW(Handle(), LB_SETITEMHEIGHT, 0, MAKELPARAM(metrics.tmHeight, 0));
}

void TWin32LineList::SetFocus() {
    ::SetFocus(Handle());
}

void TWin32LineList::SetMarks(const std::vector<TLineMark>& marks) {
    FMarks = marks;
    InvalidateRect(Handle(), nullptr, TRUE);
}

// ---------------------------------------------------------------------------------------

TWin32ScrollBar::TWin32ScrollBar(HWND parent, int id, const std::string& name)
    : TChildControl(parent, L"SCROLLBAR", SBS_VERT, 0, id, name) {
    SetRange(0, 100);
    SetPosition(0);
}

SCROLLINFO TWin32ScrollBar::Info(UINT mask) const {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = mask;
    GetScrollInfo(Handle(), SB_CTL, &info);
    return info;
}

void TWin32ScrollBar::SetRange(int minimum, int maximum) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE;
    info.nMin = minimum;
    info.nMax = std::max(minimum, maximum);
    info.nPage = 0;
    SetScrollInfo(Handle(), SB_CTL, &info, TRUE);
}

int TWin32ScrollBar::Position() const {
    return Info(SIF_POS).nPos;
}

void TWin32ScrollBar::SetPosition(int position) {
    SCROLLINFO info{};
    info.cbSize = sizeof info;
    info.fMask = SIF_POS;
    info.nPos = std::clamp(position, Minimum(), Maximum());
    SetScrollInfo(Handle(), SB_CTL, &info, TRUE);
}

int TWin32ScrollBar::Minimum() const {
    return Info(SIF_RANGE).nMin;
}

void TWin32ScrollBar::SetMinimum(int minimum) {
    SetRange(minimum, Maximum());
}

int TWin32ScrollBar::Maximum() const {
    return Info(SIF_RANGE).nMax;
}

void TWin32ScrollBar::SetMaximum(int maximum) {
    SetRange(Minimum(), maximum);
}

void TWin32ScrollBar::Step(ScrollCode code, int position) {
    int wanted = std::clamp(position, Minimum(), Maximum());
    if (FOnScroll) {
        const ScrollHandler handler = FOnScroll;
        handler(code, wanted);
    }
    SetPosition(wanted);
}

void TWin32ScrollBar::OnScroll(int request) {
    const SCROLLINFO info = Info(SIF_ALL);
    const auto step = [&](int by) {
        return static_cast<int>(std::clamp<std::int64_t>(std::int64_t{info.nPos} + by, info.nMin,
                                                         info.nMax));
    };
    switch (request) {
    case SB_LINEUP:
        Step(ScrollCode::LineUp, step(-FSmallChange));
        break;
    case SB_LINEDOWN:
        Step(ScrollCode::LineDown, step(FSmallChange));
        break;
    case SB_PAGEUP:
        Step(ScrollCode::PageUp, step(-FLargeChange));
        break;
    case SB_PAGEDOWN:
        Step(ScrollCode::PageDown, step(FLargeChange));
        break;
    case SB_THUMBTRACK:
    case SB_THUMBPOSITION:
        // The 32-bit place of the thumb; the message itself carries only 16 bits.
        Step(CodeOf(request), info.nTrackPos);
        break;
    case SB_TOP:
        Step(ScrollCode::Top, info.nMin);
        break;
    case SB_BOTTOM:
        Step(ScrollCode::Bottom, info.nMax);
        break;
    default:
        Step(ScrollCode::EndScroll, info.nPos);
        break;
    }
}


LRESULT TWin32ScrollBar::Subclass(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
        // The control tracks the press in a loop of its own and returns once the button
        // is up: the handler then sees where the press left the bar.
        const LRESULT r = DefaultProc(message, wParam, lParam);
        if (FOnMouseDown) {
            const NotifyHandler handler = FOnMouseDown;
            handler();
        }
        return r;
    }
    case WM_MOUSEWHEEL: {
        // Without a wheel handler each notch steps the bar like its arrows.
        const TWheelHandler steps = [this](int notches) {
            for (int i = 0; i < std::abs(notches); ++i) {
                OnScroll(notches > 0 ? SB_LINEUP : SB_LINEDOWN);
            }
        };
        FWheel.Deliver(wParam, FOnWheel ? FOnWheel : steps);
        return 0;
    }
    default:
        return DefaultProc(message, wParam, lParam);
    }
}

// ---------------------------------------------------------------------------------------

TWin32TreeLines::TWin32TreeLines(HWND parent, int id)
    : TChildControl(parent, WC_TREEVIEWW,
                    WS_TABSTOP | WS_BORDER | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT |
                        TVS_SHOWSELALWAYS | TVS_DISABLEDRAGDROP,
                    0, id, "Detail tree"),
      FFont(MakeFont(L"Courier New", 11, FIXED_PITCH)) {
    SendMessageW(Handle(), WM_SETFONT, reinterpret_cast<WPARAM>(FFont), TRUE);
    SendMessageW(Handle(), TVM_SETINDENT, 19, 0);
}

TWin32TreeLines::~TWin32TreeLines() {
    DeleteObject(FFont);
}

bool TWin32TreeLines::OnNotify(NMHDR* header, LRESULT& result) {
    if (header->code != TVN_SELCHANGEDW) {
        return false;
    }
    result = 0;
    if (FOnSelect) {
        const HTREEITEM item = reinterpret_cast<NMTREEVIEWW*>(header)->itemNew.hItem;
        std::int64_t first = -1;
        std::int64_t last = -1;
        if (item != nullptr) {
            Span(item, first, last);
        }
        FOnSelect(first, first < 0 ? 0 : last - first + 1);
    }
    return true;
}

// The bits from the first one of the line (or of any line below it) to the last one.
void TWin32TreeLines::Span(HTREEITEM item, std::int64_t& first, std::int64_t& last) const {
    TVITEMW data{};
    data.mask = TVIF_PARAM | TVIF_HANDLE;
    data.hItem = item;
    SendMessageW(Handle(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
    const auto index = static_cast<std::size_t>(data.lParam);
    if (index > 0 && index <= FBits.size()) {
        const TBits& bits = FBits[index - 1];
        first = first < 0 ? bits.First : std::min(first, bits.First);
        last = std::max(last, bits.Last);
        return;
    }
    for (auto* child = TreeView_GetChild(Handle(), item); child != nullptr;
         child = TreeView_GetNextSibling(Handle(), child)) {
        Span(child, first, last);
    }
}

std::string TWin32TreeLines::Text(TTreeLine line) const {
    std::array<wchar_t, 1024> buffer{};
    TVITEMW data{};
    data.mask = TVIF_TEXT | TVIF_HANDLE;
    data.hItem = ItemOf(line);
    data.pszText = buffer.data();
    data.cchTextMax = static_cast<int>(buffer.size());
    SendMessageW(Handle(), TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data));
    return Narrow(buffer.data());
}

void TWin32TreeLines::LineBits(TTreeLine line, std::int64_t firstBit, std::int64_t bits) {
    if (line == nullptr || bits <= 0) {
        return;
    }
    FBits.push_back({firstBit, firstBit + bits - 1});
    TVITEMW data{};
    data.mask = TVIF_PARAM | TVIF_HANDLE;
    data.hItem = ItemOf(line);
    data.lParam = static_cast<LPARAM>(FBits.size());
    SendMessageW(Handle(), TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&data));
}

void TWin32TreeLines::AddBranch(HTREEITEM item, int depth,
                                std::vector<TBranchLine>& lines) const {
    lines.push_back({depth, Text(LineOf(item))});
    for (auto* child = TreeView_GetChild(Handle(), item); child != nullptr;
         child = TreeView_GetNextSibling(Handle(), child)) {
        AddBranch(child, depth + 1, lines);
    }
}

std::vector<TBranchLine> TWin32TreeLines::SelectedBranch() const {
    std::vector<TBranchLine> lines;
    const HTREEITEM selected = TreeView_GetSelection(Handle());
    if (selected == nullptr) {
        return lines;
    }
    int depth = 0;
    for (auto* parent = TreeView_GetParent(Handle(), selected); parent != nullptr;
         parent = TreeView_GetParent(Handle(), parent)) {
        ++depth;
    }
    AddBranch(selected, depth, lines);
    return lines;
}

void TWin32TreeLines::ClearLines() {
    SendMessageW(Handle(), TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    FBits.clear();
}

TTreeLine TWin32TreeLines::Insert(HTREEITEM parent, HTREEITEM after, const std::string& text) {
    const std::wstring wide = Widen(text);
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent;
    insert.hInsertAfter = after;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM;
    insert.item.pszText = const_cast<wchar_t*>(wide.c_str());
    insert.item.lParam = 0;
    return LineOf(reinterpret_cast<HTREEITEM>(
        SendMessageW(Handle(), TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert))));
}

TTreeLine TWin32TreeLines::AddRootLine(const std::string& text) {
    return Insert(TVI_ROOT, TVI_FIRST, text);
}

TTreeLine TWin32TreeLines::AddChildLine(TTreeLine parent, const std::string& text) {
    return Insert(parent ? ItemOf(parent) : TVI_ROOT, TVI_LAST, text);
}

void TWin32TreeLines::ExpandLine(TTreeLine line) {
    if (line == nullptr) {
        return;
    }
    // A line may be expanded before its children arrive: the state is set as well, so
    // that they show once they do.
    SendMessageW(Handle(), TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(ItemOf(line)));
    TVITEMW data{};
    data.mask = TVIF_STATE | TVIF_HANDLE;
    data.hItem = ItemOf(line);
    data.state = TVIS_EXPANDED;
    data.stateMask = TVIS_EXPANDED;
    SendMessageW(Handle(), TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&data));
}

// ---------------------------------------------------------------------------------------

TWin32StatusBar::TWin32StatusBar(HWND parent, int id)
    : TChildControl(parent, STATUSCLASSNAMEW, SBARS_SIZEGRIP, 0, id, "") {}

int TWin32StatusBar::Fit(int clientWidth) {
    SendMessageW(Handle(), WM_SIZE, 0, 0);
    FClientWidth = clientWidth;
    Lay();
    RECT r{};
    GetWindowRect(Handle(), &r);
    return r.bottom - r.top;
}

void TWin32StatusBar::Lay() {
    // File size, page and selection each as wide as their texts; the note takes the rest.
    constexpr int kMinimum = 40;
    constexpr int kPadding = 16; // the part's borders and a little air
    const HDC dc = GetDC(Handle());
    const auto font = reinterpret_cast<HGDIOBJ>(SendMessageW(Handle(), WM_GETFONT, 0, 0));
    const HGDIOBJ before = font != nullptr ? SelectObject(dc, font) : nullptr;
    std::array<int, 4> edges{};
    int right = 0;
    for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
        const std::wstring text = Widen(FTexts[i]);
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        right += std::max<int>(kMinimum, size.cx + kPadding);
        edges[i] = right > FClientWidth ? -1 : right;
    }
    edges.back() = -1;
    if (before != nullptr) {
        SelectObject(dc, before);
    }
    ReleaseDC(Handle(), dc);
    SendMessageW(Handle(), SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

void TWin32StatusBar::SetText(TStatusField field, const std::string& text) {
    const auto part = static_cast<std::size_t>(field);
    if (part >= FTexts.size()) {
        return;
    }
    FTexts[part] = text;
    if (part + 1 < FTexts.size() && FClientWidth > 0) {
        Lay();
    }
    SendMessageW(Handle(), SB_SETTEXTW, part, reinterpret_cast<LPARAM>(Widen(text).c_str()));
}

std::string TWin32StatusBar::Text(TStatusField field) const {
    const auto part = static_cast<std::size_t>(field);
    if (part >= FTexts.size()) {
        return {};
    }
    const auto length = LOWORD(SendMessageW(Handle(), SB_GETTEXTLENGTHW, part, 0));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    SendMessageW(Handle(), SB_GETTEXTW, part, reinterpret_cast<LPARAM>(text.data()));
    text.resize(length);
    return Narrow(text);
}

// ---------------------------------------------------------------------------------------

void TWin32Timer::SetEnabled(bool enabled) {
    if (enabled) {
        SetTimer(FWindow, FId, FInterval, nullptr);
    } else {
        KillTimer(FWindow, FId);
    }
    FEnabled = enabled;
}

bool TWin32MenuCheck::Checked() const {
    return (GetMenuState(FMenu, FId, MF_BYCOMMAND) & MF_CHECKED) != 0;
}

void TWin32MenuCheck::SetChecked(bool checked) {
    CheckMenuItem(FMenu, FId, MF_BYCOMMAND | (checked ? MF_CHECKED : MF_UNCHECKED));
}

// ---------------------------------------------------------------------------------------

std::wstring ApplicationTitle() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of(L'.');
    return dot == std::wstring::npos ? name : name.substr(0, dot);
}

std::optional<std::string> TWin32Dialogs::OpenFileName() {
    std::wstring file(32768, L'\0');
    static constexpr wchar_t kFilter[] = L"H264 ES Files (*.264)\0*.264\0All Files (*.*)\0*.*\0";
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = FOwner;
    dialog.lpstrFilter = kFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    if (!GetOpenFileNameW(&dialog)) {
        return std::nullopt;
    }
    file.resize(wcslen(file.c_str()));
    return Narrow(file);
}

std::optional<std::string> TWin32Dialogs::OpenFileNameFor(const TOpenFileRequest& request) {
    if (request.Patterns.empty()) {
        return OpenFileName();
    }
    // "Name (*.a *.b)", "*.a;*.b", then all files; each ends with a zero, the list with two.
    std::string patterns = request.Patterns;
    std::replace(patterns.begin(), patterns.end(), ' ', ';');
    std::wstring filter = Widen(request.FilterName + " (" + request.Patterns + ")");
    filter.push_back(L'\0');
    filter += Widen(patterns);
    filter.push_back(L'\0');
    filter += L"All Files (*.*)";
    filter.push_back(L'\0');
    filter += L"*.*";
    filter.push_back(L'\0');
    filter.push_back(L'\0');
    const std::wstring folder = Widen(request.Folder);
    std::wstring file(32768, L'\0');
    OPENFILENAMEW dialog{};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = FOwner;
    dialog.lpstrFilter = filter.c_str();
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = file.data();
    dialog.nMaxFile = static_cast<DWORD>(file.size());
    dialog.lpstrInitialDir = folder.empty() ? nullptr : folder.c_str();
    dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING;
    if (!GetOpenFileNameW(&dialog)) {
        return std::nullopt;
    }
    file.resize(wcslen(file.c_str()));
    return Narrow(file);
}

void TWin32Dialogs::ShowWarning(const std::string& title, const std::string& text) {
    MessageBoxW(FOwner, Widen(text).c_str(), Widen(title).c_str(), MB_OK | MB_ICONWARNING);
}

void TWin32Clipboard::SetText(const std::string& text) {
    // Lines end with CR LF on the Windows clipboard, as every editor there expects.
    std::wstring wide;
    for (const wchar_t c : HexText(text)) {
        if (c == L'\n' && (wide.empty() || wide.back() != L'\r')) {
            wide.push_back(L'\r');
        }
        wide.push_back(c);
    }
    if (!OpenClipboard(FOwner)) {
        return;
    }
    EmptyClipboard();
    const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
    if (const HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
        std::copy_n(wide.c_str(), wide.size() + 1, static_cast<wchar_t*>(GlobalLock(memory)));
        GlobalUnlock(memory);
        if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) {
            GlobalFree(memory);
        }
    }
    CloseClipboard();
}

void TWin32Dialogs::ShowMessage(const std::string& text) {
    MessageBoxW(FOwner, Widen(text).c_str(), ApplicationTitle().c_str(), MB_OK);
}

void TWin32Dialogs::ShowInformation(const std::string& title, const std::string& text) {
    MessageBoxW(FOwner, Widen(text).c_str(), Widen(title).c_str(), MB_OK | MB_ICONINFORMATION);
}

bool TWin32Dialogs::Confirm(const std::string& title, const std::string& text) {
    return MessageBoxW(FOwner, Widen(text).c_str(), Widen(title).c_str(),
                       MB_YESNO | MB_ICONQUESTION) == IDYES;
}

namespace {

// A dialog template built in memory: the input boxes need no resource file.
class TDialogTemplate {
  public:
    TDialogTemplate(const std::wstring& title, short width, short height) {
        Align();
        Add32(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER);
        Add32(0);
        FCountAt = FBytes.size();
        Add16(0);
        Add16(0);
        Add16(0);
        Add16(static_cast<WORD>(width));
        Add16(static_cast<WORD>(height));
        Add16(0); // no menu
        Add16(0); // the dialog class
        AddText(title);
        Add16(8);
        AddText(L"MS Shell Dlg");
    }
    void AddItem(WORD classAtom, DWORD style, short x, short y, short cx, short cy, WORD id,
                 const std::wstring& text) {
        Align();
        Add32(WS_CHILD | WS_VISIBLE | style);
        Add32(0);
        Add16(static_cast<WORD>(x));
        Add16(static_cast<WORD>(y));
        Add16(static_cast<WORD>(cx));
        Add16(static_cast<WORD>(cy));
        Add16(id);
        Add16(0xFFFF);
        Add16(classAtom);
        AddText(text);
        Add16(0); // no creation data
        auto* count = reinterpret_cast<WORD*>(FBytes.data() + FCountAt);
        ++*count;
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(FBytes.data()); }

  private:
    void Align() {
        while (FBytes.size() % 4 != 0) {
            FBytes.push_back(0);
        }
    }
    void Add16(WORD value) {
        FBytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        FBytes.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void Add32(DWORD value) {
        Add16(static_cast<WORD>(value & 0xFFFF));
        Add16(static_cast<WORD>(value >> 16));
    }
    void AddText(const std::wstring& text) {
        for (const wchar_t c : text) {
            Add16(static_cast<WORD>(c));
        }
        Add16(0);
    }
    std::vector<std::uint8_t> FBytes;
    std::size_t FCountAt = 0;
};

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kComboClass = 0x0085;
constexpr WORD kInputId = 100;

struct TInputState {
    std::wstring Text;
    std::vector<std::wstring> Items;
    int Current = -1;
    bool Combo = false;
};

INT_PTR CALLBACK InputDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<TInputState*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG: {
        state = reinterpret_cast<TInputState*>(lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, lParam);
        const HWND input = GetDlgItem(dialog, kInputId);
        for (const std::wstring& item : state->Items) {
            SendMessageW(input, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
        }
        if (state->Combo && state->Current >= 0) {
            SendMessageW(input, CB_SETCURSEL, static_cast<WPARAM>(state->Current), 0);
        } else {
            SetWindowTextW(input, state->Text.c_str());
        }
        SetFocus(input);
        SendMessageW(input, state->Combo ? CB_SETEDITSEL : EM_SETSEL, 0,
                     state->Combo ? MAKELPARAM(0, -1) : -1);
        return FALSE; // the focus is set
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            const HWND input = GetDlgItem(dialog, kInputId);
            std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(input)) + 1, L'\0');
            text.resize(static_cast<std::size_t>(
                GetWindowTextW(input, text.data(), static_cast<int>(text.size()))));
            state->Text = text;
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        break;
    default:
        break;
    }
    return FALSE;
}

// A label, a line to type in (or a list to choose from, typed in if need be), OK and Cancel.
std::optional<std::string> RunInputDialog(HWND owner, const std::string& title,
                                          const std::string& label, TInputState state) {
    TDialogTemplate dialog(Widen(title), 220, 62);
    dialog.AddItem(kStaticClass, SS_LEFT, 7, 7, 206, 10, 0xFFFF, Widen(label));
    if (state.Combo) {
        dialog.AddItem(kComboClass, WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL, 7,
                       20, 206, 120, kInputId, L"");
    } else {
        dialog.AddItem(kEditClass, WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, 7, 20, 206, 12,
                       kInputId, L"");
    }
    dialog.AddItem(kButtonClass, WS_TABSTOP | BS_DEFPUSHBUTTON, 109, 41, 50, 14, IDOK, L"OK");
    dialog.AddItem(kButtonClass, WS_TABSTOP | BS_PUSHBUTTON, 163, 41, 50, 14, IDCANCEL,
                   L"Cancel");
    if (DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, InputDialogProc,
                                reinterpret_cast<LPARAM>(&state)) != IDOK) {
        return std::nullopt;
    }
    return Narrow(state.Text);
}

} // namespace

std::optional<std::string> TWin32Dialogs::AskText(const std::string& title,
                                                  const std::string& label,
                                                  const std::string& text) {
    TInputState state;
    state.Text = Widen(text);
    return RunInputDialog(FOwner, title, label, std::move(state));
}

std::optional<std::string> TWin32Dialogs::ChooseItem(const std::string& title,
                                                     const std::string& label,
                                                     const std::vector<std::string>& items,
                                                     int current) {
    TInputState state;
    state.Combo = true;
    state.Current = current >= 0 && current < static_cast<int>(items.size()) ? current : -1;
    for (const std::string& item : items) {
        state.Items.push_back(Widen(item));
    }
    return RunInputDialog(FOwner, title, label, std::move(state));
}

namespace {

LRESULT CALLBACK TextOverBar(HWND bar, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                             DWORD_PTR) {
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(bar, TextOverBar, 0);
    }
    const LRESULT result = DefSubclassProc(bar, message, wParam, lParam);
    if (message == WM_SETTEXT) {
        InvalidateRect(bar, nullptr, TRUE);
    } else if (message == WM_PAINT) {
        const int length = GetWindowTextLengthW(bar);
        if (length > 0) {
            std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
            GetWindowTextW(bar, text.data(), length + 1);
            RECT area{};
            GetClientRect(bar, &area);
            const HDC dc = GetDC(bar);
            const HGDIOBJ before = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
            SetBkMode(dc, TRANSPARENT);
            DrawTextW(dc, text.c_str(), length, &area,
                      DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
            SelectObject(dc, before);
            ReleaseDC(bar, dc);
        }
    }
    return result;
}

} // namespace

void CarryTextOnBar(HWND bar) {
    SetWindowSubclass(bar, TextOverBar, 0, 0);
}

TWin32ProgressBar::TWin32ProgressBar(HWND statusBar)
    : FStatusBar(statusBar),
      FBar(CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD, 0, 0, 0, 0, statusBar, nullptr,
                           GetModuleHandleW(nullptr), nullptr)) {
    SendMessageW(FBar, PBM_SETRANGE32, 0, 1000);
    CarryTextOnBar(FBar);
}

void TWin32ProgressBar::Show(const std::string& caption) {
    // Over the status bar's last part, the note's, which says what runs.
    RECT part{};
    SendMessageW(FStatusBar, SB_GETRECT, 3, reinterpret_cast<LPARAM>(&part));
    const int width = std::min<int>(200, part.right - part.left - 4);
    MoveWindow(FBar, part.right - width - 2, part.top + 2, width, part.bottom - part.top - 4, TRUE);
    SendMessageW(FStatusBar, SB_SETTEXTW, 3, reinterpret_cast<LPARAM>(Widen(caption + " (Esc cancels)").c_str()));
    SendMessageW(FBar, PBM_SETPOS, 0, 0);
    ShowWindow(FBar, SW_SHOW);
    FVisible = true;
}

void TWin32ProgressBar::SetProgress(int permille, const std::string& text) {
    SendMessageW(FBar, PBM_SETPOS, static_cast<WPARAM>(std::clamp(permille, 0, 1000)), 0);
    SetWindowTextW(FBar, Widen(text).c_str());
}

void TWin32ProgressBar::Hide() {
    ShowWindow(FBar, SW_HIDE);
    FVisible = false;
}

void TWin32ProgressBar::Cancel() {
    if (FVisible && FOnCancel) {
        const NotifyHandler handler = FOnCancel;
        handler();
    }
}

void TWin32Cursor::SetBusy() {
    ++FDepth;
    SetCursor(LoadCursorW(nullptr, IDC_WAIT));
}

void TWin32Cursor::SetDefault() {
    if (FDepth > 0 && --FDepth == 0) {
        SetCursor(LoadCursorW(nullptr, IDC_ARROW));
    }
}
