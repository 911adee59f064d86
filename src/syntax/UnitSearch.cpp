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

namespace {

// The parameter sets found looking back from the unit in hand, for the slices whose sets
// lie before where the search began.
class TSetsBeforeUnit final : public IGoverningSets {
  public:
    explicit TSetsBeforeUnit(FileStream& stream) : FFinder(stream) {}
    void SetUnit(std::int64_t offset) { FOffset = offset; }
    const TPicParameterSet* Pps(std::uint32_t id) override { return FFinder.FindPps(id, FOffset); }
    const TSeqParameterSet* Sps(std::optional<std::uint32_t> id) override {
        return FFinder.FindSps(id, FOffset);
    }

  private:
    TParameterSetFinder FFinder;
    std::int64_t FOffset = 0;
};

std::optional<std::uint32_t> Number(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

bool SeiHolds(const std::uint8_t* unit, std::int32_t n, int startCode, std::uint8_t* scratch,
              std::uint32_t payloadType) {
    std::int32_t length = 0;
    GetNalUnitLength(unit, std::min(n, kSearchLookAhead), length);
    std::int32_t written = 0;
    if (length <= startCode + 1) {
        return false;
    }
    Remove_emulation_prevention_three_bytes(unit + startCode + 1, length - startCode - 1, scratch,
                                            written);
    bool found = false;
    WalkSeiPayloadTypes(scratch, written, [&](std::uint32_t type) {
        found = type == payloadType;
        return !found;
    });
    return found;
}

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
class TUnitSearch::TMatcher {
  public:
    explicit TMatcher(FileStream& stream) : FSets(stream), FRule(&FSets) {}

    // The units that follow are not the ones before: no slice before them is known.
    void Reset() {
        FRule.Reset();
        FSawSlice = false;
    }

    // The unit whose start code begins at unit[0] (n bytes of it and perhaps of what follows)
    // at offset is of kind. scratch holds kSearchLookAhead bytes.
    bool Match(const TFindKind& kind, const std::uint8_t* unit, std::int32_t n, std::int64_t offset,
               std::uint8_t* scratch) {
        const int startCode = StartCodeLength(unit, n);
        // A start code alone, with the next one at once or the end after it, has no header.
        if (startCode == 0 || n <= startCode ||
            StartCodeLength(unit + startCode, n - startCode) != 0) {
            return false;
        }
        const std::uint8_t header = unit[startCode];
        const std::uint32_t type = NalUnitType(header);
        const bool slice =
            type == kNalNonIdrSlice || type == kNalIdrSlice || type == kNalPartitionA;
        std::int32_t length = 0;
        GetNalUnitLength(unit, std::min(n, slice ? kSliceHeaderBytes : kSearchLookAhead), length);
        std::int32_t written = 0;
        if (length > startCode + 1) {
            Remove_emulation_prevention_three_bytes(unit + startCode + 1, length - startCode - 1,
                                                    scratch, written);
        }
        FSets.SetUnit(offset);
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
            return type == kNalSei && SeiHolds(unit, n, startCode, scratch, kind.Value);
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
};

TUnitSearch::TUnitSearch(FileStream& stream, std::int32_t blockSize, std::int32_t lookAhead)
    : FStream(stream), FBlockSize(std::max(blockSize, 1)),
      FLookAhead(std::clamp(lookAhead, 32, kSearchLookAhead)), FFileSize(stream.Size()),
      FBuffer(std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(3 + FBlockSize) +
                                               static_cast<std::size_t>(FLookAhead))),
      FScratch(std::make_unique<std::uint8_t[]>(kSearchLookAhead)),
      FMatcher(std::make_unique<TMatcher>(stream)) {}

TUnitSearch::~TUnitSearch() = default;

std::int32_t TUnitSearch::ReadBlock(std::int64_t lo, std::int64_t hi) {
    FBufferStart = std::max<std::int64_t>(0, lo - 3);
    const std::int64_t end = std::min(FFileSize, hi + 1 + FLookAhead);
    const auto count = static_cast<std::int32_t>(std::max<std::int64_t>(0, end - FBufferStart));
    FBufferLength = ReadWithinSize(FStream, FBufferStart, FBuffer.get(), count, FFileSize);
    return static_cast<std::int32_t>(lo - FBufferStart);
}

std::int32_t TUnitSearch::NextStart(std::int32_t index, std::int32_t last) const {
    const std::uint8_t* data = FBuffer.get();
    while (index <= last) {
        const std::int64_t found = FindStartCode(data, FBufferLength, index, last);
        if (found < 0) {
            return -1;
        }
        const auto at = static_cast<std::int32_t>(found);
        // The 00 00 01 of a 00 00 00 01 that began before the block was listed there.
        if (BeginsListedNalUnit(data + at, FBufferLength - at,
                                FBufferStart + at > 0 && at > 0 && data[at - 1] == 0)) {
            return at;
        }
        index = at + 1;
    }
    return -1;
}

bool TUnitSearch::Matches(const TFindKind& kind, std::int32_t index) {
    return FMatcher->Match(kind, FBuffer.get() + index, FBufferLength - index, FBufferStart + index,
                           FScratch.get());
}

void TUnitSearch::Forward(const TFindKind& kind, std::int64_t from,
                          const std::function<bool(const TNalUnitSpan&)>& visit,
                          TSearchControl* control, bool lengths,
                          const std::function<void()>& blockDone) {
    // A match waits for the next start code (or the file's end) to learn its length.
    std::optional<TNalUnitSpan> pending;
    const auto settle = [&](std::int64_t end) {
        if (!pending) {
            return true;
        }
        TNalUnitSpan span = *pending;
        pending.reset();
        span.Length = end - span.Offset;
        span.HasHeader = span.Length > span.StartCodeLength;
        if (!span.HasHeader) {
            return true; // the byte after it began the next start code
        }
        return visit(span);
    };
    std::int64_t pos = std::max<std::int64_t>(0, from);
    FMatcher->Reset();
    while (pos < FFileSize) {
        if (control != nullptr && control->Cancel.load()) {
            return;
        }
        // Zeros hold no start code; the four bytes before data may begin one.
        pos = std::max(pos, FStream.NextDataOffset(pos) - 4);
        if (pos >= FFileSize) {
            break;
        }
        const std::int64_t hi = std::min(FFileSize - 1, pos + FBlockSize - 1);
        const std::int32_t first = ReadBlock(pos, hi);
        const auto last = static_cast<std::int32_t>(hi - FBufferStart);
        for (std::int32_t at = NextStart(first, last); at >= 0;) {
            const std::int64_t offset = FBufferStart + at;
            if (!settle(offset)) {
                return;
            }
            const int startCode = StartCodeLength(FBuffer.get() + at, FBufferLength - at);
            if (Matches(kind, at)) {
                TNalUnitSpan span;
                span.Offset = offset;
                span.StartCodeLength = startCode;
                span.Header = FBuffer[static_cast<std::size_t>(at + startCode)];
                if (!lengths) {
                    span.HasHeader = true; // a match has its header byte
                    if (!visit(span)) {
                        return;
                    }
                } else {
                    pending = span;
                }
            }
            at = NextStart(at + startCode, last);
        }
        pos = hi + 1;
        if (control != nullptr) {
            control->Reached.store(pos);
        }
        if (blockDone) {
            blockDone();
        }
    }
    settle(FFileSize);
    // The last unit's length ran to the old end; a file that grew since may go on.
    if (FStream.Size() != FFileSize) {
        throw EFileChanged();
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
        control, false);
    return found;
}

std::optional<std::int64_t> TUnitSearch::Previous(const TFindKind& kind, std::int64_t from,
                                                  TSearchControl* control) {
    std::int64_t hi = std::min(from, FFileSize - 1);
    while (hi >= 0) {
        if (control != nullptr && control->Cancel.load()) {
            return std::nullopt;
        }
        // A start code needs its 01 byte in data: none begins after the data ends.
        hi = std::min(hi, FStream.DataEndBefore(hi + 4) - 1);
        if (hi < 0) {
            break;
        }
        const std::int64_t lo = std::max<std::int64_t>(0, hi - FBlockSize + 1);
        const std::int32_t first = ReadBlock(lo, hi);
        FMatcher->Reset();
        const auto last = static_cast<std::int32_t>(hi - FBufferStart);
        std::optional<std::int64_t> found;
        for (std::int32_t at = NextStart(first, last); at >= 0;) {
            const int startCode = StartCodeLength(FBuffer.get() + at, FBufferLength - at);
            if (Matches(kind, at)) {
                found = FBufferStart + at;
            }
            at = NextStart(at + startCode, last);
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
