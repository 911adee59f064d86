// Any bytes as a file, summed up by the summary walk twice: once as they are, and once
// placed so that the walk's 4 MiB block edge falls near a start code that a hash of the
// input picks, with a hole of a sparse file before them. The walk cannot be given a block
// size, so the second walk must see the same stream: the same units, pictures, access-unit
// bytes and sequence parameter sets. The first is held to a naive byte-by-byte start-code
// walk (units by type) and to what its own figures promise one another (buckets add up to
// the totals, pictures are no more than slices, access units lie within the file).

#include "FuzzSupport.h"
#include "stream/FileStream.h"
#include "model/StreamSummary.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace {

// The walk's block: its first read covers the file's first 4 MiB.
constexpr std::int64_t kBlockEdge = 4 << 20;
constexpr std::int64_t kPage = 4096;

struct TNaive {
    std::array<std::int64_t, 32> ByType{};
    std::int64_t Units = 0;
    std::int64_t First = -1;
    std::vector<std::int64_t> Codes; // where each 00 00 01 begins
};

// Every 00 00 01 of the bytes, read one by one; a zero before it makes it a four-byte
// start code. A unit has a header byte when one follows its start code before the next unit.
TNaive NaiveWalk(const std::uint8_t* bytes, std::int64_t n) {
    TNaive naive;
    std::vector<std::int64_t>& codes = naive.Codes;
    for (std::int64_t i = 0; i + 2 < n; ++i) {
        if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
            codes.push_back(i);
            i += 2;
        }
    }
    naive.Units = static_cast<std::int64_t>(codes.size());
    for (std::size_t k = 0; k < codes.size(); ++k) {
        const std::int64_t header = codes[k] + 3;
        std::int64_t next = n;
        if (k + 1 < codes.size()) {
            next =
                codes[k + 1] > 0 && bytes[codes[k + 1] - 1] == 0 ? codes[k + 1] - 1 : codes[k + 1];
        }
        if (k == 0) {
            naive.First = codes[0] > 0 && bytes[codes[0] - 1] == 0 ? codes[0] - 1 : codes[0];
        }
        if (header < next) {
            ++naive.ByType[bytes[header] & 31u];
        }
    }
    return naive;
}

TStreamSummary Walk(const std::string& path) {
    FileStream stream;
    TStreamSummary summary;
    FuzzCheck(stream.Open(path), "the file opens");
    FuzzCheck(WalkStreamSummary(stream, summary), "the walk runs to its end");
    return summary;
}

// Totals over the buckets, which the two walks lay out differently.
struct TTotals {
    std::int64_t Pictures = 0, Bytes = 0, Largest = 0, I = 0, P = 0, B = 0, Idr = 0;
    bool operator==(const TTotals&) const = default;
};

TTotals Totals(const TStreamSummary& summary) {
    TTotals totals;
    for (std::size_t i = 0; i < summary.Buckets.size(); ++i) {
        const TSummaryBucket& bucket = summary.Buckets[i];
        const std::int64_t begin = static_cast<std::int64_t>(i) * summary.BucketWidth;
        FuzzCheck((bucket.Pictures == 0) == (bucket.FirstOffset < 0), "a bucket empty or not");
        if (bucket.Pictures > 0) {
            // The last bucket also takes the access units past its width.
            FuzzCheck(bucket.FirstOffset >= begin &&
                          (i + 1 == summary.Buckets.size() ||
                           bucket.FirstOffset < begin + summary.BucketWidth),
                      "an access unit in its bucket");
            FuzzCheck(bucket.Largest > 0 && bucket.Largest <= bucket.Bytes,
                      "the largest access unit within the bucket's bytes");
            FuzzCheck(bucket.LargestOffset >= bucket.FirstOffset &&
                          bucket.LargestOffset + bucket.Largest <= summary.Size,
                      "the largest access unit within the file");
            FuzzCheck(bucket.LargestSlice >= bucket.LargestOffset &&
                          bucket.LargestSlice < bucket.LargestOffset + bucket.Largest,
                      "the largest access unit's slice within it");
        }
        FuzzCheck(bucket.I + bucket.P + bucket.B <= bucket.Pictures &&
                      bucket.Idr <= bucket.Pictures,
                  "a bucket's pictures by type");
        totals.Pictures += bucket.Pictures;
        totals.Bytes += bucket.Bytes;
        totals.Largest = std::max(totals.Largest, bucket.Largest);
        totals.I += bucket.I;
        totals.P += bucket.P;
        totals.B += bucket.B;
        totals.Idr += bucket.Idr;
    }
    return totals;
}

