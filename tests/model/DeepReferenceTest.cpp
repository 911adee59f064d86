// Every slice header and SEI message of the streams in tests/data, decoded in full as the
// window does it (parameter sets looked for in the file), against ffmpeg's trace_headers
// reading of the same stream: names, values, widths and the bit positions.

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"
#include "model/SetStore.h"
#include "syntax/ReferenceSupport.h"
#include "syntax/nal_unit.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using namespace reference;

// The RBSP position and width the decoder told for each line.
class RecordedBits final : public ILineBits {
  public:
    void LineBits(TTreeLine line, std::int64_t rbspBit, std::int64_t bits) override {
        Positions[TSyntaxTree::Line(line)] = {rbspBit, bits};
    }
    std::map<const TSyntaxLine*, std::pair<std::int64_t, std::int64_t>> Positions;
};

struct Compared {
    int Units = 0;
    int Elements = 0;
};

void CompareStream(const std::string& name, Compared& compared) {
    const RefStream ref = LoadRef(TestDataPath(name + ".ref"));
    const std::string path = TestDataPath(name + ".264");
    FileStream listing;
    FileStream detail;
    EXPECT_TRUE(listing.Open(path));
    EXPECT_TRUE(detail.Open(path));
    std::vector<std::uint8_t> bytes(kDetailReadSize);
    std::vector<std::uint8_t> rbsp(kDetailReadSize);
    TBitStream4 reader;
    TSetStore sets(&detail);
    TUnitCursor units(listing);
    TNalUnitSpan span;
    for (int index = 0; units.Next(span); ++index) {
        auto block = ref.Slices.find(index);
        if (block == ref.Slices.end()) {
            block = ref.Seis.find(index);
            if (block == ref.Seis.end()) {
                continue;
            }
        }
        SCOPED_TRACE(name + " NAL " + std::to_string(index));
        detail.Seek(span.Offset);
        const std::int32_t n = detail.Read(bytes.data(), kDetailReadSize);
        sets.LookBackFrom(span.Offset);
        RecordedBits positions;
        const TFullDecoding full{&sets, &positions};
        TSyntaxTree tree;
        TNalUnitDetail unitDetail;
        EXPECT_TRUE(
            DecodeNalUnit(bytes.data(), n, rbsp.data(), reader, tree, {}, &unitDetail, &full));
        EXPECT_FALSE(unitDetail.EndsEarly);

        const std::vector<RefElement> expected = ToDeepTreeTerms(block->second);
        const std::vector<std::uint8_t> unit(
            bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(span.Length));
        const int startCode = span.StartCodeLength;
        std::vector<std::pair<ParsedLine, const TSyntaxLine*>> shown;
        tree.Walk([&](const TSyntaxLine& line, int) {
            if (auto parsed = ParseElementLine(line.Text)) {
                shown.emplace_back(*parsed, &line);
            }
        });
        EXPECT_EQ(shown.size(), expected.size());
        const std::size_t common = std::min(shown.size(), expected.size());
        for (std::size_t i = 0; i < common; ++i) {
            const RefElement& e = expected[i];
            const ParsedLine& line = shown[i].first;
            ASSERT_EQ(line.Label, e.Name) << "element " << i;
            EXPECT_EQ(line.Value, e.Text) << e.Name;
            EXPECT_EQ(ShownBits(line), e.Bits) << e.Name;
            // The element's first and last bits, where the unit as stored holds them.
            const auto at = positions.Positions.find(shown[i].second);
            ASSERT_NE(at, positions.Positions.end()) << e.Name;
            const std::int64_t first = StoredPosition(unit, startCode, e.Position);
            const std::int64_t last = StoredPosition(unit, startCode, e.Position + e.Bits - 1);
            EXPECT_EQ(at->second.first, first) << e.Name;
            EXPECT_EQ(at->second.second, last - first + 1) << e.Name;
            ++compared.Elements;
        }
        ++compared.Units;
    }
}

class DeepReferenceStream : public testing::TestWithParam<std::string> {};

TEST_P(DeepReferenceStream, EverySliceHeaderAndSeiMessageMatchesTheReference) {
    DebugCapture quiet; // the High profile warning of every SPS parsed for a slice
    Compared compared;
    CompareStream(GetParam(), compared);
    EXPECT_GE(compared.Units, 3);
    RecordProperty("elements", compared.Elements);
}

INSTANTIATE_TEST_SUITE_P(TestData, DeepReferenceStream, testing::ValuesIn(StreamNames()),
                         [](const testing::TestParamInfo<std::string>& param) {
                             return param.param;
                         });

} // namespace
