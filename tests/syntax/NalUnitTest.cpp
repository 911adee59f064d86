#include "syntax/nal_unit.h"

#include "stream/FileStream.h"
#include "support/TestSupport.h"
#include "syntax/SyntaxTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

struct Shown {
    TSyntaxTree tree;
    bool result = false;
    std::vector<std::uint32_t> lookups; // ids the lookup was asked for
    const TSyntaxLine* Nal() const { return tree.Roots().empty() ? nullptr : tree.Roots()[0]; }
};

std::unique_ptr<Shown> Decode(const std::vector<std::uint8_t>& bytes,
                              std::optional<std::uint32_t> chroma = std::nullopt,
                              std::int32_t n = -1) {
    auto s = std::make_unique<Shown>();
    // The scratch buffer is only as large as the bytes read, so any overrun shows up
    // under a sanitizer.
    std::vector<std::uint8_t> rbsp(bytes.size());
    TBitStream4 reader;
    Shown* shown = s.get();
    const TChromaFormatLookup lookup = [shown, chroma](std::uint32_t id) {
        shown->lookups.push_back(id);
        return chroma;
    };
    s->result = DecodeNalUnit(bytes.data(), n < 0 ? static_cast<std::int32_t>(bytes.size()) : n,
                              rbsp.data(), reader, s->tree, lookup);
    return s;
}

TEST(DecodeNalUnit, HeaderLines) {
    struct Case {
        const char* bytes;
        std::vector<std::string> values;
    };
    const Case cases[] = {
        {"00 00 00 01 67", {"0", "3", "7"}},
        {"00 00 01 09 F0", {"0", "0", "9"}},
        {"00 00 01 65 88", {"0", "3", "5"}},
        {"00 00 00 01 E5 88", {"1", "3", "5"}}, // forbidden bit set: decoded as usual
        {"00 00 01 41", {"0", "2", "1"}},
        {"00 00 01 1F", {"0", "0", "31"}},
    };
    for (const auto& c : cases) {
        const auto s = Decode(Hex(c.bytes));
        ASSERT_TRUE(s->result) << c.bytes;
        const TSyntaxLine* nal = s->Nal();
        EXPECT_EQ(nal->Text, "NAL");
        EXPECT_TRUE(nal->Expanded);
        ASSERT_GE(nal->Children.size(), 3u);
        EXPECT_EQ(nal->Children[0]->Text,
                  "forbidden_zero_bit" + std::string(18, ' ') + " : " + c.values[0] + " (1 bit)");
        EXPECT_EQ(nal->Children[1]->Text,
                  "nal_ref_idc" + std::string(25, ' ') + " : " + c.values[1] + " (2 bits)");
        EXPECT_EQ(nal->Children[2]->Text,
                  "nal_unit_type" + std::string(23, ' ') + " : " + c.values[2] + " (5 bits)");
    }
}

TEST(DecodeNalUnit, StructureLineByType) {
    const std::string slice = "slice_layer_without_partitioning_rbsp( )";
    const std::string scalable = "slice_layer_in_scalable_extension_rbsp( )";
    const std::map<int, std::string> lines = {
        {1, slice},
        {2, "slice_data_partition_a_layer_rbsp( )"},
        {3, "slice_data_partition_b_layer_rbsp( )"},
        {4, "slice_data_partition_c_layer_rbsp( )"},
        {5, slice},
        {6, "sei_rbsp( )"},
        {9, "access_unit_delimiter_rbsp( )"},
        {10, "end_of_seq_rbsp( )"},
        {11, "end_of_stream_rbsp( )"},
        {12, "filler_data_rbsp( )"},
        {13, "seq_parameter_set_extension_rbsp( )"},
        {19, slice},
        {20, scalable},
        {21, scalable},
    };
    for (int type = 0; type < 32; ++type) {
        if (type == 7 || type == 8) {
            continue;
        }
        auto bytes = Hex("00 00 01");
        bytes.push_back(static_cast<std::uint8_t>(0x20 | type));
        bytes.insert(bytes.end(), {0xFF, 0x80});
        const auto s = Decode(bytes);
        const TSyntaxLine* nal = s->Nal();
        const auto it = lines.find(type);
        if (it == lines.end()) {
            EXPECT_EQ(nal->Children.size(), 3u) << type;
            continue;
        }
        ASSERT_EQ(nal->Children.size(), 4u) << type;
        const TSyntaxLine& structure = *nal->Children[3];
        EXPECT_EQ(structure.Text, it->second) << type;
        EXPECT_TRUE(structure.Expanded) << type;
        EXPECT_EQ(structure.Children.size(), type == 9 ? 1u : 0u) << type;
    }
}

