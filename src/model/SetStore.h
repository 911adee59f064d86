#pragma once

// The one place parameter sets are kept. A set counts by one rule wherever it is met (the
// rule of ReadSps and ReadPps: parsed to its end without an error, its id in range); a set
// that fails the rule is passed over, and the readable set with its id before it keeps
// governing, as a decoder walking the file from its start would keep it.
//
// Sets come two ways: learned as a walk passes them, and, for those the walk has not met,
// looked for back through the file from where the walk began (or from the unit asked
// about): the nearest set with the id that the rule accepts, within
// kParameterSetSearchBound. Every view asks this store, so none judges a set otherwise.

#include "syntax/GoverningSets.h"
#include "syntax/ParameterSetFinder.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class FileStream;

class TSetStore final : public IGoverningSets {
  public:
    // stream: where sets before the walk are looked for; null where the bytes before cannot
    // be read again (standard input).
    explicit TSetStore(FileStream* stream);
    ~TSetStore() override;
    TSetStore(const TSetStore&) = delete;
    TSetStore& operator=(const TSetStore&) = delete;

    // Forgets the sets learned and looks back from offset for the others: a walk begins
    // there, or a single unit there is asked about.
    void LookBackFrom(std::int64_t offset);
    // The unit the next questions are about. With a reach, a set learned further than that
    // before it no longer answers (the views that look back from each unit on their own see
    // no further); without one, every set learned answers.
    void At(std::int64_t offset) { FAt = offset; }
    void SetReach(std::optional<std::int64_t> bytes) { FReach = bytes; }

    // A parameter set a walk passes (payload after the header byte, emulation prevention
    // removed, as much as kParameterSetBytes), which begins at offset; false when the rule
    // refuses it and the set before it with its id stays.
    bool Learn(std::uint8_t header, const std::uint8_t* rbsp, std::int32_t size,
               std::int64_t offset);

    const TPicParameterSet* Pps(std::uint32_t pic_parameter_set_id) override;
    const TSeqParameterSet* Sps(std::optional<std::uint32_t> seq_parameter_set_id) override;
    std::optional<std::int64_t> RefusedAt(const char* idName, std::uint32_t id) override;

    // Why the last set asked for is missing: "pic_parameter_set_id 1 not found within 16 MiB
    // before 0x..."; empty when it was found.
    const std::string& Missing() const { return FMissing; }
    // The sets found looking back since the last call, as 00 00 00 01, header byte and
    // stored payload each, sequence sets first: a decoder that begins at the walk's start
    // needs them before the units that use them.
    void TakeFoundBefore(std::vector<std::uint8_t>& into);

    // The finder the lookback uses, for what else asks about set offsets (a chroma format
    // before a set's own place); null without a stream.
    TParameterSetFinder* Finder() { return FNearest ? &*FNearest : nullptr; }

  private:
    template <class Set> struct TKept {
        std::unique_ptr<Set> Record;
        std::int64_t Offset = -1; // where the walk learned it; -1: not learned
    };
    struct TFound; // a set found looking back, by type and id
    template <class Set> const Set* Learned(TKept<Set>& kept) const;
    const void* LookBack(std::uint32_t type, TParameterSetId id);

    // Where the last set with an id that the rule refused lies (-1: none), when no readable
    // one governs.
    std::array<std::int64_t, 32 + 1 + 256> FRefused;
    std::array<TKept<TSeqParameterSet>, 32> FSps;
    std::array<TKept<TPicParameterSet>, 256> FPps;
    std::optional<std::uint32_t> FLastSps;
    std::int64_t FAt = 0;
    std::optional<std::int64_t> FReach;
    std::int64_t FFrom = 0;
    bool FLookingBack = false; // reading a set found looking back: learned sets lie after it
    std::string FMissing;
    // Two finders: the nearest set's search stays cached while the deeper ones run.
    std::optional<TParameterSetFinder> FNearest;
    std::optional<TParameterSetFinder> FDeeper;
    std::vector<TFound> FFound;
    std::vector<std::uint8_t> FSpsBefore;
    std::vector<std::uint8_t> FPpsBefore;
};

// The chroma_format_idc of the sequence parameter set with the id that sets answers (4:2:0
// for profiles without the chroma block): what a PPS's scaling lists depend on.
std::optional<std::uint32_t> GoverningChromaFormat(IGoverningSets& sets,
                                                   std::uint32_t seq_parameter_set_id);
