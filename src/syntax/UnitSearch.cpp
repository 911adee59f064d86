#include "syntax/UnitSearch.h"

#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "syntax/BitStream4.h"
#include "syntax/sei_rbsp.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {


// Bytes of a slice enough for first_mb_in_slice and slice_type (two ue(v) of at most 32
// bits each, and the emulation-prevention bytes among them).
constexpr std::int32_t kSliceHeadBytes = 24;

std::optional<std::uint32_t> Number(std::string_view text) {
    std::uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// first_mb_in_slice is 0 and slice_type mod 5 is type (any when type is negative).
bool FirstSliceOfType(const std::uint8_t* payload, std::int32_t stored, std::uint8_t* scratch,
                      int type) {
    std::int32_t written = 0;
    Remove_emulation_prevention_three_bytes(payload, std::min(stored, kSliceHeadBytes), scratch,
                                            written);
    TBitStream4 reader;
    if (written <= 0 || reader.SetData(scratch, written) != kStatusOk) {
        return false;
    }
    const std::uint32_t firstMb = reader.ReadUE();
    const std::uint32_t sliceType = reader.ReadUE();
    return reader.Error() == 0 && firstMb == 0 &&
           (type < 0 || sliceType % 5 == static_cast<std::uint32_t>(type));
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

bool MatchesFindKind(const TFindKind& kind, const std::uint8_t* unit, std::int32_t n,
                     std::uint8_t* scratch) {
    const int startCode = StartCodeLength(unit, n);
    // A start code alone, with the next one at once or the end after it, has no header.
    if (startCode == 0 || n <= startCode || StartCodeLength(unit + startCode, n - startCode) != 0) {
        return false;
    }
    const std::uint32_t type = NalUnitType(unit[startCode]);
    const std::uint8_t* payload = unit + startCode + 1;
    const std::int32_t stored = n - startCode - 1;
    using W = TFindKind::TWhat;
    switch (kind.What) {
    case W::NalUnitType:
        return type == kind.Value;
    case W::Idr:
        return type == kNalIdrSlice && FirstSliceOfType(payload, stored, scratch, -1);
    case W::IPicture:
    case W::PPicture:
    case W::BPicture: {
        const int wanted = kind.What == W::IPicture ? 2 : kind.What == W::PPicture ? 0 : 1;
        return (type == kNalNonIdrSlice || type == kNalIdrSlice) &&
               FirstSliceOfType(payload, stored, scratch, wanted);
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

TUnitSearch::TUnitSearch(FileStream& stream, std::int32_t blockSize, std::int32_t lookAhead)
    : FStream(stream), FBlockSize(std::max(blockSize, 1)),
      FLookAhead(std::clamp(lookAhead, 32, kSearchLookAhead)), FFileSize(stream.Size()),
      FBuffer(std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(3 + FBlockSize) +
                                               static_cast<std::size_t>(FLookAhead))),
      FScratch(std::make_unique<std::uint8_t[]>(kSearchLookAhead)) {}

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
    return MatchesFindKind(kind, FBuffer.get() + index, FBufferLength - index, FScratch.get());
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
