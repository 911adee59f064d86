// The whole-stream summary of every test stream against ffmpeg's reading of it: pictures
// by the type of their first slice, IDR pictures and the GOP lengths between them, the
// access units' sizes (ffmpeg's packets) summed per bucket, and the units per type against
// the independent listing. Then the edges: a 300 GB sparse file, a cancelled walk, a file
// that grows during the walk, files without pictures.

#include "model/StreamSummary.h"
#include "model/UnitSearch.h"
#include "stream/FileStream.h"
#include "support/NaiveUnits.h"
#include "support/SparseFiles.h"
#include "syntax/ReferenceSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

namespace {

using namespace reference;

std::int64_t RefValue(const std::vector<RefElement>& elements, const std::string& name) {
    for (const RefElement& e : elements) {
        if (e.Name == name) {
            return e.Value;
        }
    }
    return -1;
}

TStreamSummary Summarise(const std::string& path, TSearchControl* control = nullptr,
                         bool* done = nullptr) {
    FileStream stream;
    EXPECT_TRUE(stream.Open(path));
    TStreamSummary summary;
    const bool finished = WalkStreamSummary(stream, summary, control);
    if (done != nullptr) {
        *done = finished;
    }
    return summary;
}

class StreamSummaryReference : public testing::TestWithParam<std::string> {};

TEST_P(StreamSummaryReference, PicturesGopsAndAccessUnitSizesMatchTheReference) {
    DebugCapture quiet;
    const std::string name = GetParam();
    const std::string path = TestDataPath(name + ".264");
    const TStreamSummary s = Summarise(path);
    const RefStream ref = LoadRef(TestDataPath(name + ".ref"));

    std::array<std::int64_t, 5> byType{};
    std::int64_t pictures = 0;
    std::vector<std::int64_t> idrPictures;
    for (const auto& [index, elements] : ref.Slices) {
        if (RefValue(elements, "first_mb_in_slice") != 0) {
            continue;
        }
        ++byType[static_cast<std::size_t>(RefValue(elements, "slice_type") % 5)];
        if (ref.NalTypes[static_cast<std::size_t>(index)] == 5) {
            idrPictures.push_back(pictures);
        }
        ++pictures;
    }
    EXPECT_EQ(s.Pictures, pictures);
    EXPECT_EQ(s.BySliceType, byType);
    EXPECT_EQ(s.Idr, static_cast<std::int64_t>(idrPictures.size()));
    EXPECT_EQ(s.GopCount,
              std::max<std::int64_t>(0, static_cast<std::int64_t>(idrPictures.size()) - 1));
    for (std::size_t i = 1; i < idrPictures.size(); ++i) {
        const std::int64_t gop = idrPictures[i] - idrPictures[i - 1];
        EXPECT_LE(s.GopMin, gop);
        EXPECT_GE(s.GopMax, gop);
    }
    if (idrPictures.size() >= 2) {
        EXPECT_EQ(s.GopTotal, idrPictures.back() - idrPictures.front());
    }

    // ffmpeg's packets, placed one after another from the first start code, summed into
    // the same buckets; each without the zero bytes at its end, which belong to no unit.
    const std::vector<std::int64_t> packets = PacketSizes(name);
    ASSERT_EQ(static_cast<std::int64_t>(packets.size()), pictures);
    const std::vector<std::uint8_t> bytes = ReadAll(path);
    std::map<std::size_t, std::pair<std::int64_t, std::int64_t>> expected; // pictures, bytes
    std::int64_t offset = s.FirstStartCode;
    std::int64_t trimmed = 0;
    for (const std::int64_t size : packets) {
        auto& bucket = expected[static_cast<std::size_t>(offset / s.BucketWidth)];
        std::int64_t end = offset + size;
        while (end > offset && bytes[static_cast<std::size_t>(end - 1)] == 0) {
            --end;
        }
        ++bucket.first;
        bucket.second += end - offset;
        trimmed += end - offset;
        offset += size;
    }
    EXPECT_EQ(offset, s.Size);
    std::int64_t total = 0;
    for (std::size_t i = 0; i < s.Buckets.size(); ++i) {
        const auto found = expected.find(i);
        const auto want =
            found != expected.end() ? found->second : std::pair<std::int64_t, std::int64_t>{};
        EXPECT_EQ(s.Buckets[i].Pictures, want.first) << "bucket " << i;
        EXPECT_EQ(s.Buckets[i].Bytes, want.second) << "bucket " << i;
        total += s.Buckets[i].Bytes;
    }
    EXPECT_EQ(total, trimmed);

    std::array<std::int64_t, 32> units{};
    for (const int type : ref.NalTypes) {
        ++units[static_cast<std::size_t>(type)];
    }
    EXPECT_EQ(s.UnitsByType, units);
    ASSERT_FALSE(s.Sps.empty());
}

INSTANTIATE_TEST_SUITE_P(TestData, StreamSummaryReference, testing::ValuesIn(StreamNames()),
                         [](const testing::TestParamInfo<std::string>& param) {
                             return param.param;
                         });

// A 300 GB sparse file with the stream at its start, in its middle and at its end: 4,096
// buckets, the copies' pictures in the buckets of their offsets, and the holes after the
// copies counted to no access unit.
TEST(StreamSummary, BucketsOfA300GBSparseFile) {
    DebugCapture quiet;
    constexpr std::int64_t kSize = 300'000'000'000;
    TempDir dir;
    const std::vector<std::uint8_t> stream = ReadAll(TestDataPath("main_cabac.264"));
    const auto size = static_cast<std::int64_t>(stream.size());
    const std::string path = dir.Path().string() + "/huge.264";
    // The middle copy at the start of a bucket, so that its pictures share it.
    const std::int64_t width = (kSize + kSummaryBuckets - 1) / kSummaryBuckets;
    const std::int64_t middle = 2000 * width;
    WriteSparseCopies(path, kSize, stream, {std::int64_t{0}, middle, kSize - size});
    if (!ReportsHoles(path, middle / 2)) {
        GTEST_SKIP() << "the file system does not report the holes of a sparse file";
    }
    const TStreamSummary alone = Summarise(TestDataPath("main_cabac.264"));
    const TStreamSummary s = Summarise(path);
    EXPECT_EQ(s.Buckets.size(), static_cast<std::size_t>(kSummaryBuckets));
    EXPECT_EQ(s.BucketWidth, (kSize + kSummaryBuckets - 1) / kSummaryBuckets);
    EXPECT_EQ(s.Pictures, 3 * alone.Pictures);
    std::int64_t total = 0;
    std::int64_t largest = 0;
    std::vector<std::size_t> used;
    for (std::size_t i = 0; i < s.Buckets.size(); ++i) {
        total += s.Buckets[i].Bytes;
        largest = std::max(largest, s.Buckets[i].Largest);
        if (s.Buckets[i].Pictures > 0) {
            used.push_back(i);
        }
    }
    std::int64_t aloneTotal = 0;
    for (const TSummaryBucket& bucket : alone.Buckets) {
        aloneTotal += bucket.Bytes;
    }
    EXPECT_EQ(total, 3 * aloneTotal);
    EXPECT_EQ(used,
              (std::vector<std::size_t>{0, static_cast<std::size_t>(middle / s.BucketWidth),
                                        static_cast<std::size_t>((kSize - size) / s.BucketWidth)}));
    std::int64_t aloneLargest = 0;
    for (const TSummaryBucket& bucket : alone.Buckets) {
        aloneLargest = std::max(aloneLargest, bucket.Largest);
    }
    EXPECT_EQ(largest, aloneLargest);
    ASSERT_EQ(s.Sps.size(), 1u);
    EXPECT_EQ(s.Sps[0].Count, 3);
}

TEST(StreamSummary, ACancelledWalkAndAFileThatGrows) {
    DebugCapture quiet;
    TSearchControl control;
    control.Cancel = true;
    bool done = true;
    Summarise(TestDataPath("aud_sei.264"), &control, &done);
    EXPECT_FALSE(done);

    TempDir dir;
    const std::string path = dir.Write("grows.264", ReadAll(TestDataPath("aud_sei.264")));
    FileStream stream;
    ASSERT_TRUE(stream.Open(path));
    TStreamSummary s;
    TStreamSummaryWalk walk(stream, s); // takes the size
    std::ofstream(path, std::ios::binary | std::ios::app) << "more";
    EXPECT_THROW(walk.Run(), EFileChanged);
}

TEST(StreamSummary, FilesWithoutPictures) {
    DebugCapture quiet;
    TempDir dir;
    const std::vector<std::uint8_t> stream = ReadAll(TestDataPath("main_cabac.264"));
    // The SPS and PPS alone (the first two units).
    const std::string sets = dir.Write("sets.264", {stream.begin(), stream.begin() + 36});
    const TStreamSummary s = Summarise(sets);
    EXPECT_EQ(s.Pictures, 0);
    EXPECT_EQ(s.UnitsByType[7] + s.UnitsByType[8], s.Units);
    EXPECT_EQ(s.GopCount, 0);
    for (const TSummaryBucket& b : s.Buckets) {
        EXPECT_EQ(b.Pictures, 0);
    }
    const TStreamSummary one = Summarise(dir.Write("one.264", Hex("00 00 00 01 09 10")));
    EXPECT_EQ(one.Units, 1);
    EXPECT_EQ(one.Pictures, 0);
}

// Streams whose pictures begin at a slice other than macroblock 0 (flexible macroblock
// order, slices out of order) or carry redundant slices: find and the summary count the
// same pictures as the streams were made with (ffprobe's frames where it decodes them), and
// a walk of the range from any unit on counts no picture the whole walk does not.
TEST(StreamSummary, FindAndTheSummaryAgreeAndARangeLearnsTheSetsBeforeIt) {
    struct Case {
        const char* Name;
        std::int64_t Pictures; // as made: one IDR picture of two slice groups; 4 of 1,000
                               // shuffled slices; 20 (ffprobe) with a redundant slice each
        std::int64_t Idr;
    } const cases[] = {{"hostile/fmo_explicit.264", 1, 1},
                       {"hostile/slices1000_shuffled.264", 4, 1},
                       {"hostile/redundant_pictures.264", 20, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        const std::string path = TestDataPath(c.Name);
        const TStreamSummary whole = Summarise(path);
        EXPECT_EQ(whole.Pictures, c.Pictures);
        EXPECT_EQ(whole.Idr, c.Idr);
        FileStream stream;
        ASSERT_TRUE(stream.Open(path));
        TUnitSearch search(stream);
        std::int64_t found = 0;
        using W = TFindKind::TWhat;
        for (const W what : {W::IPicture, W::PPicture, W::BPicture}) {
            search.Forward({what, 0}, 0, [&](const TNalUnitSpan&) { return ++found, true; });
        }
        EXPECT_EQ(found, c.Pictures);
        std::int64_t idr = 0;
        search.Forward({W::Idr, 0}, 0, [&](const TNalUnitSpan&) { return ++idr, true; });
        EXPECT_EQ(idr, c.Idr);
        const std::vector<TNalUnitSpan> units = NaiveUnits(ReadAll(path), 0);
        // A hundred starts at most: the first units, where the sets lie behind, and a spread.
        for (std::size_t i = 0; i < units.size(); i += i < 50 ? 1 : units.size() / 50 + 1) {
            const std::int64_t from = units[i].Offset;
            TStreamSummary range;
            ASSERT_TRUE(TStreamSummaryWalk(stream, range, from, whole.Size).Run());
            std::int64_t within = 0;
            for (const TSummaryBucket& bucket : range.Buckets) {
                within += bucket.Pictures;
            }
            EXPECT_LE(within, c.Pictures) << "from " << from;
        }
    }
}

} // namespace
