#include "syntax/StreamSummary.h"

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/NalUnitReader.h"
#include "syntax/BitStream4.h"
#include "syntax/Meanings.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <algorithm>
#include <memory>

namespace {

constexpr std::uint32_t kNonIdrSlice = 1;
constexpr std::uint32_t kIdrSlice = 5;
constexpr std::uint32_t kSps = 7;
// Bytes of a unit's head looked at: a slice's first two elements, a whole SPS.
constexpr std::int32_t kHeadBytes = 4096;
// first_mb_in_slice and slice_type: two ue(v) of at most 32 bits each, with room for the
// emulation-prevention bytes among them.
constexpr std::int32_t kSliceHeadBytes = 24;

// Units that, after a picture's last slice, begin the next access unit (SEI, parameter
// sets, delimiter, and the types the standard reserves for that place).
bool BeginsAccessUnit(std::uint32_t type) {
    return (type >= 6 && type <= 9) || (type >= 14 && type <= 18);
}

} // namespace

class TStreamSummaryWalk::TWalk {
  public:
    TWalk(FileStream& stream, FileStream& detail, TStreamSummary& summary)
        : FReader(stream), FDetail(detail), FSummary(summary),
          FHead(std::make_unique<std::uint8_t[]>(kHeadBytes)),
          FRbsp(std::make_unique<std::uint8_t[]>(kHeadBytes)) {
        summary = TStreamSummary{};
        summary.Size = FReader.FileSize();
        summary.BucketWidth =
            std::max<std::int64_t>(1, (summary.Size + kSummaryBuckets - 1) / kSummaryBuckets);
        summary.Buckets.assign(static_cast<std::size_t>(std::min<std::int64_t>(
                                   kSummaryBuckets, summary.Size / summary.BucketWidth + 1)),
                               TSummaryBucket{});
    }

    bool Run(TSearchControl* control, const std::function<void(const TStreamSummary&)>& blockDone) {
        TNalUnitSpan span;
        std::int64_t block = -1;
        while (FReader.Next(span)) {
            if (FReader.BlockStart() != block) {
                block = FReader.BlockStart();
                if (blockDone) {
                    blockDone(FSummary);
                }
                if (control != nullptr) {
                    control->Reached.store(block);
                    if (control->Cancel.load()) {
                        return false;
                    }
                }
            }
            Unit(span);
        }
        CloseAccessUnit(FSummary.Size);
        if (control != nullptr) {
            control->Reached.store(FSummary.Size);
        }
        return true;
    }

  private:
    // The unit's first bytes (up to limit, within the unit), from the walk's block when it
    // holds them.
    std::int32_t Head(const TNalUnitSpan& span, std::int32_t limit, const std::uint8_t*& data) {
        const auto wanted = static_cast<std::int32_t>(std::min<std::int64_t>(span.Length, limit));
        if (FReader.Held(span.Offset, wanted, data) == wanted) {
            return wanted;
        }
        data = FHead.get();
        return ReadWithinSize(FDetail, span.Offset, FHead.get(), wanted, FSummary.Size);
    }

    // The payload after the header byte without emulation prevention (of the first limit
    // bytes of the unit), into FRbsp.
    std::int32_t Payload(const TNalUnitSpan& span, std::int32_t limit = kHeadBytes) {
        const std::uint8_t* data = nullptr;
        const std::int32_t n = Head(span, limit, data);
        const std::int32_t skip = span.StartCodeLength + 1;
        std::int32_t written = 0;
        if (n > skip) {
            Remove_emulation_prevention_three_bytes(data + skip, n - skip, FRbsp.get(), written);
        }
        return written;
    }

    void Unit(const TNalUnitSpan& span) {
        ++FSummary.Units;
        if (FSummary.FirstStartCode < 0) {
            FSummary.FirstStartCode = span.Offset;
        }
        if (!span.HasHeader) {
            return;
        }
        const std::uint32_t type = NalUnitType(span.Header);
        ++FSummary.UnitsByType[type];
        if (type == kNonIdrSlice || type == kIdrSlice) {
            Slice(span, type);
        } else if (BeginsAccessUnit(type) && FPendingStart < 0) {
            FPendingStart = span.Offset;
        }
        if (type == kSps) {
            SequenceParameterSet(span);
        }
    }

