#pragma once

// The whole stream at a glance, from one walk over the file with fixed memory: units per
// type, pictures per slice type, GOP lengths, each distinct sequence parameter set, and the
// access units' sizes gathered into at most kSummaryBuckets buckets by file offset.

#include "model/UnitSearch.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class FileStream;

inline constexpr std::int32_t kSummaryBuckets = 4096;
// Distinct sequence parameter sets kept; more are counted, not kept.
inline constexpr std::int32_t kSummarySpsKept = 64;

// The access units that begin within one stretch of the file.
struct TSummaryBucket {
    std::int64_t FirstOffset = -1; // the first access unit's offset, -1 while empty
    std::int64_t Pictures = 0;
    std::int64_t Bytes = 0;
    std::int64_t Largest = 0;
    // The largest access unit: where it and its picture's first slice begin, the slice's
    // length, its slice_type modulo 5, and whether it is an IDR picture.
    std::int64_t LargestOffset = -1;
    std::int64_t LargestSlice = -1;
    std::int64_t LargestSliceLength = 0;
    std::uint32_t LargestType = 0;
    bool LargestIdr = false;
    std::int64_t I = 0;
    std::int64_t P = 0;
    std::int64_t B = 0;
    std::int64_t Idr = 0;
};

// One distinct sequence parameter set (its bytes differ from every other kept).
struct TSummarySps {
    std::uint32_t Id = 0;
    std::string Profile; // the name, or the profile_idc as a number
    std::string Level;
    std::int64_t Width = 0;
    std::int64_t Height = 0;
    std::string FrameRate; // empty without VUI timing
    double FramesPerSecond = 0; // 0 without it
    bool Interlaced = false;
    bool EndsEarly = false;
    std::int64_t FirstOffset = 0;
    std::int64_t Count = 0;
    std::vector<std::uint8_t> Rbsp; // to tell it from the others
};

struct TStreamSummary {
    std::int64_t Size = 0;
    std::int64_t FirstStartCode = -1;
    std::array<std::int64_t, 32> UnitsByType{};
    std::int64_t Units = 0;
    // Pictures by the slice_type of their first slice (modulo 5: P, B, I, SP, SI), and IDR.
    std::int64_t Pictures = 0;
    std::array<std::int64_t, 5> BySliceType{};
    std::int64_t Idr = 0;
    // Pictures from one IDR picture to the next; GopCount of them.
    std::int64_t GopCount = 0;
    std::int64_t GopMin = 0;
    std::int64_t GopMax = 0;
    std::int64_t GopTotal = 0;
    std::vector<TSummarySps> Sps;
    std::int64_t SpsNotKept = 0;
    // Bucket i holds the access units that begin in [RangeFirst + i * BucketWidth,
    // RangeFirst + (i + 1) * BucketWidth).
    std::int64_t RangeFirst = 0;
    std::int64_t BucketWidth = 1;
    std::vector<TSummaryBucket> Buckets;
};

// Walks stream once, splitting it into access units by the one access-unit rule. The
// file's size is taken at construction; Run walks. A walk of the range [first, end) of the
// file gathers the access units that begin there into buckets over that range alone; the
// first access unit it meets is left out when first > 0 unless a delimiter begins it, as it
// may have begun before. control, when
// given, is told the offset reached and may cancel; Run is false when cancelled. Throws
// EFileChanged when the file changes meanwhile, and on read failures.
class TStreamSummaryWalk {
  public:
    TStreamSummaryWalk(FileStream& stream, TStreamSummary& summary, std::int64_t first = 0,
                       std::int64_t end = -1);
    ~TStreamSummaryWalk();
    TStreamSummaryWalk(const TStreamSummaryWalk&) = delete;
    TStreamSummaryWalk& operator=(const TStreamSummaryWalk&) = delete;
    // blockDone, when given, is called after each block of the walk with the figures so far.
    bool Run(TSearchControl* control = nullptr,
             const std::function<void(const TStreamSummary&)>& blockDone = {});

  private:
    class TWalk;
    std::unique_ptr<TWalk> FWalk;
};

// Constructs a walk and runs it.
bool WalkStreamSummary(FileStream& stream, TStreamSummary& summary,
                       TSearchControl* control = nullptr);
