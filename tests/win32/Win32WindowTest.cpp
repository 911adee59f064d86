// The Windows window with its logic, driven through its real controls by messages as a
// user's input would drive them, its texts read back from the controls: keys and clicks
// in the NAL list, presses on its scroll bar, drops, the menu. Rows are checked against
// the listing of quillet-dump, the tree against quillet-dump --at, the hex lines against
// the file's bytes.

#include "Win32TestSupport.h"
#include "app/ListColumns.h"
#include "cli/DumpCommand.h"
#include "core/WideText.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"
#include "win32/MainWindow.h"
#include "win32/services/RegistrySettingsStore.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>

namespace {

std::vector<std::int64_t> Slice(const std::vector<std::int64_t>& all, std::size_t first,
                                std::size_t count) {
    const std::size_t end = std::min(all.size(), first + count);
    return {all.begin() + static_cast<std::ptrdiff_t>(std::min(first, end)),
            all.begin() + static_cast<std::ptrdiff_t>(end)};
}

std::string Dump(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunDump(args, out, err), 0) << err.str();
    return out.str();
}

std::string WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return Narrow(text);
}

std::string ClassOf(HWND window) {
    wchar_t name[64] = {};
    GetClassNameW(window, name, 64);
    return Narrow(name);
}

RECT RectOf(HWND window, HWND parent) {
    RECT r{};
    GetWindowRect(window, &r);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

// A window shown as the program shows it, its list about ten rows high.
struct ShownWindow {
    FakeDialogs dialogs;
    std::unique_ptr<TWin32Window> window;

    explicit ShownWindow(ISettingsStore* registry = nullptr, int height = 420,
                         IMonitors* monitors = nullptr) {
        const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX),
                                            ICC_LISTVIEW_CLASSES | ICC_TREEVIEW_CLASSES |
                                                ICC_BAR_CLASSES};
        InitCommonControlsEx(&controls);
        TWin32WindowServices services;
        services.Dialogs = &dialogs;
        services.Registry = registry;
        services.Monitors = monitors;
        window = std::make_unique<TWin32Window>(services);
        if (height > 0) {
            window->SetBounds(window->Left(), window->Top(), window->Width(), height);
        }
        window->Show(SW_SHOWNORMAL);
        Pump();
    }
    HWND List() const { return window->ListView1->Handle(); }
    std::string Cell(int row, int column) const {
        wchar_t buffer[128] = {};
        LVITEMW item{};
        item.iSubItem = column;
        item.pszText = buffer;
        item.cchTextMax = 128;
        SendMessageW(List(), LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        return Narrow(buffer);
    }
    std::vector<std::int64_t> Rows() const {
        std::vector<std::int64_t> rows;
        const int count = static_cast<int>(SendMessageW(List(), LVM_GETITEMCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            rows.push_back(std::stoll(Cell(i, 0).substr(2), nullptr, 16));
        }
        return rows;
    }
    int Selected() const {
        return static_cast<int>(SendMessageW(List(), LVM_GETNEXTITEM, static_cast<WPARAM>(-1), LVNI_SELECTED));
    }
    std::int64_t SelectedOffset() const { return std::stoll(Cell(Selected(), 0).substr(2), nullptr, 16); }
    // The listing line of row i, as quillet-dump writes it.
    std::string ListingLine(int row) const {
        return Cell(row, 0) + "\t" + Cell(row, 1) + "\t" + Cell(row, 2) + "\t" + Cell(row, 3);
    }
    void Key(int key) {
        SendMessageW(List(), WM_KEYDOWN, static_cast<WPARAM>(key), 1);
        SendMessageW(List(), WM_KEYUP, static_cast<WPARAM>(key), static_cast<LPARAM>(0xC0000001u));
        Pump();
    }
    // A press and release at a point of a control: the release waits in the queue for
    // the control's own tracking loop.
    static void Press(HWND control, POINT at, std::optional<POINT> dragTo = std::nullopt) {
        const POINT end = dragTo.value_or(at);
        if (dragTo) {
            PostMessageW(control, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(end.x, end.y));
        }
        PostMessageW(control, WM_LBUTTONUP, 0, MAKELPARAM(end.x, end.y));
        SendMessageW(control, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
        Pump();
    }
    void ClickRow(int row) {
        RECT r{};
        r.left = LVIR_LABEL;
        SendMessageW(List(), LVM_GETITEMRECT, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&r));
        Press(List(), {(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    }
    // The window's tree as quillet-dump --at writes it: two blanks a level.
    std::string Tree() const {
        std::string text;
        const HWND tree = window->TreeView1->Handle();
        const std::function<void(HTREEITEM, int)> walk = [&](HTREEITEM item, int depth) {
            for (; item != nullptr; item = TreeView_GetNextSibling(tree, item)) {
                text += std::string(static_cast<std::size_t>(depth) * 2, ' ') +
                        window->TreeView1->Text(reinterpret_cast<TTreeLine>(item)) + "\n";
                walk(TreeView_GetChild(tree, item), depth + 1);
            }
        };
        walk(TreeView_GetRoot(tree), 0);
        return text;
    }
    std::vector<std::string> HexLines() const {
        std::vector<std::string> lines;
        const HWND list = window->ListBox1->Handle();
        const int count = static_cast<int>(SendMessageW(list, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            std::wstring text(static_cast<std::size_t>(SendMessageW(list, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0)) + 1, L'\0');
            SendMessageW(list, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
            text.resize(wcslen(text.c_str()));
            lines.push_back(Narrow(text));
        }
        return lines;
    }
};

// Every hex line holds the file's bytes at its offset, and the first one is the line at
// firstLine.
void ExpectHexLinesOfFile(const ShownWindow& w, const std::vector<std::uint8_t>& file,
                          std::int64_t firstLine, const std::string& step) {
    const std::vector<std::string> lines = w.HexLines();
    ASSERT_FALSE(lines.empty()) << step;
    EXPECT_EQ(std::stoll(lines[0].substr(2, 16), nullptr, 16), firstLine) << step;
    for (const std::string& line : lines) {
        const auto offset = static_cast<std::size_t>(std::stoll(line.substr(2, 16), nullptr, 16));
        for (std::size_t i = 0; i < 16 && offset + i < file.size(); ++i) {
            ASSERT_EQ(std::stoul(line.substr(21 + 3 * i, 2), nullptr, 16), file[offset + i]) << step << ": " << line;
        }
    }
}

// The same, from the line of the selected unit.
void ExpectHexOfFile(const ShownWindow& w, const std::vector<std::uint8_t>& file,
                     const std::string& step) {
    ExpectHexLinesOfFile(w, file, w.SelectedOffset() / 16 * 16, step);
}

TEST(Win32Window, CompositionAndStartup) {
    ShownWindow w(nullptr, 0);
    TWin32Window& f = *w.window;
    EXPECT_EQ(WindowText(f.Handle()), "Quillet");
    RECT client{};
    GetClientRect(f.Handle(), &client);
    const RECT status = RectOf(f.StatusBar->Handle(), f.Handle());
    const RECT list = RectOf(f.ListView1->Handle(), f.Handle());
    const RECT bar1 = RectOf(f.ScrollBar1->Handle(), f.Handle());
    const RECT tree = RectOf(f.TreeView1->Handle(), f.Handle());
    const RECT hex = RectOf(f.ListBox1->Handle(), f.Handle());
    const RECT bar2 = RectOf(f.ScrollBar2->Handle(), f.Handle());
    const std::pair<long, long> sizes[] = {
        {client.right, 958},
        {status.top, 653 + TWin32Window::kSplitterWidth},
        {bar1.right, 700},
        {bar1.right - bar1.left, 16},
        {list.right, bar1.left},
        {tree.left - bar1.right, 3},
        {status.top - bar1.bottom, 210 + TWin32Window::kSplitterWidth},
        {hex.left, 4},
        {hex.bottom - hex.top, 192},
        {bar2.right, 958},
        {hex.top - bar1.bottom, 16 + TWin32Window::kSplitterWidth},
    };
    for (const auto& [actual, design] : sizes) {
        EXPECT_EQ(actual, design);
    }
    const std::pair<HWND, std::pair<const char*, const char*>> controls[] = {
        {f.ListView1->Handle(), {"SysListView32", "NAL list"}},
        {f.TreeView1->Handle(), {"SysTreeView32", "Detail tree"}},
        {f.ListBox1->Handle(), {"ListBox", "Hex view"}},
        {f.ScrollBar1->Handle(), {"ScrollBar", "Window scroll bar"}},
        {f.ScrollBar2->Handle(), {"ScrollBar", "Hex scroll bar"}},
        {f.StatusBar->Handle(), {"msctls_statusbar32", ""}},
        {f.lbPacket, {"Static", "Hex View"}},
    };
    for (const auto& [control, names] : controls) {
        EXPECT_EQ(ClassOf(control), names.first);
        EXPECT_EQ(WindowText(control), names.second);
    }
    const auto listStyle = static_cast<DWORD>(GetWindowLongW(f.ListView1->Handle(), GWL_STYLE));
    EXPECT_EQ(listStyle & (LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL),
              static_cast<DWORD>(LVS_REPORT | LVS_OWNERDATA | LVS_SINGLESEL));
    EXPECT_TRUE(GetWindowLongW(f.ListBox1->Handle(), GWL_STYLE) & LBS_OWNERDRAWFIXED);
    // Only the NAL list takes dropped files.
    EXPECT_TRUE(GetWindowLongW(f.ListView1->Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    EXPECT_FALSE(GetWindowLongW(f.TreeView1->Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    EXPECT_FALSE(GetWindowLongW(f.Handle(), GWL_EXSTYLE) & WS_EX_ACCEPTFILES);
    // Each column at least as wide as the text it commonly holds in the list's font.
    for (int c = 0; c < 5; ++c) {
        wchar_t caption[32] = {};
        LVCOLUMNW column{};
        column.mask = LVCF_TEXT | LVCF_WIDTH;
        column.pszText = caption;
        column.cchTextMax = 32;
        SendMessageW(f.ListView1->Handle(), LVM_GETCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
        const TListColumn& expected = kListColumns[static_cast<std::size_t>(c)];
        EXPECT_EQ(Narrow(caption), expected.Caption);
        const std::wstring widest = Widen(expected.Widest);
        EXPECT_GE(column.cx, SendMessageW(f.ListView1->Handle(), LVM_GETSTRINGWIDTHW, 0,
                                          reinterpret_cast<LPARAM>(widest.c_str())));
    }
    const std::pair<UINT, const char*> items[] = {
        {kIdOpen, "&Open\tCtrl+O"}, {kIdClose, "&Close"}, {kIdExit, "E&xit\tCtrl+Q"},
        {kIdDecodeSliceHeaders, "&Decode Slice Headers and SEI\tCtrl+D"},
        {kIdCheckForUpdates, "Check For &Updates"}, {kIdAbout, "&About"},
    };
    for (const auto& [id, caption] : items) {
        wchar_t text[64] = {};
        GetMenuStringW(f.MainMenu1, id, text, 64, MF_BYCOMMAND);
        EXPECT_EQ(Narrow(text), caption);
    }
    // Startup: the update check is on and pending.
    EXPECT_TRUE(GetMenuState(f.MainMenu1, kIdCheckForUpdates, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_FALSE(GetMenuState(f.MainMenu1, kIdDecodeSliceHeaders, MF_BYCOMMAND) & MF_CHECKED);
    EXPECT_TRUE(f.Form().Widgets.tmUpdate->Enabled());
    EXPECT_EQ(GetFocus(), f.ListView1->Handle());
}

TEST(Win32Window, KeysMoveThroughAMultiPageStream) {
    const std::string path = TestDataPath("aud_sei.264");
    const std::vector<std::uint8_t> file = ReadAll(path);
    const std::vector<std::int64_t> all = ListedUnitOffsets("aud_sei");
    std::istringstream listing(Dump({path}));
    std::vector<std::string> listed;
    for (std::string line; std::getline(listing, line);) {
        listed.push_back(line);
    }
    ShownWindow w;
    w.dialogs.ChosenFile = path;
    SendMessageW(w.window->Handle(), WM_COMMAND, kIdOpen, 0);
    Pump();
    EXPECT_EQ(WindowText(w.window->Handle()), "Quillet(" + path + ")");
    const auto rows = static_cast<std::size_t>(SendMessageW(w.List(), LVM_GETCOUNTPERPAGE, 0, 0));
    ASSERT_GT(all.size(), 3 * rows) << "the stream spans several pages";
    ASSERT_GE(rows, 3u);
    ASSERT_EQ(w.Rows(), Slice(all, 0, rows));
    for (std::size_t i = 0; i < rows; ++i) {
        EXPECT_EQ(w.ListingLine(static_cast<int>(i)), listed[i]);
    }

    struct Step {
        const char* what;
        int key;
        std::size_t first; // the page's first unit afterwards
        int selected;      // -1: the last row
    };
    const Step steps[] = {
        {"Down within the page", VK_DOWN, 0, 1},
        {"Page Down", VK_NEXT, rows, -1},
        {"Down on the last row", VK_DOWN, rows + 1, -1},
        {"Up within the page", VK_UP, rows + 1, static_cast<int>(rows) - 2},
        {"Page Up", VK_PRIOR, 1, 0},
        {"Up on the first row", VK_UP, 0, 0},
        {"End", VK_END, all.size() - rows, -1},
        {"Home", VK_HOME, 0, 0},
    };
    for (const Step& s : steps) {
        w.Key(s.key);
        ASSERT_EQ(w.Rows(), Slice(all, s.first, rows)) << s.what;
        const int selected = s.selected < 0 ? static_cast<int>(rows) - 1 : s.selected;
        ASSERT_EQ(w.Selected(), selected) << s.what;
        // The key's release shows the selected unit in the tree and the hex view.
        EXPECT_EQ(w.Tree(), Dump({"--at", std::to_string(w.SelectedOffset()), path})) << s.what;
        ExpectHexOfFile(w, file, s.what);
    }
}

TEST(Win32Window, ClicksAndTheWindowScrollBar) {
    const std::string path = TestDataPath("aud_sei.264");
    const std::vector<std::int64_t> all = ListedUnitOffsets("aud_sei");
    ShownWindow w;
    w.window->OpenDropped({path});
    const auto rows = static_cast<std::size_t>(SendMessageW(w.List(), LVM_GETCOUNTPERPAGE, 0, 0));
    w.ClickRow(2);
    EXPECT_EQ(w.Selected(), 2);
    EXPECT_EQ(w.Tree(), Dump({"--at", std::to_string(all[2]), path}));

    const HWND bar = w.window->ScrollBar1->Handle();
    RECT r{};
    GetClientRect(bar, &r);
    const int arrow = GetSystemMetrics(SM_CYVSCROLL);
    const auto thumb = [&] {
        SCROLLBARINFO info{};
        info.cbSize = sizeof info;
        GetScrollBarInfo(bar, OBJID_CLIENT, &info);
        return std::pair<int, int>(info.xyThumbTop, info.xyThumbBottom);
    };
    DebugCapture debug;
    struct Press {
        const char* what;
        std::function<POINT()> at;
        std::size_t first;
        const char* trace;
        bool forward; // the first row is selected after a forward step, the last after a back one
    };
    const auto below = [&] { return POINT{r.right / 2, (thumb().second + r.bottom - arrow) / 2}; };
    // A page step up needs the bar ten steps from its top: two pages down first.
    const Press presses[] = {
        {"down arrow", [&] { return POINT{r.right / 2, r.bottom - arrow / 2}; }, 1, "one down", true},
        {"below the thumb", below, 1 + rows, "page down", true},
        {"below the thumb again", below, 1 + 2 * rows, "page down", true},
        {"up arrow", [&] { return POINT{r.right / 2, arrow / 2}; }, 2 * rows, "one up", false},
        {"above the thumb", [&] { return POINT{r.right / 2, (arrow + thumb().first) / 2}; }, rows,
         "page up", false},
    };
    for (const Press& p : presses) {
        debug.Clear();
        ShownWindow::Press(bar, p.at());
        EXPECT_EQ(w.Rows(), Slice(all, p.first, rows)) << p.what;
        // The trace line first; the shown unit may add its own lines.
        ASSERT_FALSE(debug.Lines().empty()) << p.what;
        EXPECT_EQ(debug.Lines().front(), p.trace) << p.what;
        const int row = p.forward ? 0 : static_cast<int>(rows) - 1;
        EXPECT_EQ(w.Selected(), row) << p.what;
        EXPECT_EQ(w.Tree(), Dump({"--at", std::to_string(all[p.first + static_cast<std::size_t>(row)]), path}))
            << p.what;
    }
    // The thumb dragged near the bar's end lists from the first start code at or after
    // its place, or the last one before it.
    const auto [top, bottom] = thumb();
    ShownWindow::Press(bar, {r.right / 2, (top + bottom) / 2}, POINT{r.right / 2, r.bottom - 1});
    const std::int64_t place = std::int64_t{w.window->ScrollBar1->Position()} * 100;
    EXPECT_GT(place, all[all.size() / 2]);
    const auto next = std::lower_bound(all.begin(), all.end(), place);
    const std::int64_t expected = next != all.end() ? *next : all.back();
    ASSERT_FALSE(w.Rows().empty());
    EXPECT_EQ(w.Rows().front(), expected);
}

TEST(Win32Window, DropsAndUnicodeNames) {
    TempDir dir;
    const std::vector<std::uint8_t> stream = ReadAll(TestDataPath("slices4.264"));
    // Cyrillic, Greek and CJK: outside any one ANSI code page.
    std::string unicodePath;
    {
        const std::filesystem::path p = dir.Path() / std::filesystem::path(Widen("поток-ροή-流.264"));
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
        unicodePath = Narrow(p.wstring());
    }
    const std::string invalid = dir.Write("text.264", Hex("48 65 6C 6C 6F"));
    const std::string missing = (dir.Path() / "missing.264").string();
    struct Case {
        const char* what;
        std::vector<std::string> paths;
        std::string loaded; // empty: nothing loaded
        std::size_t warnings;
    };
    // A missing file is passed over; one that is no stream is named, and the last stream
    // stays loaded.
    const Case cases[] = {
        {"a name in any script", {unicodePath}, unicodePath, 0},
        {"valid, then missing", {unicodePath, missing}, unicodePath, 0},
        {"valid, then not a stream", {unicodePath, invalid}, unicodePath, 1},
        {"not a stream", {invalid}, "", 1},
    };
    for (const Case& c : cases) {
        ShownWindow w;
        SendMessageW(w.List(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop(c.paths)), 0);
        Pump();
        EXPECT_EQ(w.window->Form().FileName, c.loaded) << c.what;
        EXPECT_EQ(WindowText(w.window->Handle()), c.loaded.empty() ? "Quillet" : "Quillet(" + c.loaded + ")") << c.what;
        EXPECT_EQ(w.Rows().empty(), c.loaded.empty()) << c.what;
        EXPECT_EQ(w.dialogs.Warnings.size(), c.warnings) << c.what;
    }
    // The open dialog's choice too.
    ShownWindow w;
    w.dialogs.ChosenFile = unicodePath;
    SendMessageW(w.window->Handle(), WM_COMMAND, kIdOpen, 0);
    EXPECT_EQ(w.window->Form().FileName, unicodePath);
    EXPECT_EQ(w.Cell(0, 3), "Sequence parameter set");
}

TEST(Win32Window, TreeLinesMarkTheirBytesInTheHexView) {
    ShownWindow w;
    w.window->OpenDropped({TestDataPath("aud_sei.264")});
    w.ClickRow(1); // the sequence parameter set at offset 6
    const HWND tree = w.window->TreeView1->Handle();
    // nal_unit_type: the header byte's low five bits, at offset 6 + 4 = 10.
    HTREEITEM root = TreeView_GetRoot(tree);
    HTREEITEM type = TreeView_GetNextSibling(tree, TreeView_GetNextSibling(tree, TreeView_GetChild(tree, root)));
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(w.window->TreeView1->Text(reinterpret_cast<TTreeLine>(type)).substr(0, 13), "nal_unit_type");
    TreeView_SelectItem(tree, type);
    Pump();
    // Line 0 holds offsets 0 to 15; byte 10's digits are characters 21 + 30 and 31.
    const auto marks = w.window->ListBox1->MarksOf(0);
    ASSERT_FALSE(marks.empty());
    EXPECT_EQ(marks.front(), (std::pair<int, int>(51, 52)));
    TreeView_SelectItem(tree, nullptr);
    Pump();
    EXPECT_TRUE(w.window->ListBox1->MarksOf(0).empty());
}

// The gap between the upper panes and the one above the hex pane drag like splitters; a
// taller hex pane shows more lines.
TEST(Win32Window, TheSplittersDrag) {
    ShownWindow w(nullptr, 0);
    w.window->OpenDropped({TestDataPath("aud_sei.264")});
    const HWND main = w.window->Handle();
    const auto drag = [&](POINT from, POINT to) {
        SendMessageW(main, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(from.x, from.y));
        PostMessageW(main, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(to.x, to.y));
        PostMessageW(main, WM_LBUTTONUP, 0, MAKELPARAM(to.x, to.y));
        Pump();
    };
    const RECT bar1 = RectOf(w.window->ScrollBar1->Handle(), main);
    drag({bar1.right + 1, 100}, {601, 100});
    EXPECT_EQ(w.window->Panel2Width(), 600);
    EXPECT_EQ(RectOf(w.window->ScrollBar1->Handle(), main).right, 600);
    const std::size_t lines = w.HexLines().size();
    drag({300, bar1.bottom + 1}, {300, bar1.bottom + 1 - 100});
    EXPECT_EQ(w.window->HexPaneHeight(), 310);
    const RECT hex = RectOf(w.window->ListBox1->Handle(), main);
    EXPECT_EQ(hex.bottom - hex.top, 310 - 18);
    EXPECT_GT(w.HexLines().size(), lines);
}

// The wheel moves the page by three units over the list and its bar, the hex view by three
// lines; it turns what lies under the pointer. The status bar's parts say what is shown.
TEST(Win32Window, TheWheelAndTheStatusBar) {
    const std::string path = TestDataPath("aud_sei.264");
    const std::vector<std::int64_t> all = ListedUnitOffsets("aud_sei");
    ShownWindow w;
    w.window->OpenDropped({path});
    const auto rows = static_cast<std::size_t>(SendMessageW(w.List(), LVM_GETCOUNTPERPAGE, 0, 0));
    const auto turn = [](HWND control, int notches) {
        SendMessageW(control, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(notches * WHEEL_DELTA)), 0);
        Pump();
    };
    turn(w.List(), -1);
    EXPECT_EQ(w.Rows(), Slice(all, 3, rows));
    turn(w.window->ScrollBar1->Handle(), 1);
    EXPECT_EQ(w.Rows(), Slice(all, 0, rows));
    const auto firstHexLine = [&] { return std::stoll(w.HexLines().at(0).substr(2, 16), nullptr, 16); };
    const std::int64_t before = firstHexLine();
    turn(w.window->ListBox1->Handle(), -1);
    EXPECT_EQ(firstHexLine(), before + 3 * 16);

    RECT hex{};
    GetWindowRect(w.window->ListBox1->Handle(), &hex);
    MSG wheel{w.List(), WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)),
              MAKELPARAM((hex.left + hex.right) / 2, (hex.top + hex.bottom) / 2), 0, {}};
    EXPECT_FALSE(w.window->PreTranslate(wheel));
    EXPECT_EQ(wheel.hwnd, w.window->ListBox1->Handle());

    const HWND status = w.window->StatusBar->Handle();
    const auto part = [&](int i) {
        wchar_t text[256] = {};
        SendMessageW(status, SB_GETTEXTW, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text));
        return Narrow(text);
    };
    EXPECT_EQ(SendMessageW(status, SB_GETPARTS, 0, 0), 4);
    EXPECT_NE(part(0).find(" bytes"), std::string::npos) << part(0);
    EXPECT_EQ(part(1).rfind("Page ", 0), 0u) << part(1);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(part(i), w.window->StatusBar->Text(static_cast<TStatusField>(i)));
    }
    // Each field as wide as its text, however long.
    w.window->StatusBar->SetText(TStatusField::Page, "Page 0x00000000006A9610 to 0x00000000006B0000 (99.9 % to 100.0 %)");
    const HDC dc = GetDC(status);
    const HGDIOBJ font = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(status, WM_GETFONT, 0, 0)));
    for (int i = 0; i < 3; ++i) {
        const std::wstring text = Widen(part(i));
        SIZE size{};
        GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
        RECT field{};
        SendMessageW(status, SB_GETRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&field));
        EXPECT_GE(field.right - field.left, size.cx) << part(i);
    }
    SelectObject(dc, font);
    ReleaseDC(status, dc);
}

// The hex view's own bar: its arrows, the page area and the wheel move the selected line
// and, at the edge of the lines shown, the lines through the file.
TEST(Win32Window, TheHexViewsScrollBar) {
    const std::string path = TestDataPath("aud_sei.264");
    const std::vector<std::uint8_t> file = ReadAll(path);
    ShownWindow w;
    w.window->OpenDropped({path});
    const int lines = static_cast<int>(w.HexLines().size());
    ASSERT_GT(lines, 2);
    const HWND bar = w.window->ScrollBar2->Handle();
    RECT r{};
    GetClientRect(bar, &r);
    const int arrow = GetSystemMetrics(SM_CYVSCROLL);
    struct Step {
        const char* what;
        std::function<void()> act;
        std::int64_t first; // the first line's offset afterwards
        int selected;       // the selected line afterwards
    };
    const Step steps[] = {
        {"down arrow", [&] { ShownWindow::Press(bar, {r.right / 2, r.bottom - arrow / 2}); }, 0, 0},
        {"below the thumb", [&] { ShownWindow::Press(bar, {r.right / 2, r.bottom - arrow - 2}); }, 0,
         lines - 1},
        {"wheel towards the user",
         [&] {
             SendMessageW(bar, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-WHEEL_DELTA)), 0);
             Pump();
         },
         16, lines - 1},
        {"up arrow", [&] { ShownWindow::Press(bar, {r.right / 2, arrow / 2}); }, 16, lines - 2},
    };
    for (const Step& s : steps) {
        s.act();
        ExpectHexLinesOfFile(w, file, s.first, s.what);
        EXPECT_EQ(SendMessageW(w.window->ListBox1->Handle(), LB_GETCURSEL, 0, 0), s.selected) << s.what;
    }
}

// The window's settings go to HKEY_CURRENT_USER\Software\Marvane\Quillet as REG_DWORD
// values and come back at the next start; HKEY_CURRENT_USER is the test's own key here.
TEST(Win32Window, SettingsInTheRegistry) {
    const TRedirectedUserKey redirected;
    TRegistrySettingsStore registry;
    {
        ShownWindow w(&registry, 0);
        w.window->SetBounds(150, 120, 900, 700);
        w.window->SetPanel2Width(520);
        w.window->ListView1->SetColumnWidth(0, 130);
        w.window->ListView1->SetColumnWidth(1, 90);
        w.window->ListView1->SetColumnWidth(2, 170);
        w.window->ListView1->SetColumnWidth(3, 250);
        SendMessageW(w.window->Handle(), WM_COMMAND, kIdCheckForUpdates, 0);
        SendMessageW(w.window->Handle(), WM_CLOSE, 0, 0);
    }
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Marvane\\Quillet", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    const std::pair<const wchar_t*, DWORD> expected[] = {
        {L"FormTop", 120}, {L"FormLeft", 150}, {L"FormHeight", 700}, {L"FormWidth", 900},
        {L"OffsetColWidth", 130}, {L"LenColWidth", 90}, {L"StartCodeColWidth", 170},
        {L"NALColWidth", 250}, {L"Panel2Width", 520}, {L"WindowState", 0}, {L"CheckForUpdates", 0},
    };
    for (const auto& [name, value] : expected) {
        DWORD type = 0;
        DWORD stored = 0;
        DWORD size = sizeof stored;
        EXPECT_EQ(RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&stored), &size), ERROR_SUCCESS) << Narrow(name);
        EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)) << Narrow(name);
        EXPECT_EQ(stored, value) << Narrow(name);
    }
    // A value of another type is skipped, and the next save puts a REG_DWORD in its place.
    const wchar_t text[] = L"640";
    RegSetValueExW(key, L"FormWidth", 0, REG_SZ, reinterpret_cast<const BYTE*>(text), sizeof text);
    {
        ShownWindow w(&registry, 0);
        EXPECT_EQ(w.window->Left(), 150);
        EXPECT_EQ(w.window->Height(), 700);
        EXPECT_NE(w.window->Width(), 640);
        EXPECT_EQ(w.window->Panel2Width(), 520);
        EXPECT_EQ(RectOf(w.window->ScrollBar1->Handle(), w.window->Handle()).right, 520);
        EXPECT_EQ(w.window->ListView1->ColumnWidth(1), 90);
        EXPECT_FALSE(GetMenuState(w.window->MainMenu1, kIdCheckForUpdates, MF_BYCOMMAND) & MF_CHECKED);
        EXPECT_FALSE(w.window->Form().Widgets.tmUpdate->Enabled());
        SendMessageW(w.window->Handle(), WM_CLOSE, 0, 0);
    }
    DWORD type = 0;
    RegQueryValueExW(key, L"FormWidth", nullptr, &type, nullptr, nullptr);
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    // A window saved maximised opens maximised.
    const DWORD maximised = 2;
    RegSetValueExW(key, L"WindowState", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&maximised), sizeof maximised);
    {
        ShownWindow w(&registry, 0);
        EXPECT_TRUE(IsZoomed(w.window->Handle()));
        EXPECT_EQ(w.window->State(), TWindowState::Maximized);
    }
    RegCloseKey(key);
}

