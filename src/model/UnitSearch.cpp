#include "model/UnitSearch.h"

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "model/WalkContext.h"
#include "syntax/AccessUnit.h"
#include "syntax/BitStream4.h"
#include "syntax/sei_rbsp.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>
#include <memory>
#include <utility>

namespace {

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

bool MatchesKind(const TFindKind& kind, const TWalkUnit& unit) {
    const std::uint32_t type = unit.Type;
    if (!unit.Span.HasHeader) {
        return false;
    }
    using W = TFindKind::TWhat;
    switch (kind.What) {
    case W::NalUnitType:
        return type == kind.Value;
    case W::Idr:
        return unit.BeginsPicture && type == kNalIdrSlice;
    case W::IPicture:
    case W::PPicture:
    case W::BPicture: {
        const std::uint32_t wanted = kind.What == W::IPicture   ? 2
                                     : kind.What == W::PPicture ? 0
                                                                : 1;
        return unit.BeginsPicture && (type == kNalNonIdrSlice || type == kNalIdrSlice) &&
               unit.SliceType && *unit.SliceType % 5 == wanted;
    }
    case W::Sps:
        return type == kNalSps;
    case W::Pps:
        return type == kNalPps;
    case W::Sei:
        return type == kNalSei;
    case W::SeiPayload:
        return type == kNalSei && SeiHolds(unit.Rbsp, unit.RbspSize, kind.Value);
    }
    return false;
}

TUnitWantsOf FindWants(const TFindKind& kind) {
    return kind.What == TFindKind::TWhat::SeiPayload ? WalkHeadsWithSei : WalkHeads;
}

TUnitSearch::TUnitSearch(FileStream& stream, std::int32_t blockSize, std::int32_t lookAhead)
    : FStream(stream), FBlockSize(std::max(blockSize, 16)),
      FLookAhead(std::clamp(lookAhead, 32, kSearchLookAhead)), FCursor(stream, FBlockSize),
      FWalk(std::make_unique<TWalkContext>(FCursor, stream.IsPipe() ? nullptr : &stream)) {}

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
    FWalk->Begin(start);
    FCursor.SetCancel(control != nullptr ? &control->Cancel : nullptr);
    const TUnitWantsOf wants = FindWants(kind);
    std::int64_t block = FCursor.BlockStart();
    TWalkUnit unit;
    while (FWalk->Next(unit, wants)) {
        if (FCursor.BlockStart() != block) {
            block = FCursor.BlockStart();
            if (control != nullptr) {
                control->Reached.store(block);
            }
            if (blockDone) {
                blockDone();
            }
        }
        if (MatchesKind(kind, unit) && unit.Span.Offset >= from && !visit(unit.Span)) {
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
    const TUnitWantsOf wants = FindWants(kind);
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
        FWalk->Begin(lo);
        FCursor.SetBudget(hi - lo + 2 + FLookAhead);
        FCursor.SetCancel(control != nullptr ? &control->Cancel : nullptr);
        std::optional<std::int64_t> found;
        TWalkUnit unit;
        while (FWalk->Next(unit, wants) && unit.Span.Offset <= hi) {
            if (MatchesKind(kind, unit)) {
                found = unit.Span.Offset;
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
