#pragma once

// Finding units of a kind across a whole file, forward or backward, with fixed memory:
// the file is read in blocks, and sparse holes are passed without reading. The same walk
// serves the window's Find (on a worker thread, with progress and cancel) and
// quillet-dump --find.

#include "stream/UnitCursor.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class FileStream;

// What a search looks for.
struct TFindKind {
    enum class TWhat {
        NalUnitType, // Value: nal_unit_type
        Idr,         // the first slice of an IDR picture
        IPicture,    // pictures whose first slice has that type
        PPicture,
        BPicture,
        Sps,
        Pps,
        Sei,
        SeiPayload, // an SEI unit holding a message of payloadType Value
    };
    TWhat What = TWhat::Idr;
    std::uint32_t Value = 0;
    bool operator==(const TFindKind&) const = default;
};

// "5", "idr", "i", "p", "b", "sps", "pps", "sei", "sei:N" (case ignored); none for any
// other text.
std::optional<TFindKind> ParseFindKind(std::string_view text);
// The kind in words, for messages: "IDR picture", "SEI with payloadType 5", ...
std::string FindKindText(const TFindKind& kind);
// The text ParseFindKind reads back as the same kind.
std::string FindKindArgument(const TFindKind& kind);

// Bytes after each block a search reads, for the units that begin near its end: enough
// for an SEI unit's messages.
inline constexpr std::int32_t kSearchLookAhead = 65536;

// Shared between a search and whoever watches it, from any thread.
struct TSearchControl {
    std::atomic<bool> Cancel{false};
    // How far the search has read: the offset below which (forward) or from which on
    // (backward) everything has been looked at.
    std::atomic<std::int64_t> Reached{0};
};

class TWalkContext;
struct TWalkUnit;

// The unit a walk just told is of kind: pictures by the walk's access-unit rule, so that
// find agrees with the summary and the decoder about where a picture begins.
bool MatchesKind(const TFindKind& kind, const TWalkUnit& unit);
// What the walk keeps of each unit for kind: the heads MatchesKind reads.
TUnitWantsOf FindWants(const TFindKind& kind);

class TUnitSearch {
  public:
    static constexpr std::int32_t kBlockSize = 4 << 20;
    // Reads stream, whose size is taken now, in blocks of blockSize, with no read ahead: the
    // parameter sets before a walk's start are read from the same stream. A backward step reads
    // lookAhead bytes past its block for the units that begin near its end (at most
    // kSearchLookAhead). A file cut meanwhile ends a walk with EFileChanged.
    explicit TUnitSearch(FileStream& stream, std::int32_t blockSize = kBlockSize,
                         std::int32_t lookAhead = kSearchLookAhead);
    ~TUnitSearch();

    // Tells visit each unit of kind whose start code begins at or after from, in file
    // order, with its length as the listing gives it; visit returns false to stop. Ends at
    // the end of the file or when control's Cancel is set. Throws on a read failure.
    // blockDone, when given, is called whenever the walk has read another block.
    void Forward(const TFindKind& kind, std::int64_t from,
                 const std::function<bool(const TNalUnitSpan&)>& visit,
                 TSearchControl* control = nullptr, const std::function<void()>& blockDone = {});
    // The first unit of kind at or after from.
    std::optional<std::int64_t> Next(const TFindKind& kind, std::int64_t from,
                                     TSearchControl* control = nullptr);
    // The last unit of kind whose start code begins at or before from.
    std::optional<std::int64_t> Previous(const TFindKind& kind, std::int64_t from,
                                         TSearchControl* control = nullptr);

    std::int64_t FileSize() const { return FCursor.FileSize(); }

  private:
    FileStream& FStream;
    std::int32_t FBlockSize;
    std::int32_t FLookAhead;
    TUnitCursor FCursor;
    std::unique_ptr<TWalkContext> FWalk;
};
