#include "cli/DumpModes.h"
#include "cli/DumpOutput.h"

#include "stream/FileStream.h"
#include "stream/UnitCursor.h"
#include "model/WalkContext.h"
#include "syntax/ParameterSetFinder.h"
#include "syntax/UnitInfo.h"
#include "model/UnitSearch.h"
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

// Summaries of the units a walk gives, from the bytes its cursor kept of each.
class TInfoLines {
  public:
    explicit TInfoLines(TSetStore& sets)
        : FSets(sets), FUnit(std::make_unique<std::uint8_t[]>(4 + 1 + kInfoSeiReadSize)) {}

    // The listing line of span with "\t" and its summary before the line's end, or without
    // them when !show; head: the bytes after the header byte that the cursor kept.
    void Unit(const TNalUnitSpan& span, const std::vector<std::uint8_t>& head, bool show,
              TLineBuffer& lines) {
        const std::int32_t n = span.HasHeader ? Bytes(span, head) : 0;
        if (show) {
            const std::string_view line = ListingLine(span, lines.Room(kListingLineMaxSize));
            lines.Commit(line.size() - 1); // without its newline
            lines.Append('\t');
            if (span.HasHeader) {
                // The summary sees the sets the window's column would find looking back.
                FSets.SetReach(kParameterSetSearchBound);
                lines.Append(FInfo.Describe(FUnit.get(), n, span.Length > n, &FSets));
                FSets.SetReach(std::nullopt);
            }
            lines.Append('\n');
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
    TSetStore& FSets;
    std::unique_ptr<std::uint8_t[]> FUnit;
};

} // namespace

void PrintInfoListing(FileStream& stream, std::ostream& out) {
    TUnitCursor reader(stream, 4 << 20, true);
    TWalkContext walk(reader, nullptr);
    walk.SetsOnly(true); // the summaries need the sets, not where pictures begin
    TInfoLines info(walk.Sets());
    TLineBuffer lines(out);
    std::int64_t block = reader.BlockStart();
    TWalkUnit unit;
    while (walk.Next(unit, InfoHead)) {
        if (reader.BlockStart() != block) {
            lines.Drain();
            block = reader.BlockStart();
        }
        info.Unit(unit.Span, reader.Head(), true, lines);
    }
    lines.Drain();
}

void PrintFindListing(FileStream& stream, bool withInfo, const TFindKind& kind, std::ostream& out) {
    // With summaries, every unit is kept as they need; the sets they read are learned on the
    // way.
    TUnitCursor reader(stream, 4 << 20, true);
    TWalkContext walk(reader, nullptr);
    const TUnitWantsOf wants = withInfo ? InfoHead : FindWants(kind);
    TInfoLines info(walk.Sets());
    TLineBuffer lines(out);
    std::int64_t block = reader.BlockStart();
    bool waiting = false;
    TWalkUnit unit;
    while (walk.Next(unit, wants)) {
        const TNalUnitSpan& span = unit.Span;
        if (reader.BlockStart() != block) {
            // What a block held goes out before the walk reads on, however far the next
            // match lies.
            if (waiting) {
                lines.Drain(true);
                waiting = false;
            }
            block = reader.BlockStart();
        }
        const bool match = MatchesKind(kind, unit);
        waiting = waiting || match;
        if (withInfo) {
            info.Unit(span, reader.Head(), match, lines);
        } else if (match) {
            lines.Commit(ListingLine(span, lines.Room(kListingLineMaxSize)).size());
        }
    }
    lines.Drain();
}
