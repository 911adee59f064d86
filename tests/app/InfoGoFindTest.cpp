// The window's Info column, Go to Offset and Find, driven through the fakes: the column's
// texts page after page against the summary read on its own, go-to at the file's edges and
// inside units, and searches that find, miss, cross a 300 GB sparse file or are cancelled.

#include "app/Unit1.h"
#include "stream/FileStream.h"
#include "support/FakeWindow.h"
#include "support/SparseFiles.h"
#include "support/TestSupport.h"
#include "model/SetStore.h"
#include "syntax/UnitInfo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

struct Unit {
    std::int64_t Offset = 0;
    std::int64_t Length = 0;
    int Type = 0;
};

// The independent listing of a test stream.
std::vector<Unit> Units(const std::string& name) {
    std::ifstream in(TestDataPath(name + ".nals"));
    std::vector<Unit> units;
    Unit u;
    int startCode = 0;
    while (in >> u.Offset >> u.Length >> startCode >> u.Type) {
        units.push_back(u);
    }
    return units;
}

// Lets the search run to its end, as the window's timer would.
void WaitForFind(TFakeWindow& w) {
    for (int i = 0; i < 20000 && w.form->Finding(); ++i) {
        ASSERT_TRUE(w.findTimer.On);
        w.form->tmFindTimer();
        if (w.form->Finding()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ASSERT_FALSE(w.form->Finding());
    EXPECT_FALSE(w.findTimer.On);
    EXPECT_FALSE(w.progress.Shown);
}

std::int64_t FirstRow(const TFakeWindow& w) {
    return w.form->LocatorCount > 0 ? w.form->Locators[0].Offset : -1;
}

TEST(InfoColumn, EachRowShowsItsUnitsSummaryPageAfterPage) {
    DebugCapture quiet;
    const std::string path = TestDataPath("aud_sei.264");
    TFakeWindow w(8);
    ASSERT_TRUE(w.form->LoadFile(path));
    EXPECT_TRUE(w.summaryCheck.Mark);
    EXPECT_TRUE(w.list.Visible[kInfoColumn]);
    FileStream stream;
    ASSERT_TRUE(stream.Open(path));
    TSetStore sets(&stream);
    TUnitInfo info;
    const std::vector<Unit> units = Units("aud_sei");
    int rows = 0;
    for (int page = 0; page < 5; ++page) {
        for (int row = 0; row < w.list.Count; ++row, ++rows) {
            const std::int64_t offset = w.form->Locators[static_cast<std::size_t>(row)].Offset;
            const auto u = std::find_if(units.begin(), units.end(),
                                        [&](const Unit& unit) { return unit.Offset == offset; });
            ASSERT_NE(u, units.end());
            sets.LookBackFrom(u->Offset);
            EXPECT_EQ(w.Row(row).SubItems[3],
                      info.Read(stream, u->Offset, u->Length, stream.Size(), &sets))
                << "unit at " << offset;
        }
        w.list.PressKey(Key::PageDown);
    }
    EXPECT_GE(rows, 30);

    w.form->UnitSummaryColumn1Click();
    EXPECT_FALSE(w.summaryCheck.Mark);
    EXPECT_FALSE(w.list.Visible[kInfoColumn]);
    EXPECT_EQ(w.Row(0).SubItems[3], "");
    EXPECT_FALSE(w.Row(0).SubItems[2].empty());
    w.form->UnitSummaryColumn1Click();
    EXPECT_TRUE(w.list.Visible[kInfoColumn]);
    EXPECT_FALSE(w.Row(0).SubItems[3].empty());
}

TEST(GoToOffset, TheUnitThatHoldsTheOffsetStartsThePageSelected) {
    DebugCapture quiet;
    const std::string path = TestDataPath("mixed_start_codes.264");
    const std::vector<Unit> units = Units("mixed_start_codes");
    const auto size = static_cast<std::int64_t>(std::filesystem::file_size(path));
    TFakeWindow w(8);
    ASSERT_TRUE(w.form->LoadFile(path));
    const Unit& middle = units[units.size() / 2];
    struct Case {
        const char* Name;
        std::int64_t Offset;
        std::int64_t Unit;
    } const cases[] = {
        {"offset 0", 0, units.front().Offset},
        {"a unit's first byte", middle.Offset, middle.Offset},
        {"inside a unit", middle.Offset + middle.Length / 2, middle.Offset},
        {"a unit's last byte", middle.Offset + middle.Length - 1, middle.Offset},
        {"the file's last byte", size - 1, units.back().Offset},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        w.list.Selected = -1;
        ASSERT_TRUE(w.form->GoToOffset(c.Offset));
        EXPECT_EQ(FirstRow(w), c.Unit);
        EXPECT_EQ(w.list.Selected, 0);
        ASSERT_EQ(w.tree.Roots().size(), 1u);
        EXPECT_EQ(w.form->HexView->CurrentPos(), c.Offset);
    }
    // Past the end: refused with a message, the page stays.
    const std::int64_t before = FirstRow(w);
    for (const std::int64_t offset : {size, size + 1000}) {
        EXPECT_FALSE(w.form->GoToOffset(offset));
        ASSERT_FALSE(w.dialogs.Messages.empty());
        EXPECT_NE(w.dialogs.Messages.back().find("past the end of the file"), std::string::npos);
        EXPECT_EQ(FirstRow(w), before);
    }
    // Through the dialog, in the forms --at takes.
    w.dialogs.TypedText = " 0x" + [&] {
        char text[20];
        std::snprintf(text, sizeof text, "%llX",
                      static_cast<unsigned long long>(middle.Offset + 1));
        return std::string(text);
    }() + " ";
    w.form->GoToOffset1Click(); // blanks around it, as a paste brings them
    EXPECT_EQ(FirstRow(w), middle.Offset);
    w.dialogs.TypedText = "12 bytes";
    const std::size_t messages = w.dialogs.Messages.size();
    w.form->GoToOffset1Click();
    EXPECT_EQ(w.dialogs.Messages.size(), messages + 1);
    EXPECT_EQ(FirstRow(w), middle.Offset);
}

// Two copies of a stream with 80 MiB of bytes that hold no start code between them (a
// hole would be passed unread): an offset 75 MiB into them lies in the first copy's last
// unit, which began too far back for one step.
TEST(GoToOffset, InAUnitThatBeganBeyondTheStepsBoundTheNextUnitStartsThePage) {
    DebugCapture quiet;
    TempDir dir;
    const std::vector<std::uint8_t> stream = ReadAll(TestDataPath("main_cabac.264"));
    const auto size = static_cast<std::int64_t>(stream.size());
    const std::string path = dir.Path().string() + "/long-unit.264";
    constexpr std::int64_t kFiller = 80 << 20;
    {
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(size));
        const std::vector<char> filler(1 << 20, 0x5A);
        for (std::int64_t i = 0; i < kFiller; i += 1 << 20) {
            out.write(filler.data(), static_cast<std::streamsize>(filler.size()));
        }
        out.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(size));
    }
    TFakeWindow w(8);
    ASSERT_TRUE(w.form->LoadFile(path));
    ASSERT_TRUE(w.form->GoToOffset(size + (75 << 20)));
    EXPECT_EQ(FirstRow(w), size + kFiller);
    EXPECT_EQ(w.form->HexView->CurrentPos(), size + (75 << 20));
    ASSERT_TRUE(w.form->GoToOffset(size + (20 << 20))); // within the bound
    EXPECT_EQ(FirstRow(w), Units("main_cabac").back().Offset);
}

