#include "model/HrdWalk.h"

#include "model/PictureOrder.h"
#include "model/WalkContext.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"
#include "syntax/FieldLines.h"

#include <memory>

namespace {

// The bytes of a unit each HRD counts. The NAL HRD takes the byte stream as it is: every
// byte from the unit's start code (its zero_byte included) up to the next start code, so
// the trailing zero bytes too, and the access units cover the file without a gap. The VCL
// HRD takes the NAL units of slices and filler data alone, without what the byte stream
// format adds around them.
std::int64_t NalHrdBytes(const TNalUnitSpan& span) {
    return span.Length;
}

std::int64_t VclHrdBytes(const TNalUnitSpan& span) {
    if (!span.HasHeader) {
        return 0;
    }
    const std::uint32_t type = NalUnitType(span.Header);
    const bool counted = (type >= kNalNonIdrSlice && type <= kNalIdrSlice) || type == kNalFiller;
    return counted ? span.PayloadEnd - span.Offset - span.StartCodeLength : 0;
}

class TNoValues final : public IFieldValues {
  public:
    void Value(TElementId, std::int64_t) override {}
};

} // namespace

const char* HrdBytesCounted(THrdKind kind) {
    return kind == THrdKind::Nal
               ? "every byte of the access unit: its NAL units with their start codes, "
                 "zero_byte and trailing zero bytes, the first also the leading zero bytes "
                 "(byte stream, Type II)"
               : "the NAL units of its slices and filler data, without start codes or "
                 "trailing zero bytes (Type I)";
}

bool WalkHrdAccessUnits(FileStream& stream, const std::function<bool(const THrdAccessUnit&)>& each,
                        const std::atomic<bool>* cancel) {
    TUnitCursor reader(stream, 4 << 20, true);
    reader.SetCancel(cancel);
    TWalkContext walk(reader, nullptr);
    TPictureOrder order;
    // The governing set is copied when it may have changed: at a new pointer, or after any
    // sequence parameter set unit, which can replace a set at the same address.
    auto sps = std::make_unique<TSeqParameterSet>();
    const TSeqParameterSet* spsFrom = nullptr;
    THrdAccessUnit au;
    bool open = false;
    bool stopped = false;
    TNalUnitSpan held; // a prefix unit the rule holds back
    bool holding = false;
    const auto close = [&] {
        if (open && !stopped) {
            stopped = !each(au);
            ++au.Index;
        }
        open = false;
    };
    const auto add = [&](const TNalUnitSpan& span) {
        au.NalBytes += NalHrdBytes(span);
        au.VclBytes += VclHrdBytes(span);
        au.UnitBytes += span.HasHeader ? span.PayloadEnd - span.Offset - span.StartCodeLength : 0;
    };
    const auto begin = [&](std::int64_t offset) {
        const std::int64_t index = au.Index;
        const std::int64_t leading = index == 0 ? au.NalBytes : 0;
        au = THrdAccessUnit{};
        au.Index = index;
        au.NalBytes = leading;
        au.Offset = offset;
        open = true;
    };
    TWalkUnit unit;
    bool firstUnit = true;
    while (!stopped && walk.Next(unit, WalkHeadsWithSei)) {
        const TNalUnitSpan& span = unit.Span;
        if (firstUnit) {
            // The zero bytes before the first start code lead the first NAL unit of the
            // byte stream: the NAL HRD counts them with the first access unit.
            firstUnit = false;
            au.NalBytes = span.Offset;
        }
        if (!span.HasHeader) {
            if (!open) {
                begin(span.Offset);
            }
            add(span);
            continue;
        }
        if (unit.HeldBack) {
            held = span;
            holding = true;
            continue;
        }
        if (holding && !unit.BeganBefore && open) {
            add(held); // the prefix unit stays with the access unit it follows
        }
        if (unit.BeginsAccessUnit || !open) {
            close();
            begin(holding && unit.BeganBefore ? held.Offset : span.Offset);
            if (holding && unit.BeganBefore) {
                add(held);
            }
        }
        holding = false;
        add(span);
        if (unit.Type == kNalSps) {
            spsFrom = nullptr;
        } else if (unit.Type == kNalSei) {
            TNoLines none;
            TNoValues values;
            TFieldContext context{none, nullptr, &values};
            Decode_sei_rbsp(context, nullptr, unit.Rbsp, unit.RbspSize, walk.Sets(), &au.Timing);
            au.TimingSpsMissing = au.TimingSpsMissing || (au.Timing.BufferingPeriod &&
                                                          !au.Timing.BufferingPeriodSpsFound);
        } else if (unit.BeginsPicture && !au.HasPicture) {
            au.HasPicture = true;
            au.Idr = unit.Type == kNalIdrSlice;
            au.FirstSlice = span.Offset;
            if (unit.Head != nullptr && unit.Sps != nullptr) {
                if (unit.Sps != spsFrom) {
                    *sps = *unit.Sps;
                    spsFrom = unit.Sps;
                }
                au.Sps = sps.get();
                au.SliceType = unit.Head->slice_type % 5;
                au.Field = unit.Head->field_pic_flag != 0;
                au.Poc = static_cast<std::int32_t>(order.Next(*unit.Head, *sps).Poc);
                const std::uint64_t frameHeight =
                    (std::uint64_t{sps->pic_height_in_map_units_minus1} + 1) *
                    (sps->frame_mbs_only_flag != 0 ? 1 : 2);
                au.PicSizeInMbs = (std::uint64_t{sps->pic_width_in_mbs_minus1} + 1) *
                                  frameHeight / (au.Field ? 2 : 1);
            }
        }
        const bool slice =
            unit.Type == kNalNonIdrSlice || unit.Type == kNalPartitionA || unit.Type == kNalIdrSlice;
        if (slice && au.HasPicture) {
            ++au.Slices;
        }
    }
    if (holding && open) {
        add(held);
    }
    close();
    return !reader.Cancelled();
}
