#include "syntax/seq_parameter_set_rbsp.h"

#include "support/TestSupport.h"
#include "syntax/SyntaxTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr const char* kWarning = "kvo: WARNING - to check";

struct Parsed {
    TSeqParameterSet sps;
    bool ok;
    std::int64_t bitsLeft;
    std::vector<std::string> debug;
};

Parsed Parse(const BitWriter& w) {
    DebugCapture capture;
    Parsed p{};
    TBitStream4 reader;
    reader.SetData(w.Bytes().data(), static_cast<std::int32_t>(w.Bytes().size()));
    p.ok = Parse_seq_parameter_set_rbsp(reader, p.sps);
    p.bitsLeft = reader.BitsLeft();
    p.debug = capture.Lines();
    return p;
}

// profile_idc, the constraint flags 1,0,1,0, reserved bits 0101, level 31, id 5.
BitWriter& Head(BitWriter& w, std::uint32_t profile_idc) {
    return w.U(8, profile_idc).U(4, 0b1010).U(4, 0b0101).U(8, 31).Ue(5);
}

// From log2_max_frame_num_minus4: 4, poc type 2, 3 reference frames, no gaps,
// 40x30 macroblocks, frame_mbs_only, direct_8x8, no cropping, no VUI.
BitWriter& Tail(BitWriter& w) {
    return w.Put("ue:4 ue:2 ue:3 0 ue:39 ue:29 1 1 0 0").Trailing();
}

void ExpectTail(const TSeqParameterSet& sps, const std::string& context) {
    EXPECT_EQ(sps.log2_max_frame_num_minus4, 4u) << context;
    EXPECT_EQ(sps.pic_order_cnt_type, 2u) << context;
    EXPECT_EQ(sps.num_ref_frames, 3u) << context;
    EXPECT_EQ(sps.pic_width_in_mbs_minus1, 39u) << context;
    EXPECT_EQ(sps.pic_height_in_map_units_minus1, 29u) << context;
    EXPECT_EQ(sps.frame_mbs_only_flag, 1u) << context;
    EXPECT_EQ(sps.direct_8x8_inference_flag, 1u) << context;
    EXPECT_EQ(sps.frame_cropping_flag, 0u) << context;
    EXPECT_EQ(sps.vui_parameters_present_flag, 0u) << context;
}

TEST(Parse_seq_parameter_set_rbsp, ProfilesThatCarryTheChromaBlock) {
    struct Case {
        std::uint32_t profile_idc;
        bool chromaBlock;
    };
    // Every profile of the current standard that has the block, the former 4:4:4 (144),
    // and some that do not.
    const Case cases[] = {
        {100, true}, {110, true}, {122, true}, {244, true}, {44, true},   {83, true},   {86, true},
        {118, true}, {128, true}, {138, true}, {139, true}, {134, true},  {135, true},  {144, true},
        {66, false}, {77, false}, {88, false}, {0, false},  {255, false}, {245, false},
    };
    for (const auto& c : cases) {
        const std::string context = "profile " + std::to_string(c.profile_idc);
        BitWriter w;
        Head(w, c.profile_idc);
        if (c.chromaBlock) {
            // 4:2:2, 10-bit luma, 9-bit chroma, bypass, no matrix.
            w.Put("ue:2 ue:2 ue:1 1 0");
        }
        Tail(w);
        const Parsed p = Parse(w);
        EXPECT_TRUE(p.ok);
        EXPECT_EQ(p.sps.profile_idc, c.profile_idc);
        EXPECT_EQ(p.sps.constraint_set0_flag, 1u);
        EXPECT_EQ(p.sps.constraint_set1_flag, 0u);
        EXPECT_EQ(p.sps.constraint_set2_flag, 1u);
        EXPECT_EQ(p.sps.constraint_set3_flag, 0u);
        EXPECT_EQ(p.sps.reserved_zero_4bits, 5u);
        EXPECT_EQ(p.sps.level_idc, 31u);
        EXPECT_EQ(p.sps.seq_parameter_set_id, 5u);
        EXPECT_EQ(p.sps.chroma_format_idc, c.chromaBlock ? 2u : 1u) << context;
        EXPECT_EQ(p.sps.bit_depth_luma_minus8, c.chromaBlock ? 2u : 0u) << context;
        EXPECT_EQ(p.sps.bit_depth_chroma_minus8, c.chromaBlock ? 1u : 0u) << context;
        EXPECT_EQ(p.sps.qpprime_y_zero_transform_bypass_flag, c.chromaBlock ? 1u : 0u) << context;
        ExpectTail(p.sps, context);
        EXPECT_EQ(p.bitsLeft, w.BitsLeftAfterAlign()) << context;
        EXPECT_EQ(std::count(p.debug.begin(), p.debug.end(), kWarning), c.chromaBlock ? 1 : 0)
            << context;
        EXPECT_EQ(ProfileHasChromaBlock(c.profile_idc), c.chromaBlock) << context;
    }
}