TEST(DecodeNalUnit, AccessUnitDelimiter) {
    struct Case {
        const char* bytes;
        const char* primaryPicType; // nullptr: no line
    };
    const Case cases[] = {
        {"00 00 01 09 50", "2"},
        {"00 00 00 01 09 F0", "7"},
        {"00 00 01 09 10", "0"},
        {"00 00 01 09", nullptr},                // no payload byte
        {"00 00 01 09 00 00 01 09 F0", nullptr}, // the next unit's byte is not ours
    };
    for (const auto& c : cases) {
        const auto s = Decode(Hex(c.bytes));
        const TSyntaxLine& aud = *s->Nal()->Children.at(3);
        EXPECT_EQ(aud.Text, "access_unit_delimiter_rbsp( )");
        if (c.primaryPicType == nullptr) {
            EXPECT_TRUE(aud.Children.empty()) << c.bytes;
        } else {
            ASSERT_EQ(aud.Children.size(), 1u) << c.bytes;
            EXPECT_EQ(aud.Children[0]->Text, "primary_pic_type" + std::string(20, ' ') + " : " +
                                                 c.primaryPicType + " (3 bits)");
        }
    }
}

TEST(DecodeNalUnit, NothingToShow) {
    // Nothing read: the previous tree stays.
    {
        TSyntaxTree tree;
        tree.AddRootLine("previous");
        std::uint8_t byte = 0;
        TBitStream4 reader;
        EXPECT_FALSE(DecodeNalUnit(&byte, 0, &byte, reader, tree, {}));
        EXPECT_FALSE(DecodeNalUnit(nullptr, 5, &byte, reader, tree, {}));
        EXPECT_EQ(tree.Roots().size(), 1u);
    }
    // Bytes that do not begin with a start code: the tree is cleared.
    for (const char* bytes : {"00 00 02 67", "67 42 00 1E", "00 00", "00 00 00 00 01 67"}) {
        const auto b = Hex(bytes);
        TSyntaxTree tree;
        tree.AddRootLine("previous");
        std::vector<std::uint8_t> rbsp(b.size());
        TBitStream4 reader;
        EXPECT_FALSE(DecodeNalUnit(b.data(), static_cast<std::int32_t>(b.size()), rbsp.data(),
                                   reader, tree, {}))
            << bytes;
        EXPECT_TRUE(tree.Roots().empty()) << bytes;
    }
}

// A start code alone, at the end of the bytes or right before the next one, has no header
// byte of its own: the byte after it is not taken for one.
TEST(DecodeNalUnit, AStartCodeAloneShowsNoHeader) {
    for (const char* bytes : {"00 00 00 01", "00 00 01", "00 00 01 00 00 01 68 CE",
                              "00 00 00 01 00 00 01 67", "00 00 01 00 00 00 01 09 10"}) {
        const auto s = Decode(Hex(bytes));
        EXPECT_TRUE(s->result) << bytes;
        ASSERT_EQ(s->tree.Roots().size(), 1u) << bytes;
        EXPECT_EQ(s->Nal()->Text, "NAL");
        EXPECT_EQ(ChildTexts(*s->Nal()), std::vector<std::string>{"(no header)"}) << bytes;
        EXPECT_TRUE(s->Nal()->Expanded);
    }
}

TEST(DecodeNalUnit, EmptyParameterSetsEndEarlyAfterTheirHeader) {
    for (const char* bytes : {"00 00 00 01 67", "00 00 01 68", "00 00 01 68 00 00 01 68"}) {
        const auto s = Decode(Hex(bytes));
        EXPECT_TRUE(s->result);
        const auto texts = ChildTexts(*s->Nal());
        ASSERT_EQ(texts.size(), 4u) << bytes;
        EXPECT_EQ(texts[3], "NAL unit ends early: data ends after 0 bits") << bytes;
        EXPECT_TRUE(s->Nal()->Expanded);
    }
}

// A Baseline SPS whose 32-bit num_units_in_tick of 1 puts 00 00 00 in the RBSP, so the
// stream carries an emulation-prevention byte there.
BitWriter BaselineSpsWithTiming() {
    BitWriter w;
    w.Put("u8:66 u8:192 u8:30 ue:0 ue:0 ue:2 ue:1 0 ue:10 ue:8 1 1 0 1");
    w.Put("0 0 0 0 1 u32:1 u32:50 1 0 0 0 0");
    w.Trailing();
    return w;
}

