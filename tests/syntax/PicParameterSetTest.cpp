#include "syntax/pic_parameter_set_rbsp.h"

#include "support/TestSupport.h"
#include "syntax/SyntaxTestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

struct Decoded {
    TPicParameterSet pps{};
    bool parsed = false;
    std::int64_t bitsLeft = 0;
    TSyntaxTree tree;
    const TSyntaxLine* line = nullptr;
};

std::unique_ptr<Decoded> Decode(const std::vector<std::uint8_t>& bytes,
                                std::uint32_t chroma_format_idc = 1) {
    auto d = std::make_unique<Decoded>();
    TBitStream4 reader;
    reader.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    d->parsed = Parse_pic_parameter_set_rbsp(reader, d->pps, chroma_format_idc);
    d->bitsLeft = reader.BitsLeft();
    Update_TreeView_pic_parameter_set_rbsp(d->tree, d->tree.AddRootLine("NAL"), d->pps,
                                           chroma_format_idc);
    d->line = d->tree.Roots()[0]->Children.at(0);
    return d;
}

// Ids 2 and 1, CABAC, no field POC, then slice groups by slices().
BitWriter& Head(BitWriter& w, const std::function<void(BitWriter&)>& sliceGroups) {
    w.Ue(2).Ue(1).Flag(true).Flag(false);
    sliceGroups(w);
    return w;
}

// From num_ref_idx_l0_active_minus1 to redundant_pic_cnt_present_flag.
BitWriter& Middle(BitWriter& w) {
    return w.Ue(3).Ue(1).Flag(true).U(2, 2).Se(-3).Se(0).Se(-2).Flag(true).Flag(false).Flag(true);
}

void NoSliceGroups(BitWriter& w) {
    w.Ue(0);
}

const std::vector<std::string> kAlways = {"pic_parameter_set_id", "seq_parameter_set_id",
                                          "entropy_coding_mode_flag", "pic_order_present_flag",
                                          "num_slice_groups_minus1"};
const std::vector<std::string> kMiddle = {
    "num_ref_idx_l0_active_minus1", "num_ref_idx_l1_active_minus1",
    "weighted_pred_flag",           "weighted_bipred_idc",
    "pic_init_qp_minus26",          "pic_init_qs_minus26",
    "chroma_qp_index_offset",       "deblocking_filter_control_present_flag",
    "constrained_intra_pred_flag",  "redundant_pic_cnt_present_flag"};

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
    std::vector<std::string> all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

TEST(Parse_pic_parameter_set_rbsp, BaselineStyleEndsAfterTheRedundantFlag) {
    BitWriter w;
    Middle(Head(w, NoSliceGroups)).Trailing();
    const auto d = Decode(w.Bytes());
    EXPECT_TRUE(d->parsed);
    EXPECT_EQ(d->pps.pic_parameter_set_id, 2u);
    EXPECT_EQ(d->pps.seq_parameter_set_id, 1u);
    EXPECT_EQ(d->pps.num_ref_idx_l0_active_minus1, 3u);
    EXPECT_EQ(d->pps.weighted_bipred_idc, 2u);
    EXPECT_EQ(d->pps.pic_init_qp_minus26, -3);
    EXPECT_EQ(d->pps.chroma_qp_index_offset, -2);
    EXPECT_EQ(d->pps.redundant_pic_cnt_present_flag, 1u);
    EXPECT_EQ(d->pps.more_data, 0u);
    EXPECT_EQ(ChildLabels(*d->line), Join({kAlways, kMiddle}));
    EXPECT_TRUE(d->line->Expanded);
    EXPECT_EQ(ChildValue(*d->line, "chroma_qp_index_offset"), "-2");
    EXPECT_EQ(ChildValue(*d->line, "pic_init_qs_minus26"), "0");
    EXPECT_EQ(FindChild(*d->line, "weighted_bipred_idc")->Text.substr(39), " : 2 (2 bits)");
}

TEST(Parse_pic_parameter_set_rbsp, TrailingZeroBytesAreNoMoreData) {
    // The bytes up to a four-byte start code that a zero byte precedes belong to the unit:
    // its stop bit must not be read as transform_8x8_mode_flag.
    for (int zeros = 1; zeros <= 3; ++zeros) {
        BitWriter w;
        Middle(Head(w, NoSliceGroups)).Trailing();
        auto bytes = w.Bytes();
        bytes.insert(bytes.end(), static_cast<std::size_t>(zeros), 0);
        const auto d = Decode(bytes);
        EXPECT_EQ(d->pps.more_data, 0u) << zeros;
        EXPECT_EQ(d->pps.transform_8x8_mode_flag, 0u) << zeros;
        EXPECT_EQ(FindChild(*d->line, "transform_8x8_mode_flag"), nullptr) << zeros;
    }
}