// The keys the message loop takes before the controls: the menu's shortcuts and Tab.
TEST(Win32Window, ShortcutsAndTab) {
    ShownWindow w;
    const auto press = [&](HWND target, int key, bool control, bool shift = false) {
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_CONTROL] = control ? 0x80 : 0;
        keys[VK_SHIFT] = shift ? 0x80 : 0;
        SetKeyboardState(keys);
        MSG message{target, WM_KEYDOWN, static_cast<WPARAM>(key), 1, 0, {}};
        const bool taken = w.window->PreTranslate(message);
        keys[VK_CONTROL] = keys[VK_SHIFT] = 0;
        SetKeyboardState(keys);
        Pump();
        return taken;
    };
    EXPECT_FALSE(press(w.List(), 'O', false));
    EXPECT_EQ(w.dialogs.OpenCount, 0);
    EXPECT_TRUE(press(w.List(), 'O', true));
    EXPECT_EQ(w.dialogs.OpenCount, 1);
    const HWND order[] = {w.window->TreeView1->Handle(), w.window->ListBox1->Handle(), w.List()};
    for (const HWND next : order) {
        EXPECT_TRUE(press(GetFocus(), VK_TAB, false));
        EXPECT_EQ(GetFocus(), next);
    }
    EXPECT_TRUE(press(GetFocus(), VK_TAB, false, true));
    EXPECT_EQ(GetFocus(), w.window->ListBox1->Handle());
    EXPECT_TRUE(press(GetFocus(), 'Q', true));
    EXPECT_EQ(w.window->Handle(), nullptr);
}

