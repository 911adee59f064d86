#include "cli/DumpModes.h"
#include "cli/DumpOutput.h"

#include "stream/FileStream.h"
#include "syntax/ParameterSetFinder.h"
#include "syntax/UnitInfo.h"

#include <algorithm>

namespace {

// The listing line of span with "\t" and its summary before the line's end. The unit's
// bytes come from the walk's block when it holds them (most units: no read of their own).
void InfoLine(const TNalUnitSpan& span, const TNalUnitReader* walk, TUnitInfo& info,
              TParameterSetFinder& finder, FileStream& detail, std::int64_t fileSize,
              TLineBuffer& lines) {
    char* room = lines.Room(kListingLineMaxSize);
    const std::string_view line = ListingLine(span, room);
    lines.Commit(line.size() - 1); // without its newline
    lines.Append("\t");
    if (span.HasHeader) {
        TGoverningSets sets(finder, span.Offset);
        const auto wanted =
            static_cast<std::int32_t>(std::min<std::int64_t>(span.Length, kInfoReadSize));
        const std::uint8_t* held = nullptr;
        const std::int32_t n = walk != nullptr ? walk->Held(span.Offset, wanted, held) : 0;
        const std::string* text = nullptr;
        if (n == wanted) {
            text = &info.Describe(held, n, span.Length > n, &sets);
        }
        if (text == nullptr || info.WantsMore()) {
            text = &info.Read(detail, span.Offset, span.Length, fileSize, &sets);
        }
        lines.Append(*text);
    }
    lines.Append("\n");
}

} // namespace

void PrintInfoListing(FileStream& stream, FileStream& detail, std::ostream& out) {
    TNalUnitReader reader(stream);
    TUnitInfo info;
    TParameterSetFinder finder(detail);
    TLineBuffer lines(out);
    std::int64_t block = reader.BlockStart();
    TNalUnitSpan span;
    while (reader.Next(span)) {
        if (reader.BlockStart() != block) {
            lines.Drain();
            block = reader.BlockStart();
        }
        InfoLine(span, &reader, info, finder, detail, reader.FileSize(), lines);
    }
    lines.Drain();
}

void PrintFindListing(FileStream& stream, FileStream* detail, const TFindKind& kind,
                      std::ostream& out) {
    TUnitSearch search(stream);
    TUnitInfo info;
    std::optional<TParameterSetFinder> finder;
    if (detail != nullptr) {
        finder.emplace(*detail);
    }
    TLineBuffer lines(out);
    bool waiting = false;
    search.Forward(
        kind, 0,
        [&](const TNalUnitSpan& span) {
            waiting = true;
            if (detail != nullptr) {
                InfoLine(span, nullptr, info, *finder, *detail, search.FileSize(), lines);
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
