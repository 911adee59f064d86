// Made slices, written bit by bit and read by the slice head's reader, whose reference
// lists and marking follow from the standard's rules as worked out in each case's comment:
// what no encoder at hand writes (field pairs, long-term references moved by a
// modification, marking operations, gaps, references that are not there).

#include "model/PictureModel.h"
#include "model/SetStore.h"
#include "syntax/SyntaxTestSupport.h"

#include <gtest/gtest.h>

namespace {

// Main profile, level 3, MaxFrameNum 16, order counts of type 0 (lsb in 6 bits), 4
// reference frames, gaps allowed, fields allowed; the picture set's lists 4 long.
const char* const kSps = "u8:77 u8:0 u8:30 ue:0 ue:0 ue:0 ue:2 ue:4 1 ue:10 ue:8 0 0 1 0 0";
const char* const kPps = "ue:0 ue:0 0 0 ue:0 ue:3 ue:3 0 u2:0 se:0 se:0 se:0 0 0 0";

struct TMade {
    const char* Kind; // "I5": I slice of an IDR picture; "P", "B", "I"; "p" non-reference
    int FrameNum;
    int Field; // 0 frame, 1 top, 2 bottom
    int PocLsb;
    const char* ListsAndMarking; // override, modifications and marking, as bits
};

struct TResult {
    std::vector<TCodedPicture> Pictures;
    std::int64_t Problems = 0;
};

TResult Decode(const std::vector<TMade>& made, const std::string& spsBits = kSps) {
    TSetStore sets(nullptr);
    BitWriter sps;
    sps.Put(spsBits).Trailing();
    BitWriter pps;
    pps.Put(kPps).Trailing();
    EXPECT_TRUE(sets.Learn(0x67, sps.Bytes().data(), static_cast<std::int32_t>(sps.Bytes().size()), 0));
    EXPECT_TRUE(sets.Learn(0x68, pps.Bytes().data(), static_cast<std::int32_t>(pps.Bytes().size()), 1));
    TResult result;
    TPictureModel model([&](const TCodedPicture& p) { result.Pictures.push_back(p); });
    std::int64_t offset = 0;
    for (const TMade& m : made) {
        const char kind = m.Kind[0];
        const bool idr = m.Kind[1] == '5';
        const bool reference = kind != 'p' && kind != 'b';
        const int sliceType = kind == 'P' || kind == 'p' ? 0 : kind == 'B' || kind == 'b' ? 1 : 2;
        BitWriter slice;
        slice.Ue(0).Ue(sliceType).Ue(0).U(4, m.FrameNum).Flag(m.Field != 0);
        if (m.Field != 0) {
            slice.Flag(m.Field == 2);
        }
        if (idr) {
            slice.Ue(0);
        }
        slice.U(6, m.PocLsb);
        if (sliceType == 1) {
            slice.Flag(true); // direct_spatial_mv_pred_flag
        }
        slice.Put(m.ListsAndMarking).Se(0).Trailing();
        const auto header = static_cast<std::uint8_t>((reference ? 0x60 : 0) | (idr ? 5 : 1));
        TSliceHead head;
        const TSeqParameterSet* governing = nullptr;
        EXPECT_TRUE(ReadSliceHead(slice.Bytes().data(), static_cast<std::int32_t>(slice.Bytes().size()),
                                  header, sets, head, governing));
        model.BeginAccessUnit(offset++);
        model.Slice(head, *governing, sets.Pps(0));
    }
    model.Finish();
    result.Problems = model.Problems();
    return result;
}

std::vector<std::int64_t> Pocs(const std::vector<TListEntry>& list) {
    std::vector<std::int64_t> pocs;
    for (const TListEntry& e : list) {
        pocs.push_back(e.Missing ? -1000 - e.Number : e.Poc);
    }
    return pocs;
}

using TPocs = std::vector<std::int64_t>;

TEST(PictureLists, ModificationsOfFrameLists) {
    // Three reference frames 0, 1, 2 at POCs 0, 2, 4, the IDR one long-term (index 0).
    // Frame 3 (CurrPicNum 3) asks for 2 entries; its initial list is the short-term frames
    // by descending PicNum, then the long-term: 4, 2 (0 cut off). The command
    // abs_diff_pic_num_minus1 1 subtracts 2 from CurrPicNum: picNum 1, the frame at POC 2,
    // goes first and leaves its later place: 2, 4.
    // Frame 4 keeps 3 entries (4 from the set): initial 6, 4, 2, then long-term 0, cut to 3;
    // long_term_pic_num 0 puts the long-term frame first: 0, 6, 4.
    // Frame 5 asks for 5 - 10 = -5 (no wrap: -5 + 16 = 11 is above CurrPicNum, so picNum
    // -5), which no frame has: the entry is marked.
    const TResult r = Decode({
        {"I5", 0, 0, 0, "0 1"},                 // IDR: no_output_of_prior_pics 0, long-term 1
        {"P", 1, 0, 2, "0 0 0"},                // no override, no modification, sliding window
        {"P", 2, 0, 4, "0 0 0"},
        {"P", 3, 0, 6, "1 ue:1 1 ue:0 ue:1 ue:3 0"},
        {"P", 4, 0, 8, "1 ue:2 1 ue:2 ue:0 ue:3 0"},
        {"p", 5, 0, 10, "0 1 ue:0 ue:9 ue:3"},
    });
    ASSERT_EQ(r.Pictures.size(), 6u);
    EXPECT_EQ(Pocs(r.Pictures[3].Lists[0].Initial[0]), (TPocs{4, 2}));
    EXPECT_EQ(Pocs(r.Pictures[3].Lists[0].Final[0]), (TPocs{2, 4}));
    EXPECT_EQ(Pocs(r.Pictures[4].Lists[0].Initial[0]), (TPocs{6, 4, 2}));
    EXPECT_EQ(Pocs(r.Pictures[4].Lists[0].Final[0]), (TPocs{0, 6, 4}));
    EXPECT_TRUE(r.Pictures[4].Lists[0].Final[0][0].LongTerm);
    // Frame 4 filled the 4 places (3 short-term and the long-term one): the sliding window
    // took frame 1 out. Frame 5's 4 places: the missing entry, then 8, 6, 4 (0 cut off).
    EXPECT_EQ(Pocs(r.Pictures[5].Lists[0].Final[0]), (TPocs{-995, 8, 6, 4}));
    ASSERT_EQ(r.Pictures[5].Problems.size(), 1u);
    EXPECT_EQ(r.Pictures[5].Problems[0], "RefPicList0[0]: no reference picture with picNum -5");
    EXPECT_FALSE(r.Pictures[5].Exact);
    EXPECT_EQ(r.Problems, 1);
}

TEST(PictureLists, FieldPairs) {
    // An IDR top field and its bottom field (P, predicting from the top one), then frame 1
    // as two P fields. The bottom field of frame 0 finds only the top field: 0. The top
    // field of frame 1 alternates from frame 0, its own parity first: top 0, bottom 1. The
    // bottom field of frame 1 orders frames 1, 0 by FrameNumWrap and alternates from the
    // bottom parity: frame 0's bottom 1, frame 1's top 4, then what is left, frame 0's top
    // 0. Its command (CurrPicNum 2 * 1 + 1 = 3, minus 1) asks for picNum 2, the opposite
    // parity field of frame 1: 4 first.
    const TResult r = Decode({
        {"I5", 0, 1, 0, "0 0"},
        {"P", 0, 2, 1, "0 0 0"},
        {"P", 1, 1, 4, "0 0 0"},
        {"P", 1, 2, 5, "0 1 ue:0 ue:0 ue:3 0"},
    });
    ASSERT_EQ(r.Pictures.size(), 4u);
    EXPECT_EQ(Pocs(r.Pictures[1].Lists[0].Initial[0]), (TPocs{0}));
    EXPECT_EQ(Pocs(r.Pictures[2].Lists[0].Initial[0]), (TPocs{0, 1}));
    EXPECT_EQ(r.Pictures[2].Lists[0].Initial[0][0].Parity, 1);
    EXPECT_EQ(Pocs(r.Pictures[3].Lists[0].Initial[0]), (TPocs{1, 4, 0}));
    EXPECT_EQ(Pocs(r.Pictures[3].Lists[0].Final[0]), (TPocs{4, 1, 0}));
    // Two frames in the buffer, each a pair; shown in POC order, a pair at once.
    ASSERT_EQ(r.Pictures[3].After.size(), 2u);
    EXPECT_EQ(r.Pictures[3].After[0].Fields, 3);
    EXPECT_EQ(r.Pictures[0].Display, r.Pictures[1].Display);
    EXPECT_EQ(r.Pictures[2].Display, r.Pictures[1].Display + 1);
    EXPECT_EQ(r.Problems, 0);
}

TEST(PictureLists, MarkingOperationsAndGaps) {
    // Frame 2 (CurrPicNum 2) sets MaxLongTermFrameIdx 0 (operation 4 with 1), makes picNum
    // 2 - 1 = 1 long-term with index 0 (operation 3), and unmarks picNum 2 - 10 = -8,
    // which is no frame (operation 1): one problem. Frame 3's list: short-term 4, 0, then
    // the long-term frame 2. Frame 6 follows frame 3: frame_num 4 and 5 are missing, and
    // the gaps process inserts them as short-term frames; the sliding window (4 frames)
    // keeps 5, 4, 3 and the long-term one, so that frame 6's list is 5, 4, 3, long-term 1.
    const TResult r = Decode({
        {"I5", 0, 0, 0, "0 0"},
        {"P", 1, 0, 2, "0 0 0"},
        {"P", 2, 0, 4, "0 0 1 ue:4 ue:1 ue:3 ue:0 ue:0 ue:1 ue:9 ue:0"},
        {"P", 3, 0, 6, "0 0 0"},
        {"P", 6, 0, 12, "0 0 0"},
    });
    ASSERT_EQ(r.Pictures.size(), 5u);
    EXPECT_EQ(Pocs(r.Pictures[3].Lists[0].Initial[0]), (TPocs{4, 0, 2}));
    EXPECT_TRUE(r.Pictures[3].Lists[0].Initial[0][2].LongTerm);
    ASSERT_EQ(r.Pictures[2].Problems.size(), 1u);
    EXPECT_EQ(r.Pictures[2].Problems[0], "MMCO 1: no short-term picture with picNum -8");
    const std::vector<TListEntry>& gapped = r.Pictures[4].Lists[0].Initial[0];
    ASSERT_EQ(gapped.size(), 4u);
    const std::int64_t frameNums[] = {5, 4, 3, 0};
    const bool exists[] = {false, false, true, true};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(gapped[i].FrameNum, frameNums[i]) << i;
        EXPECT_EQ(gapped[i].Exists, exists[i]) << i;
    }
    EXPECT_TRUE(gapped[3].LongTerm);
    EXPECT_TRUE(r.Pictures[4].Exact); // gaps allowed: the inserted frames are known
    EXPECT_EQ(r.Problems, 1);
}