std::string ClipboardText() {
    std::string text;
    if (OpenClipboard(nullptr)) {
        if (const HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            text = Narrow(static_cast<const wchar_t*>(GlobalLock(data)));
            GlobalUnlock(data);
        }
        CloseClipboard();
    }
    return text;
}

std::string WithCrLf(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\n') {
            out.push_back('\r');
        }
        out.push_back(c);
    }
    return out;
}

// Ctrl+C in a view copies what quillet-dump prints of it; File lists the recent files, and
// each opens its file.
TEST(Win32Window, CopyAndRecentFiles) {
    const std::string first = TestDataPath("slices4.264");
    const std::string second = TestDataPath("aud_sei.264");
    ShownWindow w;
    for (const std::string& path : {first, second}) {
        w.dialogs.ChosenFile = path;
        SendMessageW(w.window->Handle(), WM_COMMAND, kIdOpen, 0);
        Pump();
    }
    const auto copy = [&](HWND view) {
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_CONTROL] = 0x80;
        SetKeyboardState(keys);
        MSG message{view, WM_KEYDOWN, 'C', 1, 0, {}};
        EXPECT_TRUE(w.window->PreTranslate(message));
        keys[VK_CONTROL] = 0;
        SetKeyboardState(keys);
        return ClipboardText();
    };
    std::istringstream listing(Dump({"--info", second}));
    std::string line;
    std::getline(listing, line);
    EXPECT_EQ(copy(w.List()), WithCrLf(line + "\n"));
    const HWND tree = w.window->TreeView1->Handle();
    TreeView_SelectItem(tree, TreeView_GetRoot(tree));
    EXPECT_EQ(copy(tree), WithCrLf(Dump({"--at", "0", second})));

    // The hex view: a drag from byte 2 to byte 5 of the first line, then Shift+Right: the
    // bytes from 2 to 6, the others blank.
    const HWND hex = w.window->ListBox1->Handle();
    const auto xOf = [&](int ch) {
        int x = 0;
        while (w.window->ListBox1->PointerInput(TRangeInput::TKind::Drag, x, 0).Char < ch) {
            ++x;
        }
        return x + 1;
    };
    const int y = static_cast<int>(SendMessageW(hex, LB_GETITEMHEIGHT, 0, 0)) / 2;
    SendMessageW(hex, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(xOf(21 + 3 * 2), y));
    SendMessageW(hex, WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(xOf(71 + 5), y));
    SendMessageW(hex, WM_LBUTTONUP, 0, MAKELPARAM(xOf(71 + 5), y));
    const auto bytesOfLine = [&](int from, int to) {
        std::string shown = w.HexLines().at(0).substr(0, static_cast<std::size_t>(71 + to + 1));
        for (int p = 21; p < static_cast<int>(shown.size()); ++p) {
            if (!((p >= 21 + 3 * from && p < 21 + 3 * (to + 1)) || p >= 71 + from)) {
                shown[static_cast<std::size_t>(p)] = ' ';
            }
        }
        return WithCrLf(shown + "\n");
    };
    EXPECT_EQ(copy(hex), bytesOfLine(2, 5));
    BYTE keys[256] = {};
    GetKeyboardState(keys);
    keys[VK_SHIFT] = 0x80;
    SetKeyboardState(keys);
    SendMessageW(hex, WM_KEYDOWN, VK_RIGHT, 0);
    keys[VK_SHIFT] = 0;
    SetKeyboardState(keys);
    EXPECT_EQ(copy(hex), bytesOfLine(2, 6));

    HMENU file = GetSubMenu(w.window->MainMenu1, 0);
    const auto caption = [&](UINT id) {
        wchar_t text[512] = {};
        GetMenuStringW(file, id, text, 512, MF_BYCOMMAND);
        return Narrow(text);
    };
    EXPECT_EQ(caption(kIdRecentFile1), "&1 " + second);
    EXPECT_EQ(caption(kIdRecentFile1 + 1), "&2 " + first);
    EXPECT_EQ(GetMenuItemCount(file), 4 + 1 + 2); // Open, Close, the separators, Exit, the files
    SendMessageW(w.window->Handle(), WM_COMMAND, kIdRecentFile1 + 1, 0);
    EXPECT_EQ(w.window->Form().FileName, first);
    EXPECT_EQ(caption(kIdRecentFile1), "&1 " + first);
}

