// The main window's logic driven through the fakes as the widgets would drive it: startup
// and shutdown, opening, dropping and closing files, and the NAL list's navigation over
// real streams, checked against their independent listings in tests/data.

#include "app/Unit1.h"
#include "support/FakeWindow.h"
#include "support/SparseFiles.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

// How the platform words a file that is not there.
std::string MissingFileReason() {
#ifdef _WIN32
    return std::system_category().message(2); // ERROR_FILE_NOT_FOUND
#else
    return std::strerror(ENOENT);
#endif
}

constexpr std::int64_t MiB = 1 << 20;

struct Unit {
    std::int64_t Offset;
    std::int64_t Len;
    bool operator==(const Unit&) const = default;
};

// The independent listing of a test stream: offset, length, start code length, type.
std::vector<Unit> Listing(const std::string& name) {
    std::ifstream in(TestDataPath(name + ".nals"));
    std::vector<Unit> units;
    std::int64_t offset = 0;
    std::int32_t len = 0;
    int startCode = 0;
    int type = 0;
    while (in >> offset >> len >> startCode >> type) {
        units.push_back({offset, len});
    }
    return units;
}

struct Window : TFakeWindow {
    explicit Window(int rows = 8, void (*without)(TForm1Widgets&) = nullptr)
        : TFakeWindow(rows, 12, without) {}
    std::vector<Unit> Rows() {
        std::vector<Unit> rows;
        for (int i = 0; i < list.Count; ++i) {
            const TReportRow row = Row(i);
            rows.push_back(
                {std::stoll(row.Caption.substr(2), nullptr, 16), std::stoll(row.SubItems[0])});
        }
        return rows;
    }
    std::string FirstTreeLines(int count) {
        std::string text;
        tree.Walk([&](const TSyntaxLine& line, int) {
            if (count-- > 0) {
                text += line.Text + "|";
            }
        });
        return text;
    }
    void Drop(FakeDroppedFiles& files) {
        TMessage message{kWmDropFiles, &files};
        list.Send(message);
    }
};

std::vector<Unit> Slice(const std::vector<Unit>& all, std::size_t first, std::size_t rows) {
    const std::size_t end = std::min(all.size(), first + rows);
    return {all.begin() + static_cast<std::ptrdiff_t>(first),
            all.begin() + static_cast<std::ptrdiff_t>(end)};
}

TEST(Form1Shell, StartupStepsRunInOrderAndAFailureLeavesTheLaterOnesUndone) {
    struct Case {
        const char* name;
        void (*without)(TForm1Widgets&);
        bool readerMade, barHooked, listWrapped, dropsAccepted, marked, timerOn;
    };
    const Case cases[] = {
        {"every widget there", nullptr, true, true, true, true, true, true},
        {"no window scroll bar (step 5)", [](TForm1Widgets& w) { w.ScrollBar1 = nullptr; }, true,
         false, false, false, false, false},
        {"no list (step 6)", [](TForm1Widgets& w) { w.ListView1 = nullptr; }, true, true, false,
         false, false, false},
        {"no menu item (step 9)", [](TForm1Widgets& w) { w.CheckForUpdates1 = nullptr; }, true,
         true, true, true, false, false},
    };
    for (const auto& c : cases) {
        DebugCapture debug;
        Window w(8, c.without);
        EXPECT_EQ(w.main.Text, "Quillet") << c.name;
        EXPECT_EQ(w.form->BitStream != nullptr, c.readerMade) << c.name;
        EXPECT_EQ(static_cast<bool>(w.bar1.OnMouseDown), c.barHooked) << c.name;
        EXPECT_EQ(static_cast<bool>(w.form->SavedListWindowProc), c.listWrapped) << c.name;
        EXPECT_EQ(w.list.AcceptDrops, c.dropsAccepted) << c.name;
        EXPECT_EQ(w.check.Mark, c.marked) << c.name;
        EXPECT_EQ(w.timer.On, c.timerOn) << c.name;
        const bool failed = c.without != nullptr;
        EXPECT_EQ(debug.Lines(),
                  failed ? std::vector<std::string>{"kvo: Error in TForm1.FormShow call..."}
                         : std::vector<std::string>{})
            << c.name;
    }
}

