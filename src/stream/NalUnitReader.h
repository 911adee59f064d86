#pragma once

#include "stream/FileStream.h"

#include <cstdint>
#include <future>
#include <memory>

// One NAL unit of a whole file, as a sequential read finds it. Unlike a locator, its
// length is not cut at any block: it runs to the next start code or to the end of file.
struct TNalUnitSpan {
    std::int64_t Offset = 0;
    std::int64_t Length = 0; // start code included
    int StartCodeLength = 0; // 3 or 4
    std::uint8_t Header = 0; // 0 when !HasHeader
    // False when the unit is its start code alone: at the end of the file, or followed
    // at once by the next start code.
    bool HasHeader = false;
};

// Walks every NAL unit of a file in file order with two fixed buffers, whatever the size
// of the file. The same start-code rule as the window scan: NAL unit lengths agree with
// GetNalUnitLength over a block that holds the whole unit. While one block is scanned,
// another thread reads the next into the second buffer, so that copying the file in and
// scanning it take one core each; the stream must not be used elsewhere meanwhile.
class TNalUnitReader {
  public:
    // Without readAhead every read happens in Next, on the caller's thread, at the moment
    // the walk needs the block.
    explicit TNalUnitReader(FileStream& stream, std::int32_t blockSize = 4 << 20,
                            bool readAhead = true);
    // Waits for a read still under way.
    ~TNalUnitReader();
    TNalUnitReader(const TNalUnitReader&) = delete;
    TNalUnitReader& operator=(const TNalUnitReader&) = delete;

    // The next NAL unit; false when there is none left. Throws on a read failure, and
    // EFileChanged when the file no longer holds what its size at construction promised
    // or, at the end of the walk, has a different size.
    bool Next(TNalUnitSpan& span);
    // The file's size when the walk began; the walk ends there.
    std::int64_t FileSize() const { return FFileSize; }
    // Where the block in hand begins; it changes whenever the walk reads.
    std::int64_t BlockStart() const { return FBufferStart; }
    // The bytes of the block in hand from offset on, at most count of them, through data;
    // 0 when the block does not hold offset. Valid until the next call of Next.
    std::int32_t Held(std::int64_t offset, std::int32_t count, const std::uint8_t*& data) const;

  private:
    std::int64_t FindFrom(std::int64_t pos);
    void Fill(std::int64_t pos);
    std::int32_t TakeReadAhead(std::int64_t pos);
    void ReadAhead();
    bool Holds(std::int64_t pos, std::int64_t count) const;

    FileStream& FStream;
    std::int32_t FBlockSize;
    std::unique_ptr<std::uint8_t[]> FBuffer;
    std::int64_t FFileSize;
    std::int64_t FBufferStart = 0;
    std::int32_t FBufferLength = 0;
    bool FStarted = false;
    std::int64_t FNext = -1; // the start code that follows the last unit returned
    // The block read ahead: where it begins, its buffer, and the read under way.
    bool FReadAhead;
    std::int64_t FAheadStart = -1;
    std::unique_ptr<std::uint8_t[]> FAheadBuffer;
    std::future<std::int32_t> FAhead;
};
