#include "model/StreamSummary.h"

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"
#include "model/WalkContext.h"
#include "syntax/AccessUnit.h"
#include "syntax/BitStream4.h"
#include "syntax/Meanings.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <algorithm>
#include <memory>

class TStreamSummaryWalk::TWalk {
  public:
    TWalk(FileStream& stream, TStreamSummary& summary, std::int64_t first, std::int64_t end)
        // A walk of a range looks back for the sets before it through the same stream, which
        // a read ahead must then leave alone.
        : FReader(stream, 4 << 20, first <= 0), FWalk(FReader, first > 0 ? &stream : nullptr),
          FSummary(summary) {
        summary = TStreamSummary{};
        summary.Size = FReader.FileSize();
        // Standard input's size is known only at its end: its buckets start narrow and
        // double in width as the walk goes past them.
        FGrowing = summary.Size == FileStream::kUnknownSize;
        FFirst = std::clamp<std::int64_t>(first, 0, summary.Size);
        FEnd = end < 0 ? summary.Size : std::clamp<std::int64_t>(end, FFirst, summary.Size);
        FSkipFirst = FFirst > 0;
        const std::int64_t span = FEnd - FFirst;
        summary.RangeFirst = FFirst;
        summary.BucketWidth =
            FGrowing ? 1
                     : std::max<std::int64_t>(1, (span + kSummaryBuckets - 1) / kSummaryBuckets);
        summary.Buckets.assign(
            static_cast<std::size_t>(
                FGrowing ? kSummaryBuckets
                         : std::min<std::int64_t>(kSummaryBuckets, span / summary.BucketWidth + 1)),
            TSummaryBucket{});
        FWalk.Begin(FFirst);
    }

    bool Run(TSearchControl* control, const std::function<void(const TStreamSummary&)>& blockDone) {
        if (control != nullptr) {
            FReader.SetCancel(&control->Cancel);
        }
        TWalkUnit unit;
        std::int64_t block = -1;
        while (!FPastEnd && FWalk.Next(unit)) {
            if (FReader.BlockStart() != block) {
                block = FReader.BlockStart();
                if (blockDone) {
                    blockDone(FSummary);
                }
                if (control != nullptr) {
                    control->Reached.store(block);
                }
            }
            Unit(unit);
        }
        if (FReader.Cancelled()) {
            return false;
        }
        CloseAccessUnit();
        if (FGrowing) {
            FSummary.Size = FReader.FileSize();
            FEnd = FSummary.Size;
            FSummary.Buckets.resize(static_cast<std::size_t>(
                std::min<std::int64_t>(kSummaryBuckets, FSummary.Size / FSummary.BucketWidth + 1)));
        }
        if (control != nullptr) {
            control->Reached.store(FEnd);
        }
        return true;
    }

  private:
    void Unit(const TWalkUnit& unit) {
        const TNalUnitSpan& span = unit.Span;
        ++FSummary.Units;
        if (FSummary.FirstStartCode < 0) {
            FSummary.FirstStartCode = span.Offset;
        }
        if (!span.HasHeader) {
            FAccessUnitEnd = std::max(FAccessUnitEnd, span.PayloadEnd);
            return;
        }
        const std::uint32_t type = NalUnitType(span.Header);
        ++FSummary.UnitsByType[type];
        // A delimiter always begins an access unit: met first, its unit need not be left out.
        if (FSummary.Units == 1 && type == kNalDelimiter) {
            FSkipFirst = false;
        }
        const bool begins = unit.BeginsAccessUnit;
        if (unit.HeldBack) {
            // A prefix unit's access unit is known with the unit after it.
            FHeldStart = span.Offset;
            FHeldEnd = span.PayloadEnd;
            return;
        }
        if (begins) {
            CloseAccessUnit();
            // The range ends where the first access unit that begins past it begins: the
            // last one within keeps all its units.
            const std::int64_t start = unit.BeganBefore ? FHeldStart : span.Offset;
            if (start >= FEnd) {
                FPastEnd = true;
                return;
            }
            FAccessUnitStart = start;
        }
        if (FAccessUnitStart < 0) {
            if (span.Offset >= FEnd) {
                FPastEnd = true;
                return;
            }
            FAccessUnitStart = span.Offset;
        }
        FAccessUnitEnd = span.PayloadEnd;
        if (unit.BeginsPicture && !FHasPicture) {
            Picture(unit);
        }
        if (type == kNalSps) {
            SequenceParameterSet(unit);
        }
    }