TEST(Parse_pic_parameter_set_rbsp, ZeroBitsBeforeTheStopBitAreMoreData) {
    // After redundant_pic_cnt_present_flag come 0001 0000: zeros, then the stop bit. The
    // tail is read, and its last code takes the 1 bit that looked like the stop bit.
    const auto d = Decode(Hex("CE 3C 10"));
    EXPECT_EQ(d->pps.more_data, 1u);
    EXPECT_EQ(d->pps.transform_8x8_mode_flag, 0u);
    EXPECT_EQ(d->pps.pic_scaling_matrix_present_flag, 0u);
    EXPECT_EQ(d->pps.second_chroma_qp_index_offset, 1);
    ASSERT_NE(FindChild(*d->line, "second_chroma_qp_index_offset"), nullptr);
}

TEST(Parse_pic_parameter_set_rbsp, TheOptionalTail) {
    struct Case {
        const char* name;
        bool transform8x8;
        bool matrix;
        std::uint32_t chroma_format_idc;
        std::vector<int> lists; // flags in the stream; a 1 is followed by its list
        std::vector<std::string> tail;
    };
    const std::vector<std::string> none;
    const Case cases[] = {
        {"no matrix",
         true,
         false,
         1,
         {},
         {"transform_8x8_mode_flag", "pic_scaling_matrix_present_flag",
          "second_chroma_qp_index_offset"}},
        {"six flags without 8x8", false, true, 1, {0, 1, 0, 0, 0, 1}, {}},
        {"eight flags with 8x8", true, true, 1, {1, 0, 0, 0, 0, 0, 0, 1}, {}},
        {"4:2:2 keeps eight", true, true, 2, {0, 0, 0, 0, 0, 0, 1, 0}, {}},
        {"4:4:4 reads twelve", true, true, 3, {0, 0, 0, 0, 0, 0, 1, 0, 0, 1, 0, 1}, {}},
        {"4:4:4 without 8x8 reads six", false, true, 3, {1, 1, 1, 1, 1, 1}, {}},
    };
    for (const auto& c : cases) {
        BitWriter w;
        Middle(Head(w, NoSliceGroups)).Flag(c.transform8x8).Flag(c.matrix);
        for (std::size_t i = 0; i < c.lists.size(); ++i) {
            w.Flag(c.lists[i] != 0);
            if (c.lists[i]) {
                const int size = i < 6 ? 16 : 64;
                for (int j = 0; j < size; ++j) {
                    w.Se(j % 2 ? 5 : -4); // never reaches a next scale of 0
                }
            }
        }
        w.Se(-7).Trailing();
        const auto d = Decode(w.Bytes(), c.chroma_format_idc);
        EXPECT_EQ(d->pps.more_data, 1u) << c.name;
        EXPECT_EQ(d->pps.transform_8x8_mode_flag, c.transform8x8 ? 1u : 0u) << c.name;
        EXPECT_EQ(d->pps.second_chroma_qp_index_offset, -7) << c.name;
        EXPECT_EQ(d->bitsLeft, w.BitsLeftAfterAlign()) << c.name;
        std::vector<std::string> tail = {"transform_8x8_mode_flag",
                                         "pic_scaling_matrix_present_flag"};
        for (std::size_t i = 0; i < c.lists.size(); ++i) {
            EXPECT_EQ(d->pps.pic_scaling_list_present_flag[i],
                      static_cast<std::uint32_t>(c.lists[i]))
                << c.name << " " << i;
            tail.push_back(
                IndexedLabel("pic_scaling_list_present_flag", static_cast<std::int64_t>(i)));
        }
        tail.push_back("second_chroma_qp_index_offset");
        EXPECT_EQ(ChildLabels(*d->line), Join({kAlways, kMiddle, tail})) << c.name;
        EXPECT_EQ(ChildValue(*d->line, "second_chroma_qp_index_offset"), "-7");
    }
}