// A scaling list of size entries whose deltas are given, ending early when the next
// scale becomes 0 (a delta of -8 from the start).
void WriteList(BitWriter& w, const std::vector<std::int64_t>& deltas) {
    for (auto d : deltas) {
        w.Se(d);
    }
}

std::vector<std::int64_t> FullList(std::size_t size) {
    // Scales 8, 9, 11, 14, ... wrapping past 255: every delta is coded.
    std::vector<std::int64_t> deltas;
    for (std::size_t j = 0; j < size; ++j) {
        deltas.push_back(static_cast<std::int64_t>(j % 7) - 2);
    }
    return deltas;
}

TEST(Parse_seq_parameter_set_rbsp, ReadsTheScalingListsItSkips) {
    struct Case {
        const char* name;
        std::uint32_t chroma_format_idc;
        std::vector<int> presentFlags; // one per list flag in the stream
    };
    const Case cases[] = {
        {"no list", 1, {0, 0, 0, 0, 0, 0, 0, 0}},
        {"4x4 and 8x8 lists", 1, {1, 0, 0, 0, 0, 0, 1, 0}},
        {"every list", 1, {1, 1, 1, 1, 1, 1, 1, 1}},
        {"4:4:4 has twelve flags", 3, {0, 1, 0, 0, 0, 0, 0, 0, 1, 0, 0, 1}},
        {"4:2:2 has eight", 2, {0, 0, 0, 0, 0, 0, 0, 1}},
    };
    for (const auto& c : cases) {
        BitWriter w;
        Head(w, 100).Ue(c.chroma_format_idc);
        if (c.chroma_format_idc == 3) {
            w.Flag(true); // residual_colour_transform_flag
        }
        w.Put("ue:0 ue:0 0 1");
        for (std::size_t i = 0; i < c.presentFlags.size(); ++i) {
            w.Flag(c.presentFlags[i] != 0);
            if (c.presentFlags[i]) {
                const std::size_t size = i < 6 ? 16 : 64;
                if (i % 2 == 0) {
                    WriteList(w, FullList(size));
                } else {
                    WriteList(w, {3, -11}); // 8 -> 11 -> 0: the list ends after two codes
                }
            }
        }
        Tail(w);
        const Parsed p = Parse(w);
        EXPECT_EQ(p.sps.chroma_format_idc, c.chroma_format_idc) << c.name;
        EXPECT_EQ(p.sps.residual_colour_transform_flag, c.chroma_format_idc == 3 ? 1u : 0u);
        EXPECT_EQ(p.sps.seq_scaling_matrix_present_flag, 1u) << c.name;
        for (std::size_t i = 0; i < c.presentFlags.size(); ++i) {
            EXPECT_EQ(p.sps.seq_scaling_list_present_flag[i],
                      static_cast<std::uint32_t>(c.presentFlags[i]))
                << c.name << " flag " << i;
        }
        ExpectTail(p.sps, c.name);
        EXPECT_EQ(p.bitsLeft, w.BitsLeftAfterAlign()) << c.name;
    }
}

