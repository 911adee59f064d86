#include "syntax/UnitSearch.h"

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "syntax/AccessUnit.h"
#include "syntax/BitStream4.h"
#include "syntax/ParameterSetFinder.h"
#include "syntax/sei_rbsp.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <memory>
#include <utility>

namespace {

// The parameter sets found looking back from the unit in hand, for the slices whose sets
// lie before where the search began; none for standard input. A set counts by the rule a
// walk learns sets by: one that cannot be read is passed over for the readable one before
// it, as a walk from the file's start would have kept that one.
class TSetsBeforeUnit final : public IGoverningSets {
  public:
    explicit TSetsBeforeUnit(FileStream* stream) {
        if (stream != nullptr) {
            FNearest.emplace(*stream);
            FDeeper.emplace(*stream);
        }
    }
    void SetUnit(std::int64_t offset) { FOffset = offset; }
    const TPicParameterSet* Pps(std::uint32_t id) override {
        return Readable<TPicParameterSet>(
            kNalPps, id, [this](const std::vector<std::uint8_t>& rbsp, std::int64_t at) {
                // The PPS's own SPS is the one before it.
                const std::int64_t unit = std::exchange(FOffset, at);
                auto pps = std::make_shared<TPicParameterSet>();
                const bool read =
                    ReadPps(rbsp.data(), static_cast<std::int32_t>(rbsp.size()), *this, *pps);
                FOffset = unit;
                return read ? pps : nullptr;
            });
    }
    const TSeqParameterSet* Sps(std::optional<std::uint32_t> id) override {
        return Readable<TSeqParameterSet>(
            kNalSps, id, [](const std::vector<std::uint8_t>& rbsp, std::int64_t) {
                auto sps = std::make_shared<TSeqParameterSet>();
                return ReadSps(rbsp.data(), static_cast<std::int32_t>(rbsp.size()), *sps) ? sps
                                                                                          : nullptr;
            });
    }

  private:
    // The answer for one type and id, by the offset of the nearest set with them: it holds
    // while that set stays the nearest, so a set is read once, not per slice.
    struct TAnswer {
        std::int64_t Nearest = -1;
        std::shared_ptr<void> Set;
    };

    template <class Set, class Read>
    const Set* Readable(std::uint32_t type, TParameterSetId id, Read read) {
        if (!FNearest) {
            return nullptr;
        }
        const std::optional<std::int64_t> nearest = FNearest->Find(type, id, FOffset);
        if (!nearest) {
            return nullptr;
        }
        TAnswer& answer = FAnswers[{type, id ? static_cast<std::int64_t>(*id) : -1}];
        if (answer.Nearest != *nearest) {
            answer = TAnswer{*nearest, nullptr};
            const std::int64_t floor = FOffset - kParameterSetSearchBound;
            for (std::optional<std::int64_t> at = nearest; at && *at >= floor;
                 at = FDeeper->Find(type, id, *at)) {
                const std::uint8_t* rbsp = nullptr;
                std::int32_t size = 0;
                if (!FDeeper->ReadSet(*at, type, rbsp, size)) {
                    continue;
                }
                // Reading a PPS looks for its SPS, which reads through the same finder.
                const std::vector<std::uint8_t> bytes(rbsp, rbsp + size);
                if (std::shared_ptr<Set> set = read(bytes, *at)) {
                    answer.Set = std::move(set);
                    break;
                }
            }
        }
        return static_cast<const Set*>(answer.Set.get());
    }

