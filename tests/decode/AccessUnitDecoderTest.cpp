// The pictures of every test stream against ffmpeg's own decode of it: each access unit
// selected by its first unit (cold, a decoder of its own) and by its last (stepping
// forward with one decoder through the whole file), plus the recovery-point starts, the
// search bound, and the messages when there is nothing to start from.

#include "decode/AccessUnitDecoder.h"
#include "PictureTestSupport.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "syntax/ParameterSetFinder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace {

struct Opened {
    FileStream Stream;
    std::unique_ptr<IPictureDecoder> Decoder = CreatePictureDecoder();
    std::unique_ptr<TAccessUnitDecoder> Units;
    explicit Opened(const std::string& path) {
        EXPECT_TRUE(Stream.Open(path)) << path;
        Units = std::make_unique<TAccessUnitDecoder>(Stream, Stream.Size(), *Decoder);
    }
};

// The unit of an access unit that begins at pos (ffmpeg may count a zero byte before a
// start code to it) and the last unit before the next access unit.
struct Selection {
    std::int64_t First;
    std::int64_t Last;
};

std::vector<Selection> Selections(const std::vector<std::int64_t>& units,
                                  std::vector<std::int64_t> starts) {
    std::sort(starts.begin(), starts.end());
    std::vector<Selection> out;
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const auto first = std::lower_bound(units.begin(), units.end(), starts[i]);
        const std::int64_t next = i + 1 < starts.size() ? starts[i + 1] : INT64_MAX;
        auto last = std::lower_bound(units.begin(), units.end(), next);
        out.push_back({*first, *(last - 1)});
    }
    return out;
}

void ExpectPicture(const TPictureAnswer& answer, const ExpectedPicture& expected,
                   const std::string& where) {
    ASSERT_EQ(answer.Outcome, TPictureOutcome::Done) << where << ": " << answer.Message;
    const TPicture& p = answer.Decoded.Picture;
    EXPECT_EQ(std::to_string(p.Width) + "x" + std::to_string(p.Height), expected.Size) << where;
    EXPECT_EQ(FormatName(p), expected.Format) << where;
    EXPECT_EQ(PlanesChecksum(p), expected.Checksum) << where;
    EXPECT_NE(answer.Decoded.Facts.SliceTypes.find(expected.Type), std::string::npos) << where;
}

const char* const kStreams[] = {
    "aud_sei",        "baseline_cavlc", "cqm_jvt",     "cqm_jvt_444",
    "crop_170x100",   "high10",         "high422",     "high_8x8",
    "hrd_cbr_filler", "hrd_nal_vbr",    "hrd_nal_vcl", "interlaced_mbaff",
    "intra_refresh",  "lossless444",    "main_cabac",  "mixed_start_codes",
    "poc_type1",      "slices4",        "sps_scaling", "sps_scaling_444",
    "vui_full",       "weighted_fade"};

class ReferencePictures : public testing::TestWithParam<const char*> {};

