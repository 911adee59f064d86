#pragma once

// What every mode of quillet-dump writes with: checked output and the listing line.

#include "cli/DumpTree.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string_view>

// Output that fails (a full device, a closed descriptor) ends the run at once: nothing
// written after it would arrive either.
class EOutput : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

void Write(std::ostream& out, std::string_view text);
void Flush(std::ostream& out);

// One line per NAL unit: Offset, Len, Start Code, NAL Type. A unit that is its start code
// alone shows the Start Code text the window shows (00 in place of the header byte) and
// kNoHeaderText as its type. Written into a caller's buffer of kListingLineMaxSize, since a
// listing has millions of lines and a string each would cost more than the scan.
inline constexpr std::size_t kListingLineMaxSize =
    kNalOffsetTextMaxSize + 20 + kNalStartCodeTextMaxSize + kNalTypeNameMaxSize + 4;

std::string_view ListingLine(const TNalUnitSpan& span, char* line);

// Text gathered into one large buffer and written in large blocks: when it is full and
// when the walk says so (before it reads on), so that output comes in few writes and
// still keeps pace with the walk. Nothing is allocated per line.
class TLineBuffer {
  public:
    explicit TLineBuffer(std::ostream& out);
    ~TLineBuffer() = default;
    TLineBuffer(const TLineBuffer&) = delete;
    TLineBuffer& operator=(const TLineBuffer&) = delete;

    // Room for one piece of at most maxSize (<= kRoomMaxSize) characters, to be taken
    // with Commit.
    static constexpr std::size_t kRoomMaxSize = 4096;
    char* Room(std::size_t maxSize) {
        if (kSize - FUsed < maxSize) {
            Drain();
        }
        return FBuffer.get() + FUsed;
    }
    void Commit(std::size_t size) { FUsed += size; }
    void Commit(const char* end) { FUsed = static_cast<std::size_t>(end - FBuffer.get()); }
    void Append(std::string_view text) {
        if (text.empty()) { // a default view has no data pointer to copy from
            return;
        }
        if (text.size() <= kSize - FUsed) {
            std::memcpy(FBuffer.get() + FUsed, text.data(), text.size());
            FUsed += text.size();
        } else {
            AppendInParts(text);
        }
    }
    void Append(char c) {
        if (FUsed == kSize) {
            Drain();
        }
        FBuffer[FUsed++] = c;
    }
    // Writes what waits; flush: the stream's buffer too.
    void Drain(bool flush = false);

  private:
    static constexpr std::size_t kSize = 1 << 20;

    void AppendInParts(std::string_view text);

    std::ostream& FOut;
    std::unique_ptr<char[]> FBuffer;
    std::size_t FUsed = 0;
};

// Writes " @0x1D.3": the file byte (hexadecimal) and the bit in it (0 the most
// significant) of a line's first bit, which counts from the unit's offset; at most
// kBitPositionMaxSize characters.
inline constexpr std::size_t kBitPositionMaxSize = 24;
char* WriteBitPosition(char* out, std::int64_t unitOffset, std::int64_t firstBit);

// Every line of tree, whatever its expanded state, a line before its children, two
// spaces per level after indent. With bitsOf (the offset of the tree's unit) an element
// line ends with its bit position.
void AppendTreeText(const TDumpTree& tree, std::size_t indent,
                    const std::optional<std::int64_t>& bitsOf, TLineBuffer& lines);