    // Two finders: the nearest set's search stays cached while the deeper ones run.
    std::optional<TParameterSetFinder> FNearest;
    std::optional<TParameterSetFinder> FDeeper;
    std::map<std::pair<std::uint32_t, std::int64_t>, TAnswer> FAnswers;
    std::int64_t FOffset = 0;
};

// The heads a match reads: the rule's, and an SEI unit's messages when they are asked
// about.
TUnitWants HeadsWithSei(std::uint8_t header) {
    return NalUnitType(header) == kNalSei ? TUnitWants{kSearchLookAhead, false}
                                          : AccessUnitHeads(header);
}
std::optional<std::uint32_t> Number(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool SeiHolds(const std::uint8_t* rbsp, std::int32_t size, std::uint32_t payloadType) {
    bool found = false;
    WalkSeiPayloadTypes(rbsp, size, [&](std::uint32_t type) {
        found = type == payloadType;
        return !found;
    });
    return found;
}

// How far back a forward step looks for the units before where it begins.
constexpr std::int64_t kPrimeBound = 16 << 20;

} // namespace

std::optional<TFindKind> ParseFindKind(std::string_view text) {
    std::string lower(text);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    using W = TFindKind::TWhat;
    if (lower == "idr") {
        return TFindKind{W::Idr, 0};
    }
    if (lower == "i") {
        return TFindKind{W::IPicture, 0};
    }
    if (lower == "p") {
        return TFindKind{W::PPicture, 0};
    }
    if (lower == "b") {
        return TFindKind{W::BPicture, 0};
    }
    if (lower == "sps") {
        return TFindKind{W::Sps, 0};
    }
    if (lower == "pps") {
        return TFindKind{W::Pps, 0};
    }
    if (lower == "sei") {
        return TFindKind{W::Sei, 0};
    }
    if (lower.rfind("sei:", 0) == 0) {
        const auto type = Number(std::string_view(lower).substr(4));
        return type ? std::optional(TFindKind{W::SeiPayload, *type}) : std::nullopt;
    }
    const auto type = Number(lower);
    if (type && *type < 32) {
        return TFindKind{W::NalUnitType, *type};
    }
    return std::nullopt;
}

std::string FindKindText(const TFindKind& kind) {
    using W = TFindKind::TWhat;
    switch (kind.What) {
    case W::NalUnitType:
        return "nal_unit_type " + std::to_string(kind.Value);
    case W::Idr:
        return "IDR picture";
    case W::IPicture:
        return "I picture";
    case W::PPicture:
        return "P picture";
    case W::BPicture:
        return "B picture";
    case W::Sps:
        return "SPS";
    case W::Pps:
        return "PPS";
    case W::Sei:
        return "SEI";
    case W::SeiPayload:
        return "SEI with payloadType " + std::to_string(kind.Value);
    }
    return {};
}

std::string FindKindArgument(const TFindKind& kind) {
    using W = TFindKind::TWhat;
    switch (kind.What) {
    case W::NalUnitType:
        return std::to_string(kind.Value);
    case W::Idr:
        return "idr";
    case W::IPicture:
        return "i";
    case W::PPicture:
        return "p";
    case W::BPicture:
        return "b";
    case W::Sps:
        return "sps";
    case W::Pps:
        return "pps";
    case W::Sei:
        return "sei";
    case W::SeiPayload:
        return "sei:" + std::to_string(kind.Value);
    }
    return {};
}

// Tells whether units, met in file order, are of a kind: pictures by the access-unit rule,
// so that find agrees with the summary and the decoder about where a picture begins.
class TUnitMatcher::TImpl {
  public:
    explicit TImpl(FileStream* stream)
        : FSets(stream), FRule(&FSets),
          FScratch(std::make_unique<std::uint8_t[]>(kSearchLookAhead)) {}

    // The units that follow are not the ones before: no slice before them is known, and the
    // sets learned elsewhere in the file need not govern them.
    void Reset() {
        FRule.Sets().Clear();
        FRule.Reset();
        FSawSlice = false;
    }

    bool Match(const TFindKind& kind, const TNalUnitSpan& span,
               const std::vector<std::uint8_t>& head) {
        if (!span.HasHeader) {
            return false;
        }
        const std::uint8_t header = span.Header;
        const std::uint32_t type = NalUnitType(header);
        const bool slice =
            type == kNalNonIdrSlice || type == kNalIdrSlice || type == kNalPartitionA;
        const auto stored = static_cast<std::int32_t>(std::min<std::size_t>(
            head.size(), static_cast<std::size_t>(slice ? kSliceHeaderBytes : kSearchLookAhead)));
        std::uint8_t* scratch = FScratch.get();
        std::int32_t written = 0;
        if (stored > 0) {
            Remove_emulation_prevention_three_bytes(head.data(), stored, scratch, written);
        }
        FSets.SetUnit(span.Offset);
        FRule.Next(header, scratch, written);
        bool began = FRule.PictureBegan();
        if (slice && !FSawSlice) {
            // Nothing before it to compare with: the first macroblock tells.
            const std::optional<std::uint32_t> firstMb = ReadFirstMbInSlice(scratch, written);
            began = firstMb && *firstMb == 0;
        }
        FSawSlice = FSawSlice || slice;
        using W = TFindKind::TWhat;
        switch (kind.What) {
        case W::NalUnitType:
            return type == kind.Value;
        case W::Idr:
            return began && type == kNalIdrSlice;
        case W::IPicture:
        case W::PPicture:
        case W::BPicture: {
            const std::uint32_t wanted = kind.What == W::IPicture   ? 2
                                         : kind.What == W::PPicture ? 0
                                                                    : 1;
            return began && (type == kNalNonIdrSlice || type == kNalIdrSlice) &&
                   SliceType(scratch, written) % 5 == wanted;
        }
        case W::Sps:
            return type == kNalSps;
        case W::Pps:
            return type == kNalPps;
        case W::Sei:
            return type == kNalSei;
        case W::SeiPayload:
            return type == kNalSei && SeiHolds(scratch, written, kind.Value);
        }
        return false;
    }

  private:
    // slice_type as the rule read it, or from the payload's second element.
    std::uint32_t SliceType(const std::uint8_t* rbsp, std::int32_t size) const {
        if (FRule.HeadRead()) {
            return FRule.Head().slice_type;
        }
        TBitStream4 reader;
        if (size <= 0 || reader.SetData(rbsp, size) != kStatusOk) {
            return 5; // none of the picture kinds
        }
        reader.ReadUE();
        const std::uint32_t type = reader.ReadUE();
        return reader.Error() == 0 ? type : 5;
    }

