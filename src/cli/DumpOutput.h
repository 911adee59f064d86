#pragma once

// What every mode of quillet-dump writes with: checked output and the listing line.

#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"

#include <cstddef>
#include <memory>
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

// Lines gathered into one buffer and written when it is full or when the walk says so,
// so that output comes in few writes and still keeps pace with the walk.
class TLineBuffer {
  public:
    explicit TLineBuffer(std::ostream& out);
    ~TLineBuffer() = default;
    TLineBuffer(const TLineBuffer&) = delete;
    TLineBuffer& operator=(const TLineBuffer&) = delete;

    // Room for one line of at most maxSize characters, to be taken with Commit.
    char* Room(std::size_t maxSize);
    void Commit(std::size_t size) { FUsed += size; }
    void Append(std::string_view text);
    // Writes what waits; flush: the stream's buffer too.
    void Drain(bool flush = false);

  private:
    std::ostream& FOut;
    std::unique_ptr<char[]> FBuffer;
    std::size_t FUsed = 0;
};