TEST(Find, NextAndPreviousOfAKindFromTheSelectedRow) {
    DebugCapture quiet;
    const std::string path = TestDataPath("aud_sei.264");
    std::vector<std::int64_t> sps;
    for (const Unit& u : Units("aud_sei")) {
        if (u.Type == 7) {
            sps.push_back(u.Offset);
        }
    }
    ASSERT_GE(sps.size(), 2u);
    TFakeWindow w(8);
    ASSERT_TRUE(w.form->LoadFile(path));
    w.dialogs.ChosenItem = "sps  SPS";
    w.form->Find1Click(); // from the selected first row, the first SPS after it
    EXPECT_EQ(w.dialogs.Asked.back(), "Find");
    EXPECT_TRUE(w.progress.Shown);
    EXPECT_EQ(w.progress.Caption, "Searching for SPS");
    WaitForFind(w);
    EXPECT_EQ(FirstRow(w), sps[0]);
    EXPECT_EQ(w.list.Selected, 0);
    for (std::size_t i = 1; i < sps.size(); ++i) {
        w.form->FindNext1Click();
        WaitForFind(w);
        EXPECT_EQ(FirstRow(w), sps[i]);
    }
    const std::int64_t last = sps.back();
    w.form->FindNext1Click();
    WaitForFind(w);
    EXPECT_EQ(FirstRow(w), last);
    EXPECT_EQ(w.status.Text(TStatusField::Note), "No SPS after " + NalOffsetText(last));
    for (std::size_t i = sps.size() - 1; i-- > 0;) {
        w.form->FindPrevious1Click();
        WaitForFind(w);
        EXPECT_EQ(FirstRow(w), sps[i]);
        EXPECT_EQ(w.status.Text(TStatusField::Note), "");
    }
    w.form->FindPrevious1Click();
    WaitForFind(w);
    EXPECT_EQ(w.status.Text(TStatusField::Note), "No SPS before " + NalOffsetText(sps[0]));

    // A kind typed in place of an item: an SEI holding a mastering display message (137).
    w.dialogs.ChosenItem = "sei:137";
    w.form->Find1Click();
    WaitForFind(w);
    EXPECT_NE(w.Row(0).SubItems[3].find("mastering_display_colour_volume"), std::string::npos);
    w.dialogs.ChosenItem = "slices";
    w.form->Find1Click();
    EXPECT_FALSE(w.form->Finding());
    EXPECT_EQ(w.dialogs.Messages.back(), "Not a kind of unit: \"slices\".");
}

