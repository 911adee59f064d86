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

} // namespace
