#pragma once

// The one walk over a stream's meaning: units from the cursor, each with what the walk
// kept of its payload, the one parameter-set store and the one rule for where an access
// unit and a primary picture begin. The summary, find, the listings, the decoder's feed
// and the macroblock map all walk with it, so no two of them can disagree about a set or
// a picture.

#include "model/SetStore.h"
#include "stream/UnitCursor.h"
#include "syntax/AccessUnit.h"

#include <cstdint>
#include <memory>
#include <vector>

// The units that begin an access unit when they follow a picture's slices: delimiter, SPS,
// PPS, SEI and the types 14 to 18.
bool OpensAccessUnit(std::uint32_t nal_unit_type);

// Splits a stream into access units, told its units one by one in file order. A new one
// begins with the first delimiter, SPS, PPS, SEI or unit of types 14 to 18 after a
// picture's slices, or with the first slice of a new primary picture; filler data, end of
// sequence or stream and every other type stay with the access unit they follow. Parameter
// sets go to the store as they pass.
class TAccessUnitRule {
  public:
    explicit TAccessUnitRule(TSetStore& sets) : FSets(sets) {}

    // As at the start of a stream: the next unit begins an access unit. unsure: the walk
    // begins in the middle of a stream, so a first slice met before any other unit may
    // continue a picture begun before it: only its first macroblock tells.
    void Reset(bool unsure = false);
    // Told a unit at offset: its header byte, and its payload after that byte with
    // emulation prevention removed (a slice's first kSliceHeaderBytes, a parameter set
    // whole). True when the unit begins a new access unit.
    bool Next(std::uint8_t header, const std::uint8_t* rbsp, std::int32_t size,
              std::int64_t offset);

    // The last unit told is a prefix unit after a picture's slice: it begins an access unit
    // unless the next unit is a slice of that same picture, which the next call tells. Its
    // caller holds it apart until then.
    bool HeldBack() const { return FHeld; }
    // The access unit the last unit told begins began with the unit held back before it.
    bool BeganBefore() const { return FBeganBefore; }
    // The last unit told was the first slice of a new primary picture.
    bool PictureBegan() const { return FPictureBegan; }
    // The last unit told was a slice whose header could be read: Head and Sps tell it.
    bool HeadRead() const { return FHeadRead; }
    const TSliceHead& Head() const { return FHead; }
    const TSeqParameterSet* Sps() const { return FHeadSps; }
    // The last unit told was a slice that begins with these elements.
    const std::optional<TSliceOpening>& Opening() const { return FOpening; }
    // The access unit in hand holds a primary picture's slice.
    bool HasPicture() const { return FSeenSlice; }

  private:
    // Next without the prefix unit's hold.
    bool Told(std::uint32_t type, std::uint8_t header, const std::uint8_t* rbsp, std::int32_t size,
              std::int64_t offset);

    TSetStore& FSets;
    bool FFirst = true;
    bool FUnsure = false;
    bool FSeenSlice = false;
    bool FHeld = false;
    bool FBeganBefore = false;
    bool FPictureBegan = false;
    bool FHeadRead = false;
    TSliceHead FHead;
    std::optional<TSliceOpening> FOpening;
    TSliceHead FLast; // the last slice of the picture in hand, when FLastRead
    bool FLastRead = false;
    const TSeqParameterSet* FHeadSps = nullptr;
};

// One unit as the walk tells it.
struct TWalkUnit {
    TNalUnitSpan Span;
    std::uint32_t Type = 0; // nal_unit_type; 0 for a start code alone
    // What the walk kept of the payload after the header byte, emulation prevention
    // removed: a slice's header, a parameter set whole, as much as the walk's wants say.
    const std::uint8_t* Rbsp = nullptr;
    std::int32_t RbspSize = 0;
    bool BeginsAccessUnit = false;
    // The access unit this unit begins began with the prefix unit held before it.
    bool BeganBefore = false;
    // A prefix unit whose access unit the next unit tells.
    bool HeldBack = false;
    bool BeginsPicture = false; // the first slice of a new primary picture
    // A slice's slice_type, from its header or, without its sets, from its first elements.
    std::optional<std::uint32_t> SliceType;
    // A slice whose header was read with its sets: Head, and the sets that govern it.
    const TSliceHead* Head = nullptr;
    const TSeqParameterSet* Sps = nullptr;
    const TPicParameterSet* Pps = nullptr;
};

// What the walk keeps of each unit: a slice's header, a parameter set whole.
TUnitWants WalkHeads(std::uint8_t header);
// The same, and an SEI unit's messages.
TUnitWants WalkHeadsWithSei(std::uint8_t header);

class TWalkContext {
  public:
    // Walks with cursor; sets before a walk's start are looked for in lookBack (null:
    // standard input, which cannot be read back).
    TWalkContext(TUnitCursor& cursor, FileStream* lookBack);
    // With a store that outlives the walk (a window's, whose lookback answers it keeps).
    TWalkContext(TUnitCursor& cursor, TSetStore& sets);
    ~TWalkContext();
    TWalkContext(const TWalkContext&) = delete;
    TWalkContext& operator=(const TWalkContext&) = delete;

    // Begins a walk at the first unit at or after from: nothing learned before counts, the
    // sets it has not met are those before from. atAccessUnit: from is known to begin an
    // access unit (a start the decoder chose); otherwise a first slice in the middle of a
    // file may continue a picture begun before it, and only its first macroblock tells.
    void Begin(std::int64_t from, bool atAccessUnit = false);

    // The next unit; false at the end, the budget or a cancel (the cursor tells which).
    // wants: what is kept of each unit's payload (WalkHeads at least); sink and sinkLimit as
    // the cursor's.
    bool Next(TWalkUnit& unit, TUnitWantsOf wants = WalkHeads,
              std::vector<std::uint8_t>* sink = nullptr, std::size_t sinkLimit = 0);

    // A walk that needs only the sets (the listing's summaries): the rule is not run, and a
    // unit tells its span, and a parameter set its payload, nothing more.
    void SetsOnly(bool only) { FSetsOnly = only; }

    TSetStore& Sets() { return FSets; }
    const TAccessUnitRule& Rule() const { return FRule; }
    TUnitCursor& Cursor() { return FCursor; }

  private:
    TUnitCursor& FCursor;
    std::unique_ptr<TSetStore> FOwnSets;
    TSetStore& FSets;
    TAccessUnitRule FRule;
    std::unique_ptr<std::uint8_t[]> FRbsp;
    bool FSetsOnly = false;
};