// A 300 GB sparse file with the stream at its start, in its middle and at its end.
TEST(Find, ASearchCrossesTheHolesOfA300GBFile) {
    DebugCapture quiet;
    constexpr std::int64_t kSize = 300'000'000'000;
    TempDir dir;
    const std::vector<std::uint8_t> stream = ReadAll(TestDataPath("aud_sei.264"));
    const auto size = static_cast<std::int64_t>(stream.size());
    const std::string path = dir.Path().string() + "/huge.264";
    const std::int64_t middle = kSize / 2 + 4096;
    const std::int64_t tail = kSize - size;
    WriteSparseCopies(path, kSize, stream, {std::int64_t{0}, middle, tail});
    if (!ReportsHoles(path, middle / 2)) {
        GTEST_SKIP() << "the file system does not report the holes of a sparse file";
    }
    std::vector<std::int64_t> idr;
    for (const Unit& u : Units("aud_sei")) {
        if (u.Type == 5) {
            idr.push_back(u.Offset);
        }
    }
    TFakeWindow w(8);
    ASSERT_TRUE(w.form->LoadFile(path));
    ASSERT_TRUE(w.form->GoToOffset(idr.back()));
    w.form->FindKind = ParseFindKind("idr");
    w.form->FindNext1Click();
    WaitForFind(w);
    EXPECT_EQ(FirstRow(w), middle + idr.front());
    ASSERT_TRUE(w.form->GoToOffset(middle + idr.back()));
    w.form->FindNext1Click();
    WaitForFind(w);
    EXPECT_EQ(FirstRow(w), tail + idr.front());
    w.form->FindPrevious1Click();
    WaitForFind(w);
    EXPECT_EQ(FirstRow(w), middle + idr.back());
}