TEST_P(ReferencePictures, EveryPictureMatchesFfmpegColdAndSteppingForward) {
    const std::string name = GetParam();
    const std::string path = TestDataPath(name + ".264");
    // Every stream begins with an IDR picture: every picture is decoded from there, past
    // any recovery point, as ffmpeg decodes the whole stream.
    const std::vector<ExpectedPicture> expected = ReadPictures(name + ".pictures");
    ASSERT_FALSE(expected.empty());
    std::vector<std::int64_t> sorted;
    for (const auto& e : expected) {
        sorted.push_back(e.Pos);
    }
    const std::vector<Selection> selections = Selections(UnitOffsets(path), sorted);
    std::sort(sorted.begin(), sorted.end());
    auto expectedAt = [&](std::int64_t pos) {
        return *std::find_if(expected.begin(), expected.end(),
                             [pos](const ExpectedPicture& e) { return e.Pos == pos; });
    };

    Opened stepping(path);
    std::vector<TPictureFacts> facts(sorted.size());
    for (std::size_t i = 0; i < selections.size(); ++i) {
        const ExpectedPicture e = expectedAt(sorted[i]);
        const std::string where =
            name + " picture " + std::to_string(i) + " at " + std::to_string(e.Pos);
        // Cold as the command line decodes: the picture handed over, not kept; asked for
        // again, it is decoded afresh.
        Opened cold(path);
        cold.Units->HandOverPictures();
        const TPictureAnswer first = cold.Units->Decode(selections[i].First);
        ExpectPicture(first, e, where + " (first unit, cold)");
        if (i + 1 == selections.size()) {
            ExpectPicture(cold.Units->Decode(selections[i].Last), e, where + " (handed over)");
            EXPECT_EQ(cold.Units->ColdStarts(), 2) << where;
        }
        const TPictureAnswer last = stepping.Units->Decode(selections[i].Last);
        ExpectPicture(last, e, where + " (last unit, stepping)");
        facts[i] = last.Decoded.Facts;
        if (facts[i].StartIsIdr) {
            EXPECT_EQ(facts[i].Pictures, static_cast<std::int32_t>(i) + 1) << where;
        }
    }
    // Stepping forward sends each access unit once, and begins afresh only at an IDR
    // picture met while the decoder was given the pictures after the selected one.
    EXPECT_LE(stepping.Units->ColdStarts(), 2) << name;
    EXPECT_EQ(stepping.Units->UnitsSent(), static_cast<std::int64_t>(selections.size())) << name;
    // ffmpeg outputs the pictures decoded from one start in the order of their counts: the
    // counts of this walk must rise in that order.
    const TPictureFacts* previous = nullptr;
    for (const auto& e : expected) {
        const auto index = std::lower_bound(sorted.begin(), sorted.end(), e.Pos) - sorted.begin();
        const TPictureFacts& f = facts[static_cast<std::size_t>(index)];
        if (previous && previous->StartOffset == f.StartOffset) {
            EXPECT_GT(f.Poc, previous->Poc) << name << " at " << e.Pos;
        }
        previous = &f;
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, ReferencePictures, testing::ValuesIn(kStreams));

class RecoveryPoint : public testing::TestWithParam<const char*> {};

// With no IDR picture before them, the pictures decode from the recovery point; those it
// does not make exact say that they may differ.
TEST_P(RecoveryPoint, PicturesAfterARecoveryPointMatchFfmpegsDecodeOfTheCutStream) {
    const std::string name = GetParam();
    std::int64_t from = 0;
    std::vector<ExpectedPicture> expected = ReadPictures(name + ".rp.pictures", &from);
    ASSERT_GT(from, 0);
    const std::vector<std::uint8_t> bytes = ReadAll(TestDataPath(name + ".264"));
    TempDir dir;
    const std::string path = dir.Write(
        "cut.264",
        std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end()));
    std::vector<std::int64_t> starts;
    for (auto& e : expected) {
        e.Pos -= from;
        starts.push_back(e.Pos);
    }
    const std::vector<Selection> selections = Selections(UnitOffsets(path), starts);
    std::vector<std::int64_t> sorted = starts;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t i = 0; i < selections.size(); ++i) {
        const auto e = *std::find_if(expected.begin(), expected.end(),
                                     [&](const ExpectedPicture& x) { return x.Pos == sorted[i]; });
        Opened cold(path);
        const TPictureAnswer answer = cold.Units->Decode(selections[i].Last);
        const std::string where = name + " at " + std::to_string(e.Pos);
        ExpectPicture(answer, e, where);
        EXPECT_EQ(answer.Decoded.Facts.StartKind, TStartKind::RecoveryPoint) << where;
        EXPECT_EQ(answer.Decoded.Facts.Pictures, static_cast<std::int32_t>(i) + 1) << where;
        const std::string line = PictureLine(answer.Decoded);
        EXPECT_NE(line.find("decoded from the recovery point at 0x"), std::string::npos);
        EXPECT_EQ(line.find("may differ") != std::string::npos, !answer.Decoded.Facts.Exact)
            << line;
    }
}

INSTANTIATE_TEST_SUITE_P(Streams, RecoveryPoint, testing::Values("intra_refresh", "aud_sei"));