TEST(Form1Shell, ShutdownPutsTheListBackAndReleasesEverything) {
    TempDir dir;
    Window w;
    ASSERT_TRUE(w.form->LoadFile(TestDataPath("aud_sei.264")));
    w.form->FormClose();
    EXPECT_FALSE(w.list.AcceptDrops);
    EXPECT_EQ(w.form->Stream, nullptr);
    EXPECT_EQ(w.form->TableLock, nullptr);
    EXPECT_EQ(w.form->BitStream, nullptr);
    EXPECT_EQ(w.form->HexView, nullptr);
    // The list's own routine is in place again: a drop no longer reaches the window.
    FakeDroppedFiles files({TestDataPath("main_cabac.264")});
    w.Drop(files);
    EXPECT_EQ(w.list.OwnMessages, std::vector<unsigned>{kWmDropFiles});
    EXPECT_EQ(files.FinishCount, 0);
    EXPECT_EQ(w.form->FileName, TestDataPath("aud_sei.264")); // shutdown does not clear it
    w.form->RefreshPosition(0);                               // no lock any more: nothing happens
}

TEST(Form1Shell, OpenDropAndCloseOutcomes) {
    TempDir dir;
    const std::string good = TestDataPath("aud_sei.264");
    const std::string other = TestDataPath("main_cabac.264");
    const std::string bad = dir.Write("bad.264", Hex("00 00 01 85 00 00 01 09 10 00"));
    const std::string missing = (dir.Path() / "missing.264").string();
    struct Case {
        const char* name;
        std::function<void(Window&)> act;
        std::string loaded; // empty: no file loaded
        std::vector<std::string> warnings;
    };
    const std::string badReason =
        "the NAL unit header at offset 0x0000000000000003 has its forbidden_zero_bit set";
    const std::vector<Case> cases = {
        {"open a stream",
         [&](Window& w) {
             w.dialogs.ChosenFile = good;
             w.form->Open1Click();
         },
         good,
         {}},
        {"cancel the dialog", [&](Window& w) { w.form->Open1Click(); }, "", {}},
        {"open a missing file",
         [&](Window& w) {
             w.dialogs.ChosenFile = missing;
             w.form->Open1Click();
         },
         "",
         {}},
        {"open an invalid file after a good one: the good one stays",
         [&](Window& w) {
             w.form->LoadFile(good);
             w.dialogs.ChosenFile = bad;
             w.form->Open1Click();
         },
         good,
         {NotValidStreamText(bad, badReason)}},
        {"drop three, the second good, the third missing",
         [&](Window& w) {
             FakeDroppedFiles files({other, good, missing});
             w.Drop(files);
             EXPECT_EQ(files.FinishCount, 1);
         },
         good,
         {}},
        {"drop two, the last invalid: the first stays",
         [&](Window& w) {
             FakeDroppedFiles files({good, bad});
             w.Drop(files);
         },
         good,
         {NotValidStreamText(bad, badReason)}},
        {"the command line: a missing file and an invalid one are named together",
         [&](Window& w) {
             w.form->OpenCommandLine({missing, good, bad});
         },
         good,
         {NotValidStreamText(missing, "cannot be read: " + MissingFileReason()) + "\n\n" + bad +
          "\n" + badReason}},
#ifndef _WIN32
        {"open a pipe",
         [&](Window& w) {
             const std::string fifo = (dir.Path() / "fifo.264").string();
             ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
             w.dialogs.ChosenFile = fifo;
             w.form->Open1Click();
             EXPECT_EQ(w.dialogs.Warnings.at(0).second,
                       NotValidStreamText(fifo, "not a regular file: Quillet needs a file it can "
                                                "read at any offset"));
             w.dialogs.Warnings.clear();
         },
         "",
         {}},
#endif
        {"close",
         [&](Window& w) {
             w.form->LoadFile(good);
             w.form->Close1Click();
             EXPECT_FALSE(w.form->HexView->IsFileOpen());
         },
         "",
         {}},
    };
    for (const auto& c : cases) {
        Window w;
        c.act(w);
        EXPECT_EQ(w.form->FileName, c.loaded) << c.name;
        EXPECT_EQ(w.main.Text, c.loaded.empty() ? "Quillet" : "Quillet(" + c.loaded + ")")
            << c.name;
        std::vector<std::string> warnings;
        for (const auto& [title, text] : w.dialogs.Warnings) {
            EXPECT_EQ(title, "Quillet");
            warnings.push_back(text);
        }
        EXPECT_EQ(warnings, c.warnings) << c.name;
        EXPECT_TRUE(w.dialogs.Messages.empty()) << c.name;
        EXPECT_FALSE(w.cursor.Busy) << c.name;
        if (c.loaded.empty()) {
            EXPECT_EQ(w.form->Stream, nullptr) << c.name;
            EXPECT_EQ(w.list.Count, 0) << c.name;
            EXPECT_TRUE(w.tree.Roots().empty()) << c.name;
            EXPECT_TRUE(w.hex.Lines.empty()) << c.name;
        } else {
            // Row 0 is selected and shown, the hex view is on the file.
            EXPECT_EQ(w.list.Selected, 0) << c.name;
            EXPECT_EQ(w.Rows(), Slice(Listing("aud_sei"), 0, 8)) << c.name;
            EXPECT_EQ(w.FirstTreeLines(4).substr(0, 4), "NAL|") << c.name;
            ASSERT_FALSE(w.hex.Lines.empty()) << c.name;
            EXPECT_EQ(w.hex.Lines[0].substr(0, 18), "0x0000000000000000") << c.name;
        }
    }
}

