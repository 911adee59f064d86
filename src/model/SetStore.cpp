#include "model/SetStore.h"

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "syntax/AccessUnit.h"

#include <utility>

namespace {

constexpr std::size_t kSpsSlots = 32;
constexpr std::size_t kAnySps = kSpsSlots; // the nearest SPS of any id
constexpr std::size_t kSlots = kSpsSlots + 1 + 256;

std::size_t Slot(std::uint32_t type, std::optional<std::uint32_t> id) {
    if (type == kNalSps) {
        return id ? *id : kAnySps;
    }
    return kSpsSlots + 1 + *id;
}

std::string NotFoundBefore(std::uint32_t type, TParameterSetId id, std::int64_t before) {
    return std::string(type == kNalSps ? "seq_parameter_set_id" : "pic_parameter_set_id") + " " +
           (id ? std::to_string(*id) : std::string("of any value")) + " not found within " +
           std::to_string(kParameterSetSearchBound / 1048576) + " MiB before " +
           NalOffsetText(before);
}

} // namespace

// The answer for one type and id looking back: it holds while the same set stays the
// nearest, so a set is read once, not per unit.
struct TSetStore::TFound {
    std::int64_t Nearest = -1;
    std::shared_ptr<void> Set;
    std::vector<std::uint8_t> Bytes; // 00 00 00 01, header byte, stored payload
    bool Given = false;              // its bytes went out since the walk began
};

TSetStore::TSetStore(FileStream* stream) : FFound(kSlots) {
    FRefused.fill(-1);
    if (stream != nullptr && !stream->IsPipe()) {
        FNearest.emplace(*stream);
        FDeeper.emplace(*stream);
    }
}

TSetStore::~TSetStore() = default;

void TSetStore::LookBackFrom(std::int64_t offset) {
    for (auto& kept : FSps) {
        kept = {};
    }
    for (auto& kept : FPps) {
        kept = {};
    }
    FLastSps.reset();
    FRefused.fill(-1);
    FFrom = offset;
    FAt = offset;
    FMissing.clear();
    FSpsBefore.clear();
    FPpsBefore.clear();
    for (TFound& found : FFound) {
        found.Given = false;
    }
}

bool TSetStore::Learn(std::uint8_t header, const std::uint8_t* rbsp, std::int32_t size,
                      std::int64_t offset) {
    const std::uint32_t type = NalUnitType(header);
    if (type == kNalSps) {
        auto sps = std::make_unique<TSeqParameterSet>();
        if (!ReadSps(rbsp, size, *sps)) {
            if (sps->seq_parameter_set_id < kSpsSlots) {
                FRefused[Slot(kNalSps, sps->seq_parameter_set_id)] = offset;
            }
            return false;
        }
        const std::uint32_t id = sps->seq_parameter_set_id;
        FSps[id] = {std::move(sps), offset};
        FRefused[Slot(kNalSps, id)] = -1;
        FLastSps = id;
        return true;
    }
    if (type == kNalPps) {
        auto pps = std::make_unique<TPicParameterSet>();
        // The PPS's own SPS is the one that governs at its place.
        const std::int64_t at = std::exchange(FAt, offset);
        const bool read = ReadPps(rbsp, size, *this, *pps);
        FAt = at;
        if (!read) {
            if (pps->pic_parameter_set_id < FPps.size()) {
                FRefused[Slot(kNalPps, pps->pic_parameter_set_id)] = offset;
            }
            return false;
        }
        const std::uint32_t id = pps->pic_parameter_set_id;
        FPps[id] = {std::move(pps), offset};
        FRefused[Slot(kNalPps, id)] = -1;
        return true;
    }
    return false;
}

template <class Set> const Set* TSetStore::Learned(TKept<Set>& kept) const {
    if (!kept.Record || (FReach && kept.Offset < FAt - *FReach)) {
        return nullptr;
    }
    return kept.Record.get();
}

const TPicParameterSet* TSetStore::Pps(std::uint32_t id) {
    if (id >= FPps.size()) {
        return nullptr;
    }
    if (FPps[id].Record && !FLookingBack) {
        return Learned(FPps[id]);
    }
    return static_cast<const TPicParameterSet*>(LookBack(kNalPps, id));
}