    void Slice(const TNalUnitSpan& span, std::uint32_t type) {
        const std::int32_t n = Payload(span, kSliceHeadBytes);
        TBitStream4 reader;
        if (n <= 0 || reader.SetData(FRbsp.get(), n) != kStatusOk) {
            return;
        }
        const std::uint32_t firstMb = reader.ReadUE();
        const std::uint32_t sliceType = reader.ReadUE();
        if (reader.Error() != 0 || firstMb != 0) {
            FPendingStart = -1; // a later slice of the same picture
            return;
        }
        // A new picture: its access unit begins with the units that came before it since
        // the last picture's slices, or with it. The first takes in whatever came first.
        const std::int64_t start = FAccessUnitStart < 0 ? FSummary.FirstStartCode
                                   : FPendingStart >= 0 ? FPendingStart
                                                        : span.Offset;
        CloseAccessUnit(start);
        FPendingStart = -1;
        FAccessUnitStart = start;
        FAccessUnitType = sliceType % 5;
        FAccessUnitIdr = type == kIdrSlice;
        FAccessUnitSlice = span.Offset;
        FAccessUnitSliceLength = span.Length;
        ++FSummary.Pictures;
        ++FSummary.BySliceType[FAccessUnitType];
        if (type == kIdrSlice) {
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

    void CloseAccessUnit(std::int64_t end) {
        if (FAccessUnitStart < 0) {
            return;
        }
        const std::int64_t bytes = end - FAccessUnitStart;
        const auto index = static_cast<std::size_t>(
            std::min<std::int64_t>(FAccessUnitStart / FSummary.BucketWidth,
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
        FAccessUnitStart = -1;
    }

    void SequenceParameterSet(const TNalUnitSpan& span) {
        const std::int32_t n = Payload(span);
        for (TSummarySps& known : FSummary.Sps) {
            if (static_cast<std::int32_t>(known.Rbsp.size()) == n &&
                std::equal(known.Rbsp.begin(), known.Rbsp.end(), FRbsp.get())) {
                ++known.Count;
                return;
            }
        }
        if (static_cast<std::int32_t>(FSummary.Sps.size()) >= kSummarySpsKept) {
            ++FSummary.SpsNotKept;
            return;
        }
        TSummarySps kept;
        kept.Rbsp.assign(FRbsp.get(), FRbsp.get() + n);
        kept.FirstOffset = span.Offset;
        kept.Count = 1;
        TSeqParameterSet sps{};
        TBitStream4 reader;
        if (n > 0 && reader.SetData(FRbsp.get(), n) == kStatusOk) {
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
        kept.Interlaced = sps.frame_mbs_only_flag == 0;
        FSummary.Sps.push_back(std::move(kept));
    }

    TNalUnitReader FReader;
    FileStream& FDetail;
    TStreamSummary& FSummary;
    std::unique_ptr<std::uint8_t[]> FHead;
    std::unique_ptr<std::uint8_t[]> FRbsp;
    // The access unit being gathered (-1: none yet), and the slice type of its picture.
    std::int64_t FAccessUnitStart = -1;
    std::uint32_t FAccessUnitType = 0;
    bool FAccessUnitIdr = false;
    std::int64_t FAccessUnitSlice = -1; // its picture's first slice
    std::int64_t FAccessUnitSliceLength = 0;
    // The first unit since the last picture's slices that begins the next access unit.
    std::int64_t FPendingStart = -1;
    std::int64_t FLastIdrPicture = -1;
};

TStreamSummaryWalk::TStreamSummaryWalk(FileStream& stream, FileStream& detail,
                                       TStreamSummary& summary)
    : FWalk(std::make_unique<TWalk>(stream, detail, summary)) {}

TStreamSummaryWalk::~TStreamSummaryWalk() = default;

bool TStreamSummaryWalk::Run(TSearchControl* control,
                             const std::function<void(const TStreamSummary&)>& blockDone) {
    return FWalk->Run(control, blockDone);
}

bool WalkStreamSummary(FileStream& stream, FileStream& detail, TStreamSummary& summary,
                       TSearchControl* control) {
    TStreamSummaryWalk walk(stream, detail, summary);
    return walk.Run(control, {});
}
