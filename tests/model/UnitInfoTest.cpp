// The one-line summary of each unit (the Info column) against ffmpeg's reading of the test
// streams: slice type, frame_num, POC lsb and QP of every slice; every parameter set's
// facts, the SPS size worked out here from its cropping fields; every SEI unit's message
// names. And what a summary shows when the unit's bytes end early.

#include "syntax/UnitInfo.h"
#include "stream/FileStream.h"
#include "stream/UnitCursor.h"
#include "syntax/Meanings.h"
#include "model/SetStore.h"
#include "syntax/ReferenceSupport.h"
#include "syntax/nal_unit.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace reference;

// The first value of each element of a block (enough for the heads looked at here).
std::map<std::string, std::int64_t> Values(const std::vector<RefElement>& elements) {
    std::map<std::string, std::int64_t> values;
    for (const RefElement& e : elements) {
        values.emplace(e.Name, e.Value);
    }
    return values;
}

std::int64_t Get(const std::map<std::string, std::int64_t>& values, const std::string& name,
                 std::int64_t absent = 0) {
    const auto found = values.find(name);
    return found != values.end() ? found->second : absent;
}

// The names of the profiles and SEI payloads the test streams hold.
const std::map<std::int64_t, std::string> kProfileNames = {
    {66, "Baseline"}, {77, "Main"},        {100, "High"},
    {110, "High 10"}, {122, "High 4:2:2"}, {244, "High 4:4:4 Predictive"}};
const std::map<std::int64_t, std::string> kSeiNames = {
    {0, "buffering_period"},           {1, "pic_timing"},
    {5, "user_data_unregistered"},     {6, "recovery_point"},
    {45, "frame_packing_arrangement"}, {137, "mastering_display_colour_volume"},
    {144, "content_light_level_info"}, {147, "alternative_transfer_characteristics"}};

std::string ExpectedSps(const std::map<std::string, std::int64_t>& v) {
    const std::int64_t chroma = Get(v, "chroma_format_idc", 1);
    const bool planes = Get(v, "separate_colour_plane_flag") != 0;
    const std::int64_t arrayType = planes ? 0 : chroma;
    const std::int64_t cropX = arrayType == 0 ? 1 : (arrayType == 3 ? 1 : 2);
    const std::int64_t frameMbsOnly = Get(v, "frame_mbs_only_flag");
    const std::int64_t cropY = (arrayType == 1 ? 2 : 1) * (2 - frameMbsOnly);
    const std::int64_t width =
        16 * (Get(v, "pic_width_in_mbs_minus1") + 1) -
        cropX * (Get(v, "frame_crop_left_offset") + Get(v, "frame_crop_right_offset"));
    const std::int64_t height =
        16 * (2 - frameMbsOnly) * (Get(v, "pic_height_in_map_units_minus1") + 1) -
        cropY * (Get(v, "frame_crop_top_offset") + Get(v, "frame_crop_bottom_offset"));
    const std::int64_t level = Get(v, "level_idc");
    std::string text = kProfileNames.at(Get(v, "profile_idc")) + "  " + std::to_string(level / 10) +
                       "." + std::to_string(level % 10) + "  " + std::to_string(width) + "x" +
                       std::to_string(height);
    return frameMbsOnly == 0 ? text + "  interlaced" : text;
}

std::string ExpectedSei(const std::vector<RefElement>& elements) {
    std::string text;
    std::int64_t type = 0;
    for (const RefElement& e : elements) {
        if (e.Name == "ff_byte" && text.size() < 100000) {
            type += e.Value; // only before the type's last byte; sizes reset below
        } else if (e.Name == "last_payload_type_byte") {
            type += e.Value;
            text += (text.empty() ? "" : ", ") + kSeiNames.at(type);
        } else if (e.Name == "last_payload_size_byte") {
            type = 0; // a size's ff_bytes were summed into type: start afresh
        }
    }
    return text;
}

struct Counted {
    int Slices = 0;
    int ParameterSets = 0;
    int Seis = 0;
};