    TSetsBeforeUnit FSets;
    TAccessUnitRule FRule;
    bool FSawSlice = false;
    std::unique_ptr<std::uint8_t[]> FScratch;
};

TUnitMatcher::TUnitMatcher(FileStream* stream) : FImpl(std::make_unique<TImpl>(stream)) {}

TUnitMatcher::~TUnitMatcher() = default;

void TUnitMatcher::Reset() {
    FImpl->Reset();
}

TUnitWantsOf TUnitMatcher::Wants(const TFindKind& kind) {
    return kind.What == TFindKind::TWhat::SeiPayload ? HeadsWithSei : AccessUnitHeads;
}

bool TUnitMatcher::Match(const TFindKind& kind, const TNalUnitSpan& span,
                         const std::vector<std::uint8_t>& head) {
    return FImpl->Match(kind, span, head);
}

TUnitSearch::TUnitSearch(FileStream& stream, std::int32_t blockSize, std::int32_t lookAhead)
    : FStream(stream), FBlockSize(std::max(blockSize, 16)),
      FLookAhead(std::clamp(lookAhead, 32, kSearchLookAhead)), FCursor(stream, FBlockSize),
      FMatcher(stream.IsPipe() ? nullptr : &stream) {}

TUnitSearch::~TUnitSearch() = default;

void TUnitSearch::Forward(const TFindKind& kind, std::int64_t from,
                          const std::function<bool(const TNalUnitSpan&)>& visit,
                          TSearchControl* control, const std::function<void()>& blockDone) {
    // The rule judges a slice against the one before it: the walk begins two units before
    // from, which are told to the matcher but not visited.
    std::int64_t start = std::max<std::int64_t>(from, 0);
    if (start > 0 && !FStream.IsPipe()) {
        FCursor.SetBudget(kPrimeBound);
        std::int64_t before[2];
        const std::int32_t n = FCursor.Previous(start - 1, 2, before);
        start = n > 0 ? before[n - 1] : start;
    }
    FCursor.SetBudget(-1);
    FCursor.Seek(start);
    FCursor.SetCancel(control != nullptr ? &control->Cancel : nullptr);
    FMatcher.Reset();
    const TUnitWantsOf wants = TUnitMatcher::Wants(kind);
    std::int64_t block = FCursor.BlockStart();
    TNalUnitSpan span;
    while (FCursor.Next(span, wants, nullptr, 0)) {
        if (FCursor.BlockStart() != block) {
            block = FCursor.BlockStart();
            if (control != nullptr) {
                control->Reached.store(block);
            }
            if (blockDone) {
                blockDone();
            }
        }
        if (FMatcher.Match(kind, span, FCursor.Head()) && span.Offset >= from && !visit(span)) {
            return;
        }
    }
    if (control != nullptr && !FCursor.Cancelled()) {
        control->Reached.store(FCursor.FileSize());
    }
}

std::optional<std::int64_t> TUnitSearch::Next(const TFindKind& kind, std::int64_t from,
                                              TSearchControl* control) {
    std::optional<std::int64_t> found;
    Forward(
        kind, from,
        [&](const TNalUnitSpan& span) {
            found = span.Offset;
            return false;
        },
        control);
    return found;
}

std::optional<std::int64_t> TUnitSearch::Previous(const TFindKind& kind, std::int64_t from,
                                                  TSearchControl* control) {
    const TUnitWantsOf wants = TUnitMatcher::Wants(kind);
    std::int64_t hi = std::min(from, FCursor.FileSize() - 1);
    while (hi >= 0) {
        if (control != nullptr && control->Cancel.load()) {
            return std::nullopt;
        }
        // A start code needs its 01 byte in data: none begins after the data ends.
        hi = std::min(hi, FStream.DataEndBefore(hi + 4) - 1);
        if (hi < 0) {
            break;
        }
        // Each block is walked forward, so that its pictures are judged as a forward walk
        // would judge them, and its last match is the answer.
        const std::int64_t lo = std::max<std::int64_t>(0, hi - FBlockSize + 1);
        FCursor.Seek(lo);
        FCursor.SetBudget(hi - lo + 2 + FLookAhead);
        FCursor.SetCancel(control != nullptr ? &control->Cancel : nullptr);
        FMatcher.Reset();
        std::optional<std::int64_t> found;
        TNalUnitSpan span;
        while (FCursor.Next(span, wants, nullptr, 0) && span.Offset <= hi) {
            if (FMatcher.Match(kind, span, FCursor.Head())) {
                found = span.Offset;
            }
        }
        if (found) {
            return found;
        }
        hi = lo - 1;
        if (control != nullptr) {
            control->Reached.store(lo);
        }
    }
    return std::nullopt;
}