TEST(Parse_seq_parameter_set_rbsp, PictureOrderCountTypes) {
    {
        BitWriter w;
        Head(w, 66).Put("ue:0 ue:0 ue:7");
        w.Put("ue:1 0 ue:10 ue:20 1 1 0 0").Trailing();
        const Parsed p = Parse(w);
        EXPECT_EQ(p.sps.log2_max_pic_order_cnt_lsb_minus4, 7u);
        EXPECT_EQ(p.sps.num_ref_frames, 1u);
        EXPECT_EQ(p.sps.pic_height_in_map_units_minus1, 20u);
    }
    {
        BitWriter w;
        Head(w, 66).Put("ue:0 ue:1 1 se:-5 se:3 ue:4 se:-1 se:0 se:7 se:-2147483647");
        w.Put("ue:2 1 ue:10 ue:20 1 1 0 0").Trailing();
        const Parsed p = Parse(w);
        EXPECT_EQ(p.sps.delta_pic_order_always_zero_flag, 1u);
        EXPECT_EQ(p.sps.offset_for_non_ref_pic, -5);
        EXPECT_EQ(p.sps.offset_for_top_to_bottom_field, 3);
        EXPECT_EQ(p.sps.num_ref_frames_in_pic_order_cnt_cycle, 4u);
        EXPECT_EQ(p.sps.offset_for_ref_frame[0], -1);
        EXPECT_EQ(p.sps.offset_for_ref_frame[1], 0);
        EXPECT_EQ(p.sps.offset_for_ref_frame[2], 7);
        EXPECT_EQ(p.sps.offset_for_ref_frame[3], -2147483647);
        EXPECT_EQ(p.sps.num_ref_frames, 2u);
        EXPECT_EQ(p.sps.gaps_in_frame_num_value_allowed_flag, 1u);
        EXPECT_EQ(p.bitsLeft, w.BitsLeftAfterAlign());
    }
    {
        // Type 1 with an empty cycle: three elements and no entries.
        BitWriter w;
        Head(w, 66).Put("ue:0 ue:1 0 se:0 se:0 ue:0");
        w.Put("ue:2 0 ue:10 ue:20 1 1 0 0").Trailing();
        const Parsed p = Parse(w);
        EXPECT_EQ(p.sps.num_ref_frames, 2u);
        EXPECT_EQ(p.bitsLeft, w.BitsLeftAfterAlign());
    }
}

TEST(Parse_seq_parameter_set_rbsp, CountsBeyondTheArraysAreReadAndDropped) {
    // 300 cycle entries: 256 held, the other 44 read so that num_ref_frames is right.
    BitWriter w;
    Head(w, 66).Put("ue:0 ue:1 0 se:0 se:0 ue:300");
    for (int i = 0; i < 300; ++i) {
        w.Se(i);
    }
    w.Put("ue:9 0 ue:10 ue:20 1 1 0 0").Trailing();
    const Parsed p = Parse(w);
    EXPECT_EQ(p.sps.offset_for_ref_frame[255], 255);
    EXPECT_EQ(p.sps.num_ref_frames, 9u);
    EXPECT_EQ(p.bitsLeft, w.BitsLeftAfterAlign());

    // A count of 2^31 or more reads no entries at all.
    BitWriter big;
    Head(big, 66).Ue(0).Ue(1).Flag(false).Se(0).Se(0).Ue(0x80000000u);
    big.Put("ue:9 0 ue:10 ue:20 1 1 0 0").Trailing();
    const Parsed q = Parse(big);
    EXPECT_EQ(q.sps.num_ref_frames, 9u);
    EXPECT_EQ(q.bitsLeft, big.BitsLeftAfterAlign());
}

// SPS head and tail around a VUI written by vui.
BitWriter SpsWithVui(const std::function<void(BitWriter&)>& vui) {
    BitWriter w;
    Head(w, 66).Put("ue:0 ue:2 ue:1 0 ue:10 ue:8 1 1 0 1");
    vui(w);
    w.Trailing();
    return w;
}

TEST(Parse_vui_parameters, ConditionalElements) {
    // Real streams cover every element present; these are the absences around them.
    // aspect_ratio_idc 254 carries no SAR; no HRD means no low_delay_hrd_flag; only the
    // VCL HRD still has it.
    BitWriter sparse = SpsWithVui([](BitWriter& w) {
        w.Put("1 u8:254 0 1 u3:2 0 0");
        w.Put("0 0 0 1 ue:0 u4:0 u4:0 ue:1 ue:1 0 u5:0 u5:0 u5:0 u5:0 1 0 0");
    });
    const Parsed q = Parse(sparse);
    EXPECT_EQ(q.sps.vui_parameters.aspect_ratio_idc, 254u);
    EXPECT_EQ(q.sps.vui_parameters.sar_width, 0u);
    EXPECT_EQ(q.sps.vui_parameters.video_format, 2u);
    EXPECT_EQ(q.sps.vui_parameters.vcl_hrd_parameters_present_flag, 1u);
    EXPECT_EQ(q.sps.vui_parameters.low_delay_hrd_flag, 1u);
    EXPECT_EQ(q.sps.vui_parameters.pic_struct_present_flag, 0u);
    EXPECT_EQ(q.bitsLeft, sparse.BitsLeftAfterAlign());
}