TEST(DecodeNalUnit, ParameterSetsAreParsedWithoutEmulationPrevention) {
    const BitWriter w = BaselineSpsWithTiming();
    const auto escaped = Escape(w.Bytes());
    ASSERT_GT(escaped.size(), w.Bytes().size());
    auto bytes = Unit("00 00 00 01 67", escaped);
    // The next unit follows; it is not part of this one.
    const auto next = Hex("00 00 00 01 68 CE 38 80");
    bytes.insert(bytes.end(), next.begin(), next.end());
    const auto s = Decode(bytes);
    const TSyntaxLine* nal = s->Nal();
    ASSERT_EQ(nal->Children.size(), 4u);
    const TSyntaxLine& sps = *nal->Children[3];
    EXPECT_EQ(sps.Text, "seq_parameter_set_rbsp( )");
    EXPECT_TRUE(sps.Expanded);
    const TSyntaxLine& vui = *FindChild(sps, "vui_parameters ( )");
    EXPECT_EQ(ChildValue(vui, "num_units_in_tick"), "1");
    EXPECT_EQ(ChildValue(vui, "time_scale"), "50");
    EXPECT_EQ(ChildValue(vui, "bitstream_restriction_flag"), "0");
    EXPECT_EQ(ChildValue(sps, "level_idc"), "30");
    EXPECT_TRUE(s->lookups.empty());
}

BitWriter PpsWithLists(bool transform8x8, bool matrix, int flags) {
    BitWriter w;
    w.Ue(0)
        .Ue(4)
        .Flag(true)
        .Flag(false)
        .Ue(0)
        .Ue(0)
        .Ue(0)
        .Flag(false)
        .U(2, 0)
        .Se(0)
        .Se(0)
        .Se(0)
        .Flag(true)
        .Flag(false)
        .Flag(false)
        .Flag(transform8x8)
        .Flag(matrix);
    for (int i = 0; i < flags; ++i) {
        w.Flag(false);
    }
    w.Se(-5).Trailing();
    return w;
}

TEST(DecodeNalUnit, PictureParameterSetAsksForTheChromaFormatOnlyWhenItMatters) {
    struct Case {
        const char* name;
        bool transform8x8;
        bool matrix;
        std::optional<std::uint32_t> chroma; // the lookup's answer
        int flagsInStream;
        bool asked;
    };
    const Case cases[] = {
        {"4:4:4 governs: twelve flags", true, true, 3, 12, true},
        {"4:2:0 governs: eight flags", true, true, 1, 8, true},
        {"no SPS found: eight flags", true, true, std::nullopt, 8, true},
        {"no 8x8 transform: six flags, nobody asked", false, true, 3, 6, false},
        {"no matrix: nobody asked", true, false, 3, 0, false},
    };
    for (const auto& c : cases) {
        const BitWriter w = PpsWithLists(c.transform8x8, c.matrix, c.flagsInStream);
        const auto s = Decode(Unit("00 00 01 68", Escape(w.Bytes())), c.chroma);
        const TSyntaxLine& pps = *s->Nal()->Children.at(3);
        EXPECT_EQ(pps.Text, "pic_parameter_set_rbsp( )");
        EXPECT_EQ(ChildValue(pps, "second_chroma_qp_index_offset"), "-5") << c.name;
        const std::string last = IndexedLabel("pic_scaling_list_present_flag", c.flagsInStream - 1);
        EXPECT_EQ(FindChild(pps, last) != nullptr, c.flagsInStream > 0) << c.name;
        EXPECT_EQ(FindChild(pps, IndexedLabel("pic_scaling_list_present_flag", c.flagsInStream)),
                  nullptr)
            << c.name;
        EXPECT_EQ(s->lookups,
                  c.asked ? std::vector<std::uint32_t>{4} : std::vector<std::uint32_t>{})
            << c.name;
    }
}

TEST(DecodeNalUnit, ArbitraryParameterSetBytesNeverEscapeTheirBuffers) {
    // Fixed seed; the engine's output is the same everywhere. Zero-heavy bytes reach the
    // long codes, large counts and early ends.
    std::mt19937 random(20240601u);
    for (int round = 0; round < 3000; ++round) {
        const auto size = static_cast<std::size_t>(random() % 48);
        std::vector<std::uint8_t> bytes = Hex(round % 2 ? "00 00 01" : "00 00 00 01");
        bytes.push_back(round % 3 == 0 ? 0x67 : round % 3 == 1 ? 0x68 : 0x09);
        for (std::size_t i = 0; i < size; ++i) {
            const auto r = random();
            bytes.push_back(r % 3 == 0 ? 0 : static_cast<std::uint8_t>(r >> 8));
        }
        for (std::optional<std::uint32_t> chroma :
             {std::optional<std::uint32_t>{}, std::optional<std::uint32_t>{3}}) {
            const auto s = Decode(bytes, chroma);
            ASSERT_TRUE(s->result);
            EXPECT_GE(s->Nal()->Children.size(), 3u);
        }
    }
}

} // namespace