std::vector<std::uint8_t> Slice(const std::vector<std::uint8_t>& bytes, std::size_t from,
                                std::size_t to = SIZE_MAX) {
    return {bytes.begin() + static_cast<std::ptrdiff_t>(from),
            bytes.begin() + static_cast<std::ptrdiff_t>(std::min(to, bytes.size()))};
}

// main_cabac: SPS 0x0, PPS 0x1B, SEI 0x24, IDR 0x2D5, P 0xD3F (a picture decoded from the
// IDR alone), then B and P pictures.
constexpr std::size_t kIdr = 0x2D5;
constexpr std::size_t kFirstP = 0xD3F;
constexpr std::size_t kSecondB = 0x13BD;

TEST(PictureMessages, WhatIsMissingIsSaidInOneLine) {
    const std::vector<std::uint8_t> bytes = ReadAll(TestDataPath("main_cabac.264"));
    TempDir dir;
    struct Case {
        const char* Name;
        std::vector<std::uint8_t> File;
        std::int64_t Select;
        std::string Message;
    } cases[] = {
        {"cut after the IDR", Slice(bytes, kFirstP), 0, NoStartMessage()},
        {"cut after the IDR, a B picture", Slice(bytes, kFirstP), kSecondB - kFirstP,
         NoStartMessage()},
        {"no parameter sets", Slice(bytes, kIdr), 0,
         "pic_parameter_set_id 0 not found within 16 MiB before 0x0000000000000000, where "
         "decoding begins"},
        {"no sequence parameter set", Slice(bytes, 0x1B), kFirstP - 0x1B,
         "seq_parameter_set_id 0 not found within 16 MiB before 0x00000000000002BA, where "
         "decoding begins"},
        {"parameter sets alone", Slice(bytes, 0, 0x24), 0, NoStartMessage()},
    };
    for (const Case& c : cases) {
        Opened opened(dir.Write("cut.264", c.File));
        const TPictureAnswer answer = opened.Units->Decode(c.Select);
        EXPECT_EQ(answer.Outcome, TPictureOutcome::Failed) << c.Name;
        EXPECT_EQ(answer.Message, c.Message) << c.Name;
    }
}

// The IDR picture, then zeros (the trailing zeros of its unit) up to a gap, then the first
// P picture, which refers to the IDR picture only.
TEST(PictureBound, TheStartIsLookedForNoFurtherBackThan64MiB) {
    const std::vector<std::uint8_t> bytes = ReadAll(TestDataPath("main_cabac.264"));
    const std::vector<ExpectedPicture> expected = ReadPictures("main_cabac.pictures");
    const auto p = *std::find_if(expected.begin(), expected.end(),
                                 [](const ExpectedPicture& e) { return e.Pos == kFirstP; });
    TempDir dir;
    for (const std::int64_t distance : {kPictureSearchBound, kPictureSearchBound + 1}) {
        const std::string path = (dir.Path() / "gap.264").string();
        {
            std::ofstream out(path, std::ios::binary | std::ios::trunc);
            out.write(reinterpret_cast<const char*>(bytes.data()), kFirstP);
            out.seekp(static_cast<std::streamoff>(kIdr + distance));
            const std::vector<std::uint8_t> unit = Slice(bytes, kFirstP, 0x1155);
            out.write(reinterpret_cast<const char*>(unit.data()),
                      static_cast<std::streamsize>(unit.size()));
        }
        Opened opened(path);
        const TPictureAnswer answer =
            opened.Units->Decode(static_cast<std::int64_t>(kIdr) + distance);
        if (distance <= kPictureSearchBound) {
            ExpectPicture(answer, p, "at the bound");
            EXPECT_EQ(answer.Decoded.Facts.StartOffset, static_cast<std::int64_t>(kIdr));
            EXPECT_EQ(answer.Decoded.Facts.Pictures, 2);
        } else {
            EXPECT_EQ(answer.Message, NoStartMessage());
        }
    }
}