TEST(Parse_hrd_parameters, CountsAtAndBeyondCapacity) {
    struct Case {
        std::uint32_t cpb_cnt_minus1;
        std::uint32_t written; // entries written to the stream
    };
    const Case cases[] = {{0, 1}, {31, 32}, {40, 41}, {0x80000000u, 0}, {0xFFFFFFFFu, 0}};
    for (const auto& c : cases) {
        BitWriter w;
        w.Ue(c.cpb_cnt_minus1).U(4, 1).U(4, 2);
        for (std::uint32_t i = 0; i < c.written; ++i) {
            w.Ue(i + 100).Ue(i + 200).Flag(i % 2 == 1);
        }
        w.Put("u5:17 u5:18 u5:19 u5:20");
        THrdParameters hrd{};
        TBitStream4 reader;
        reader.SetData(w.Bytes().data(), static_cast<std::int32_t>(w.Bytes().size()));
        EXPECT_TRUE(Parse_hrd_parameters(reader, hrd));
        const std::uint32_t held = std::min<std::uint32_t>(c.written, 32);
        for (std::uint32_t i = 0; i < held; ++i) {
            EXPECT_EQ(hrd.bit_rate_value_minus1[i], i + 100);
            EXPECT_EQ(hrd.cpb_size_value_minus1[i], i + 200);
            EXPECT_EQ(hrd.cbr_flag[i], i % 2);
        }
        EXPECT_EQ(HrdCpbEntriesHeld(hrd), static_cast<std::int32_t>(held));
        EXPECT_EQ(hrd.initial_cpb_removal_delay_length_minus1, 17u) << c.cpb_cnt_minus1;
        EXPECT_EQ(hrd.time_offset_length, 20u) << c.cpb_cnt_minus1;
        EXPECT_EQ(reader.BitsRead(), static_cast<std::int64_t>(w.BitCount()));
    }
}

TEST(Parse_seq_parameter_set_rbsp, PayloadEndingInsideTheVuiGivesZeros) {
    // Truncated right after aspect_ratio_idc's first bits.
    BitWriter w;
    Head(w, 66).Put("ue:0 ue:2 ue:1 0 ue:10 ue:8 1 1 0 1 1 u3:7");
    const Parsed p = Parse(w);
    EXPECT_TRUE(p.ok);
    EXPECT_EQ(p.sps.vui_parameters_present_flag, 1u);
    EXPECT_EQ(p.sps.vui_parameters.aspect_ratio_info_present_flag, 1u);
    EXPECT_EQ(p.sps.vui_parameters.timing_info_present_flag, 0u);
    EXPECT_EQ(p.sps.vui_parameters.bitstream_restriction_flag, 0u);
}

// ---- the tree ----

struct Shown {
    TSyntaxTree tree;
    const TSyntaxLine* sps = nullptr;
    std::vector<std::string> debug;
};

std::unique_ptr<Shown> Show(const BitWriter& w) {
    auto s = std::make_unique<Shown>();
    TSeqParameterSet sps{};
    TBitStream4 reader;
    reader.SetData(w.Bytes().data(), static_cast<std::int32_t>(w.Bytes().size()));
    DebugCapture capture;
    Parse_seq_parameter_set_rbsp(reader, sps);
    const TTreeLine nal = s->tree.AddRootLine("NAL");
    Update_TreeView_seq_parameter_set_rbsp(s->tree, nal, sps);
    s->debug = capture.Lines();
    s->sps = s->tree.Roots()[0]->Children.at(0);
    return s;
}

TEST(Update_TreeView_seq_parameter_set_rbsp, BaselineShowsNineteenLines) {
    BitWriter w;
    Head(w, 66).Put("ue:0 ue:0 ue:2 ue:3 0 ue:10 ue:8 1 1 0 0").Trailing();
    const auto s = Show(w);
    EXPECT_EQ(s->sps->Text, "seq_parameter_set_rbsp( )");
    EXPECT_EQ(
        ChildLabels(*s->sps),
        (std::vector<std::string>{
            "profile_idc", "constraint_set0_flag", "constraint_set1_flag", "constraint_set2_flag",
            "constraint_set3_flag", "reserved_zero_4bits", "level_idc", "seq_parameter_set_id",
            "log2_max_frame_num_minus4", "pic_order_cnt_type", "log2_max_pic_order_cnt_lsb_minus4",
            "num_ref_frames", "gaps_in_frame_num_value_allowed_flag", "pic_width_in_mbs_minus1",
            "pic_height_in_map_units_minus1", "frame_mbs_only_flag", "direct_8x8_inference_flag",
            "frame_cropping_flag", "vui_parameters_present_flag"}));
    EXPECT_TRUE(s->debug.empty());
    EXPECT_TRUE(s->sps->Expanded);
    EXPECT_EQ(s->sps->Children[0]->Text, "profile_idc" + std::string(28, ' ') + " : 66 (8 bits)");
    EXPECT_EQ(s->sps->Children[5]->Text,
              "reserved_zero_4bits" + std::string(20, ' ') + " : 5 (4 bits)");
}