    void Picture(const TWalkUnit& unit) {
        const TNalUnitSpan& span = unit.Span;
        const std::uint32_t type = unit.Type;
        // A slice whose header cannot be read still tells its type.
        const std::uint32_t sliceType = unit.SliceType.value_or(0);
        FHasPicture = true;
        FAccessUnitType = sliceType % 5;
        FAccessUnitIdr = type == kNalIdrSlice;
        FAccessUnitSlice = span.Offset;
        FAccessUnitSliceLength = span.Length;
        ++FSummary.Pictures;
        ++FSummary.BySliceType[FAccessUnitType];
        if (type == kNalIdrSlice) {
            ++FSummary.Idr;
            if (FLastIdrPicture >= 0) {
                const std::int64_t gop = FSummary.Pictures - FLastIdrPicture;
                FSummary.GopMin = FSummary.GopCount == 0 ? gop : std::min(FSummary.GopMin, gop);
                FSummary.GopMax = std::max(FSummary.GopMax, gop);
                FSummary.GopTotal += gop;
                ++FSummary.GopCount;
            }
            FLastIdrPicture = FSummary.Pictures;
        }
    }

    // The access unit in hand ends with its last byte that is not zero: the zeros after it
    // (a hole of a sparse file, say) belong to no unit.
    void CloseAccessUnit() {
        if (FAccessUnitStart < 0 || !FHasPicture) {
            FHasPicture = false;
            return;
        }
        FHasPicture = false;
        if (FSkipFirst) {
            FSkipFirst = false;
            return;
        }
        while (FGrowing && (FAccessUnitStart - FFirst) / FSummary.BucketWidth >=
                               static_cast<std::int64_t>(kSummaryBuckets)) {
            WidenBuckets();
        }
        const std::int64_t bytes = FAccessUnitEnd - FAccessUnitStart;
        const auto index = static_cast<std::size_t>(
            std::min<std::int64_t>((FAccessUnitStart - FFirst) / FSummary.BucketWidth,
                                   static_cast<std::int64_t>(FSummary.Buckets.size()) - 1));
        TSummaryBucket& bucket = FSummary.Buckets[index];
        if (bucket.FirstOffset < 0) {
            bucket.FirstOffset = FAccessUnitStart;
        }
        ++bucket.Pictures;
        bucket.Bytes += bytes;
        if (bytes > bucket.Largest) {
            bucket.Largest = bytes;
            bucket.LargestOffset = FAccessUnitStart;
            bucket.LargestSlice = FAccessUnitSlice;
            bucket.LargestSliceLength = FAccessUnitSliceLength;
            bucket.LargestType = FAccessUnitType;
            bucket.LargestIdr = FAccessUnitIdr;
        }
        bucket.I += FAccessUnitType == 2 ? 1 : 0;
        bucket.P += FAccessUnitType == 0 ? 1 : 0;
        bucket.B += FAccessUnitType == 1 ? 1 : 0;
        bucket.Idr += FAccessUnitIdr ? 1 : 0;
    }

    // Bucket i takes in bucket 2i + 1: twice the width.
    void WidenBuckets() {
        std::vector<TSummaryBucket>& buckets = FSummary.Buckets;
        for (std::size_t i = 0; i < buckets.size() / 2; ++i) {
            TSummaryBucket merged = buckets[2 * i];
            const TSummaryBucket& next = buckets[2 * i + 1];
            if (merged.FirstOffset < 0) {
                merged.FirstOffset = next.FirstOffset;
            }
            merged.Pictures += next.Pictures;
            merged.Bytes += next.Bytes;
            if (next.Largest > merged.Largest) {
                merged.Largest = next.Largest;
                merged.LargestOffset = next.LargestOffset;
                merged.LargestSlice = next.LargestSlice;
                merged.LargestSliceLength = next.LargestSliceLength;
                merged.LargestType = next.LargestType;
                merged.LargestIdr = next.LargestIdr;
            }
            merged.I += next.I;
            merged.P += next.P;
            merged.B += next.B;
            merged.Idr += next.Idr;
            buckets[i] = merged;
        }
        std::fill(buckets.begin() + static_cast<std::ptrdiff_t>(buckets.size() / 2), buckets.end(),
                  TSummaryBucket{});
        FSummary.BucketWidth *= 2;
    }

