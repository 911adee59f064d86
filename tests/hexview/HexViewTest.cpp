#include "hexview/HexViewUtils.h"
#include "hexview/StringUtils.h"

#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// A line list that can run a hook inside one of its operations: to throw there, or to
// deliver a notification at an awkward moment.
class HookedLineList : public FakeLineList {
  public:
    std::string HookIn;
    std::function<void()> Hook;

    void Clear() override {
        RunHook("Clear");
        FakeLineList::Clear();
    }
    void SetFont(const std::string& family, int pointSize) override {
        RunHook("SetFont");
        FakeLineList::SetFont(family, pointSize);
    }
    void SetFocus() override {
        RunHook("SetFocus");
        FakeLineList::SetFocus();
    }
    void SetSelectedIndex(int index) override {
        RunHook("SetSelectedIndex");
        FakeLineList::SetSelectedIndex(index);
    }

  private:
    void RunHook(const char* operation) {
        if (Hook && HookIn == operation) {
            Hook();
        }
    }
};

void Throw() {
    throw std::runtime_error("widget failure");
}

class HexViewTest : public ::testing::Test {
  protected:
    DebugCapture debug;
    TempDir dir;
    HookedLineList list;
    FakeScrollBar bar;
    std::unique_ptr<THexView> view = std::make_unique<THexView>();

    // Opens a file of size bytes (byte i is i mod 251) in a list that shows rows lines.
    void Open(std::int64_t size, int rows = 4) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = static_cast<std::uint8_t>(i % 251);
        }
        OpenPath(dir.Write("stream.264", bytes), rows);
    }
    void OpenPath(const std::string& path, int rows = 4) {
        list.SetVisibleLines(rows);
        ASSERT_EQ(view->Init(&list, &bar), kStatusOk);
        ASSERT_EQ(view->OpenFile(path), kStatusOk);
    }
    // File offset of line i, read back from its prefix; -1 when there is no such line.
    std::int64_t LineOffset(std::size_t i = 0) const {
        return i < list.Lines.size() ? std::stoll(list.Lines[i].substr(2, 16), nullptr, 16) : -1;
    }
};

TEST_F(HexViewTest, LinesCarryTheirOffsetPrefix) {
    auto bytes = std::vector<std::uint8_t>(0x20, 0x41);
    const auto example = Hex("00 00 00 01 67 64 00 28 AC 2B 40 50 1E D0 0F 12 61 62 63 64");
    bytes.insert(bytes.end(), example.begin(), example.end());
    OpenPath(dir.Write("example.264", bytes));
    ASSERT_EQ(list.Lines.size(), 4u);
    EXPECT_EQ(list.Lines[2], "0x0000000000000020   00 00 00 01 67 64 00 28 AC 2B 40 50 1E D0 0F 12 "
                             "  ....gd.(\xAC+@P.\xD0..");
    EXPECT_EQ(list.Lines[2].size(), 87u);
    EXPECT_EQ(list.Lines[3], "0x0000000000000030   61 62 63 64" + std::string(39, ' ') + "abcd");
}

