#include "cli/DumpModes.h"
#include "cli/DumpOutput.h"

#include "stream/FileStream.h"
#include "stream/UnitCursor.h"
#include "syntax/ParameterSetFinder.h"
#include "syntax/UnitInfo.h"
#include "syntax/UnitSearch.h"
#include "syntax/pic_parameter_set_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {

// What the walk keeps of each unit for its summary: as much as any summary reads.
TUnitWants InfoHead(std::uint8_t) {
    return {kInfoSeiReadSize, false};
}

// The parameter sets the walk has passed, by id, each parsed once: the nearest set with the
// id before the unit, no further back than the window's finder looks. Ids past the
// standard's ranges name no set.
class TWalkSets final : public IGoverningSets {
  public:
    TWalkSets()
        : FPps(kPpsIds), FPpsAt(kPpsIds, -1), FSps(kSpsIds), FSpsAt(kSpsIds, -1),
          FRbsp(std::make_unique<std::uint8_t[]>(kInfoSeiReadSize)) {}

    // The unit the next questions are about.
    void At(std::int64_t offset) { FAt = offset; }

    // A parameter set the walk passes: its bytes from the start code on, n of them.
    void Saw(const TNalUnitSpan& span, const std::uint8_t* unit, std::int32_t n) {
        std::int32_t written = 0;
        const std::int32_t skip = span.StartCodeLength + 1;
        if (n > skip) {
            Remove_emulation_prevention_three_bytes(unit + skip, n - skip, FRbsp.get(), written);
        }
        TBitStream4 reader;
        if (written <= 0 || reader.SetData(FRbsp.get(), written) != kStatusOk) {
            return;
        }
        if (NalUnitType(span.Header) == kNalPps) {
            TPicParameterSet pps{};
            Parse_pic_parameter_set_rbsp(reader, pps);
            if (pps.pic_parameter_set_id < kPpsIds) {
                FPps[pps.pic_parameter_set_id] = pps;
                FPpsAt[pps.pic_parameter_set_id] = span.Offset;
            }
        } else {
            TSeqParameterSet sps{};
            Parse_seq_parameter_set_rbsp(reader, sps);
            if (sps.seq_parameter_set_id < kSpsIds) {
                FSps[sps.seq_parameter_set_id] = sps;
                FSpsAt[sps.seq_parameter_set_id] = span.Offset;
                FLastSps = sps.seq_parameter_set_id;
            }
        }
    }

    const TPicParameterSet* Pps(std::uint32_t id) override {
        return id < kPpsIds && Within(FPpsAt[id]) ? &FPps[id] : nullptr;
    }
    const TSeqParameterSet* Sps(std::optional<std::uint32_t> id) override {
        const std::uint32_t which = id ? *id : FLastSps;
        return which < kSpsIds && Within(FSpsAt[which]) ? &FSps[which] : nullptr;
    }

  private:
    static constexpr std::uint32_t kPpsIds = 256;
    static constexpr std::uint32_t kSpsIds = 32;

    bool Within(std::int64_t offset) const {
        return offset >= 0 && offset < FAt && offset >= FAt - kParameterSetSearchBound;
    }

    std::vector<TPicParameterSet> FPps;
    std::vector<std::int64_t> FPpsAt;
    std::vector<TSeqParameterSet> FSps;
    std::vector<std::int64_t> FSpsAt;
    std::uint32_t FLastSps = kSpsIds; // none yet
    std::int64_t FAt = 0;
    std::unique_ptr<std::uint8_t[]> FRbsp;
};

// Summaries of the units a walk gives, from the bytes its cursor kept of each.
class TInfoLines {
  public:
    TInfoLines() : FUnit(std::make_unique<std::uint8_t[]>(4 + 1 + kInfoSeiReadSize)) {}

    // The listing line of span with "\t" and its summary before the line's end, or without
    // them when !show; head: the bytes after the header byte that the cursor kept.
    void Unit(const TNalUnitSpan& span, const std::vector<std::uint8_t>& head, bool show,
              TLineBuffer& lines) {
        const std::int32_t n = span.HasHeader ? Bytes(span, head) : 0;
        const std::uint32_t type = NalUnitType(span.Header);
        if (show) {
            const std::string_view line = ListingLine(span, lines.Room(kListingLineMaxSize));
            lines.Commit(line.size() - 1); // without its newline
            lines.Append('\t');
            if (span.HasHeader) {
                FSets.At(span.Offset);
                lines.Append(FInfo.Describe(FUnit.get(), n, span.Length > n, &FSets));
            }
            lines.Append('\n');
        }
        if (span.HasHeader && (type == kNalSps || type == kNalPps)) {
            FSets.Saw(span, FUnit.get(), n);
        }
    }

  private:
    // The unit as stored, start code first, of which the cursor kept the first bytes.
    std::int32_t Bytes(const TNalUnitSpan& span, const std::vector<std::uint8_t>& head) {
        std::uint8_t* p = FUnit.get();
        const std::int32_t zeros = span.StartCodeLength - 1;
        std::memset(p, 0, static_cast<std::size_t>(zeros));
        p[zeros] = 1;
        p[zeros + 1] = span.Header;
        const std::size_t kept = std::min<std::size_t>(head.size(), kInfoSeiReadSize);
        if (kept > 0) { // an empty head has no data pointer to copy from
            std::memcpy(p + zeros + 2, head.data(), kept);
        }
        return static_cast<std::int32_t>(
            std::min<std::int64_t>(static_cast<std::int64_t>(zeros + 2 + kept), kInfoSeiReadSize));
    }

    TUnitInfo FInfo;
    TWalkSets FSets;
    std::unique_ptr<std::uint8_t[]> FUnit;
};

} // namespace

void PrintInfoListing(FileStream& stream, std::ostream& out) {
    TUnitCursor reader(stream, 4 << 20, true);
    TInfoLines info;
    TLineBuffer lines(out);
    std::int64_t block = reader.BlockStart();
    TNalUnitSpan span;
    while (reader.Next(span, InfoHead, nullptr, 0)) {
        if (reader.BlockStart() != block) {
            lines.Drain();
            block = reader.BlockStart();
        }
        info.Unit(span, reader.Head(), true, lines);
    }
    lines.Drain();
}

void PrintFindListing(FileStream& stream, bool withInfo, const TFindKind& kind, std::ostream& out) {
    // With summaries, every unit is kept as they need; the sets they read are learned on the
    // way.
    TUnitCursor reader(stream, 4 << 20, true);
    TUnitMatcher matcher(nullptr);
    const TUnitWantsOf wants = withInfo ? InfoHead : TUnitMatcher::Wants(kind);
    TInfoLines info;
    TLineBuffer lines(out);
    std::int64_t block = reader.BlockStart();
    bool waiting = false;
    TNalUnitSpan span;
    while (reader.Next(span, wants, nullptr, 0)) {
        if (reader.BlockStart() != block) {
            // What a block held goes out before the walk reads on, however far the next
            // match lies.
            if (waiting) {
                lines.Drain(true);
                waiting = false;
            }
            block = reader.BlockStart();
        }
        const bool match = matcher.Match(kind, span, reader.Head());
        waiting = waiting || match;
        if (withInfo) {
            info.Unit(span, reader.Head(), match, lines);
        } else if (match) {
            lines.Commit(ListingLine(span, lines.Room(kListingLineMaxSize)).size());
        }
    }
    lines.Drain();
}
