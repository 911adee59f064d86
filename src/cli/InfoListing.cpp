#include "cli/DumpModes.h"
#include "cli/DumpOutput.h"
#include "cli/WalkSets.h"

#include "stream/FileStream.h"
#include "syntax/ParameterSetFinder.h"
#include "syntax/UnitInfo.h"
#include "syntax/pic_parameter_set_rbsp.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace {

// Where a summary line gets its bytes and parameter sets: the walk's block when it holds a
// unit's first bytes (walk, may be null) and the sets the walk passed (walkSets, may be
// null), otherwise reads of its own and the finder.
struct TInfoSources {
    const TUnitCursor* Walk = nullptr;
    TWalkSets* WalkSets = nullptr;
    TParameterSetFinder& Finder;
    FileStream& Detail;
    std::int64_t FileSize = 0;
};

// The listing line of span with "\t" and its summary before the line's end.
void InfoLine(const TNalUnitSpan& span, TInfoSources& sources, TUnitInfo& info,
              TLineBuffer& lines) {
    char* room = lines.Room(kListingLineMaxSize);
    const std::string_view line = ListingLine(span, room);
    lines.Commit(line.size() - 1); // without its newline
    lines.Append("\t");
    if (span.HasHeader) {
        const auto wanted =
            static_cast<std::int32_t>(std::min<std::int64_t>(span.Length, kInfoReadSize));
        const std::uint8_t* held = nullptr;
        const std::int32_t n =
            sources.Walk != nullptr ? sources.Walk->Held(span.Offset, wanted, held) : 0;
        TGoverningSets found(sources.Finder, span.Offset);
        IGoverningSets& sets =
            sources.WalkSets != nullptr ? static_cast<IGoverningSets&>(*sources.WalkSets) : found;
        if (sources.WalkSets != nullptr) {
            sources.WalkSets->At(span);
        }
        const std::string* text = nullptr;
        if (n == wanted) {
            text = &info.Describe(held, n, span.Length > n, &sets);
        }
        if (text == nullptr || info.WantsMore()) {
            text = &info.Read(sources.Detail, span.Offset, span.Length, sources.FileSize, &sets);
        }
        lines.Append(*text);
    }
    lines.Append("\n");
}

} // namespace

void PrintInfoListing(FileStream& stream, FileStream& detail, std::ostream& out) {
    TUnitCursor reader(stream, 4 << 20, true);
    TUnitInfo info;
    TParameterSetFinder finder(detail);
    TWalkSets walkSets(finder);
    TInfoSources sources{&reader, &walkSets, finder, detail, reader.FileSize()};
    TLineBuffer lines(out);
    std::int64_t block = reader.BlockStart();
    TNalUnitSpan span;
    while (reader.Next(span)) {
        if (reader.BlockStart() != block) {
            lines.Drain();
            block = reader.BlockStart();
        }
        InfoLine(span, sources, info, lines);
    }
    lines.Drain();
}

void PrintFindListing(FileStream& stream, FileStream* detail, const TFindKind& kind,
                      std::ostream& out) {
    TUnitSearch search(stream);
    TUnitInfo info;
    std::optional<TParameterSetFinder> finder;
    std::optional<TInfoSources> sources;
    if (detail != nullptr) {
        finder.emplace(*detail);
        sources.emplace(TInfoSources{nullptr, nullptr, *finder, *detail, search.FileSize()});
    }
    TLineBuffer lines(out);
    bool waiting = false;
    search.Forward(
        kind, 0,
        [&](const TNalUnitSpan& span) {
            waiting = true;
            if (detail != nullptr) {
                InfoLine(span, *sources, info, lines);
            } else {
                char* room = lines.Room(kListingLineMaxSize);
                lines.Commit(ListingLine(span, room).size());
            }
            return true;
        },
        nullptr, true,
        [&] {
            // What a block held goes out before the walk reads on, however far the next
            // match lies.
            if (waiting) {
                lines.Drain(true);
                waiting = false;
            }
        });
    lines.Drain();
}
