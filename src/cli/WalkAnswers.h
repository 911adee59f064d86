#pragma once

#include "stream/UnitCursor.h"
#include "syntax/ParameterSetFinder.h"

#include <cstdint>
#include <optional>

// The sets that govern each unit of a walk over the file in file order: the finder's
// answers, kept for as long as the walk meets no other parameter set and the set found
// stays within the finder's bound. The answers are the finder's own, so every view agrees,
// but the slices of a stream no longer each read back through the bytes before them.
class TWalkAnswers final : public IGoverningSets {
  public:
    explicit TWalkAnswers(TParameterSetFinder& finder) : FFinder(finder) {}

    // The unit the next questions are about, the walk's next one.
    void At(const TNalUnitSpan& span);

    const TPicParameterSet* Pps(std::uint32_t id) override;
    const TSeqParameterSet* Sps(std::optional<std::uint32_t> id) override;

  private:
    // One kind's last answer: the id asked for and the unit it was asked for, where the set
    // was found (none: nowhere within the bound), and the set as the finder parsed it.
    template <class Set> struct TAnswer {
        bool Valid = false;
        TParameterSetId Id;
        std::int64_t Asked = 0;
        std::optional<std::int64_t> Found;
        Set Record{};
        bool Parsed = false;
    };
    template <class Set, class Ask>
    const Set* Answer(TAnswer<Set>& answer, std::uint32_t type, TParameterSetId id, Ask ask);

    TParameterSetFinder& FFinder;
    std::int64_t FAt = 0;
    std::int64_t FLastSet = -1; // where the last parameter set the walk met begins
    TAnswer<TPicParameterSet> FPps;
    TAnswer<TSeqParameterSet> FSps;
};
