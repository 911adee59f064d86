// The deeper decoding on hand-made units: the ends of lists, payloads and slices that the
// test streams never reach.

#include "syntax/nal_unit.h"

#include "syntax/SyntaxTestSupport.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

// Parameter sets given by the test, asked for by id.
class FixedSets final : public IGoverningSets {
  public:
    std::optional<TPicParameterSet> PpsSet;
    std::optional<TSeqParameterSet> SpsSet;
    const TPicParameterSet* Pps(std::uint32_t id) override {
        return PpsSet && PpsSet->pic_parameter_set_id == id ? &*PpsSet : nullptr;
    }
    const TSeqParameterSet* Sps(std::optional<std::uint32_t> id) override {
        return SpsSet && (!id || SpsSet->seq_parameter_set_id == *id) ? &*SpsSet : nullptr;
    }
};

// 4:2:0, frame_num and the POC LSB in 4 bits each, frames only.
TSeqParameterSet Sps() {
    TSeqParameterSet sps{};
    sps.chroma_format_idc = 1;
    sps.frame_mbs_only_flag = 1;
    return sps;
}

struct Decoded {
    TSyntaxTree tree;
    TNalUnitDetail detail;
    std::vector<std::string> texts; // every line in display order
};

std::unique_ptr<Decoded> DecodeFull(const std::string& header, const BitWriter& payload,
                                    FixedSets& sets, bool stopBit = true) {
    auto d = std::make_unique<Decoded>();
    std::vector<std::uint8_t> rbsp = payload.Bytes();
    if (stopBit) {
        rbsp.push_back(0x80);
    }
    const auto bytes = Unit("00 00 01 " + header, Escape(rbsp));
    std::vector<std::uint8_t> scratch(bytes.size());
    TBitStream4 reader;
    const TFullDecoding full{&sets};
    DecodeNalUnit(bytes.data(), static_cast<std::int32_t>(bytes.size()), scratch.data(), reader,
                  d->tree, {}, &d->detail, &full);
    d->tree.Walk([&](const TSyntaxLine& line, int) { d->texts.push_back(line.Text); });
    return d;
}

TEST(DeepDecoding, SeiMessageEnds) {
    FixedSets sets;
    struct Case {
        const char* name;
        std::string elements; // the sei_rbsp( ) bytes before the stop bit
        std::vector<std::string> lastLines;
    };
    const Case cases[] = {
        {"payload past the end",
         "u8:6 u8:1 ue:0 1 0 u2:0 u3:0 | u8:5 u8:32 u32:0",
         {"payloadType                             : 5 (8 bits)",
          "payloadSize                             : 32 (8 bits)", "user_data_unregistered( )",
          "payloadSize 32 runs past the end of the unit (5 bytes left): the list ends here"}},
        {"0xFF-extended type of no name",
         "u8:255 u8:45 u8:1 u8:0",
         {"sei_message( )", "payloadType                             : 300 (16 bits)",
          "payloadSize                             : 1 (8 bits)",
          "sei_payload( ) of an unknown type"}},
        {"user data that is not text",
         "u8:5 u8:18 u32:1 u32:2 u32:3 u32:4 u8:1 u8:200",
         {"uuid_iso_iec_11578                      : 00000001-0000-0002-0000-000300000004 "
          "(128 bits)",
          "user_data_payload_byte                  : 01 c8 (16 bits)"}},
        {"user data shorter than its UUID",
         "u8:5 u8:2 u16:7",
         {"user_data_unregistered( )", "payload shorter than the 16 bytes of uuid_iso_iec_11578"}},
        {"recovery point cut inside its payload",
         "u8:6 u8:1 u8:0",
         {"payloadSize                             : 1 (8 bits)",
          "recovery_point( ) ends early: its 1 bytes end before its last element"}},
        {"pic timing without a sequence parameter set",
         "u8:1 u8:1 u8:0",
         {"pic_timing( )", "no seq_parameter_set_rbsp( ) found within 16 MiB before this unit"}},
        {"buffering period of a missing set",
         "u8:0 u8:1 ue:3 1 0 0",
         {"buffering_period( )", "seq_parameter_set_id                    : 3 (v bits)",
          "seq_parameter_set_id 3 not found within 16 MiB before this unit"}},
    };
    for (const auto& c : cases) {
        const auto d = DecodeFull("06", BitWriter().Put(c.elements), sets);
        ASSERT_GE(d->texts.size(), c.lastLines.size()) << c.name;
        const std::vector<std::string> last(
            d->texts.end() - static_cast<std::ptrdiff_t>(c.lastLines.size()), d->texts.end());
        EXPECT_EQ(last, c.lastLines) << c.name;
    }
}

