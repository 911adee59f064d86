#include "model/WalkContext.h"

#include "stream/H264Utils.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace {

constexpr std::size_t kKeptBytes = std::max<std::size_t>(kParameterSetBytes, 65536);

bool IsSlice(std::uint32_t type) {
    return type == kNalNonIdrSlice || type == kNalIdrSlice || type == kNalPartitionA;
}

} // namespace

bool OpensAccessUnit(std::uint32_t type) {
    return (type >= kNalSei && type <= kNalDelimiter) || (type >= kNalPrefix && type <= 18);
}

TUnitWants WalkHeads(std::uint8_t header) {
    return AccessUnitHeads(header);
}

TUnitWants WalkHeadsWithSei(std::uint8_t header) {
    return NalUnitType(header) == kNalSei ? TUnitWants{kKeptBytes, false} : AccessUnitHeads(header);
}

void TAccessUnitRule::Reset(bool unsure) {
    FFirst = true;
    FUnsure = unsure;
    FSeenSlice = false;
    FHeld = false;
    FBeganBefore = false;
    FPictureBegan = false;
    FHeadRead = false;
    FLastRead = false;
    FHeadSps = nullptr;
}

bool TAccessUnitRule::Next(std::uint8_t header, const std::uint8_t* rbsp, std::int32_t size,
                           std::int64_t offset) {
    const std::uint32_t type = NalUnitType(header);
    const bool held = FHeld;
    FHeld = false;
    FBeganBefore = false;
    if (type == kNalPrefix && FSeenSlice && !held) {
        // A prefix unit goes with the slice after it: after the last slice of a picture it
        // begins the next access unit, before another slice of the same picture it does not.
        FFirst = false;
        FUnsure = false;
        FPictureBegan = false;
        FHeadRead = false;
        FHeld = true;
        return false;
    }
    if (held && !IsSlice(type)) {
        // No slice of the picture followed: the prefix unit began the access unit, which
        // this unit is in.
        FSeenSlice = false;
        FLastRead = false;
        Told(type, header, rbsp, size, offset);
        FBeganBefore = true;
        return true;
    }
    const bool begins = Told(type, header, rbsp, size, offset);
    FBeganBefore = held && begins;
    return begins;
}

bool TAccessUnitRule::Told(std::uint32_t type, std::uint8_t header, const std::uint8_t* rbsp,
                           std::int32_t size, std::int64_t offset) {
    const bool first = FFirst;
    const bool unsure = FUnsure;
    FFirst = false;
    FUnsure = false;
    FPictureBegan = false;
    FHeadRead = false;
    FOpening.reset();
    if (type == kNalSps || type == kNalPps) {
        FSets.Learn(header, rbsp, size, offset);
    }
    if (OpensAccessUnit(type)) {
        const bool begins = first || FSeenSlice;
        if (FSeenSlice) {
            FSeenSlice = false;
            FLastRead = false;
        }
        return begins;
    }
    if (!IsSlice(type)) {
        return first;
    }
    FHeadRead = ReadSliceHead(rbsp, size, header, FSets, FHead, FHeadSps);
    if (FHeadRead) {
        FOpening = TSliceOpening{FHead.first_mb_in_slice, FHead.slice_type};
    } else {
        FOpening = ReadSliceOpening(rbsp, size);
    }
    const bool firstMbZero = FOpening && FOpening->first_mb_in_slice == 0;
    bool newPicture = false;
    if (unsure) {
        // The walk began at this slice: nothing before it to compare with.
        newPicture = firstMbZero;
    } else if (FHeadRead) {
        newPicture = FHead.redundant_pic_cnt == 0 &&
                     (!FSeenSlice || !FLastRead || BeginsNewPicture(FLast, FHead, *FHeadSps));
    } else {
        // Without its parameter sets only the first macroblock tells a picture's start.
        newPicture = !FSeenSlice || firstMbZero;
    }
    if (FHeadRead && FHead.redundant_pic_cnt == 0) {
        // What tells pictures apart comes before the lists and marking operations.
        std::memcpy(static_cast<void*>(&FLast), &FHead, offsetof(TSliceHead, modifications));
        FLastRead = true;
    } else if (!FHeadRead) {
        FLastRead = false;
    }
    const bool begins = first || (FSeenSlice && newPicture);
    FPictureBegan = newPicture;
    FSeenSlice = true;
    return begins;
}

TWalkContext::TWalkContext(TUnitCursor& cursor, FileStream* lookBack)
    : FCursor(cursor), FOwnSets(std::make_unique<TSetStore>(lookBack)), FSets(*FOwnSets),
      FRule(FSets), FRbsp(std::make_unique<std::uint8_t[]>(kKeptBytes)) {}

TWalkContext::TWalkContext(TUnitCursor& cursor, TSetStore& sets)
    : FCursor(cursor), FSets(sets), FRule(FSets),
      FRbsp(std::make_unique<std::uint8_t[]>(kKeptBytes)) {}

TWalkContext::~TWalkContext() = default;

void TWalkContext::Begin(std::int64_t from, bool atAccessUnit) {
    FCursor.Seek(from);
    FSets.LookBackFrom(from);
    FRule.Reset(from > 0 && !atAccessUnit);
}

bool TWalkContext::Next(TWalkUnit& unit, TUnitWantsOf wants, std::vector<std::uint8_t>* sink,
                        std::size_t sinkLimit) {
    if (!FCursor.Next(unit.Span, wants, sink, sinkLimit)) {
        return false;
    }
    unit.Type = unit.Span.HasHeader ? NalUnitType(unit.Span.Header) : 0;
    unit.Rbsp = FRbsp.get();
    unit.RbspSize = 0;
    unit.BeginsAccessUnit = false;
    unit.BeganBefore = false;
    unit.HeldBack = false;
    unit.BeginsPicture = false;
    unit.SliceType.reset();
    unit.Head = nullptr;
    unit.Sps = nullptr;
    unit.Pps = nullptr;
    if (!unit.Span.HasHeader) {
        return true;
    }
    const bool set = unit.Type == kNalSps || unit.Type == kNalPps;
    if (FSetsOnly && !set) {
        return true;
    }
    const std::vector<std::uint8_t>& head = FCursor.Head();
    // Of a slice only its header counts, however much more a caller keeps.
    const std::size_t wanted = IsSlice(unit.Type) ? kSliceHeaderBytes : kKeptBytes;
    const auto stored = static_cast<std::int32_t>(std::min(head.size(), wanted));
    if (stored > 0) {
        Remove_emulation_prevention_three_bytes(head.data(), stored, FRbsp.get(), unit.RbspSize);
    }
    FSets.At(unit.Span.Offset);
    if (FSetsOnly) {
        FSets.Learn(unit.Span.Header, FRbsp.get(), unit.RbspSize, unit.Span.Offset);
        return true;
    }
    unit.BeginsAccessUnit =
        FRule.Next(unit.Span.Header, FRbsp.get(), unit.RbspSize, unit.Span.Offset);
    unit.BeganBefore = FRule.BeganBefore();
    unit.HeldBack = FRule.HeldBack();
    unit.BeginsPicture = FRule.PictureBegan();
    if (FRule.Opening()) {
        unit.SliceType = FRule.Opening()->slice_type;
    }
    if (FRule.HeadRead()) {
        unit.Head = &FRule.Head();
        unit.Sps = FRule.Sps();
        unit.Pps = FSets.Pps(FRule.Head().pic_parameter_set_id);
    }
    return true;
}
