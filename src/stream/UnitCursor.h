#pragma once

// The one way the program walks NAL units: every unit of a file from an offset, in file
// order, with one block buffer that slides along, whatever the size of a unit or of the
// file; and, for the window's steps and the searches back, the start codes before an
// offset. Holes of a sparse file are passed over unread; a byte budget and a cancel flag
// bound a walk, looked at before every read.
//
// A start code is at k when 00 00 00 01 begins at k, or 00 00 01 begins at k and the byte
// before it (if any) is not zero: a three-byte code after a zero is the tail of a four-byte
// one, as a walk from the file's first byte meets them.

#include "stream/FileStream.h"
#include "stream/H264Utils.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

// One NAL unit as the walk finds it. Unlike a locator, its length is not cut at any block:
// it runs to the next start code or to the end of the file.
struct TNalUnitSpan {
    std::int64_t Offset = 0;
    std::int64_t Length = 0; // start code included, up to the next start code
    int StartCodeLength = 0; // 3 or 4
    std::uint8_t Header = 0; // 0 when !HasHeader
    // False when the unit is its start code alone: at the end of the file, or followed
    // at once by the next start code.
    bool HasHeader = false;
    // One past the unit's last byte that is not zero: zero bytes after a NAL unit belong to
    // no unit (a unit never ends in 00), so an access unit and the decoder's input end
    // here. Offset + StartCodeLength when no such byte follows the start code.
    std::int64_t PayloadEnd = 0;
};

// What the reader of a walk takes of one unit, by its header byte: how many bytes after
// the header byte go to Head(), and whether the sink receives the unit.
struct TUnitWants {
    std::int32_t HeadBytes = 0;
    bool Keep = false;
};
using TUnitWantsOf = TUnitWants (*)(std::uint8_t header);

// The start codes of the buffer's positions lo..hi counting down from hi: up to count of
// them, the highest first, into found; returns how many. Unless the buffer begins at the
// file's first byte, its byte 0 only tells about position 1, so lo must then be at least 1.
// Bytes past n are not looked at.
std::int32_t LastStartCodesIn(const std::uint8_t* buffer, std::int64_t n, std::int64_t lo,
                              std::int64_t hi, std::int32_t count, std::int64_t* found);

class TUnitCursor {
  public:
    // Walks stream from offset 0, up to its size now; standard input to its end, forward
    // only. With readAhead, a thread reads the
    // next block while this one is scanned; the stream must not be used elsewhere meanwhile.
    explicit TUnitCursor(FileStream& stream, std::int32_t blockSize = 4 << 20,
                         bool readAhead = false);
    // On a caller's buffer of capacity bytes (at least 64 KiB), which it reads blocks into,
    // and with a budget as SetBudget gives one: the window's steps, which must not allocate.
    TUnitCursor(FileStream& stream, std::uint8_t* buffer, std::int32_t capacity,
                std::int64_t budget);
    // Waits for a read still under way.
    ~TUnitCursor();
    TUnitCursor(const TUnitCursor&) = delete;
    TUnitCursor& operator=(const TUnitCursor&) = delete;

    // The next unit is the first whose start code begins at or after offset.
    void Seek(std::int64_t offset);
    // Bytes the walk may read from now on (none: no bound); what it read before no longer
    // counts. Past it, Next answers false.
    void SetBudget(std::int64_t bytes);
    // Looked at before every read: when set, Next answers false and Cancelled() is true.
    void SetCancel(const std::atomic<bool>* cancel) { FCancel = cancel; }

    // Seeks to from and gives where the next unit begins, without measuring it; false when
    // no unit begins within the file or the budget (Reached() then is where the search
    // stopped, and Exhausted() whether the budget stopped it).
    bool NextStart(std::int64_t from, std::int64_t& found);
    // Counting back from at (a start code at at is the first), up to count start codes into
    // found, the highest first; returns how many. Reached() is then the lowest offset
    // examined, and Exhausted() whether the budget ended the search before the file's start.
    // Not of standard input. A forward walk afterwards begins with a Seek or NextStart.
    std::int32_t Previous(std::int64_t at, std::int32_t count, std::int64_t* found);
    // The start code word and header byte of the start code at offset, as a locator with
    // Len 0; read when not in the block at hand.
    TNalUnitLocator Describe(std::int64_t offset);

