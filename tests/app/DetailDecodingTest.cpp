// View > Decode Slice Headers and SEI: off, the slice and SEI lines are leaves; on, they
// get their children, and the selected unit is shown again at once.

#include "support/FakeWindow.h"
#include "support/TestSupport.h"
#include "syntax/SyntaxTestSupport.h"

#include <gtest/gtest.h>

namespace {

// The children of the structure line under "NAL" (its fourth line).
std::vector<std::string> StructureChildren(const TSyntaxTree& tree) {
    if (tree.Roots().empty() || tree.Roots()[0]->Children.size() < 4) {
        return {"(no structure line)"};
    }
    return ChildTexts(*tree.Roots()[0]->Children[3]);
}

TEST(DetailDecoding, TheViewMenuDeepensTheSelectedUnit) {
    struct Case {
        int row; // in intra_refresh.264: SPS, PPS, SEI, IDR slice, ...
        std::vector<std::string> deeper;
    };
    const Case cases[] = {
        {2, {"sei_message( )"}},
        {3, {"slice_header( )"}},
    };
    for (const auto& c : cases) {
        TFakeWindow w(8);
        EXPECT_FALSE(w.viewCheck.Mark);
        ASSERT_TRUE(w.form->LoadFile(TestDataPath("intra_refresh.264")));
        w.list.Selected = c.row;
        w.form->ListView1MouseDown();
        EXPECT_EQ(StructureChildren(w.tree), std::vector<std::string>{}) << c.row;

        w.form->DecodeSliceHeaders1Click();
        EXPECT_TRUE(w.viewCheck.Mark);
        EXPECT_EQ(StructureChildren(w.tree), c.deeper) << c.row;

        // Another unit selected while on is decoded in full as well.
        w.list.Selected = 4; // a P slice
        w.form->ListView1MouseDown();
        EXPECT_EQ(StructureChildren(w.tree), std::vector<std::string>{"slice_header( )"});
        // and ends with the picture model's two nodes.
        const std::vector<std::string> nal = ChildTexts(*w.tree.Roots()[0]);
        EXPECT_EQ(std::vector<std::string>(nal.end() - 2, nal.end()),
                  (std::vector<std::string>{"Reference lists", "Decoded picture buffer"}));

        w.form->DecodeSliceHeaders1Click();
        EXPECT_FALSE(w.viewCheck.Mark);
        EXPECT_EQ(StructureChildren(w.tree), std::vector<std::string>{}) << c.row;
    }
}

TEST(DetailDecoding, TogglingWithNothingLoadedOnlyFlipsTheFlag) {
    TFakeWindow w(8);
    w.form->DecodeSliceHeaders1Click();
    EXPECT_TRUE(w.form->DecodeSliceHeaders);
    EXPECT_TRUE(w.viewCheck.Mark);
    EXPECT_TRUE(w.tree.Roots().empty());
}

// The line of the tree whose label is label.
const TSyntaxLine* FindLine(const TSyntaxTree& tree, const std::string& label) {
    const TSyntaxLine* found = nullptr;
    tree.Walk([&](const TSyntaxLine& line, int) {
        const auto parsed = ParseElementLine(line.Text);
        if (found == nullptr && parsed && parsed->Label == label) {
            found = &line;
        }
    });
    return found;
}

TEST(DetailDecoding, ASelectedLineMarksItsBytesInTheHexView) {
    DebugCapture quiet; // the High profile warning
    TFakeWindow w(8, 12);
    ASSERT_TRUE(w.form->LoadFile(TestDataPath("aud_sei.264")));
    w.list.Selected = 1; // the SPS at 6, shown from the hex line at 0
    w.form->ListView1MouseDown();
    ASSERT_EQ(w.hex.Lines[0].substr(0, 18), "0x0000000000000000");
    EXPECT_TRUE(w.hex.Marks.empty());

    // time_scale: bits 0x19.2 to 0x1D.1, past the 00 00 03 at 0x16 (the file's bytes),
    // so bytes 0x19 to 0x1D of the hex line at 0x10: digits "XX " from column 21, text
    // from column 71.
    const TSyntaxLine* timeScale = FindLine(w.tree, "time_scale");
    ASSERT_NE(timeScale, nullptr);
    w.form->TreeView1Change(timeScale->FirstBit, timeScale->Bits);
    EXPECT_EQ(w.hex.Marks,
              (std::vector<TLineMark>{{1, 21 + 3 * 9, 21 + 3 * 13 + 1}, {1, 71 + 9, 71 + 13}}));

    // A line without bits clears the marks.
    w.form->TreeView1Change(-1, 0);
    EXPECT_TRUE(w.hex.Marks.empty());

    // Bytes out of view bring the hex view to their line; the marks go along.
    w.form->TreeView1Change(8 * 1000 + 3, 2 * 8);
    EXPECT_EQ(w.hex.Lines[0].substr(0, 18), "0x00000000000003E0");
    EXPECT_EQ(
        w.hex.Marks,
        (std::vector<TLineMark>{
            {0, 21 + 3 * 14, 21 + 3 * 15 + 1}, {0, 71 + 14, 71 + 15}, {1, 21, 22}, {1, 71, 71}}));

    // Another unit selected: its hex view starts unmarked.
    w.list.Selected = 2;
    w.form->ListView1MouseDown();
    EXPECT_TRUE(w.hex.Marks.empty());
}

} // namespace