TEST(PictureCancel, ACancelledDecodingGoesOnWhereItStoppedWhenAskedAgain) {
    Opened opened(TestDataPath("main_cabac.264"));
    std::atomic<bool> cancel{true};
    EXPECT_EQ(opened.Units->Decode(0x1D77, &cancel).Outcome, TPictureOutcome::Cancelled);
    cancel = false;
    const TPictureAnswer answer = opened.Units->Decode(0x1D77, &cancel);
    EXPECT_EQ(answer.Outcome, TPictureOutcome::Done);
    EXPECT_EQ(answer.Decoded.Facts.Pictures, 8);
    EXPECT_EQ(opened.Units->UnitsSent(), 8);
    EXPECT_EQ(PictureLine(answer.Decoded),
              "176x144, slices P, frame_num 5, POC 14, picture 7 in decoding order and 7 in "
              "display order after the IDR, decoded from the IDR at 0x00000000000002D5 (8 "
              "pictures)");
}

} // namespace

namespace {

// Selecting a picture past a later IDR picture than the walk's decodes from there, not on
// through the pictures before it; a recovery point on the way changes nothing.
TEST(PictureReuse, AnIdrPictureBetweenTheWalkAndTheSelectionBeginsAfresh) {
    const std::vector<std::uint8_t> once = ReadAll(TestDataPath("main_cabac.264"));
    std::vector<std::uint8_t> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    TempDir dir;
    for (const std::string& path :
         {dir.Write("twice.264", twice), TestDataPath("intra_refresh.264")}) {
        const std::vector<std::int64_t> units = UnitOffsets(path);
        Opened opened(path);
        ASSERT_EQ(opened.Units->Decode(0).Outcome, TPictureOutcome::Done) << path;
        const std::int64_t sentBefore = opened.Units->UnitsSent();
        const TPictureAnswer last = opened.Units->Decode(units.back());
        ASSERT_EQ(last.Outcome, TPictureOutcome::Done) << path << ": " << last.Message;
        EXPECT_EQ(last.Decoded.Facts.StartKind, TStartKind::Idr) << path;
        EXPECT_TRUE(last.Decoded.Facts.Exact) << path;
        const bool second = path.ends_with("twice.264");
        const std::vector<std::uint8_t> bytes = ReadAll(path);
        const auto idr = *std::find_if(units.begin(), units.end(), [&](std::int64_t u) {
            const int sc = StartCodeLength(bytes.data() + u, 5);
            return (bytes[static_cast<std::size_t>(u + sc)] & 31) == 5;
        });
        EXPECT_EQ(last.Decoded.Facts.StartOffset,
                  second ? static_cast<std::int64_t>(once.size() + kIdr) : idr)
            << path;
        // Each access unit went to the decoder once, from the start in use.
        EXPECT_EQ(opened.Units->UnitsSent(),
                  (second ? sentBefore : 0) + last.Decoded.Facts.Pictures)
            << path;
    }
}

} // namespace

namespace {

// The file ends in the middle of the run of pictures: the pictures it still holds whole are
// the same as in the whole file, the last of them given out by draining the decoder.
TEST(PictureCut, AFileCutInTheMiddleOfAGopDecodesWhatItHolds) {
    const std::vector<std::uint8_t> bytes = ReadAll(TestDataPath("main_cabac.264"));
    const std::vector<ExpectedPicture> expected = ReadPictures("main_cabac.pictures");
    std::vector<std::int64_t> starts;
    for (const auto& e : expected) {
        starts.push_back(e.Pos);
    }
    std::sort(starts.begin(), starts.end());
    TempDir dir;
    for (std::size_t cut = 2; cut < starts.size(); ++cut) {
        const std::string path =
            dir.Write("cut.264", Slice(bytes, 0, static_cast<std::size_t>(starts[cut])));
        const std::vector<Selection> selections =
            Selections(UnitOffsets(path),
                       std::vector<std::int64_t>(
                           starts.begin(), starts.begin() + static_cast<std::ptrdiff_t>(cut)));
        for (std::size_t i = 0; i < cut; ++i) {
            Opened opened(path);
            const auto e =
                *std::find_if(expected.begin(), expected.end(),
                              [&](const ExpectedPicture& x) { return x.Pos == starts[i]; });
            ExpectPicture(opened.Units->Decode(selections[i].Last), e,
                          "cut before access unit " + std::to_string(cut) + ", picture " +
                              std::to_string(i));
        }
    }
}

} // namespace
