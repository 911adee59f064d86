// A 300 GB sparse file through the window: a real stream sits at its start, past 4 GiB
// near its middle, and at its very end (past the 2^31 × 100 bytes where the bar's unit
// grows). Every way of reaching each copy must list the copy's units at their offsets in
// the big file, and the tree and the hex view of a selected unit must be those of the same
// unit in the stream on its own.

#include "app/Unit1.h"
#include "support/FakeWindow.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace {

constexpr int kRows = 8;

// Offsets of a stream's units, from its independent listing.
std::vector<std::int64_t> UnitOffsets(const std::string& name) {
    std::ifstream in(TestDataPath(name + ".nals"));
    std::vector<std::int64_t> offsets;
    std::int64_t offset = 0;
    std::int32_t len = 0;
    int startCode = 0;
    int type = 0;
    while (in >> offset >> len >> startCode >> type) {
        offsets.push_back(offset);
    }
    return offsets;
}

struct TViews {
    std::string Tree;
    std::vector<std::string> Hex;
};

TViews ViewsOf(TFakeWindow& w) {
    TViews views;
    w.tree.Walk([&](const TSyntaxLine& line, int depth) {
        views.Tree += std::to_string(depth) + " " + line.Text + "\n";
    });
    views.Hex = w.hex.Lines;
    return views;
}

std::vector<std::int64_t> PageOffsets(const TFakeWindow& w) {
    std::vector<std::int64_t> offsets;
    for (int i = 0; i < w.form->LocatorCount; ++i) {
        offsets.push_back(w.form->Locators[static_cast<std::size_t>(i)].Offset);
    }
    return offsets;
}

class HugeFileTest : public ::testing::Test {
  protected:
    static constexpr std::int64_t kSize = 300'000'000'000;
    TempDir dir;
    std::vector<std::uint8_t> stream = ReadAll(TestDataPath("aud_sei.264"));
    std::vector<std::int64_t> units = UnitOffsets("aud_sei");
    std::string path = dir.Path().string() + "/huge.264";
    // The tail ends at the file's last byte; each copy begins on a hex line of its own,
    // so that its hex lines are those of the stream alone.
    std::int64_t tailBase = kSize - static_cast<std::int64_t>(stream.size());
    std::int64_t middleBase = 0;
    TFakeWindow w{kRows};
    TFakeWindow alone{kRows};

    void SetUp() override {
        ASSERT_GE(units.size(), 3u * kRows);
        tailBase -= tailBase % 16;
        WriteCopy(0);
        ResizeSparse(path, tailBase + static_cast<std::int64_t>(stream.size()));
        // The bar's unit for this size places the middle copy a little past where the
        // thumb at the bar's middle points, so that the drag has to search for it.
        ASSERT_TRUE(w.form->LoadFile(path));
        const std::int64_t thumbAt = std::int64_t{w.bar1.Max / 2} * w.form->ScrollUnit;
        middleBase = thumbAt + 4096 - thumbAt % 16;
        WriteCopy(middleBase);
        WriteCopy(tailBase);
        ASSERT_GT(middleBase, std::int64_t{1} << 32);
        ASSERT_GT(tailBase, (std::int64_t{1} << 31) * 100);
        w.form->UnloadFile();
        ASSERT_TRUE(w.form->LoadFile(path));
        ASSERT_TRUE(alone.form->LoadFile(TestDataPath("aud_sei.264")));
    }

    void WriteCopy(std::int64_t base) {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        if (!f) {
            f.open(path, std::ios::out | std::ios::binary);
        }
        f.seekp(base);
        f.write(reinterpret_cast<const char*>(stream.data()),
                static_cast<std::streamsize>(stream.size()));
    }

    std::vector<std::int64_t> Units(std::int64_t base, std::size_t first, std::size_t count) {
        std::vector<std::int64_t> offsets;
        for (std::size_t i = first; i < first + count && i < units.size(); ++i) {
            offsets.push_back(base + units[i]);
        }
        return offsets;
    }

    // Selects a row as a click does; its views must match the same unit's in the stream
    // alone, with the hex lines' offsets moved by base.
    void ExpectViewsOfRow(int row, std::int64_t base, const std::string& step) {
        SCOPED_TRACE(step);
        ASSERT_LT(row, w.form->LocatorCount);
        const std::int64_t offset = w.form->Locators[static_cast<std::size_t>(row)].Offset;
        w.list.Selected = row;
        w.form->ListView1MouseDown();
        EXPECT_EQ(w.form->HexView->CurrentPos(), offset);
        alone.form->UpdatePack(offset - base);
        const TViews big = ViewsOf(w);
        const TViews small = ViewsOf(alone);
        ASSERT_FALSE(small.Tree.empty());
        EXPECT_EQ(big.Tree, small.Tree);
        ASSERT_EQ(big.Hex.size(), small.Hex.size());
        ASSERT_FALSE(big.Hex.empty());
        for (std::size_t i = 0; i < big.Hex.size(); ++i) {
            const std::int64_t at = std::stoll(small.Hex[i].substr(2, 16), nullptr, 16) + base;
            EXPECT_EQ(big.Hex[i], NalOffsetText(at) + small.Hex[i].substr(18));
        }
    }

    // The bar's last position lies within one bar unit of the file's end, and the thumb
    // stands where the page begins.
    void ExpectBarAtThePage() {
        const std::int64_t unit = w.form->ScrollUnit;
        const std::int64_t size = tailBase + static_cast<std::int64_t>(stream.size());
        EXPECT_LT(size - (std::int64_t{w.bar1.Max} + 1) * unit, unit);
        ASSERT_GT(w.form->LocatorCount, 0);
        EXPECT_EQ(w.bar1.Pos, w.form->Locators[0].Offset / unit);
    }
};

TEST_F(HugeFileTest, EveryWayToEachCopyListsItAndShowsItsUnits) {
    const std::size_t n = units.size();
    struct Step {
        const char* name;
        std::function<void()> act;
        std::function<std::vector<std::int64_t>()> page;
        int row;
        std::function<std::int64_t()> base;
    };
    const auto tail = [this] { return tailBase; };
    const auto head = [] { return std::int64_t{0}; };
    const auto middle = [this] { return middleBase; };
    const std::vector<Step> steps = {
        {"End", [&] { w.list.PressKey(Key::End); },
         [&] { return Units(tailBase, n - kRows, kRows); }, kRows - 1, tail},
        {"Page Up from the end", [&] { w.list.PressKey(Key::PageUp); },
         [&] { return Units(tailBase, n - 2 * kRows, kRows); }, 0, tail},
        {"Home", [&] { w.list.PressKey(Key::Home); }, [&] { return Units(0, 0, kRows); }, 0, head},
        {"thumb to the middle", [&] { w.bar1.PressTo(w.bar1.Max / 2); },
         [&] { return Units(middleBase, 0, kRows); }, 0, middle},
        {"thumb to the maximum", [&] { w.bar1.PressTo(w.bar1.Max); },
         [&] {
             const auto page = PageOffsets(w);
             return Units(tailBase, n - page.size(), page.size());
         },
         -1, tail},
        {"End after the thumb", [&] { w.list.PressKey(Key::End); },
         [&] { return Units(tailBase, n - kRows, kRows); }, kRows - 1, tail},
    };
    for (const Step& step : steps) {
        step.act();
        SCOPED_TRACE(step.name);
        EXPECT_EQ(PageOffsets(w), step.page());
        ExpectBarAtThePage();
        const int row = step.row >= 0 ? step.row : w.form->LocatorCount - 1;
        ExpectViewsOfRow(row, step.base(), step.name);
    }
}

} // namespace