TEST(Form1Shell, AboutBoxAndExit) {
    Window w;
    w.form->About1Click();
    ASSERT_EQ(w.dialogs.Informations.size(), 1u);
    EXPECT_EQ(w.dialogs.Informations[0].first, "Quillet");
    EXPECT_EQ(w.dialogs.Informations[0].second.rfind("Quillet\rVersion 2.0\r", 0), 0u);
    EXPECT_EQ(w.dialogs.Informations[0].second.find('\n'), std::string::npos);
    w.form->Exit1Click();
    EXPECT_EQ(w.main.CloseCount, 1);
}

// Keys and bar presses from a freshly loaded aud_sei.264 (38 units, 8 rows a page).
TEST(Form1Navigation, KeysAndBarMoveThroughTheWholeFile) {
    const std::vector<Unit> all = Listing("aud_sei");
    ASSERT_EQ(all.size(), 38u);
    enum Kind { K, Bar, BarBy };
    struct Step {
        Kind kind;
        int value; // a key; an absolute bar position; a bar step from where it is
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::size_t first; // index of the unit in the top row afterwards
        std::size_t rows;
        int selected;
        std::vector<std::string> trace;
    };
    const auto keys = [](std::initializer_list<int> ks) {
        std::vector<Step> steps;
        for (int k : ks) {
            steps.push_back({K, k});
        }
        return steps;
    };
    using namespace Key;
    const std::vector<Case> cases = {
        {"Down inside the page moves the selection only", keys({Down}), 0, 8, 1, {}},
        {"Down on the last row moves by one unit",
         keys({Down, Down, Down, Down, Down, Down, Down, Down}),
         1,
         8,
         7,
         {}},
        {"Up on the top row moves back by one",
         keys({Down, Down, Down, Down, Down, Down, Down, Down, Up, Up, Up, Up, Up, Up, Up, Up}),
         0,
         8,
         0,
         {}},
        {"Up on the top row at the start lists the same page", keys({Up}), 0, 8, 0, {}},
        {"Page Down", keys({PageDown}), 8, 8, 7, {}},
        {"Up below the top row moves the selection only", keys({PageDown, Up}), 8, 8, 6, {}},
        {"Page Down, Page Up", keys({PageDown, PageUp}), 0, 8, 0, {}},
        {"Page Up near the start lists from the first unit",
         keys({Down, Down, Down, Down, Down, Down, Down, Down, PageUp}),
         0,
         8,
         0,
         {}},
        {"End", keys({End}), 30, 8, 7, {}},
        {"End, Home", keys({End, Home}), 0, 8, 0, {}},
        {"Page Down at the end keeps the window", keys({End, PageDown}), 30, 8, 7, {}},
        {"Down past the end leaves a page that is not full", keys({End, Down}), 31, 7, 0, {}},
        // The selected row fell off the shorter page, so the list's own Down took row 0.
        {"then Down on its last row does nothing",
         keys({End, Down, Down, Down, Down, Down, Down, Down, Down}),
         31,
         7,
         6,
         {}},
        {"bar down arrow", {{BarBy, 1}}, 1, 8, 0, {"one down"}},
        {"bar page area below the thumb", {{BarBy, 10}}, 8, 8, 0, {"page down"}},
        {"bar up arrow", {{K, PageDown}, {BarBy, -1}}, 7, 8, 7, {"one up"}},
        {"bar page area above the thumb", {{K, End}, {BarBy, -10}}, 22, 8, 7, {"page up"}},
        {"thumb to the middle", {{Bar, 50}}, 19, 8, 0, {}},
        {"thumb to the end", {{Bar, 107}}, 37, 1, 0, {}},
        {"press on the thumb without moving it", {{K, PageDown}, {BarBy, 0}}, 8, 8, 0, {}},
        // A press that cannot move keeps the row the user had.
        {"bar down arrow at the end", {{K, End}, {K, Down}, {BarBy, 1}}, 31, 7, 0, {}},
    };
    for (const auto& c : cases) {
        Window w;
        ASSERT_TRUE(w.form->LoadFile(TestDataPath("aud_sei.264")));
        DebugCapture debug;
        for (const Step& s : c.steps) {
            if (s.kind == K) {
                w.list.PressKey(s.value);
            } else {
                w.bar1.PressTo(s.kind == Bar ? s.value : w.bar1.Pos + s.value);
            }
        }
        EXPECT_EQ(w.Rows(), Slice(all, c.first, c.rows)) << c.name;
        EXPECT_EQ(w.list.Selected, c.selected) << c.name;
        std::vector<std::string> trace;
        for (const auto& line : debug.Lines()) {
            if (line.rfind("kvo: WARNING", 0) != 0) { // from the high-profile SPS
                trace.push_back(line);
            }
        }
        EXPECT_EQ(trace, c.trace) << c.name;
        EXPECT_EQ(w.bar1.Pos, w.form->LastScrollPosition) << c.name;
        EXPECT_FALSE(w.cursor.Busy) << c.name;
        if (c.selected >= 0) {
            // The selected row is the one in the tree and the hex view.
            const Unit shown = all[c.first + static_cast<std::size_t>(c.selected)];
            EXPECT_EQ(w.form->HexView->CurrentPos(), shown.Offset) << c.name;
        } else {
            EXPECT_TRUE(w.hex.Lines.empty()) << c.name;
        }
        // A resize lists the page the user is looking at.
        w.list.Rows = 3;
        w.form->FormResize();
        EXPECT_EQ(w.Rows(), Slice(all, c.first, std::min<std::size_t>(c.rows, 3))) << c.name;
    }
}