void CompareStream(const std::string& name, Counted& counted) {
    const RefStream ref = LoadRef(TestDataPath(name + ".ref"));
    const std::string path = TestDataPath(name + ".264");
    FileStream listing;
    FileStream detail;
    ASSERT_TRUE(listing.Open(path));
    ASSERT_TRUE(detail.Open(path));
    TSetStore sets(&detail);
    TUnitInfo info;
    std::map<std::int64_t, std::int64_t> qpInitByPps;
    TUnitCursor units(listing);
    TNalUnitSpan span;
    for (int index = 0; units.Next(span); ++index) {
        SCOPED_TRACE(name + " NAL " + std::to_string(index));
        sets.LookBackFrom(span.Offset);
        const std::string shown =
            info.Read(detail, span.Offset, span.Length, units.FileSize(), &sets);
        if (const auto ps = ref.ParameterSets.find(index); ps != ref.ParameterSets.end()) {
            const auto v = Values(ps->second);
            if (ref.NalTypes[static_cast<std::size_t>(index)] == 7) {
                EXPECT_EQ(shown, ExpectedSps(v));
            } else {
                qpInitByPps[Get(v, "pic_parameter_set_id")] = 26 + Get(v, "pic_init_qp_minus26");
                EXPECT_EQ(shown, "PPS " + std::to_string(Get(v, "pic_parameter_set_id")) +
                                     "  SPS " + std::to_string(Get(v, "seq_parameter_set_id")) +
                                     "  " +
                                     (Get(v, "entropy_coding_mode_flag") != 0 ? "CABAC" : "CAVLC"));
            }
            ++counted.ParameterSets;
        } else if (const auto slice = ref.Slices.find(index); slice != ref.Slices.end()) {
            const auto v = Values(slice->second);
            std::string expected = std::string(1, "PBIPI"[Get(v, "slice_type") % 5]);
            expected += "  frame_num " + std::to_string(Get(v, "frame_num"));
            if (v.count("pic_order_cnt_lsb") != 0) {
                expected += "  POC lsb " + std::to_string(Get(v, "pic_order_cnt_lsb"));
            }
            const std::int64_t qp =
                qpInitByPps.at(Get(v, "pic_parameter_set_id")) + Get(v, "slice_qp_delta");
            expected += "  QP " + std::to_string(qp);
            EXPECT_EQ(shown, expected);
            ++counted.Slices;
        } else if (const auto sei = ref.Seis.find(index); sei != ref.Seis.end()) {
            EXPECT_EQ(shown, ExpectedSei(sei->second));
            ++counted.Seis;
        }
    }
}

class UnitInfoReference : public testing::TestWithParam<std::string> {};

TEST_P(UnitInfoReference, EverySliceParameterSetAndSeiSummaryMatchesTheReference) {
    DebugCapture quiet;
    Counted counted;
    CompareStream(GetParam(), counted);
    EXPECT_GE(counted.Slices, 3);
    EXPECT_GE(counted.ParameterSets, 2);
}

INSTANTIATE_TEST_SUITE_P(TestData, UnitInfoReference, testing::ValuesIn(StreamNames()),
                         [](const testing::TestParamInfo<std::string>& param) {
                             return param.param;
                         });

// The parts of a summary, two spaces apart (an SEI list's commas stay inside a part).
std::vector<std::string> Parts(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t from = 0;
    while (from <= text.size()) {
        const std::size_t at = text.find("  ", from);
        parts.push_back(text.substr(from, at == std::string::npos ? std::string::npos : at - from));
        if (at == std::string::npos) {
            break;
        }
        from = at + 2;
    }
    return parts;
}

// Every unit of a stream cut after each of its bytes: the summary is the whole one, or the
// leading parts of it followed by "(ends early)" (an SEI's names may stop within a part).
TEST(UnitInfo, AUnitCutAnywhereShowsWhatWasReadAndEndsEarly) {
    DebugCapture quiet;
    for (const char* name :
         {"main_cabac", "aud_sei", "interlaced_mbaff", "vui_full", "hrd_nal_vbr"}) {
        const std::string path = TestDataPath(std::string(name) + ".264");
        const std::vector<std::uint8_t> bytes = ReadAll(path);
        FileStream listing;
        FileStream detail;
        ASSERT_TRUE(listing.Open(path));
        ASSERT_TRUE(detail.Open(path));
        TSetStore sets(&detail);
        TUnitInfo info;
        TUnitCursor units(listing);
        TNalUnitSpan span;
        for (int index = 0; units.Next(span) && index < 24; ++index) {
            sets.LookBackFrom(span.Offset);
            const std::uint8_t* unit = bytes.data() + span.Offset;
            const auto length =
                static_cast<std::int32_t>(std::min<std::int64_t>(span.Length, 2048));
            const std::string whole = info.Describe(unit, length, false, &sets);
            for (std::int32_t n = span.StartCodeLength + 1; n < length; ++n) {
                const std::string cut = info.Describe(unit, n, false, &sets);
                if (cut == whole) {
                    continue;
                }
                SCOPED_TRACE(std::string(name) + " unit " + std::to_string(index) + " cut to " +
                             std::to_string(n) + ": " + cut);
                std::vector<std::string> parts = Parts(cut);
                ASSERT_EQ(parts.back(), kEndsEarlyNote);
                parts.pop_back();
                const std::vector<std::string> full = Parts(whole);
                ASSERT_LE(parts.size(), full.size());
                for (std::size_t i = 0; i < parts.size(); ++i) {
                    EXPECT_EQ(full[i].rfind(parts[i], 0), 0u) << full[i];
                }
            }
        }
    }
}

