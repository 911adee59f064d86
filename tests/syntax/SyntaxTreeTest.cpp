#include "syntax/SyntaxTree.h"

#include "syntax/SyntaxTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>

namespace {

TEST(ElementLine, FollowsTheLineRule) {
    const std::string l39 = "initial_cpb_removal_delay_length_minus1"; // exactly 39
    TSyntaxTree tree;
    TElementLines lines(tree, tree.AddRootLine("root"), 39);
    lines.Unsigned("profile_idc", 100, 8);
    lines.Unsigned(l39, 23, 5);
    lines.Unsigned(l39 + "x", 1, 1);
    lines.Unsigned("num_units_in_tick", std::numeric_limits<std::uint32_t>::max(), 32);
    lines.Ue(IndexedLabel("cbr_flag", 31), 0);
    lines.Se("chroma_qp_index_offset", -3);
    lines.Se("offset_for_ref_frame[0]", std::numeric_limits<std::int32_t>::min() + 1);
    lines.Structure("scaling_list ( )");
    EXPECT_EQ(ChildTexts(*tree.Roots()[0]),
              (std::vector<std::string>{
                  "profile_idc" + std::string(28, ' ') + " : 100 (8 bits)", l39 + " : 23 (5 bits)",
                  l39 + "x : 1 (1 bit)",
                  "num_units_in_tick" + std::string(22, ' ') + " : 4294967295 (32 bits)",
                  "cbr_flag[31]" + std::string(27, ' ') + " : 0 (v bits)",
                  "chroma_qp_index_offset" + std::string(17, ' ') + " : -3 (v bits)",
                  "offset_for_ref_frame[0]" + std::string(16, ' ') + " : -2147483647 (v bits)",
                  "scaling_list ( )"}));
    EXPECT_EQ(ElementLine("forbidden_zero_bit", 36, "0", 1),
              "forbidden_zero_bit" + std::string(18, ' ') + " : 0 (1 bit)");
}

// Every width and every padding, against the line put together piece by piece: the
// formatter writes the padding in words and the texts and annotation in overlapping copies,
// so it is also held to write nothing past the line, which its bound covers.
TEST(ElementLine, EveryWidthAndPaddingAsThePiecesSay) {
    for (const std::string label :
         {"a", "pcm", "mb_qp_delta", "initial_cpb_removal_delay_length_minus1"})
        for (int bits = -2; bits <= 70; ++bits) {
            for (std::size_t width = 0; width <= label.size() + 20; ++width) {
                for (const std::string meaning : {"", "Baseline", "Constrained Baseline"}) {
                    const std::string value =
                        bits % 3 == 1 ? "" : std::to_string(bits * bits * bits);
                    std::string want =
                        label + std::string(width - std::min(width, label.size()), ' ');
                    want += " : " + value;
                    want += bits == kVariableBits ? " (v bits)"
                            : bits == 1           ? " (1 bit)"
                                                  : " (" + std::to_string(bits) + " bits)";
                    want += meaning.empty() ? "" : " [" + meaning + "]";
                    const TElementLine element{label, width, value, bits, meaning};
                    const std::string at = label + ", " + std::to_string(bits) + " bits, width " +
                                           std::to_string(width) + " " + meaning;
                    EXPECT_GE(ElementLineRoom(element), want.size()) << at;
                    std::string written(want.size() + 16, '#');
                    char* const end = WriteElementLine(written.data(), element);
                    EXPECT_EQ(std::string(written.data(), end), want) << at;
                    EXPECT_EQ(written.substr(want.size()), std::string(16, '#')) << at;
                }
            }
        }
}

// Every size of text the copies of a fixed size take, and past them, against memcpy: the
// copy is held to the text's own bytes and to as many after out.
TEST(CopyText, EverySizeAsMemcpyWritingNothingPast) {
    std::string source(100, ' ');
    for (std::size_t i = 0; i < source.size(); ++i) {
        source[i] = static_cast<char>('!' + i % 90);
    }
    for (std::size_t size = 0; size <= 80; ++size) {
        std::string copied(size + 16, '#');
        EXPECT_EQ(CopyText(copied.data(), std::string_view(source).substr(3, size)),
                  copied.data() + size);
        EXPECT_EQ(copied, source.substr(3, size) + std::string(16, '#')) << size;
    }
}

TEST(TSyntaxTree, KeepsOrderParentsAndExpandedState) {
    TSyntaxTree tree;
    const TTreeLine first = tree.AddRootLine("first");
    const TTreeLine second = tree.AddRootLine("second"); // goes before the first
    const TTreeLine a = tree.AddChildLine(first, "a");
    tree.AddChildLine(first, "b");
    const TTreeLine a1 = tree.AddChildLine(a, "a1");
    tree.ExpandLine(first);
    EXPECT_TRUE(TSyntaxTree::Line(first)->Expanded);
    EXPECT_FALSE(TSyntaxTree::Line(a)->Expanded); // children keep their own state
    EXPECT_FALSE(TSyntaxTree::Line(second)->Expanded);
    EXPECT_EQ(TSyntaxTree::Line(a1)->Parent, TSyntaxTree::Line(a));

    std::vector<std::string> walked;
    tree.Walk([&](const TSyntaxLine& line, int depth) {
        walked.push_back(std::to_string(depth) + line.Text);
    });
    EXPECT_EQ(walked, (std::vector<std::string>{"0second", "0first", "1a", "2a1", "1b"}));

    EXPECT_THROW(tree.AddChildLine(nullptr, "x"), std::invalid_argument);
    tree.ClearLines();
    EXPECT_TRUE(tree.Roots().empty());
}

} // namespace