// A unit longer than the 2 MiB a key searches: the keys stop at it, the bar steps over it.
TEST(Form1Navigation, AUnitLongerThanTheSearch) {
    std::vector<std::uint8_t> bytes = Hex("00 00 00 01 67 42 00 1E AB CD 00 00 01 68 CE 38 80");
    const std::int64_t idr = static_cast<std::int64_t>(bytes.size());
    const std::vector<std::uint8_t> head = Hex("00 00 01 65 88 84");
    bytes.insert(bytes.end(), head.begin(), head.end());
    std::mt19937 random(7);
    while (static_cast<std::int64_t>(bytes.size()) < idr + 3 * MiB) {
        bytes.push_back(static_cast<std::uint8_t>(1 + random() % 255));
    }
    std::vector<std::int64_t> offsets = {0, 10, idr};
    for (int i = 0; i < 3; ++i) {
        offsets.push_back(static_cast<std::int64_t>(bytes.size()));
        const std::vector<std::uint8_t> aud = Hex("00 00 01 09 F0");
        bytes.insert(bytes.end(), aud.begin(), aud.end());
    }
    TempDir dir;
    Window w(3);
    ASSERT_TRUE(w.form->LoadFile(dir.Write("long.264", bytes)));
    const auto firstRow = [&] { return w.Rows().at(0).Offset; };
    for (int i = 0; i < 4; ++i) {
        w.list.PressKey(Key::Down);
    }
    EXPECT_EQ(firstRow(), idr) << "Down stops at the long unit";
    EXPECT_EQ(w.Rows().at(0).Len, offsets[3] - idr);
    w.form->UpdatePack(idr);
    EXPECT_NE(w.FirstTreeLines(5).find("slice_layer_without_partitioning_rbsp( )"),
              std::string::npos);
    w.bar1.PressTo(w.bar1.Pos + 1);
    EXPECT_EQ(firstRow(), offsets[3]) << "the bar's step scans past it";
}