TEST(UnitInfo, SummariesOfUnitsAlone) {
    struct Case {
        const char* Bytes;
        bool Cut;
        const char* Expected;
    } const cases[] = {
        // A slice whose PPS is nowhere: its letter only (ue 0, slice_type 7 = I, PPS 0).
        {"00 00 01 65 88 80", false, "I  (PPS 0 not found)"},
        {"00 00 01 09 10", false, "primary_pic_type 0 (I)"},
        {"00 00 01 09 F0", false, "primary_pic_type 7 (I, SI, P, SP, B)"},
        {"00 00 01 09", false, "(ends early)"},
        {"00 00 01 68", false, "(ends early)"},
        {"00 00 01 68 CE", false, "PPS 0  SPS 0  CAVLC"},
        {"00 00 01 68 AE", false, "PPS 0  SPS 1  CABAC"},
        // An SEI message whose body goes on past the bytes given, of a unit that goes on.
        {"00 00 01 06 05 40 00", true, "user_data_unregistered  ..."},
        {"00 00 01 06 05 40 00", false, "user_data_unregistered  (ends early)"},
        {"00 00 01 06 06 01 C4 80", false, "recovery_point"},
        {"00 00 01 06 C8 00 80", false, "payloadType 200"},
        {"00 00 01 0C FF FF 80", false, ""},
        {"00 00 01", false, ""},
    };
    TUnitInfo info;
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> bytes = Hex(c.Bytes);
        EXPECT_EQ(
            info.Describe(bytes.data(), static_cast<std::int32_t>(bytes.size()), c.Cut, nullptr),
            c.Expected)
            << c.Bytes;
    }
}

TEST(Meanings, EnumeratedValuesAsTheStandardNamesThem) {
    struct Case {
        const char* Label;
        std::uint32_t Value;
        std::uint32_t Profile;
        std::uint32_t ConstraintSet3;
        const char* Meaning;
    } const cases[] = {
        {"profile_idc", 66, 0, 0, "Baseline"},
        {"profile_idc", 100, 0, 0, "High"},
        {"profile_idc", 244, 0, 0, "High 4:4:4 Predictive"},
        {"profile_idc", 101, 0, 0, ""},
        {"level_idc", 40, 100, 0, "4.0"},
        {"level_idc", 11, 66, 1, "1b"},
        {"level_idc", 11, 100, 1, "1.1"},
        {"level_idc", 9, 100, 0, "1b"},
        {"level_idc", 14, 100, 0, ""},
        {"slice_type", 6, 0, 0, "B"},
        {"slice_type", 4, 0, 0, "SI"},
        {"slice_type", 10, 0, 0, ""},
        {"primary_pic_type", 2, 0, 0, "I, P, B"},
        {"nal_unit_type", 7, 0, 0, "Sequence parameter set"},
        {"chroma_format_idc", 0, 0, 0, "4:0:0"},
        {"chroma_format_idc", 2, 0, 0, "4:2:2"},
        {"aspect_ratio_idc", 4, 0, 0, "16:11"},
        {"aspect_ratio_idc", 17, 0, 0, "Reserved"},
        {"aspect_ratio_idc", 255, 0, 0, "Extended_SAR"},
        {"video_format", 2, 0, 0, "NTSC"},
        {"video_format", 6, 0, 0, "Reserved"},
        {"colour_primaries", 9, 0, 0, "BT.2020"},
        {"colour_primaries", 3, 0, 0, "Reserved"},
        {"transfer_characteristics", 16, 0, 0, "SMPTE ST 2084 PQ"},
        {"transfer_characteristics", 18, 0, 0, "ARIB STD-B67 HLG"},
        {"matrix_coefficients", 0, 0, 0, "Identity"},
        {"matrix_coefficients", 14, 0, 0, "ICtCp"},
        {"frame_num", 3, 0, 0, ""},
    };
    std::string room;
    for (const Case& c : cases) {
        EXPECT_EQ(ElementMeaning(c.Label, c.Value, {c.Profile, c.ConstraintSet3}, room), c.Meaning)
            << c.Label << " " << c.Value;
    }
    // No meaning carries the " (" that begins a line's width.
    for (const char* label : {"profile_idc", "aspect_ratio_idc", "video_format", "colour_primaries",
                              "transfer_characteristics", "matrix_coefficients", "nal_unit_type"}) {
        for (std::uint32_t v = 0; v < 256; ++v) {
            EXPECT_EQ(ElementMeaning(label, v, {}, room).find(" ("), std::string::npos)
                << label << v;
        }
    }
}