// Go to Offset (Ctrl+G), Find (Ctrl+F) with its search polled by the window's timer, and
// the Info column shown and hidden from the View menu.
TEST(Win32Window, GoFindAndTheInfoColumn) {
    const std::string path = TestDataPath("aud_sei.264");
    ShownWindow w;
    w.window->OpenDropped({path});
    const auto key = [&](int vk) {
        BYTE keys[256] = {};
        GetKeyboardState(keys);
        keys[VK_CONTROL] = 0x80;
        SetKeyboardState(keys);
        MSG message{w.List(), WM_KEYDOWN, static_cast<WPARAM>(vk), 1, 0, {}};
        EXPECT_TRUE(w.window->PreTranslate(message));
        keys[VK_CONTROL] = 0;
        SetKeyboardState(keys);
        Pump();
    };
    // 0x1000 lies in the unit at 3505, which runs to 4320.
    w.dialogs.TypedText = "0x1000";
    key('G');
    ASSERT_FALSE(w.Rows().empty());
    EXPECT_EQ(w.Rows().front(), 3505);
    EXPECT_EQ(w.Selected(), 0);

    w.dialogs.ChosenItem = "7"; // the next sequence parameter set, at 5470
    key('F');
    for (int i = 0; i < 500 && w.window->Form().Finding(); ++i) {
        Sleep(10);
        Pump();
    }
    EXPECT_FALSE(w.window->Form().Finding());
    ASSERT_GE(w.Selected(), 0);
    EXPECT_EQ(w.SelectedOffset(), 5470);

    const int info = w.window->ListView1->ColumnWidth(kInfoColumn);
    EXPECT_GT(info, 0);
    EXPECT_FALSE(w.Cell(0, kInfoColumn).empty());
    for (const bool shown : {false, true}) {
        SendMessageW(w.window->Handle(), WM_COMMAND, kIdUnitSummaryColumn, 0);
        EXPECT_EQ(SendMessageW(w.List(), LVM_GETCOLUMNWIDTH, kInfoColumn, 0), shown ? info : 0);
        EXPECT_EQ(w.window->ListView1->ColumnWidth(kInfoColumn), info);
        EXPECT_EQ((GetMenuState(w.window->MainMenu1, kIdUnitSummaryColumn, MF_BYCOMMAND) & MF_CHECKED) != 0, shown);
    }
}

