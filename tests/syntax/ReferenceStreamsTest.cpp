// Every sequence and picture parameter set of the streams in tests/data, decoded as the
// window does it, against ffmpeg's trace_headers reading of the same stream (NAME.ref).

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"
#include "support/TestSupport.h"
#include "syntax/ParameterSetFinder.h"
#include "syntax/ReferenceSupport.h"
#include "syntax/SyntaxTestSupport.h"
#include "syntax/nal_unit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

namespace {

using namespace reference;

// Position of the rbsp_stop_one_bit counted from the first bit of the header byte, found
// in the unit's bytes with the emulation-prevention bytes removed: the last 1 bit.
std::int64_t StopBitPosition(const std::uint8_t* unit, std::int32_t length) {
    std::vector<std::uint8_t> rbsp(static_cast<std::size_t>(length));
    std::int32_t written = 0;
    Remove_emulation_prevention_three_bytes(unit, length, rbsp.data(), written);
    const int startCode = StartCodeLength(rbsp.data(), written);
    std::int32_t last = written - 1;
    while (last > startCode && rbsp[static_cast<std::size_t>(last)] == 0) {
        --last;
    }
    int bit = 7;
    while (bit > 0 && ((rbsp[static_cast<std::size_t>(last)] >> (7 - bit)) & 1) == 0) {
        --bit;
    }
    return 8 * static_cast<std::int64_t>(last - startCode) + bit;
}

// One parameter set of a test stream as the window reads it: the bytes read at its offset,
// its length, and the lookup of its governing SPS.
struct ParameterSetUnit {
    const std::vector<std::uint8_t>& Bytes;
    std::int32_t Read;
    std::int32_t Length;
    const TChromaFormatLookup& Lookup;
    const std::vector<RefElement>& Reference;
};

// Walks the stream's NAL units as the listing does, checks each one's type against the
// reference, and hands every parameter set to visit. Returns how many were visited.
template <class Visit> int ForEachParameterSet(const std::string& name, Visit visit) {
    const RefStream ref = LoadRef(TestDataPath(name + ".ref"));
    const std::string path = TestDataPath(name + ".264");
    FileStream listing;
    FileStream detail;
    EXPECT_TRUE(listing.Open(path));
    EXPECT_TRUE(detail.Open(path));
    std::vector<std::uint8_t> bytes(kDetailReadSize);
    TParameterSetFinder parameterSets(detail);
    TUnitCursor units(listing);
    TNalUnitSpan span;
    int index = 0;
    int visited = 0;
    for (; units.Next(span); ++index) {
        if (index >= static_cast<int>(ref.NalTypes.size())) {
            ADD_FAILURE() << name << ": more NAL units than the reference has";
            break;
        }
        EXPECT_EQ(static_cast<int>(NalUnitType(span.Header)),
                  ref.NalTypes[static_cast<std::size_t>(index)])
            << name << " NAL " << index;
        const auto block = ref.ParameterSets.find(index);
        if (block == ref.ParameterSets.end()) {
            continue;
        }
        SCOPED_TRACE(name + " NAL " + std::to_string(index) + " at " + std::to_string(span.Offset));
        detail.Seek(span.Offset);
        const std::int32_t n = detail.Read(bytes.data(), kDetailReadSize);
        const std::int64_t ppsOffset = span.Offset;
        const TChromaFormatLookup lookup = [&](std::uint32_t id) {
            return parameterSets.GoverningChromaFormat(id, ppsOffset);
        };
        visit(ParameterSetUnit{bytes, n, static_cast<std::int32_t>(span.Length), lookup,
                               block->second});
        ++visited;
    }
    EXPECT_EQ(index, static_cast<int>(ref.NalTypes.size())) << name;
    EXPECT_EQ(visited, static_cast<int>(ref.ParameterSets.size())) << name;
    return visited;
}

class ReferenceStream : public testing::TestWithParam<std::string> {};

TEST_P(ReferenceStream, EveryParameterSetMatchesTheReference) {
    std::vector<std::uint8_t> rbsp(kDetailReadSize);
    TBitStream4 reader;
    TSyntaxTree tree;
    const int compared = ForEachParameterSet(GetParam(), [&](const ParameterSetUnit& unit) {
        const TFullDecoding positions{nullptr, &tree};
        ASSERT_TRUE(DecodeNalUnit(unit.Bytes.data(), unit.Read, rbsp.data(), reader, tree,
                                  unit.Lookup, nullptr, &positions));

        const Expected expected = ToTreeTerms(unit.Reference);
        const std::vector<ParsedLine> shown = ElementLines(tree);
        std::vector<const TSyntaxLine*> lines;
        tree.Walk([&](const TSyntaxLine& line, int) {
            if (ParseElementLine(line.Text)) {
                lines.push_back(&line);
            }
        });
        const std::vector<std::uint8_t> stored(
            unit.Bytes.begin(), unit.Bytes.begin() + static_cast<std::ptrdiff_t>(unit.Length));
        const int startCode = StartCodeLength(stored.data(), unit.Length);
        const std::size_t common = std::min(shown.size(), expected.Elements.size());
        for (std::size_t i = 0; i < common; ++i) {
            const RefElement& e = expected.Elements[i];
            ASSERT_EQ(shown[i].Label, e.Name) << "element " << i;
            EXPECT_EQ(shown[i].Value, std::to_string(e.Value)) << e.Name;
            EXPECT_EQ(ShownBits(shown[i]), e.Bits) << e.Name;
            // Where the unit as stored holds the element's first and last bits.
            const std::int64_t first = StoredPosition(stored, startCode, e.Position);
            const std::int64_t last = StoredPosition(stored, startCode, e.Position + e.Bits - 1);
            EXPECT_EQ(lines[i]->FirstBit, first) << e.Name;
            EXPECT_EQ(lines[i]->Bits, last - first + 1) << e.Name;
        }
        EXPECT_EQ(shown.size(), expected.Elements.size());

        // The widths shown, with the scaling lists the tree leaves out, reach exactly the
        // stop bit: the parse consumed every bit of the RBSP and no more.
        std::int64_t shownBits = 0;
        for (const auto& line : shown) {
            shownBits += ShownBits(line);
        }
        EXPECT_EQ(shownBits + expected.ScalingListBits,
                  StopBitPosition(unit.Bytes.data(), unit.Length));
    });
    EXPECT_GE(compared, 2);
}

// Every parameter set cut after each of its bytes: the tree shows exactly the elements
// whose bits all lie within what is left, with the reference's values, and then where
// the data ends; nothing after that is invented. (A PPS cut after its last base element
// is left out: whether its optional tail follows is then a guess from the bits left.)
TEST_P(ReferenceStream, CutParameterSetsStopAtTheLastElementReadInFull) {
    DebugCapture quiet; // a warning per High profile SPS, and there are hundreds of cuts
    std::vector<std::uint8_t> rbsp(kDetailReadSize);
    TBitStream4 reader;
    TSyntaxTree tree;
    int cutsEndingEarly = 0;
    ForEachParameterSet(GetParam(), [&](const ParameterSetUnit& unit) {
        const Expected expected = ToTreeTerms(unit.Reference);
        const auto lastBase =
            std::find_if(expected.Elements.begin(), expected.Elements.end(),
                         [](const auto& e) { return e.Name == "redundant_pic_cnt_present_flag"; });
        const int startCode = StartCodeLength(unit.Bytes.data(), unit.Read);
        for (std::int32_t kept = startCode + 1; kept < unit.Length; ++kept) {
            std::int32_t written = 0;
            Remove_emulation_prevention_three_bytes(unit.Bytes.data(), kept, rbsp.data(), written);
            const std::int64_t payloadBits = 8 * static_cast<std::int64_t>(written - startCode - 1);
            // Reference positions count from the header byte's first bit.
            const auto fits = static_cast<std::size_t>(std::count_if(
                expected.Elements.begin(), expected.Elements.end(),
                [&](const RefElement& e) { return e.Position + e.Bits <= 8 + payloadBits; }));
            if (lastBase != expected.Elements.end() &&
                fits > static_cast<std::size_t>(lastBase - expected.Elements.begin())) {
                continue;
            }
            SCOPED_TRACE("cut after " + std::to_string(kept) + " bytes");
            TNalUnitDetail detail;
            ASSERT_TRUE(DecodeNalUnit(unit.Bytes.data(), kept, rbsp.data(), reader, tree,
                                      unit.Lookup, &detail));
            const std::vector<ParsedLine> shown = ElementLines(tree);
            ASSERT_EQ(shown.size(), fits);
            for (std::size_t i = 0; i < fits; ++i) {
                EXPECT_EQ(shown[i].Label, expected.Elements[i].Name);
                EXPECT_EQ(shown[i].Value, std::to_string(expected.Elements[i].Value));
            }
            const bool early = fits < expected.Elements.size();
            EXPECT_EQ(detail.EndsEarly, early);
            const std::string last = tree.Roots()[0]->Children.back()->Text;
            if (early) {
                EXPECT_EQ(detail.PayloadBits, payloadBits);
                EXPECT_EQ(last, "NAL unit ends early: data ends after " +
                                    std::to_string(payloadBits) + " bits");
                ++cutsEndingEarly;
            } else {
                EXPECT_EQ(last.find("ends early"), std::string::npos) << last;
            }
        }
    });
    EXPECT_GE(cutsEndingEarly, 20);
}

INSTANTIATE_TEST_SUITE_P(TestData, ReferenceStream, testing::ValuesIn(StreamNames()),
                         [](const testing::TestParamInfo<std::string>& param) {
                             return param.param;
                         });

TEST(ReferenceStreams, AllArePresent) {
    // Guards against an empty or moved data folder making the comparison vacuous.
    EXPECT_GE(StreamNames().size(), 20u);
}

} // namespace