const TSeqParameterSet* TSetStore::Sps(std::optional<std::uint32_t> id) {
    const std::optional<std::uint32_t> which = id ? id : FLastSps;
    if (which && *which >= FSps.size()) {
        return nullptr;
    }
    if (which && FSps[*which].Record && !FLookingBack) {
        return Learned(FSps[*which]);
    }
    return static_cast<const TSeqParameterSet*>(LookBack(kNalSps, id));
}

const void* TSetStore::LookBack(std::uint32_t type, TParameterSetId wanted) {
    // Sets the walk learned all lie after FFrom: what it has not learned is found before it.
    if (!FNearest) {
        FMissing = NotFoundBefore(type, wanted, FFrom);
        return nullptr;
    }
    const std::optional<std::int64_t> nearest = FNearest->Find(type, wanted, FFrom);
    if (!nearest) {
        FMissing = NotFoundBefore(type, wanted, FFrom);
        return nullptr;
    }
    TFound& found = FFound[Slot(type, wanted)];
    if (found.Nearest != *nearest) {
        found = TFound{*nearest, nullptr, {}, false};
        const std::int64_t floor = FFrom - kParameterSetSearchBound;
        for (std::optional<std::int64_t> at = nearest; at && *at >= floor;
             at = FDeeper->Find(type, wanted, *at)) {
            const std::uint8_t* rbsp = nullptr;
            std::int32_t size = 0;
            std::vector<std::uint8_t> stored;
            if (!FDeeper->ReadSet(*at, type, rbsp, size, &stored)) {
                continue;
            }
            // Reading a PPS asks for its SPS, which looks back from the PPS's own place.
            const std::vector<std::uint8_t> bytes(rbsp, rbsp + size);
            std::shared_ptr<void> set;
            if (type == kNalSps) {
                auto sps = std::make_shared<TSeqParameterSet>();
                if (ReadSps(bytes.data(), size, *sps)) {
                    set = std::move(sps);
                }
            } else {
                auto pps = std::make_shared<TPicParameterSet>();
                const std::int64_t from = std::exchange(FFrom, *at);
                const bool lookingBack = std::exchange(FLookingBack, true);
                const bool read = ReadPps(bytes.data(), size, *this, *pps);
                FFrom = from;
                FLookingBack = lookingBack;
                if (read) {
                    set = std::move(pps);
                }
            }
            if (set) {
                found.Set = std::move(set);
                found.Bytes = {0, 0, 0, 1};
                found.Bytes.insert(found.Bytes.end(), stored.begin(), stored.end());
                break;
            }
        }
    }
    if (!found.Set) {
        FRefused[Slot(type, wanted)] = *nearest;
        FMissing = wanted ? IGoverningSets::MissingLine(
                                type == kNalSps ? "seq_parameter_set_id" : "pic_parameter_set_id",
                                *wanted)
                          : NotFoundBefore(type, wanted, FFrom);
        return nullptr;
    }
    FMissing.clear();
    if (!found.Given) {
        found.Given = true;
        std::vector<std::uint8_t>& into = type == kNalSps ? FSpsBefore : FPpsBefore;
        into.insert(into.end(), found.Bytes.begin(), found.Bytes.end());
    }
    return found.Set.get();
}

std::optional<std::int64_t> TSetStore::RefusedAt(const char* idName, std::uint32_t id) {
    const bool sps = idName[0] == 's';
    if ((sps && id >= kSpsSlots) || (!sps && id >= FPps.size())) {
        return std::nullopt;
    }
    const std::int64_t refused = FRefused[Slot(sps ? kNalSps : kNalPps, id)];
    return refused >= 0 ? std::optional(refused) : std::nullopt;
}

void TSetStore::TakeFoundBefore(std::vector<std::uint8_t>& into) {
    into.insert(into.end(), FSpsBefore.begin(), FSpsBefore.end());
    into.insert(into.end(), FPpsBefore.begin(), FPpsBefore.end());
    FSpsBefore.clear();
    FPpsBefore.clear();
}

std::optional<std::uint32_t> GoverningChromaFormat(IGoverningSets& sets,
                                                   std::uint32_t seq_parameter_set_id) {
    const TSeqParameterSet* sps = sets.Sps(seq_parameter_set_id);
    if (sps == nullptr) {
        return std::nullopt;
    }
    return SpsPresence::ChromaBlock(*sps) ? sps->chroma_format_idc : 1;
}
