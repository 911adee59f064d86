#pragma once

// Start codes as a walk from the file's first byte meets them, found forward or backward
// from any offset: at k when 00 00 00 01 begins at k, or 00 00 01 begins at k and the
// byte before it (if any) is not zero; a three-byte code after a zero is the tail of a
// four-byte one. The finder reads blocks into a caller's buffer, passes over the holes of
// a sparse file unread, and reads no more than its budget, so that one navigation step
// costs a bounded time whatever lies in the file.

#include "stream/FileStream.h"
#include "stream/H264Utils.h"

#include <cstdint>

// The first start code of the buffer's positions lo..hi, or -1. Unless the buffer begins at
// the file's first byte, its byte 0 only tells about position 1, so lo must then be at
// least 1. Bytes past n are not looked at.
std::int64_t FirstStartCodeIn(const std::uint8_t* buffer, std::int64_t n, std::int64_t lo,
                              std::int64_t hi);
// The same counting down from hi: up to count positions, the highest first, into found.
// Returns how many were found.
std::int32_t LastStartCodesIn(const std::uint8_t* buffer, std::int64_t n, std::int64_t lo,
                              std::int64_t hi, std::int32_t count, std::int64_t* found);

class TStartCodeFinder {
  public:
    // buffer holds capacity bytes (at least 64 KiB); size is the file's size when the
    // step began.
    TStartCodeFinder(FileStream& stream, std::uint8_t* buffer, std::int32_t capacity,
                     std::int64_t size);

    // Bytes the finder may read from now on; what it read before no longer counts.
    void SetBudget(std::int64_t bytes);
    // Caps each read, as the fixed searches of the window do.
    void SetBlockSize(std::int32_t bytes);

    // The first start code at or after from. When none is found, Reached() is where the
    // search stopped (no start code begins in [from, Reached())) and Exhausted() tells
    // whether the budget stopped it rather than the file's end.
    bool Next(std::int64_t from, std::int64_t& found);
    // Counting backward from at (a start code at at is the first), up to count start codes
    // into found, the highest first; returns how many. Reached() is then the lowest offset
    // examined, and Exhausted() whether the budget ended the search before the file's start.
    std::int32_t Previous(std::int64_t at, std::int32_t count, std::int64_t* found);

    // The start code word and header byte of the start code at offset, as a locator with
    // Len 0; read when not in the block at hand.
    TNalUnitLocator Describe(std::int64_t offset);

    std::int64_t Reached() const { return FReached; }
    bool Exhausted() const { return FExhausted; }
    std::int64_t Spent() const { return FSpent; }
    std::int64_t Size() const { return FSize; }

  private:
    // Reads [from, to) into the buffer within the budget; false when nothing may be read.
    bool Load(std::int64_t from, std::int64_t to);
    bool Holds(std::int64_t from, std::int64_t to) const {
        return from >= FBlockStart && to <= FBlockStart + FBlockLength;
    }

    FileStream& FStream;
    std::uint8_t* FBuffer;
    std::int32_t FCapacity;
    std::int32_t FBlockSize;
    std::int64_t FSize;
    std::int64_t FBudget = 0;
    std::int64_t FSpent = 0;
    std::int64_t FBlockStart = 0;
    std::int64_t FBlockLength = 0;
    std::int64_t FReached = 0;
    bool FExhausted = false;
};