TEST(PictureLists, BumpingOutOfOrderIsSaid) {
    // One reference frame and a buffer of one frame (the VUI's max_dec_frame_buffering):
    // frame 1 (POC 8) must leave the buffer when frame 2 (POC 4) comes, since the sliding
    // window has taken its place as a reference; so frame 2 is shown after a higher POC.
    const std::string oneFrame = "u8:77 u8:0 u8:30 ue:0 ue:0 ue:0 ue:2 ue:1 0 ue:10 ue:8 0 0 1 0 1 "
                                 "0 0 0 0 0 0 0 0 1 1 ue:0 ue:0 ue:16 ue:16 ue:0 ue:1";
    const TResult r = Decode({{"I5", 0, 0, 0, "0 0"}, {"P", 1, 0, 8, "0 0 0"}, {"P", 2, 0, 4, "0 0 0"}},
                             oneFrame);
    ASSERT_EQ(r.Pictures.size(), 3u);
    EXPECT_EQ(r.Pictures[0].Display, 0);
    EXPECT_EQ(r.Pictures[1].Display, 1);
    EXPECT_EQ(r.Pictures[2].Display, 2);
    ASSERT_EQ(r.Pictures[2].Problems.size(), 1u);
    EXPECT_EQ(r.Pictures[2].Problems[0].rfind("output by the bumping process after POC 8", 0), 0u);
    EXPECT_EQ(r.Problems, 1);
}

} // namespace