TEST_F(HexViewTest, RefreshLimits) {
    const struct {
        const char* name;
        int rows; // the list's height when the refresh comes
        int lineHeight;
        std::int64_t offset;
        std::size_t lines;
        std::int64_t first;
        std::int64_t current;
        int thumb;
    } cases[] = {
        {"offset equal to the size is ignored", 2, 16, 0x2000, 4, 0x30, 0x35, 646},
        {"offset past the end is ignored", 2, 16, 0x7FFFFFFFFFFF, 4, 0x30, 0x35, 646},
        {"negative offset shows the current one", 2, 16, -1, 2, 0x30, 0x35, 646},
        {"last byte shows one line", 2, 16, 0x1FFF, 1, 0x1FF0, 0x1FFF, 99987},
        {"list too short for a line", 0, 16, 0x1000, 0, -1, 0x1000, 50000},
        {"list with no line height", 4, 0, 0x1000, 0, -1, 0x1000, 50000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Open(0x2000);
        view->RefreshFileData(0x35);
        list.SetVisibleLines(c.rows);
        list.ItemHeight = c.lineHeight;
        view->RefreshFileData(c.offset);
        EXPECT_EQ(list.Lines.size(), c.lines);
        EXPECT_EQ(LineOffset(0), c.first);
        EXPECT_EQ(view->CurrentPos(), c.current);
        EXPECT_EQ(bar.Pos, c.thumb);
    }
    EXPECT_TRUE(debug.Lines().empty());
}

TEST_F(HexViewTest, KeysMoveTheViewOnlyAtTheEdge) {
    const struct {
        const char* name;
        std::int64_t start;
        int selected;
        int key;
        std::int64_t current;
        std::int64_t first;
        int selectedAfter;
    } cases[] = {
        {"Up at the top", 0x235, 0, Key::Up, 0x225, 0x220, 0},
        {"Up at the top of the file", 0x5, 0, Key::Up, 0, 0, 0},
        {"Up inside", 0x235, 2, Key::Up, 0x235, 0x230, 1},
        {"Down at the bottom", 0x235, 3, Key::Down, 0x245, 0x240, 3},
        {"Down at the end of the file", 0xFFA, 0, Key::Down, 0xFFF, 0xFF0, 0},
        {"Down inside", 0x235, 1, Key::Down, 0x235, 0x230, 2},
        {"Page Up at the top", 0x235, 0, Key::PageUp, 0x1F5, 0x1F0, 0},
        {"Page Up at the top of the file", 0x25, 0, Key::PageUp, 0, 0, 0},
        {"Page Up inside", 0x235, 3, Key::PageUp, 0x235, 0x230, 0},
        {"Page Down at the bottom", 0x235, 3, Key::PageDown, 0x275, 0x270, 3},
        {"Page Down at the end of the file", 0xFD5, 2, Key::PageDown, 0xFFF, 0xFF0, 0},
        {"Page Down inside", 0x235, 0, Key::PageDown, 0x235, 0x230, 3},
        {"another key", 0x235, 3, 0x41, 0x235, 0x230, 3},
        {"Home", 0x235, 2, Key::Home, 0, 0, 0},
        {"End", 0x235, 1, Key::End, 0xFFF, 0xFF0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Open(0x1000);
        view->RefreshFileData(c.start);
        list.Selected = c.selected;
        list.PressKey(c.key);
        EXPECT_EQ(view->CurrentPos(), c.current);
        EXPECT_EQ(LineOffset(0), c.first);
        EXPECT_EQ(list.Selected, c.selectedAfter);
    }
    // End shows just the line of the last byte.
    EXPECT_EQ(list.Lines.size(), 1u);
}

TEST_F(HexViewTest, MovementMethodsReturnTheTruncatedScrollPosition) {
    using Method = int (THexView::*)();
    const struct {
        const char* name;
        Method method;
        std::int64_t start;
        int selected;
        std::int64_t current;
        int selectedAfter;
        int position;
    } cases[] = {
        {"line up at the top", &THexView::GoOneLineUp, 0x235, 0, 0x225, 0, 13403},
        {"line up at the top of the file", &THexView::GoOneLineUp, 0x5, 0, 0, 0, 0},
        {"line up inside", &THexView::GoOneLineUp, 0x235, 2, 0x235, 1, 13793},
        {"line down at the bottom", &THexView::GoOneLineDown, 0x235, 3, 0x245, 3, 14184},
        {"line down at the end of the file", &THexView::GoOneLineDown, 0xFFA, 0, 0xFFF, 0, 99975},
        {"line down inside", &THexView::GoOneLineDown, 0x235, 1, 0x235, 2, 13793},
        {"line down with no selection", &THexView::GoOneLineDown, 0x235, -1, 0x235, 0, 13793},
        {"page up at the top", &THexView::GoOnePageUp, 0x235, 0, 0x1F5, 0, 12231},
        {"page up inside", &THexView::GoOnePageUp, 0x235, 3, 0x235, 0, 13793},
        {"page down at the bottom", &THexView::GoOnePageDown, 0x235, 3, 0x275, 3, 15356},
        {"page down inside", &THexView::GoOnePageDown, 0x235, 0, 0x235, 3, 13793},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Open(0x1000);
        view->RefreshFileData(c.start);
        list.Selected = c.selected;
        const int focus = list.FocusCount;
        EXPECT_EQ(((*view).*c.method)(), c.position);
        EXPECT_EQ(view->CurrentPos(), c.current);
        EXPECT_EQ(list.Selected, c.selectedAfter);
        EXPECT_EQ(list.FocusCount, focus + 1);
    }
}

TEST_F(HexViewTest, ScrollCodesMoveLikeTheMethods) {
    const struct {
        ScrollCode code;
        int selected;
        std::int64_t current;
        int position;
    } cases[] = {
        {ScrollCode::LineUp, 0, 0x225, 13403},      {ScrollCode::LineDown, 3, 0x245, 14184},
        {ScrollCode::PageUp, 0, 0x1F5, 12231},      {ScrollCode::PageDown, 3, 0x275, 15356},
        {ScrollCode::ThumbReleased, 0, 0x235, 777}, {ScrollCode::Top, 0, 0x235, 777},
        {ScrollCode::Bottom, 0, 0x235, 777},        {ScrollCode::EndScroll, 0, 0x235, 777},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.code));
        Open(0x1000);
        view->RefreshFileData(0x235);
        list.Selected = c.selected;
        bar.Scroll(c.code, 777);
        EXPECT_EQ(view->CurrentPos(), c.current);
        EXPECT_EQ(bar.Pos, c.position);
    }
}