// Down and Page Down when the next start code lies right behind a bare start code and
// header: the window moves on to it as to any other unit.
TEST(Form1Navigation, BareStartCodeRows) {
    TempDir dir;
    const std::string path = dir.Write(
        "bare.264", Hex("00 00 01 67 00 00 01 68 CE 00 00 01 09 F0 00 00 01 0C 00 00 01 65 88"));
    struct Case {
        int rows;
        std::vector<int> keys;
        std::int64_t first;
    };
    const Case cases[] = {{2, {Key::Down, Key::Down}, 4}, {1, {Key::PageDown}, 4}};
    for (const auto& c : cases) {
        Window w(c.rows);
        ASSERT_TRUE(w.form->LoadFile(path));
        for (int key : c.keys) {
            w.list.PressKey(key);
        }
        EXPECT_EQ(w.Rows().at(0).Offset, c.first) << c.rows;
    }
}

// A start code with no byte of its own after it reads as the command line lists it.
TEST(Form1Navigation, RowsWithoutAHeaderByte) {
    TempDir dir;
    Window w(4);
    ASSERT_TRUE(w.form->LoadFile(
        dir.Write("h.264", Hex("00 00 01 00 00 01 68 CE 00 00 01 68 CE 00 00 01"))));
    ASSERT_EQ(w.list.Count, 4);
    const std::vector<std::vector<std::string>> expected = {
        {"3", "0x00000100", "(no header)"},
        {"5", "0x00000168", "Picture parameter set"},
        {"5", "0x00000168", "Picture parameter set"},
        {"3", "0x00000100", "(no header)"}};
    for (int i = 0; i < 4; ++i) {
        const TReportRow row = w.Row(i);
        EXPECT_EQ((std::vector<std::string>{row.SubItems[0], row.SubItems[1], row.SubItems[2]}),
                  expected[static_cast<std::size_t>(i)])
            << i;
    }
}

// Files beyond 2^31 x 100 bytes: the bar's unit grows so that its maximum stays a 32-bit
// position, and the thumb and End still reach the last units.
// While the thumb is dragged the status bar says where the page would start; letting it go
// lists from there and the note gives way to the page.
TEST(Form1Navigation, TheDraggedThumbSaysWhereThePageWouldStart) {
    Window w;
    ASSERT_TRUE(w.form->LoadFile(TestDataPath("aud_sei.264")));
    w.bar1.Scroll(ScrollCode::ThumbDragged, 54);
    EXPECT_EQ(w.form->NavigationNote,
              "Thumb at 0x0000000000001518 (49.8 %): the page starts at the first unit from there");
    w.bar1.PressTo(54);
    EXPECT_EQ(w.form->NavigationNote, "");
    EXPECT_GE(w.Rows().front().Offset, 5400);
}