TEST(Update_TreeView_seq_parameter_set_rbsp, HighProfileBlockWithScalingListLines) {
    BitWriter w;
    Head(w, 100).Put("ue:1 ue:0 ue:0 0 1");
    const int flags[] = {1, 0, 0, 0, 0, 0, 1, 0};
    for (int i = 0; i < 8; ++i) {
        w.Flag(flags[i] != 0);
        if (flags[i]) {
            WriteList(w, {-8}); // ends at once
        }
    }
    Tail(w);
    const auto s = Show(w);
    EXPECT_EQ(std::count(s->debug.begin(), s->debug.end(), kWarning), 2);
    const auto labels = ChildLabels(*s->sps);
    const std::vector<std::string> expected = {"seq_parameter_set_id",
                                               "chroma_format_idc",
                                               "bit_depth_luma_minus8",
                                               "bit_depth_chroma_minus8",
                                               "qpprime_y_zero_transform_bypass_flag",
                                               "seq_scaling_matrix_present_flag",
                                               "seq_scaling_list_present_flag[0]",
                                               "scaling_list ( )",
                                               "seq_scaling_list_present_flag[1]",
                                               "seq_scaling_list_present_flag[2]",
                                               "seq_scaling_list_present_flag[3]",
                                               "seq_scaling_list_present_flag[4]",
                                               "seq_scaling_list_present_flag[5]",
                                               "seq_scaling_list_present_flag[6]",
                                               "scaling_list ( )",
                                               "seq_scaling_list_present_flag[7]",
                                               "log2_max_frame_num_minus4"};
    ASSERT_GE(labels.size(), 7 + expected.size());
    EXPECT_EQ(std::vector<std::string>(labels.begin() + 7,
                                       labels.begin() + 7 + static_cast<long>(expected.size())),
              expected);
    EXPECT_TRUE(FindChild(*s->sps, "scaling_list ( )")->Children.empty());
    EXPECT_EQ(ChildValue(*s->sps, "log2_max_frame_num_minus4"), "4");
}

TEST(Update_TreeView_seq_parameter_set_rbsp, ConditionalLinesFollowTheRecord) {
    struct Case {
        const char* name;
        std::function<void(BitWriter&)> write;
        std::vector<std::string> present;
        std::vector<std::string> absent;
    };
    const Case cases[] = {
        {"4:4:4 residual colour flag and twelve list flags",
         [](BitWriter& w) {
             Head(w, 244).Put("ue:3 1 ue:0 ue:0 1 1 u12:0");
             Tail(w);
         },
         {"residual_colour_transform_flag", "seq_scaling_list_present_flag[11]"},
         {"scaling_list ( )"}},
        {"profile 83 announces the SVC extension",
         [](BitWriter& w) {
             Head(w, 83).Put("ue:1 ue:0 ue:0 0 0");
             Tail(w);
         },
         {"chroma_format_idc", "seq_parameter_set_svc_extension( )"},
         {"residual_colour_transform_flag", "seq_scaling_list_present_flag[0]"}},
        {"poc type 1 with negative offsets",
         [](BitWriter& w) {
             Head(w, 66).Put("ue:0 ue:1 0 se:-1 se:2 ue:2 se:-1 se:4");
             w.Put("ue:1 0 ue:1 ue:1 0 0 1 1 ue:1 ue:2 ue:3 ue:4 0").Trailing();
         },
         {"offset_for_non_ref_pic", "offset_for_ref_frame[1]", "mb_adaptive_frame_field_flag",
          "frame_crop_bottom_offset"},
         {"log2_max_pic_order_cnt_lsb_minus4", "offset_for_ref_frame[2]", "chroma_format_idc"}},
    };
    for (const auto& c : cases) {
        BitWriter w;
        c.write(w);
        const auto s = Show(w);
        for (const auto& label : c.present) {
            EXPECT_NE(FindChild(*s->sps, label), nullptr) << c.name << ": " << label;
        }
        for (const auto& label : c.absent) {
            EXPECT_EQ(FindChild(*s->sps, label), nullptr) << c.name << ": " << label;
        }
    }
}