TEST(Parse_pic_parameter_set_rbsp, SliceGroupMapTypes) {
    struct Case {
        const char* name;
        std::function<void(BitWriter&)> write;
        std::vector<std::string> lines; // between num_slice_groups_minus1 and the middle
        std::vector<std::pair<std::string, std::string>> values;
    };
    const Case cases[] = {
        {"type 0",
         [](BitWriter& w) { w.Ue(2).Ue(0).Ue(10).Ue(20).Ue(30); },
         {"slice_group_map_type", "run_length_minus1[0]", "run_length_minus1[1]",
          "run_length_minus1[2]"},
         {{"run_length_minus1[2]", "30"}}},
        {"type 1 reads nothing more",
         [](BitWriter& w) { w.Ue(1).Ue(1); },
         {"slice_group_map_type"},
         {}},
        {"type 2 alternates corners",
         [](BitWriter& w) { w.Ue(3).Ue(2).Ue(1).Ue(2).Ue(3).Ue(4).Ue(5).Ue(6); },
         {"slice_group_map_type", "top_left[0]", "bottom_right[0]", "top_left[1]",
          "bottom_right[1]", "top_left[2]", "bottom_right[2]"},
         {{"bottom_right[0]", "2"}, {"top_left[2]", "5"}}},
        {"types 3 to 5",
         [](BitWriter& w) { w.Ue(1).Ue(4).Flag(true).Ue(99); },
         {"slice_group_map_type", "slice_group_change_direction_flag",
          "slice_group_change_rate_minus1"},
         {{"slice_group_change_rate_minus1", "99"}}},
        {"type 6 with three groups reads 2-bit ids",
         [](BitWriter& w) { w.Ue(2).Ue(6).Ue(3).U(2, 2).U(2, 0).U(2, 1).U(2, 3); },
         {"slice_group_map_type", "pic_size_in_map_units_minus1", "slice_group_id[0]",
          "slice_group_id[1]", "slice_group_id[2]", "slice_group_id[3]"},
         {{"slice_group_id[0]", "2"}, {"slice_group_id[3]", "3"}}},
        {"type 6 with two groups reads 1-bit ids",
         [](BitWriter& w) { w.Ue(1).Ue(6).Ue(1).U(1, 1).U(1, 0); },
         {"slice_group_map_type", "pic_size_in_map_units_minus1", "slice_group_id[0]",
          "slice_group_id[1]"},
         {{"slice_group_id[0]", "1"}}},
        {"type 6 with eight groups reads 3-bit ids",
         [](BitWriter& w) { w.Ue(7).Ue(6).Ue(0).U(3, 7); },
         {"slice_group_map_type", "pic_size_in_map_units_minus1", "slice_group_id[0]"},
         {{"slice_group_id[0]", "7"}}},
        {"type 7 reads nothing more",
         [](BitWriter& w) { w.Ue(1).Ue(7); },
         {"slice_group_map_type"},
         {}},
    };
    for (const auto& c : cases) {
        BitWriter w;
        Middle(Head(w, c.write)).Trailing();
        const auto d = Decode(w.Bytes());
        EXPECT_EQ(ChildLabels(*d->line), Join({kAlways, c.lines, kMiddle})) << c.name;
        for (const auto& [label, value] : c.values) {
            EXPECT_EQ(ChildValue(*d->line, label), value) << c.name << ": " << label;
        }
        EXPECT_EQ(d->pps.num_ref_idx_l0_active_minus1, 3u) << c.name;
        EXPECT_EQ(d->pps.redundant_pic_cnt_present_flag, 1u) << c.name;
        EXPECT_EQ(d->bitsLeft, w.BitsLeftAfterAlign()) << c.name;
    }
}

TEST(Parse_pic_parameter_set_rbsp, CountsBeyondTheArraysAreReadAndDropped) {
    struct Case {
        const char* name;
        std::function<void(BitWriter&)> write;
        std::size_t shown; // lines shown after slice_group_map_type
    };
    const Case cases[] = {
        {"12 run lengths",
         [](BitWriter& w) {
             w.Ue(11).Ue(0);
             for (int i = 0; i < 12; ++i) {
                 w.Ue(static_cast<std::uint64_t>(i));
             }
         },
         8},
        {"10 rectangles",
         [](BitWriter& w) {
             w.Ue(10).Ue(2);
             for (int i = 0; i < 20; ++i) {
                 w.Ue(static_cast<std::uint64_t>(i));
             }
         },
         16},
        {"300 slice group ids",
         [](BitWriter& w) {
             w.Ue(3).Ue(6).Ue(299);
             for (int i = 0; i < 300; ++i) {
                 w.U(2, static_cast<std::uint64_t>(i % 4));
             }
         },
         1 + 256}, // pic_size_in_map_units_minus1 and the ids held
        {"slice group count of 2^31 and more", [](BitWriter& w) { w.Ue(0xFFFFFFFFu).Ue(0); }, 0},
    };
    for (const auto& c : cases) {
        BitWriter w;
        Middle(Head(w, c.write)).Trailing();
        const auto d = Decode(w.Bytes());
        const std::size_t lines = d->line->Children.size();
        EXPECT_EQ(lines, kAlways.size() + 1 + c.shown + kMiddle.size()) << c.name;
        EXPECT_EQ(d->pps.num_ref_idx_l0_active_minus1, 3u) << c.name;
        EXPECT_EQ(d->pps.redundant_pic_cnt_present_flag, 1u) << c.name;
        EXPECT_EQ(d->bitsLeft, w.BitsLeftAfterAlign()) << c.name;
    }
}

TEST(Parse_pic_parameter_set_rbsp, TruncatedAndGarbagePayloads) {
    const std::vector<std::vector<std::uint8_t>> payloads = {
        Hex("80"),
        Hex("00"),
        std::vector<std::uint8_t>(64, 0x00),
        std::vector<std::uint8_t>(64, 0xFF),
        Hex("A5 0F 00 00 00 00 00 01"), // 6 slice group map with a huge id count
        Hex("9D 60 00 00 00 00 00 00 00 00 01 FF"),
    };
    for (const auto& bytes : payloads) {
        for (std::uint32_t chroma : {1u, 3u}) {
            const auto d = Decode(bytes, chroma);
            EXPECT_TRUE(d->parsed);
            EXPECT_TRUE(d->line->Expanded);
        }
    }
}

} // namespace