TEST_F(HexViewTest, DraggingTheThumbShowsItsShareOfTheFile) {
    const struct {
        int position;
        std::int64_t current;
        std::size_t lines;
    } cases[] = {{100000, 0xFFF, 1}, {50000, 0x800, 4}, {33333, 0x555, 4}, {0, 0, 4}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.position);
        Open(0x1000);
        bar.PositionHistory.clear();
        const int focus = list.FocusCount;
        bar.Scroll(ScrollCode::ThumbDragged, c.position);
        EXPECT_EQ(view->CurrentPos(), c.current);
        EXPECT_EQ(LineOffset(0), c.current & ~0xF);
        EXPECT_EQ(list.Lines.size(), c.lines);
        EXPECT_EQ(list.FocusCount, focus + 1);
        // Only the bar itself moved the thumb: it stays where the user holds it.
        EXPECT_EQ(bar.PositionHistory, std::vector<int>{c.position});
    }
}

TEST_F(HexViewTest, ScrollPositionIsTruncated) {
    const struct {
        std::int64_t size;
        std::int64_t offset;
        int position;
    } cases[] = {
        {4096, 0, 0}, {4096, 2048, 50000}, {3, 1, 33333}, {3, 2, 66666}, {4096, 4095, 99975}};
    for (const auto& c : cases) {
        Open(c.size);
        view->RefreshFileData(c.offset);
        EXPECT_EQ(bar.Pos, c.position) << c.offset << " of " << c.size;
    }
}

TEST_F(HexViewTest, DragGuardIgnoresNotificationsWhileTheViewMovesTheThumbOrFollowsADrag) {
    Open(0x1000);
    // A notification that arrives while the view follows a drag.
    list.HookIn = "Clear";
    list.Hook = [&] {
        int position = 0;
        bar.OnScroll(ScrollCode::PageDown, position);
    };
    const int focus = list.FocusCount;
    bar.Scroll(ScrollCode::ThumbDragged, 50000);
    EXPECT_EQ(view->CurrentPos(), 0x800);
    EXPECT_EQ(list.FocusCount, focus + 1); // the drag's own, and no page move's
    list.Hook = nullptr;

    // A failure in the middle of a drag still lets the next one through.
    list.Hook = Throw;
    bar.Scroll(ScrollCode::ThumbDragged, 25000);
    EXPECT_EQ(debug.Lines(),
              std::vector<std::string>{"kvo: Error in THexView.RefreshFileData call..."});
    list.Hook = nullptr;
    bar.Scroll(ScrollCode::ThumbDragged, 75000);
    EXPECT_EQ(view->CurrentPos(), 0xC00);
    EXPECT_EQ(LineOffset(0), 0xC00);
}

TEST_F(HexViewTest, ThumbMovesOfItsOwnAreNotTakenForTheUsers) {
    // A bar that reports the positions the program sets, as some toolkits do.
    class EchoingBar : public FakeScrollBar {
      public:
        void SetPosition(int position) override {
            FakeScrollBar::SetPosition(position);
            if (OnScroll) {
                OnScroll(ScrollCode::LineDown, position);
            }
        }
    } echoing;
    THexView own;
    list.SetVisibleLines(4);
    ASSERT_EQ(own.Init(&list, &echoing), kStatusOk);
    ASSERT_EQ(own.OpenFile(dir.Write("s.264", std::vector<std::uint8_t>(0x1000))), kStatusOk);
    own.RefreshFileData(0x235);
    EXPECT_EQ(own.CurrentPos(), 0x235);
    EXPECT_EQ(list.Selected, -1);
    EXPECT_EQ(echoing.Pos, 13793);
}

