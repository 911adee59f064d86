#include "syntax/SyntaxTree.h"

#include "syntax/SyntaxTestSupport.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(ElementLine, FollowsTheLineRule) {
    struct Case {
        std::string label;
        std::size_t width;
        std::string value;
        int bits;
        std::string line;
    };
    const std::string l39 = "initial_cpb_removal_delay_length_minus1"; // exactly 39
    const Case cases[] = {
        {"profile_idc", 39, "100", 8, "profile_idc" + std::string(28, ' ') + " : 100 (8 bits)"},
        {"forbidden_zero_bit", 36, "0", 1,
         "forbidden_zero_bit" + std::string(18, ' ') + " : 0 (1 bit)"},
        {"nal_unit_type", 36, "7", 5, "nal_unit_type" + std::string(23, ' ') + " : 7 (5 bits)"},
        {"pic_init_qp_minus26", 39, "-3", kVariableBits,
         "pic_init_qp_minus26" + std::string(20, ' ') + " : -3 (v bits)"},
        {l39, 39, "23", 5, l39 + " : 23 (5 bits)"},
        {l39 + "x", 39, "0", 32, l39 + "x : 0 (32 bits)"},
        {"sar_width", 39, "4294967295", 16,
         "sar_width" + std::string(30, ' ') + " : 4294967295 (16 bits)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ElementLine(c.label, c.width, c.value, c.bits), c.line);
    }
}

TEST(ElementLine, WidthAnnotationsAndIndexedLabels) {
    EXPECT_EQ(WidthAnnotation(1), " (1 bit)");
    EXPECT_EQ(WidthAnnotation(2), " (2 bits)");
    EXPECT_EQ(WidthAnnotation(16), " (16 bits)");
    EXPECT_EQ(WidthAnnotation(32), " (32 bits)");
    EXPECT_EQ(WidthAnnotation(kVariableBits), " (v bits)");
    EXPECT_EQ(IndexedLabel("cbr_flag", 0), "cbr_flag[0]");
    EXPECT_EQ(IndexedLabel("cbr_flag", 31), "cbr_flag[31]");
    EXPECT_EQ(IndexedLabel("offset_for_ref_frame", 255), "offset_for_ref_frame[255]");
}

TEST(TElementLines, WritesUnsignedAndSignedValues) {
    TSyntaxTree tree;
    const TTreeLine root = tree.AddRootLine("root");
    TElementLines lines(tree, root, 39);
    lines.Unsigned("num_units_in_tick", std::numeric_limits<std::uint32_t>::max(), 32);
    lines.Ue("seq_parameter_set_id", 0);
    lines.Se("chroma_qp_index_offset", -3);
    lines.Se("offset_for_ref_frame[0]", std::numeric_limits<std::int32_t>::min() + 1);
    lines.Structure("scaling_list ( )");
    const std::vector<std::string> values = {"4294967295", "0", "-3", "-2147483647"};
    const auto& children = tree.Roots()[0]->Children;
    ASSERT_EQ(children.size(), 5u);
    for (std::size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(ParseElementLine(children[i]->Text)->Value, values[i]);
    }
    EXPECT_EQ(children[4]->Text, "scaling_list ( )");
}

TEST(TSyntaxTree, KeepsOrderParentsAndExpandedState) {
    TSyntaxTree tree;
    const TTreeLine first = tree.AddRootLine("first");
    const TTreeLine second = tree.AddRootLine("second"); // goes before the first
    const TTreeLine a = tree.AddChildLine(first, "a");
    tree.AddChildLine(first, "b");
    const TTreeLine a1 = tree.AddChildLine(a, "a1");
    tree.ExpandLine(first);

    ASSERT_EQ(tree.Roots().size(), 2u);
    EXPECT_EQ(tree.Roots()[0]->Text, "second");
    EXPECT_EQ(tree.Roots()[1]->Text, "first");
    EXPECT_EQ(ChildTexts(*tree.Roots()[1]), (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(TSyntaxTree::Line(first)->Expanded);
    EXPECT_FALSE(TSyntaxTree::Line(a)->Expanded); // children keep their own state
    EXPECT_FALSE(TSyntaxTree::Line(second)->Expanded);
    EXPECT_EQ(TSyntaxTree::Line(a1)->Parent, TSyntaxTree::Line(a));

    std::vector<std::string> walked;
    tree.Walk([&](const TSyntaxLine& line, int depth) {
        walked.push_back(std::to_string(depth) + line.Text);
    });
    EXPECT_EQ(walked, (std::vector<std::string>{"0second", "0first", "1a", "2a1", "1b"}));

    tree.ClearLines();
    EXPECT_TRUE(tree.Roots().empty());
}

TEST(TSyntaxTree, RefusesAChildWithoutParent) {
    TSyntaxTree tree;
    EXPECT_THROW(tree.AddChildLine(nullptr, "x"), std::invalid_argument);
    tree.ExpandLine(nullptr); // harmless
    EXPECT_TRUE(tree.Roots().empty());
}

} // namespace
