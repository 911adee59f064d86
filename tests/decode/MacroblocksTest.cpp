// The macroblock maps of streams made to hold a known truth, every picture of each checked
// against ffmpeg's reading of its slice headers (NAME.ref): each slice's macroblocks from
// its first_mb_in_slice on carry its index, a constant-QP stream's macroblocks its slice
// QP, I slices are all intra, and the panned noise moves by (+4, 0).

#include "decode/Macroblocks.h"
#include "decode/AccessUnitDecoder.h"
#include "decode/Overlay.h"
#include "stream/FileStream.h"
#include "syntax/ReferenceSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

namespace {

struct TRefSlice {
    std::int64_t Offset = 0;
    std::uint32_t FirstMb = 0;
    std::uint32_t SliceType = 0;
    int Qp = 0;
};

std::int64_t Element(const std::vector<reference::RefElement>& elements, const std::string& name) {
    for (const auto& e : elements) {
        if (e.Name == name) {
            return e.Value;
        }
    }
    throw std::runtime_error("no " + name + " in the reference");
}

// The slices of each picture in decoding order, with their offsets from NAME.nals.
std::vector<std::vector<TRefSlice>> RefPictures(const std::string& name) {
    const reference::RefStream ref = reference::LoadRef(TestDataPath(name + ".ref"));
    std::ifstream nals(TestDataPath(name + ".nals"));
    std::vector<std::int64_t> offsets;
    for (std::int64_t offset = 0, length = 0, code = 0, type = 0;
         nals >> offset >> length >> code >> type;) {
        offsets.push_back(offset);
    }
    std::int64_t initQp = 26;
    std::vector<std::vector<TRefSlice>> pictures;
    for (std::size_t i = 0; i < ref.NalTypes.size(); ++i) {
        const auto index = static_cast<int>(i);
        if (ref.NalTypes[i] == 8) {
            initQp = 26 + Element(ref.ParameterSets.at(index), "pic_init_qp_minus26");
        }
        if (ref.Slices.count(index) == 0) {
            continue;
        }
        const auto& head = ref.Slices.at(index);
        TRefSlice slice{offsets.at(i),
                        static_cast<std::uint32_t>(Element(head, "first_mb_in_slice")),
                        static_cast<std::uint32_t>(Element(head, "slice_type")),
                        static_cast<int>(initQp + Element(head, "slice_qp_delta"))};
        if (slice.FirstMb == 0 || pictures.empty()) { // progressive streams, in order
            pictures.emplace_back();
        }
        pictures.back().push_back(slice);
    }
    return pictures;
}

struct TStreamCase {
    const char* Name;
    bool ConstantQp; // every macroblock has its slice's QP
    bool Panned;     // P macroblocks move by (+4, 0)
    bool Pairs;      // MBAFF: first_mb_in_slice counts macroblock pairs
};

class MacroblockStreams : public ::testing::TestWithParam<TStreamCase> {};

TEST_P(MacroblockStreams, EveryPictureHoldsWhatItsSliceHeadersSay) {
    if (!DecoderBuilt()) {
        GTEST_SKIP() << "built without a decoder";
    }
    const TStreamCase& c = GetParam();
    FileStream stream;
    ASSERT_TRUE(stream.Open(TestDataPath(std::string(c.Name) + ".264")));
    const auto decoder = CreatePictureDecoder(0, true);
    TAccessUnitDecoder units(stream, stream.Size(), *decoder);
    int moved = 0;
    int vectors = 0;
    for (const std::vector<TRefSlice>& slices : RefPictures(c.Name)) {
        const std::string where = std::string(c.Name) + " @" + std::to_string(slices[0].Offset);
        const TPictureAnswer answer = units.Decode(slices[0].Offset);
        ASSERT_EQ(answer.Outcome, TPictureOutcome::Done) << where << answer.Message;
        ASSERT_TRUE(answer.Decoded.Picture.Macroblocks) << where;
        const TMacroblockMap& map = *answer.Decoded.Picture.Macroblocks;
        ASSERT_EQ(map.WidthMbs, (answer.Decoded.Picture.Width + 15) / 16) << where;
        ASSERT_EQ(map.SliceCount, static_cast<int>(slices.size())) << where;
        const int unitMbs = c.Pairs ? 2 : 1;
        for (int i = 0; i < map.WidthMbs * map.HeightMbs; ++i) {
            const TMacroblock& mb = map.Mbs[static_cast<std::size_t>(i)];
            // Its slice is the last one that starts at or before it.
            const int x = i % map.WidthMbs;
            const auto unit =
                static_cast<std::uint32_t>(i / map.WidthMbs / unitMbs * map.WidthMbs + x);
            std::size_t expected = 0;
            for (std::size_t k = 0; k < slices.size(); ++k) {
                if (slices[k].FirstMb <= unit) {
                    expected = k;
                }
            }
            ASSERT_EQ(mb.Slice, static_cast<int>(expected)) << where << " MB " << i;
            const TRefSlice& slice = slices[expected];
            if (c.ConstantQp) {
                ASSERT_EQ(mb.Qp, slice.Qp) << where << " MB " << i;
            }
            if (slice.SliceType % 5 == 2) {
                ASSERT_TRUE(mb.Intra()) << where << " MB " << i;
            }
            for (std::uint32_t k = 0; k < mb.VectorCount; ++k) {
                const TMotionVector& v = map.Vectors[mb.FirstVector + k];
                ASSERT_LE(v.X + v.W, 16) << where;
                ASSERT_LE(v.Y + v.H, 16) << where;
                ++vectors;
                moved += v.Dx4 == 16 && v.Dy4 == 0 ? 1 : 0;
            }
        }
    }
    if (c.Panned) {
        // Five P pictures of 99 macroblocks: only a few at the right edge may differ.
        EXPECT_GE(vectors, 5 * 99);
        EXPECT_GE(moved * 100, vectors * 95) << moved << " of " << vectors;
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, MacroblockStreams,
                         ::testing::Values(TStreamCase{"mb_const_qp", true, false, false},
                                           TStreamCase{"mb_pan", false, true, false},
                                           TStreamCase{"slices4", false, false, false},
                                           TStreamCase{"interlaced_mbaff", false, false, true}),
                         [](const auto& p) { return std::string(p.param.Name); });

// Field slices count a field's macroblocks: the top field's rows are the frame's even rows.
TEST(AssignSlices, FieldAndPairStartsLandOnTheirFrameRows) {
    TMacroblockMap map;
    map.WidthMbs = 2;
    map.HeightMbs = 4;
    map.Mbs.resize(8);
    const auto slicesOf = [&](const std::vector<TSliceStart>& starts) {
        for (TMacroblock& mb : map.Mbs) {
            mb.Slice = -1;
        }
        AssignSlices(starts, map);
        std::string out;
        for (const TMacroblock& mb : map.Mbs) {
            out += std::to_string(mb.Slice);
        }
        return out;
    };
    using L = TSliceLayout;
    EXPECT_EQ(slicesOf({{0, L::Frame}, {3, L::Frame}}), "00011111");
    EXPECT_EQ(slicesOf({{0, L::Pairs}, {1, L::Pairs}}), "01011111");
    EXPECT_EQ(slicesOf({{0, L::TopField}, {3, L::TopField}, {0, L::BottomField}}), "00220122");
    std::vector<TSliceStart> top = {{0, L::TopField}};
    EXPECT_TRUE(JoinFields(top, {{0, L::BottomField}}));
    EXPECT_FALSE(JoinFields(top, {{0, L::Frame}}));
}

// The JSON's vector components and the heat map's ends.
TEST(Overlay, QuarterPelsAndTheHeatOfTheLowestMiddleAndHighestQp) {
    const std::pair<std::int32_t, const char*> texts[] = {
        {16, "4"}, {0, "0"}, {6, "1.5"}, {-1, "-0.25"}, {-5, "-1.25"}, {-16, "-4"}, {3, "0.75"}};
    for (const auto& [quarters, text] : texts) {
        EXPECT_EQ(QuarterPelText(quarters), text) << quarters;
    }
    EXPECT_EQ(QpColour(20, 20, 40), 0xFF0000FFu);
    EXPECT_EQ(QpColour(30, 20, 40), 0xFF00FF00u);
    EXPECT_EQ(QpColour(40, 20, 40), 0xFFFF0000u);
    EXPECT_EQ(QpColour(33, 33, 33), 0xFF00FF00u) << "one QP: the middle";
}

} // namespace