TEST_F(HexViewTest, FailuresAreReportedAndSwallowed) {
    const struct {
        const char* hookIn;
        std::function<void()> action;
        const char* line;
    } cases[] = {
        {"SetFont", [&] { EXPECT_EQ(view->Init(&list, &bar), kStatusFail); },
         "kvo: Error in THexView.Init call..."},
        {"Clear", [&] { EXPECT_EQ(view->CloseFile(), kStatusFail); },
         "kvo: Error in THexView.CloseFile call..."},
        {"Clear",
         [&] {
             view->RefreshFileData(0x800);
             EXPECT_EQ(view->CurrentPos(), 0x35);
         },
         "kvo: Error in THexView.RefreshFileData call..."},
        {"SetSelectedIndex", [&] { view->FListBoxKeyDown(Key::End); },
         "kvo: Error in THexView.FListBoxKeyDown call..."},
        // The thumb stays where it was.
        {"SetFocus", [&] { EXPECT_EQ(view->GoOnePageDown(), 646); },
         "kvo: Error in THexView.GoOnePageDown call..."},
        {"SetFocus", [&] { bar.Scroll(ScrollCode::ThumbDragged, 0); },
         "kvo: Error in THexView.CustomScrollEvent call..."},
    };
    for (const auto& c : cases) {
        Open(0x2000);
        view->RefreshFileData(0x35);
        debug.Clear();
        list.HookIn = c.hookIn;
        list.Hook = Throw;
        c.action();
        list.Hook = nullptr;
        EXPECT_EQ(debug.Lines(), std::vector<std::string>{c.line});
    }
}

TEST_F(HexViewTest, MissingOrEmptyFileLeavesNothingToShow) {
    Open(0x100);
    view->RefreshFileData(0x80);
    EXPECT_EQ(view->OpenFile((dir.Path() / "missing.264").string()), kStatusOk);
    EXPECT_FALSE(view->IsFileOpen());
    EXPECT_TRUE(list.Lines.empty());
    OpenPath(dir.Write("empty.264", {}));
    EXPECT_TRUE(view->IsFileOpen());
    for (const bool open : {true, false}) {
        for (const int key : {Key::End, Key::Down, Key::PageDown, Key::Home, Key::Up}) {
            list.PressKey(key);
        }
        for (const auto code :
             {ScrollCode::ThumbDragged, ScrollCode::LineDown, ScrollCode::PageUp}) {
            bar.Scroll(code, 100000);
        }
        view->RefreshFileData(-1);
        EXPECT_TRUE(list.Lines.empty());
        EXPECT_EQ(view->CurrentPos(), 0);
        if (open) {
            EXPECT_EQ(view->CloseFile(), kStatusOk);
        }
    }
    EXPECT_TRUE(debug.Lines().empty());
}

TEST_F(HexViewTest, ATallListShowsAtMostTheReadBuffer) {
    Open(20000, 1000);
    ASSERT_EQ(list.Lines.size(), 640u);
    EXPECT_EQ(LineOffset(639), 639 * 16);
    list.Selected = 639;
    list.PressKey(Key::PageDown);
    EXPECT_EQ(view->CurrentPos(), 640 * 16);
    EXPECT_EQ(list.Lines.size(), 610u);
}

TEST_F(HexViewTest, NoNotificationReachesADestroyedView) {
    Open(0x1000);
    view.reset();
    EXPECT_FALSE(list.OnKeyDown);
    EXPECT_FALSE(bar.OnScroll);

    // The next view takes over, whichever of the two steps comes first.
    for (const bool destroyFirst : {true, false}) {
        auto next = std::make_unique<THexView>();
        auto previous = std::make_unique<THexView>();
        ASSERT_EQ(previous->Init(&list, &bar), kStatusOk);
        if (destroyFirst) {
            previous.reset();
        }
        ASSERT_EQ(next->Init(&list, &bar), kStatusOk);
        ASSERT_EQ(next->OpenFile(dir.Write("s.264", std::vector<std::uint8_t>(0x1000))), kStatusOk);
        previous.reset();
        list.PressKey(Key::End);
        EXPECT_EQ(next->CurrentPos(), 0xFFF);
        bar.Scroll(ScrollCode::ThumbDragged, 50000);
        EXPECT_EQ(next->CurrentPos(), 0x800);
    }
}