    // The next unit; false when there is none left within the file, the budget or before a
    // cancel. Throws on a read failure, and EFileChanged when the file no longer holds what
    // its size at construction promised or, at the end of the walk, has another size.
    bool Next(TNalUnitSpan& span) { return Next(span, nullptr, nullptr, 0); }
    // The same, and by what wants says of the unit's header byte: its first bytes after the
    // header byte (as stored, emulation prevention included) go to Head(), and sink receives
    // the unit as 00 00 00 01, the header byte and the payload up to PayloadEnd, while it
    // fits within sinkLimit bytes in all (Overflow() tells when it did not; the sink then
    // has none of it).
    bool Next(TNalUnitSpan& span, TUnitWantsOf wants, std::vector<std::uint8_t>* sink,
              std::size_t sinkLimit);
    const std::vector<std::uint8_t>& Head() const { return FHead; }
    bool Overflow() const { return FOverflow; }

    // The file's size when the walk began; the walk ends there. Of standard input,
    // FileStream::kUnknownSize until the walk has met its end.
    std::int64_t FileSize() const { return FFileSize; }
    // Changes whenever the walk reads a block: the offset of the block in hand.
    std::int64_t BlockStart() const { return FBase; }
    // The bytes of the block in hand from offset on, at most count of them, through data;
    // 0 when the block does not hold offset. Valid until the next call of Next.
    std::int32_t Held(std::int64_t offset, std::int32_t count, const std::uint8_t*& data) const;
    // Where the next unit begins; where the walk stopped looking when none is left.
    std::int64_t Position() const { return !FStarted ? FFrom : FNext >= 0 ? FNext : FReached; }
    bool Cancelled() const { return FCancelled; }
    // Where the last search stopped, whether the budget stopped it, and the bytes read since
    // the budget was set.
    std::int64_t Reached() const { return FReached; }
    bool Exhausted() const { return FExhausted; }
    std::int64_t Spent() const { return FSpent; }

  private:
    // Makes the block hold the bytes from keep on and as many after them as it can take;
    // false when nothing more can be read (the end, the budget or a cancel).
    bool Slide(std::int64_t keep);
    // Finds the first unit from FFrom on, once per Seek.
    void Begin();
    // Reads [from, to) as the block in hand, within the budget; false when nothing may be read.
    bool Load(std::int64_t from, std::int64_t to);
    void StartReadAhead();
    // count bytes at position, fewer only at the end of standard input.
    std::int32_t ReadAt(std::int64_t position, std::uint8_t* into, std::int32_t count);
    // The first start code at or after pos; -1 when none.
    std::int64_t FindFrom(std::int64_t pos);
    bool AtEnd() const { return FBase + FLength >= FFileSize; }

    FileStream& FStream;
    std::int32_t FBlockSize;
    std::int64_t FFileSize; // of standard input: unknown until its end is read
    bool FPipe;
    // The block: FLength bytes at FData, the file's from FBase on, within FBuffer after room
    // for the bytes carried from the block before. FBuffer is the caller's or FOwned.
    std::unique_ptr<std::uint8_t[]> FOwned;
    std::uint8_t* FBuffer = nullptr;
    std::uint8_t* FData = nullptr;
    std::int64_t FBase = 0;
    std::int32_t FLength = 0;
    std::int64_t FNext = -1;
    bool FStarted = false;
    std::int64_t FFrom = 0;
    std::int64_t FBudget = -1;
    std::int64_t FSpent = 0;
    const std::atomic<bool>* FCancel = nullptr;
    bool FExhausted = false;
    bool FCancelled = false;
    std::int64_t FReached = 0;
    std::vector<std::uint8_t> FHead;
    bool FOverflow = false;
    // The blocks read ahead, in file order, on one thread into a ring of buffers.
    bool FReadAhead;
    struct TAhead;
    std::unique_ptr<TAhead> FAhead;
    // The block at position taken from the ring into FBuffer, the carried bytes put before
    // it: the bytes read (count: the bytes asked for); it rethrows the read's failure. -1,
    // and the ring emptied, when the ring does not begin with that block.
    std::int32_t TakeAhead(std::int64_t position, const std::uint8_t* tail, std::int32_t carried,
                           std::int32_t& count);
    // Takes the next block to read ahead into the ring and reads it, the lock let go
    // meanwhile.
    void ReadOneAhead(std::unique_lock<std::mutex>& lock);
    // Waits for the read under way and empties the ring: a read elsewhere comes first.
    void DropAhead();
};
