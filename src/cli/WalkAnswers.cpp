#include "cli/WalkAnswers.h"

#include "stream/H264Utils.h"

void TWalkAnswers::At(const TNalUnitSpan& span) {
    FAt = span.Offset;
    const std::uint32_t type = span.HasHeader ? NalUnitType(span.Header) : 0;
    if (type == kNalSps || type == kNalPps) {
        FLastSet = span.Offset;
    }
}

template <class Set, class Ask>
const Set* TWalkAnswers::Answer(TAnswer<Set>& answer, std::uint32_t type, TParameterSetId id,
                                Ask ask) {
    // A set of either kind walked since the answer may answer now, from the unit after it.
    const bool kept = answer.Valid && answer.Id == id && FLastSet < answer.Asked &&
                      (!answer.Found || *answer.Found >= FAt - kParameterSetSearchBound);
    if (!kept) {
        answer.Valid = true;
        answer.Id = id;
        answer.Asked = FAt;
        answer.Found = FFinder.Find(type, id, FAt);
        const Set* found = ask();
        answer.Parsed = found != nullptr;
        if (found != nullptr) {
            answer.Record = *found;
        }
    }
    return answer.Parsed ? &answer.Record : nullptr;
}

const TPicParameterSet* TWalkAnswers::Pps(std::uint32_t id) {
    return Answer(FPps, kNalPps, id, [&] { return FFinder.FindPps(id, FAt); });
}

const TSeqParameterSet* TWalkAnswers::Sps(std::optional<std::uint32_t> id) {
    return Answer(FSps, kNalSps, id, [&] { return FFinder.FindSps(id, FAt); });
}