TEST(DeepDecoding, PicTimingFollowsTheSequenceParameterSet) {
    FixedSets sets;
    sets.SpsSet = Sps();
    TSeqParameterSet& sps = *sets.SpsSet;
    sps.vui_parameters_present_flag = 1;
    sps.vui_parameters.vcl_hrd_parameters_present_flag = 1;
    sps.vui_parameters.vcl_hrd_parameters.cpb_removal_delay_length_minus1 = 9;
    sps.vui_parameters.vcl_hrd_parameters.dpb_output_delay_length_minus1 = 2;
    sps.vui_parameters.vcl_hrd_parameters.time_offset_length = 5;
    sps.vui_parameters.pic_struct_present_flag = 1;
    // pic_struct 3 (top, bottom): two clock timestamps, the second one given in full.
    const auto d = DecodeFull("06",
                              BitWriter().Put("u8:1 u8:9 u10:700 u3:5 u4:3 0 1 u2:1 0 u5:4 1 0 1 "
                                              "u8:12 u6:30 u6:59 u5:23 u5:31 0 0 0 0"),
                              sets);
    const std::vector<std::string> expected = {
        "cpb_removal_delay                       : 700 (10 bits)",
        "dpb_output_delay                        : 5 (3 bits)",
        "pic_struct                              : 3 (4 bits)",
        "clock_timestamp_flag[0]                 : 0 (1 bit)",
        "clock_timestamp_flag[1]                 : 1 (1 bit)",
        "ct_type                                 : 1 (2 bits)",
        "nuit_field_based_flag                   : 0 (1 bit)",
        "counting_type                           : 4 (5 bits)",
        "full_timestamp_flag                     : 1 (1 bit)",
        "discontinuity_flag                      : 0 (1 bit)",
        "cnt_dropped_flag                        : 1 (1 bit)",
        "n_frames                                : 12 (8 bits)",
        "seconds_value                           : 30 (6 bits)",
        "minutes_value                           : 59 (6 bits)",
        "hours_value                             : 23 (5 bits)",
        "time_offset                             : -1 (5 bits)",
    };
    ASSERT_GE(d->texts.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(
                  d->texts.end() - static_cast<std::ptrdiff_t>(expected.size()), d->texts.end()),
              expected);
}

TEST(DeepDecoding, SliceHeaderEnds) {
    struct Case {
        const char* name;
        bool withPps;
        bool withSps;
        std::string header; // NAL header byte
        std::string elements;
        std::string lastLine;
        bool endsEarly;
    };
    const std::string manyOperations = [] {
        std::string ops;
        for (int i = 0; i < 70; ++i) {
            ops += " ue:1 ue:0";
        }
        return ops;
    }();
    // A B slice with 32 weighted references a list, each weight far from zero: a header
    // longer than the bytes a slice is first freed of emulation prevention in.
    const std::string longWeights = [] {
        std::string weights = " ue:0 ue:0";
        for (int list = 0; list < 2; ++list) {
            for (int i = 0; i < 32; ++i) {
                weights += " 1 se:500000000 se:-500000000 1";
                for (int j = 0; j < 4; ++j) {
                    weights += " se:500000000";
                }
            }
        }
        return weights;
    }();
    const Case cases[] = {
        {"a header past the usual bytes", true, true, "41",
         "ue:0 ue:1 ue:0 u4:0 1 1 ue:31 ue:31 0 0" + longWeights + " 0 se:5",
         ElementLine("slice_qp_delta", kParameterSetLabelWidth, "5", kVariableBits), false},
        {"no PPS", false, true, "41", "ue:0 ue:0 ue:4 u4:0",
         "pic_parameter_set_id 4 not found within 16 MiB before this unit", false},
        {"no SPS", true, false, "41", "ue:0 ue:0 ue:0 u4:0",
         "seq_parameter_set_id 0 not found within 16 MiB before this unit", false},
        {"cut in frame_num", true, true, "41", "ue:0 ue:0 ue:0 u1:0",
         "NAL unit ends early: data ends after 8 bits", true},
        {"marking operations without an end", true, true, "41",
         "ue:0 ue:0 ue:0 u4:1 0 0 1" + manyOperations, "no end of the operations within 66 entries",
         false},
        {"modifications without an end", true, true, "41",
         "ue:0 ue:0 ue:0 u4:1 0 1" + manyOperations, "no end of the list within 33 entries", false},
    };
    for (const auto& c : cases) {
        FixedSets sets;
        if (c.withPps) {
            sets.PpsSet = TPicParameterSet{};
            sets.PpsSet->weighted_bipred_idc = 1;
        }
        if (c.withSps) {
            sets.SpsSet = Sps();
            sets.SpsSet->pic_order_cnt_type = 2;
        }
        const auto d = DecodeFull(c.header, BitWriter().Put(c.elements), sets, !c.endsEarly);
        ASSERT_FALSE(d->texts.empty()) << c.name;
        EXPECT_EQ(d->texts.back(), c.lastLine) << c.name;
        EXPECT_EQ(d->detail.EndsEarly, c.endsEarly) << c.name;
    }
}

} // namespace
