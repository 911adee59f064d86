#pragma once

// The stream check: every unit's syntax checked against its rules (syntax/Checks.h), the
// limits of the levels, and the rules between units (the order within an access unit,
// the sets a slice names, frame_num from picture to picture), all feeding one list of
// problems. One walk in file order, with fixed memory.

#include "model/WalkContext.h"
#include "syntax/Rules.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class FileStream;

// The most of one unit the check keeps to look at every byte; a larger unit's payload
// is checked by its first bytes only (and a note says so).
inline constexpr std::size_t kCheckUnitBytes = 32u << 20;

// The limits of the level a sequence parameter set names: the picture size (MaxFS) and
// the reference frames the picture buffer holds (MaxDpbFrames).
void CheckSpsLevel(const TSeqParameterSet& sps, TUnitProblems& problems);

class TStreamCheck {
  public:
    // sets: the walk's store, which the units are told after the walk has learned them.
    TStreamCheck(IProblems& sink, TSetStore& sets);
    ~TStreamCheck();
    TStreamCheck(const TStreamCheck&) = delete;
    TStreamCheck& operator=(const TStreamCheck&) = delete;

    // The walk's next unit, with its bytes as the cursor's sink holds them (00 00 00 01, the
    // header byte, the payload up to its last byte that is not zero), or, when they did
    // not fit (whole false), the first bytes after the header byte that the cursor kept.
    void Unit(const TWalkUnit& unit, const std::uint8_t* bytes, std::int32_t size, bool whole);
    // After the last unit.
    void End();

  private:
    void Sps(const std::uint8_t* rbsp, std::int32_t size, TUnitProblems& problems);
    void Pps(const std::uint8_t* rbsp, std::int32_t size, TUnitProblems& problems);
    void Slice(const TWalkUnit& unit, const std::uint8_t* payload, std::int32_t size, bool whole,
               TUnitProblems& problems);
    // Why a slice header could not be read: its set missing, or its payload short.
    void SliceUnread(const std::uint8_t* rbsp, std::int32_t size, TUnitProblems& problems);
    // The first slice of a primary picture.
    void Picture(const TSliceHead& head, const TSeqParameterSet& sps, TUnitProblems& problems);
    void CloseAccessUnit();

    IProblems& FSink;
    TSetStore& FSets;
    std::vector<std::uint8_t> FRbsp;
    // Scratch records of the set in hand; the sets that count are the rule's.
    std::unique_ptr<TSeqParameterSet> FSps;
    std::unique_ptr<TPicParameterSet> FPps;
    // The access unit in hand.
    bool FAuOpen = false;
    std::int64_t FAuOffset = 0;
    std::uint8_t FAuHeader = 0;
    bool FAuHasSlice = false;
    std::int32_t FAuPrimaryPicType = -1;
    // From picture to picture.
    bool FSeenPicture = false;
    bool FAfterEndOfSequence = false;
    bool FAfterEndOfStream = false;
    std::optional<std::uint32_t> FPrevRefFrameNum;
    // A fingerprint of the last sequence set of each id, not the set: the sets are the
    // rule's. A change of the one in use waits for the next picture to tell whether it is
    // an IDR picture.
    std::array<std::optional<std::uint64_t>, 32> FSpsPrints;
    std::optional<std::uint32_t> FActiveSps;
    std::optional<TProblem> FSpsChange;
};

// Walks the whole stream from its start and tells sink every problem as it is found;
// false when cancel ended the walk. Throws as the cursor does.
bool CheckStream(FileStream& stream, IProblems& sink, const std::atomic<bool>* cancel = nullptr);