// A first run on a 1024 x 768 screen: the columns fit the list, the Offset and Info columns
// wide enough for their common texts.
TEST(Win32Window, AFirstRunFitsTheColumnsToTheList) {
    FakeSettingsStore registry;
    FakeMonitors monitors;
    monitors.Areas = {{0, 0, 1024, 738}};
    ShownWindow w(&registry, 0, &monitors);
    const auto textWidth = [&](const wchar_t* text) {
        return static_cast<int>(
            SendMessageW(w.List(), LVM_GETSTRINGWIDTHW, 0, reinterpret_cast<LPARAM>(text)));
    };
    int columns = 0;
    for (int i = 0; i <= kInfoColumn; ++i) {
        columns += w.window->ListView1->ColumnWidth(i);
    }
    RECT list{};
    GetClientRect(w.List(), &list);
    EXPECT_LE(columns, list.right);
    EXPECT_GE(w.window->ListView1->ColumnWidth(0), textWidth(L"0x0000000000000000"));
    EXPECT_GE(w.window->ListView1->ColumnWidth(kInfoColumn),
              textWidth(L"B  frame_num 15  POC lsb 30  QP 51"));

    // A cut cell tells its whole text on hovering, a cell shown whole nothing; the tree's
    // own tooltips tell its cut lines.
    w.dialogs.ChosenFile = TestDataPath("aud_sei.264");
    SendMessageW(w.window->Handle(), WM_COMMAND, kIdOpen, 0);
    Pump();
    TReportRow row;
    w.window->Form().ListView1Data(1, row); // the sequence parameter set
    ASSERT_FALSE(row.SubItems[3].empty());
    RECT cell{};
    cell.top = kInfoColumn;
    cell.left = LVIR_LABEL;
    SendMessageW(w.List(), LVM_GETSUBITEMRECT, 1, reinterpret_cast<LPARAM>(&cell));
    const int x = cell.left + 4;
    const int y = (cell.top + cell.bottom) / 2;
    EXPECT_EQ(w.window->ListView1->CutTextAt(x, y), "");
    w.window->ListView1->SetColumnWidth(kInfoColumn, 30);
    EXPECT_EQ(w.window->ListView1->CutTextAt(x, y), row.SubItems[3]);
    EXPECT_NE(w.window->ListView1->CutTextTip(), nullptr);
    EXPECT_NE(TreeView_GetToolTips(w.window->TreeView1->Handle()), nullptr);
}