TEST_F(HexViewTest, OffsetsPast4GiB) {
    const std::int64_t size = 0x140000025; // 5 GiB and 37 bytes, sparse
    const std::string path = dir.Write("big.264", {});
    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(size));
    {
        std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
        out.seekp(size - 5);
        out.write("H264\n", 5);
        ASSERT_TRUE(out.good());
    }
    OpenPath(path);
    view->RefreshFileData(0x100000005);
    std::string zeros;
    for (int i = 0; i < 16; ++i) {
        zeros += "00 ";
    }
    EXPECT_EQ(list.Lines[0], "0x0000000100000000   " + zeros + "  " + std::string(16, '.'));
    EXPECT_EQ(LineOffset(3), 0x100000030);
    EXPECT_EQ(bar.Pos, 79999);

    const std::string last = "0x0000000140000020   48 32 36 34 0A" + std::string(36, ' ') + "H264.";
    list.PressKey(Key::End);
    EXPECT_EQ(list.Lines, std::vector<std::string>{last});
    view->RefreshFileData(size / 2);
    EXPECT_EQ(bar.Pos, 49999);
    view->RefreshFileData((size + 1) / 2);
    EXPECT_EQ(bar.Pos, 50000);
    bar.Scroll(ScrollCode::ThumbDragged, 100000);
    EXPECT_EQ(list.Lines, std::vector<std::string>{last});
    EXPECT_EQ(view->CurrentPos(), size - 1);
}

} // namespace

namespace {

// The bytes a copied range names, read back from its lines' offsets and digit pairs.
std::map<std::int64_t, int> BytesOfCopy(const std::string& text) {
    std::map<std::int64_t, int> bytes;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const std::int64_t at = std::stoll(line.substr(2, 16), nullptr, 16);
        for (int i = 0; i < kHexBytesPerLine && 21 + 3 * i + 1 < static_cast<int>(line.size());
             ++i) {
            const std::string pair = line.substr(static_cast<std::size_t>(21 + 3 * i), 2);
            if (pair != "  ") {
                bytes[at + i] = std::stoi(pair, nullptr, 16);
            }
        }
    }
    return bytes;
}

} // namespace

// Each step of the keys and the mouse against the range it leaves, [first, end); the copy of
// every range read back gives exactly the file's bytes there (byte i is i mod 251). A line
// holds the digits from character 21 and the text from 71.
TEST_F(HexViewTest, ShiftKeysAndTheMouseSelectARangeThatCopiesAsTheFileHoldsIt) {
    Open(1000, 4);
    using K = TRangeInput::TKind;
    const struct {
        TRangeInput Input;
        std::int64_t First, End; // End == First: no range
    } steps[] = {
        {{K::Key, Key::Right}, 0, 1},
        {{K::Key, Key::Down}, 0, 17},
        {{K::Key, Key::PageDown}, 0, 81},
        {{K::Key, Key::Left}, 0, 80},
        {{K::Key, Key::Home}, 0, 0},
        {{K::Key, Key::End}, 0, 1000},                   // shows lines 944 to 992
        {{K::Press, 0, 1, 21 + 3 * 5}, 965, 965},        // pressed on 965's digits
        {{K::Drag, 0, 2, 71 + 2}, 965, 979},             // dragged to 978's character
        {{K::Drag, 0, 0, 0}, 944, 966},                  // back over the offset column of 944
        {{K::Press, 0, 3, 21 + 3 * 7, true}, 965, 1000}, // Shift: from 965 to 999
        {{K::Key, Key::Up}, 965, 984},
    };
    for (const auto& step : steps) {
        list.OnRange(step.Input);
        SCOPED_TRACE(step.First);
        ASSERT_EQ(view->HasRange(), step.First != step.End);
        if (step.First == step.End) {
            continue;
        }
        EXPECT_EQ(view->RangeFirst(), step.First);
        EXPECT_EQ(view->RangeEnd(), step.End);
        std::string text;
        std::string reason;
        ASSERT_TRUE(view->RangeText(text, reason)) << reason;
        const auto bytes = BytesOfCopy(text);
        ASSERT_EQ(static_cast<std::int64_t>(bytes.size()), step.End - step.First);
        for (const auto& [offset, value] : bytes) {
            ASSERT_TRUE(offset >= step.First && offset < step.End) << offset;
            ASSERT_EQ(value, offset % 251) << offset;
        }
        EXPECT_FALSE(list.Marks.empty());
    }
    // A move without Shift ends it.
    list.PressKey(Key::Down);
    EXPECT_FALSE(view->HasRange());
    EXPECT_TRUE(list.Marks.empty());
}

TEST_F(HexViewTest, ACopyOverTheLimitIsRefusedWithItsSize) {
    Open(kHexCopyLimit + 100, 4);
    list.OnRange({TRangeInput::TKind::Key, Key::End});
    std::string text;
    std::string reason;
    EXPECT_FALSE(view->RangeText(text, reason));
    EXPECT_NE(reason.find(std::to_string(kHexCopyLimit + 100)), std::string::npos) << reason;
}
