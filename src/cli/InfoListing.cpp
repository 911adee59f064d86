#include "cli/DumpModes.h"
#include "cli/DumpOutput.h"

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

// The parameter sets the walk has passed, by id, each parsed once. For a walk over the
// whole file this answers what the finder answers (the nearest set with the id before the
// unit, no further back than its bound) without reading back through the file. Ids past
// the standard's ranges go to the finder.
class TWalkSets final : public IGoverningSets {
  public:
    TWalkSets(TParameterSetFinder& finder, FileStream& detail, std::int64_t fileSize)
        : FFinder(finder), FDetail(detail), FFileSize(fileSize), FPps(kPpsIds), FPpsAt(kPpsIds, -1),
          FSps(kSpsIds), FSpsAt(kSpsIds, -1),
          FBytes(std::make_unique<std::uint8_t[]>(kInfoSeiReadSize)),
          FRbsp(std::make_unique<std::uint8_t[]>(kInfoSeiReadSize)) {}

    // The unit the next questions are about.
    void At(std::int64_t offset) { FAt = offset; }

    // A parameter set the walk passes; held: its first bytes in the walk's block, if any.
    void Saw(const TNalUnitSpan& span, const std::uint8_t* held, std::int32_t n) {
        const std::uint32_t type = NalUnitType(span.Header);
        const auto wanted =
            static_cast<std::int32_t>(std::min<std::int64_t>(span.Length, kInfoSeiReadSize));
        if (n < wanted) {
            n = ReadWithinSize(FDetail, span.Offset, FBytes.get(), wanted, FFileSize);
            held = FBytes.get();
        }
        std::int32_t written = 0;
        const std::int32_t skip = span.StartCodeLength + 1;
        if (n > skip) {
            Remove_emulation_prevention_three_bytes(held + skip, n - skip, FRbsp.get(), written);
        }
        TBitStream4 reader;
        if (written <= 0 || reader.SetData(FRbsp.get(), written) != kStatusOk) {
            return;
        }
        if (type == kNalPps) {
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
        if (id >= kPpsIds) {
            return FFinder.FindPps(id, FAt);
        }
        return Within(FPpsAt[id]) ? &FPps[id] : nullptr;
    }
    const TSeqParameterSet* Sps(std::optional<std::uint32_t> id) override {
        const std::uint32_t which = id ? *id : FLastSps;
        if (which >= kSpsIds) {
            return FFinder.FindSps(id, FAt);
        }
        return Within(FSpsAt[which]) ? &FSps[which] : nullptr;
    }

  private:
    static constexpr std::uint32_t kPpsIds = 256;
    static constexpr std::uint32_t kSpsIds = 32;

    bool Within(std::int64_t offset) const {
        return offset >= 0 && offset < FAt && offset >= FAt - kParameterSetSearchBound;
    }

    TParameterSetFinder& FFinder;
    FileStream& FDetail;
    std::int64_t FFileSize;
    std::vector<TPicParameterSet> FPps;
    std::vector<std::int64_t> FPpsAt;
    std::vector<TSeqParameterSet> FSps;
    std::vector<std::int64_t> FSpsAt;
    std::uint32_t FLastSps = kSpsIds; // none yet
    std::int64_t FAt = 0;
    std::unique_ptr<std::uint8_t[]> FBytes;
    std::unique_ptr<std::uint8_t[]> FRbsp;
};

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
            sources.WalkSets->At(span.Offset);
        }
        const std::string* text = nullptr;
        if (n == wanted) {
            text = &info.Describe(held, n, span.Length > n, &sets);
        }
        if (text == nullptr || info.WantsMore()) {
            text = &info.Read(sources.Detail, span.Offset, span.Length, sources.FileSize, &sets);
        }
        const std::uint32_t type = NalUnitType(span.Header);
        if (sources.WalkSets != nullptr &&
            (type == kNalSps || type == kNalPps)) {
            sources.WalkSets->Saw(span, held, n);
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
    TWalkSets walkSets(finder, detail, reader.FileSize());
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