// View > Stream Summary walks the file in the background: the pane shows its figures and
// plot when the walk ends, and a click on the plot moves the page there.
TEST(Win32Window, TheStreamSummaryPane) {
    ShownWindow w;
    w.window->OpenDropped({TestDataPath("aud_sei.264")});
    TWin32SummaryPane& pane = *w.window->SummaryPane;
    const RECT listBefore = RectOf(w.List(), w.window->Handle());
    SendMessageW(w.window->Handle(), WM_COMMAND, kIdStreamSummary, 0);
    for (int i = 0; i < 500 && w.window->Form().Summarising(); ++i) {
        Sleep(10);
        Pump();
    }
    EXPECT_FALSE(w.window->Form().Summarising());
    EXPECT_TRUE(pane.PaneVisible());
    EXPECT_TRUE(IsWindowVisible(pane.PlotWindow()));
    EXPECT_FALSE(IsWindowVisible(pane.ProgressBar()));
    EXPECT_FALSE(WindowText(pane.Figures()).empty());
    EXPECT_LT(RectOf(w.List(), w.window->Handle()).bottom, listBefore.bottom);
    // A click at a bar lists the page from its access unit.
    RECT plot{};
    GetClientRect(pane.PlotWindow(), &plot);
    ASSERT_EQ(pane.Model().Columns().size(), 8u);
    const TPlotColumn fifth = pane.Model().Columns()[4];
    const LPARAM at = MAKELPARAM((fifth.Left + fifth.Right) / 2, plot.bottom / 2);
    SendMessageW(pane.PlotWindow(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageW(pane.PlotWindow(), WM_LBUTTONUP, 0, at);
    Pump();
    ASSERT_FALSE(w.Rows().empty());
    EXPECT_EQ(w.Rows().front(), fifth.Bar.LargestOffset);
    SendMessageW(w.window->Handle(), WM_COMMAND, kIdStreamSummary, 0);
    EXPECT_FALSE(pane.PaneVisible());
    EXPECT_EQ(RectOf(w.List(), w.window->Handle()).bottom, listBefore.bottom);
}

// The text and choice boxes, answered as a user would: typed into, then OK or Cancel.
std::wstring gBoxTitle;
std::wstring gBoxTyped;
bool gBoxCancel = false;

void CALLBACK AnswerBox(HWND, UINT, UINT_PTR id, DWORD) {
    const HWND box = FindWindowW(L"#32770", gBoxTitle.c_str());
    if (box == nullptr) {
        return;
    }
    KillTimer(nullptr, id);
    if (!gBoxTyped.empty()) {
        SetDlgItemTextW(box, 100, gBoxTyped.c_str());
    }
    SendMessageW(box, WM_COMMAND, gBoxCancel ? IDCANCEL : IDOK, 0);
}

TEST(Win32Dialogs, TextAndChoiceBoxes) {
    ShownWindow w;
    TWin32Dialogs dialogs(w.window->Handle());
    struct Case {
        const char* what;
        bool choose;
        const wchar_t* typed;
        bool cancel;
        std::optional<std::string> answer;
    };
    const Case cases[] = {
        {"the text given", false, L"", false, "0x10"},
        {"a text typed", false, L"4096", false, "4096"},
        {"cancelled", false, L"1", true, std::nullopt},
        {"the item given", true, L"", false, "Picture parameter set"},
        {"an item typed", true, L"sei:5", false, "sei:5"},
    };
    for (const Case& c : cases) {
        gBoxTitle = L"Box";
        gBoxTyped = c.typed;
        gBoxCancel = c.cancel;
        SetTimer(nullptr, 0, 20, AnswerBox);
        const std::optional<std::string> answer =
            c.choose ? dialogs.ChooseItem("Box", "Unit:", {"Sequence parameter set", "Picture parameter set"}, 1)
                     : dialogs.AskText("Box", "Offset:", "0x10");
        EXPECT_EQ(answer, c.answer) << c.what;
    }
}

TEST(Win32Window, ExitClosesTheWindowAndSavesTheSettings) {
    const TRedirectedUserKey redirected;
    TRegistrySettingsStore registry;
    ShownWindow w(&registry, 0);
    SendMessageW(w.window->Handle(), WM_COMMAND, kIdExit, 0);
    Pump();
    EXPECT_EQ(w.window->Handle(), nullptr);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Marvane\\Quillet", 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);
}

} // namespace