TEST(Update_TreeView_seq_parameter_set_rbsp, VuiAndHrdLinesNestCollapsed) {
    BitWriter w = SpsWithVui([](BitWriter& v) {
        v.Put("0 0 0 0 0");
        v.Put("1 ue:2 u4:0 u4:0");
        for (int i = 0; i < 3; ++i) {
            v.Put("ue:1 ue:1 1");
        }
        v.Put("u5:0 u5:0 u5:0 u5:0");
        v.Put("1 ue:0 u4:0 u4:0 ue:1 ue:1 0 u5:0 u5:0 u5:0 u5:0");
        v.Put("0 0 0");
    });
    const auto s = Show(w);
    const TSyntaxLine* vui = FindChild(*s->sps, "vui_parameters ( )");
    ASSERT_NE(vui, nullptr);
    EXPECT_EQ(s->sps->Children.back(), vui);
    EXPECT_FALSE(vui->Expanded);
    EXPECT_EQ(ChildLabels(*vui),
              (std::vector<std::string>{
                  "aspect_ratio_info_present_flag", "overscan_info_present_flag",
                  "video_signal_type_present_flag", "chroma_loc_info_present_flag",
                  "timing_info_present_flag", "nal_hrd_parameters_present_flag",
                  "hrd_parameters( )", "vcl_hrd_parameters_present_flag", "hrd_parameters( )",
                  "low_delay_hrd_flag", "pic_struct_present_flag", "bitstream_restriction_flag"}));
    const TSyntaxLine& nalHrd = *vui->Children[6];
    EXPECT_FALSE(nalHrd.Expanded);
    EXPECT_EQ(ChildLabels(nalHrd),
              (std::vector<std::string>{
                  "cpb_cnt_minus1", "bit_rate_scale", "cpb_size_scale", "bit_rate_value_minus1[0]",
                  "cpb_size_value_minus1[0]", "cbr_flag[0]", "bit_rate_value_minus1[1]",
                  "cpb_size_value_minus1[1]", "cbr_flag[1]", "bit_rate_value_minus1[2]",
                  "cpb_size_value_minus1[2]", "cbr_flag[2]",
                  "initial_cpb_removal_delay_length_minus1", "cpb_removal_delay_length_minus1",
                  "dpb_output_delay_length_minus1", "time_offset_length"}));
    EXPECT_EQ(ChildLabels(*vui->Children[8]).size(), 10u);
    // The 39-character label gets no padding.
    EXPECT_EQ(nalHrd.Children[12]->Text, "initial_cpb_removal_delay_length_minus1 : 0 (5 bits)");
}

TEST(Update_TreeView_seq_parameter_set_rbsp, ShowsOnlyTheEntriesTheRecordHolds) {
    TSeqParameterSet sps{};
    sps.profile_idc = 66;
    sps.pic_order_cnt_type = 1;
    sps.num_ref_frames_in_pic_order_cnt_cycle = 1000;
    sps.vui_parameters_present_flag = 1;
    sps.vui_parameters.nal_hrd_parameters_present_flag = 1;
    sps.vui_parameters.nal_hrd_parameters.cpb_cnt_minus1 = 0xFFFFFFFFu;
    sps.vui_parameters.vcl_hrd_parameters_present_flag = 1;
    sps.vui_parameters.vcl_hrd_parameters.cpb_cnt_minus1 = 99;
    TSyntaxTree tree;
    EXPECT_TRUE(Update_TreeView_seq_parameter_set_rbsp(tree, tree.AddRootLine("NAL"), sps));
    const TSyntaxLine& spsLine = *tree.Roots()[0]->Children[0];
    EXPECT_NE(FindChild(spsLine, "offset_for_ref_frame[255]"), nullptr);
    EXPECT_EQ(FindChild(spsLine, "offset_for_ref_frame[256]"), nullptr);
    const TSyntaxLine& vui = *FindChild(spsLine, "vui_parameters ( )");
    EXPECT_EQ(vui.Children[6]->Children.size(), 7u);            // no entries
    EXPECT_EQ(vui.Children[8]->Children.size(), 7u + 3u * 32u); // 32 of 100
}

} // namespace