TEST(Find, ACancelledSearchLeavesThePageAndSaysWhereItStopped) {
    DebugCapture quiet;
    TFakeWindow w(8);
    ASSERT_TRUE(w.form->LoadFile(TestDataPath("aud_sei.264")));
    const std::int64_t before = FirstRow(w);
    w.form->FindKind = ParseFindKind("sei:200"); // none in the file
    w.form->FindNext1Click();
    w.progress.PressCancel();
    WaitForFind(w);
    EXPECT_EQ(FirstRow(w), before);
    EXPECT_EQ(w.status.Text(TStatusField::Note)
                  .rfind("Search for SEI with payloadType 200 cancelled at 0x", 0),
              0u)
        << w.status.Text(TStatusField::Note);
    // Closing the file while a search runs ends it.
    w.form->FindNext1Click();
    w.form->UnloadFile();
    EXPECT_FALSE(w.form->Finding());
    EXPECT_FALSE(w.progress.Shown);
}

} // namespace

namespace {

void WaitForSummary(TFakeWindow& w) {
    for (int i = 0; i < 20000 && w.form->Summarising(); ++i) {
        ASSERT_TRUE(w.summaryTimer.On);
        w.form->tmSummaryTimer();
        if (w.form->Summarising()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ASSERT_FALSE(w.form->Summarising());
    EXPECT_FALSE(w.summaryTimer.On);
    EXPECT_FALSE(w.summary.Running);
}

// View > Stream Summary: the figures, the plot, the page's place, a click on the plot, a
// cancelled walk, and a walk that a new file starts again.
TEST(StreamSummaryPane, FiguresPlotAndClicks) {
    DebugCapture quiet;
    TFakeWindow w(8);
    ASSERT_TRUE(w.form->LoadFile(TestDataPath("aud_sei.264")));
    w.form->StreamSummary1Click();
    EXPECT_TRUE(w.summary.Shown);
    EXPECT_TRUE(w.summaryMark.Mark);
    EXPECT_TRUE(w.summary.Running);
    WaitForSummary(w);
    ASSERT_GE(w.summary.Figures.size(), 3u);
    EXPECT_EQ(w.summary.Figures[0], "Pictures: 8 (I 2, P 2, B 4, IDR 1)");
    EXPECT_EQ(w.summary.Figures[1], "GOP: no second IDR picture");
    EXPECT_EQ(w.summary.Figures[2], "SPS 0: High  1.1  176x144  25 fps  (2 times)");
    ASSERT_EQ(w.summary.Plot.Bars.size(), 8u);
    EXPECT_EQ(w.summary.Plot.Bars[0].Idr, 1);
    EXPECT_EQ(w.summary.PageFirst, 0);

    // A click on the fifth picture's bar lists the page from its access unit's first unit.
    const std::int64_t fifth = w.summary.Plot.Bars[4].FirstOffset;
    w.summary.OnClick(fifth);
    EXPECT_EQ(FirstRow(w), fifth);
    EXPECT_EQ(w.summary.PageFirst, fifth);

    // A new file walks again; a cancelled walk says how far its figures go.
    ASSERT_TRUE(w.form->LoadFile(TestDataPath("main_cabac.264")));
    EXPECT_TRUE(w.form->Summarising());
    w.summary.OnCancel();
    WaitForSummary(w);
    EXPECT_EQ(w.summary.Figures.back().rfind("Cancelled at 0x", 0), 0u) << w.summary.Figures.back();

    w.form->StreamSummary1Click();
    EXPECT_FALSE(w.summary.Shown);
    EXPECT_FALSE(w.summaryMark.Mark);
    ASSERT_TRUE(w.form->LoadFile(TestDataPath("aud_sei.264")));
    EXPECT_FALSE(w.form->Summarising()) << "no walk while the pane is hidden";
}

} // namespace