    void SequenceParameterSet(const TWalkUnit& unit) {
        const TNalUnitSpan& span = unit.Span;
        const std::int32_t n = unit.RbspSize;
        const std::uint8_t* rbsp = unit.Rbsp;
        for (TSummarySps& known : FSummary.Sps) {
            if (static_cast<std::int32_t>(known.Rbsp.size()) == n &&
                std::equal(known.Rbsp.begin(), known.Rbsp.end(), rbsp)) {
                ++known.Count;
                return;
            }
        }
        if (static_cast<std::int32_t>(FSummary.Sps.size()) >= kSummarySpsKept) {
            ++FSummary.SpsNotKept;
            return;
        }
        TSummarySps kept;
        kept.Rbsp.assign(rbsp, rbsp + n);
        kept.FirstOffset = span.Offset;
        kept.Count = 1;
        TSeqParameterSet sps{};
        TBitStream4 reader;
        if (n > 0 && reader.SetData(rbsp, n) == kStatusOk) {
            Parse_seq_parameter_set_rbsp(reader, sps);
        }
        kept.EndsEarly = n <= 0 || reader.Error() != 0;
        kept.Id = sps.seq_parameter_set_id;
        const std::string_view profile = ProfileName(sps.profile_idc);
        kept.Profile = profile.empty() ? std::to_string(sps.profile_idc) : std::string(profile);
        kept.Level = LevelText(sps.profile_idc, sps.constraint_set3_flag, sps.level_idc);
        const TPictureSize size = CroppedSize(sps);
        kept.Width = size.Width;
        kept.Height = size.Height;
        kept.FrameRate = FrameRateText(sps);
        if (!kept.FrameRate.empty()) {
            const TVuiParameters& vui = sps.vui_parameters;
            kept.FramesPerSecond =
                static_cast<double>(vui.time_scale) / (2.0 * vui.num_units_in_tick);
        }
        kept.Interlaced = sps.frame_mbs_only_flag == 0;
        FSummary.Sps.push_back(std::move(kept));
    }

    TUnitCursor FReader;
    TWalkContext FWalk;
    TStreamSummary& FSummary;
    // The range walked, and whether its first access unit is still to be left out.
    std::int64_t FFirst = 0;
    std::int64_t FEnd = 0;
    bool FSkipFirst = false;
    bool FPastEnd = false;
    // The access unit being gathered (-1: none yet): where it begins, one past its last
    // byte that is not zero, and its picture's slice type.
    std::int64_t FAccessUnitStart = -1;
    std::int64_t FAccessUnitEnd = 0;
    bool FHasPicture = false;
    std::uint32_t FAccessUnitType = 0;
    bool FAccessUnitIdr = false;
    std::int64_t FAccessUnitSlice = -1; // its picture's first slice
    std::int64_t FAccessUnitSliceLength = 0;
    std::int64_t FLastIdrPicture = -1;
    bool FGrowing = false;
    // A prefix unit held back by the rule: where it begins and its payload's end.
    std::int64_t FHeldStart = -1;
    std::int64_t FHeldEnd = 0;
};

TStreamSummaryWalk::TStreamSummaryWalk(FileStream& stream, TStreamSummary& summary,
                                       std::int64_t first, std::int64_t end)
    : FWalk(std::make_unique<TWalk>(stream, summary, first, end)) {}

TStreamSummaryWalk::~TStreamSummaryWalk() = default;

bool TStreamSummaryWalk::Run(TSearchControl* control,
                             const std::function<void(const TStreamSummary&)>& blockDone) {
    return FWalk->Run(control, blockDone);
}

bool WalkStreamSummary(FileStream& stream, TStreamSummary& summary, TSearchControl* control) {
    TStreamSummaryWalk walk(stream, summary);
    return walk.Run(control, {});
}