// Which values each table of the standard names (the rest are reserved or, for profiles and
// levels, unknown): every one of them has a meaning, and no other value has one.
TEST(Meanings, EveryValueTheStandardNamesAndNoOther) {
    const auto range = [](std::uint32_t first, std::uint32_t last) {
        std::vector<std::uint32_t> values;
        for (std::uint32_t v = first; v <= last; ++v) {
            values.push_back(v);
        }
        return values;
    };
    const auto join = [](std::vector<std::uint32_t> a, const std::vector<std::uint32_t>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const std::pair<const char*, std::vector<std::uint32_t>> named[] = {
        {"profile_idc",
         {44, 66, 77, 83, 86, 88, 100, 110, 118, 122, 128, 134, 135, 138, 139, 144, 244}},
        {"level_idc",
         {9, 10, 11, 12, 13, 20, 21, 22, 30, 31, 32, 40, 41, 42, 50, 51, 52, 60, 61, 62}},
        {"slice_type", range(0, 9)},
        {"primary_pic_type", range(0, 7)},
        {"nal_unit_type", join(join(range(0, 13), range(19, 21)), range(24, 31))},
        {"chroma_format_idc", range(0, 3)},
        {"aspect_ratio_idc", join(range(0, 16), {255})},
        {"video_format", range(0, 5)},
        {"colour_primaries", {1, 2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 22}},
        {"transfer_characteristics", join({1, 2}, range(4, 18))},
        {"matrix_coefficients", join({0, 1, 2}, range(4, 14))},
    };
    std::string room;
    for (const auto& [label, values] : named) {
        std::vector<std::uint32_t> shown;
        for (std::uint32_t v = 0; v < 1024; ++v) {
            const std::string_view meaning = ElementMeaning(label, v, {}, room);
            if (!meaning.empty() && meaning != "Reserved") {
                shown.push_back(v);
            }
        }
        EXPECT_EQ(shown, values) << label;
        EXPECT_TRUE(ElementTellsMeaning(label)) << label;
    }
    // The labels it tells from the letters it looks at, and those that share them.
    EXPECT_TRUE(ElementTellsMeaning("constraint_set3_flag"));
    for (const char* other : {"", "nal_ref_idc", "constraint_set2_flag", "pic_parameter_set_id",
                              "first_mb_in_slice", "slice_typ", "slice_types", "blice_type",
                              "colour_primariex", "profile_idx", "level_idc_with_a_long_tail"}) {
        EXPECT_FALSE(ElementTellsMeaning(other)) << other;
    }
}

// The deeper tree of a sequence parameter set: meanings in brackets after the widths, and
// the size and rate line after its elements.
TEST(Meanings, TheDeeperTreeShowsThemAndTheSequenceSummary) {
    DebugCapture quiet;
    for (const auto& [name, summary] :
         {std::pair<const char*, const char*>{"main_cabac",
                                              "cropped size 176x144, frame rate 25 fps"},
          {"crop_170x100", "cropped size 164x98, frame rate 25 fps"},
          {"interlaced_mbaff", "cropped size 176x120, frame rate 25 fps"}}) {
        const std::vector<std::uint8_t> bytes = ReadAll(TestDataPath(std::string(name) + ".264"));
        std::vector<std::uint8_t> rbsp(bytes.size());
        TBitStream4 reader;
        TSyntaxTree tree;
        struct NoSets final : IGoverningSets {
            const TPicParameterSet* Pps(std::uint32_t) override { return nullptr; }
            const TSeqParameterSet* Sps(std::optional<std::uint32_t>) override { return nullptr; }
        } sets;
        const TFullDecoding full{&sets, nullptr};
        DecodeNalUnit(bytes.data(), static_cast<std::int32_t>(bytes.size()), rbsp.data(), reader,
                      tree, {}, nullptr, &full);
        std::map<std::string, std::string> meanings;
        std::string last;
        tree.Walk([&](const TSyntaxLine& line, int depth) {
            if (auto parsed = ParseElementLine(line.Text); parsed && !parsed->Meaning.empty()) {
                meanings[parsed->Label] = parsed->Meaning;
            }
            if (depth == 2) {
                last = line.Text;
            }
        });
        EXPECT_EQ(last, summary) << name;
        EXPECT_EQ(meanings["nal_unit_type"], "Sequence parameter set");
        EXPECT_EQ(meanings["aspect_ratio_idc"], "1:1");
        EXPECT_FALSE(meanings["profile_idc"].empty());
        EXPECT_FALSE(meanings["level_idc"].empty());

        // Without the deeper decoding no line ends with a meaning.
        TSyntaxTree plain;
        DecodeNalUnit(bytes.data(), static_cast<std::int32_t>(bytes.size()), rbsp.data(), reader,
                      plain, {});
        plain.Walk([&](const TSyntaxLine& line, int) {
            EXPECT_NE(line.Text.back(), ']') << line.Text;
            EXPECT_EQ(line.Text.rfind("cropped size", 0), std::string::npos);
        });
    }
}

} // namespace