TEST(Form1Navigation, SparseFilesBeyondTheBarsRange) {
    const std::vector<std::uint8_t> head =
        Hex("00 00 00 01 67 42 00 1E AB CD 00 00 01 68 CE 38 80");
    const std::vector<std::uint8_t> tail = Hex("00 00 00 01 09 10 00 00 01 65 88 84 21 77");
    struct Case {
        std::int64_t size;
        std::int64_t unit;
    };
    constexpr std::int64_t kLimit = std::int64_t{1} << 31;
    const Case cases[] = {
        {kLimit * 100 + 99, 100},
        {kLimit * 100 + 100, 101},
        {300'000'000'000, 140},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = dir.Write("huge.264", head);
        const std::int64_t tailAt = c.size - 150;
        // Sparse first: Windows would otherwise fill the gap before the tail with zeros.
        ResizeSparse(path, c.size);
        {
            std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(tailAt);
            f.write(reinterpret_cast<const char*>(tail.data()),
                    static_cast<std::streamsize>(tail.size()));
        }
        if (!ReportsHoles(path, std::int64_t{1} << 20)) {
            GTEST_SKIP() << "the file system does not report the holes of a sparse file";
        }
        Window w(4);
        ASSERT_TRUE(w.form->LoadFile(path)) << c.size;
        EXPECT_EQ(w.form->ScrollUnit, c.unit) << c.size;
        EXPECT_EQ(w.bar1.Max, static_cast<int>(c.size / c.unit - 1)) << c.size;
        w.bar1.PressTo(w.bar1.Max);
        ASSERT_FALSE(w.Rows().empty()) << c.size;
        EXPECT_EQ(w.Rows().back(), (Unit{tailAt + 6, 144})) << c.size;
        w.list.PressKey(Key::Home);
        w.list.PressKey(Key::End);
        // The hole between is passed unread: End lists the file's last four units, the one
        // before the hole with its whole length.
        EXPECT_EQ(w.Rows(), (std::vector<Unit>{{0, 10}, {10, tailAt - 10}, {tailAt, 6},
                                               {tailAt + 6, 144}}))
            << c.size;
        EXPECT_EQ(w.bar1.Pos, 0) << c.size; // where the page begins
        EXPECT_EQ(w.form->LastScrollPosition, 0) << c.size;
        EXPECT_EQ(w.form->HexView->CurrentPos(), tailAt + 6) << c.size;
    }
}

TEST(Form1Shell, ErrorLinesOnTheirFailurePaths) {
    struct Case {
        const char* line;
        void (*without)(TForm1Widgets&);
        std::function<void(Window&)> act;
    };
    const auto noBar = [](TForm1Widgets& w) { w.ScrollBar1 = nullptr; };
    const std::vector<Case> cases = {
        {"TForm1.ListView1KeyUp", nullptr,
         [](Window& w) {
             w.list.Selected = 0;
             w.list.CaptionOf = [](int) { return std::string("0xZZ"); };
             w.form->ListView1KeyUp(Key::Down);
         }},
        {"TForm1.ListView1MouseDown", nullptr,
         [](Window& w) {
             w.list.Selected = 0;
             w.list.CaptionOf = [](int) { return std::string("bogus"); };
             w.form->ListView1MouseDown();
         }},
        {"TForm1.UpdatePack", nullptr, [](Window& w) { w.form->UpdatePack(0); }},
        {"TForm1.LoadFile", nullptr, [](Window& w) { w.form->LoadFile("/nonexistent/x.264"); }},
        {"TForm1.MyScrollMouseDown", noBar, [](Window& w) { w.form->MyScrollMouseDown(); }},
        {"TForm1.ListView1KeyDown", nullptr,
         [](Window& w) {
             w.list.Selected = 0;
             w.list.CaptionOf = nullptr;
             w.form->Widgets.ListView1 = nullptr;
             w.form->ListView1KeyDown(Key::Home);
             w.form->Widgets.ListView1 = &w.list;
         }},
        {"TForm1.Open1Click", [](TForm1Widgets& w) { w.Dialogs = nullptr; },
         [](Window& w) { w.form->Open1Click(); }},
        {"TForm1.RefreshCaption", [](TForm1Widgets& w) { w.Form1 = nullptr; },
         [](Window& w) { w.form->RefreshCaption(); }},
        {"TForm1.WMDROPFILES", nullptr,
         [](Window& w) {
             TMessage message{kWmDropFiles, nullptr};
             w.form->WMDROPFILES(message);
         }},
        {"TForm1.ListView1WindowProc", nullptr,
         [](Window& w) {
             w.form->SavedListWindowProc = [](TMessage&) { throw std::runtime_error("x"); };
             TMessage message{0x0F, nullptr};
             w.list.Send(message);
         }},
        {"TForm1.FormClose", [](TForm1Widgets& w) { w.ListView1 = nullptr; },
         [](Window& w) { w.form->FormClose(); }},
    };
    for (const auto& c : cases) {
        Window w(8, c.without);
        DebugCapture debug;
        c.act(w);
        EXPECT_EQ(debug.Lines(),
                  std::vector<std::string>{std::string("kvo: Error in ") + c.line + " call..."})
            << c.line;
        EXPECT_FALSE(w.cursor.Busy) << c.line;
        EXPECT_EQ(w.cursor.BusyCount, w.cursor.DefaultCount) << c.line;
    }
}

} // namespace