void CheckAlone(const TStreamSummary& summary, const TNaive& naive, std::int64_t size) {
    FuzzCheck(summary.Size == size, "the file's size");
    FuzzCheck(summary.Units == naive.Units, "units as the naive walk counts them");
    FuzzCheck(summary.FirstStartCode == naive.First, "the first start code");
    FuzzCheck(summary.UnitsByType == naive.ByType, "units by type as the naive walk counts them");
    FuzzCheck(!summary.Buckets.empty() &&
                  summary.Buckets.size() <= static_cast<std::size_t>(kSummaryBuckets),
              "the buckets' count");
    const TTotals totals = Totals(summary);
    const auto& by = summary.UnitsByType;
    FuzzCheck(summary.Pictures <= by[1] + by[2] + by[5], "pictures no more than slices");
    FuzzCheck(summary.Idr <= by[5], "IDR pictures no more than IDR slices");
    FuzzCheck(totals.Pictures == summary.Pictures, "the buckets' pictures add up");
    FuzzCheck(totals.I == summary.BySliceType[2] && totals.P == summary.BySliceType[0] &&
                  totals.B == summary.BySliceType[1] && totals.Idr == summary.Idr,
              "the buckets' types add up");
    FuzzCheck(totals.Bytes >= 0 && totals.Bytes <= size - std::max<std::int64_t>(naive.First, 0),
              "access units within the file");
    FuzzCheck(summary.GopCount == std::max<std::int64_t>(summary.Idr - 1, 0) &&
                  summary.GopMin <= summary.GopMax &&
                  summary.GopTotal < std::max<std::int64_t>(summary.Pictures, 1),
              "GOP lengths");
    std::int64_t sets = summary.SpsNotKept;
    for (const TSummarySps& sps : summary.Sps) {
        sets += sps.Count;
    }
    FuzzCheck(summary.Sps.size() <= static_cast<std::size_t>(kSummarySpsKept) && sets == by[7],
              "every SPS kept or counted");
}

void CheckSame(const TStreamSummary& alone, const TStreamSummary& placed, std::int64_t shift) {
    FuzzCheck(placed.Units == alone.Units && placed.UnitsByType == alone.UnitsByType,
              "the same units across the block edge");
    FuzzCheck(placed.FirstStartCode ==
                  (alone.FirstStartCode < 0 ? -1 : alone.FirstStartCode + shift),
              "the same first start code across the block edge");
    FuzzCheck(placed.Pictures == alone.Pictures && placed.BySliceType == alone.BySliceType &&
                  placed.Idr == alone.Idr,
              "the same pictures across the block edge");
    FuzzCheck(placed.GopCount == alone.GopCount && placed.GopMin == alone.GopMin &&
                  placed.GopMax == alone.GopMax && placed.GopTotal == alone.GopTotal,
              "the same GOPs across the block edge");
    FuzzCheck(Totals(placed) == Totals(alone), "the same access units across the block edge");
    FuzzCheck(placed.Sps.size() == alone.Sps.size() && placed.SpsNotKept == alone.SpsNotKept,
              "the same sequence parameter sets across the block edge");
    for (std::size_t i = 0; i < alone.Sps.size(); ++i) {
        FuzzCheck(placed.Sps[i].Rbsp == alone.Sps[i].Rbsp &&
                      placed.Sps[i].Count == alone.Sps[i].Count &&
                      placed.Sps[i].FirstOffset == alone.Sps[i].FirstOffset + shift,
                  "the same sequence parameter set across the block edge");
    }
}

// A page of FF bytes at the file's start keeps the first read from skipping the hole, so
// that it ends at the block edge; an FF just before the input keeps the zeros of the hole
// from joining a start code at its start.
bool WritePlaced(const std::string& path, const std::uint8_t* data, std::int64_t size,
                 std::int64_t at) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0) {
        return false;
    }
    const std::vector<std::uint8_t> page(static_cast<std::size_t>(kPage), 0xFF);
    const std::uint8_t ff = 0xFF;
    const bool written =
        ::pwrite(fd, page.data(), page.size(), 0) == kPage && ::pwrite(fd, &ff, 1, at - 1) == 1 &&
        (size == 0 || ::pwrite(fd, data, static_cast<std::size_t>(size), at) == size);
    return ::close(fd) == 0 && written;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SilenceDebugOutput();
    static const TFuzzFile file("summary_walk");
    static const TFuzzFile placed("summary_walk_placed");
    if (size > 65536) {
        return 0;
    }
    const auto n = static_cast<std::int64_t>(size);
    file.Write(data, size);
    const TStreamSummary alone = Walk(file.Path());
    const TNaive naive = NaiveWalk(data, n);
    CheckAlone(alone, naive, n);
    // The block edge falls where the walk can go wrong: a few bytes around a start code or
    // within the header after it. A hash of the whole input picks the place, so that every
    // change of the input moves it.
    std::uint64_t hash = 14695981039346656037ull;
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 1099511628211ull;
    }
    const auto pick = static_cast<std::int64_t>(hash >> 56);
    std::int64_t into = static_cast<std::int64_t>(hash % 65536);
    if (!naive.Codes.empty()) {
        into = naive.Codes[hash % naive.Codes.size()] + (pick < 128 ? pick % 16 - 8 : pick - 128);
    }
    into = std::clamp<std::int64_t>(into, 0, n);
    const std::int64_t at = kBlockEdge - into;
    if (WritePlaced(placed.Path(), data, n, at)) {
        CheckSame(alone, Walk(placed.Path()), at);
    }
    return 0;
}
