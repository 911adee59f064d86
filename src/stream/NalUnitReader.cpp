#include "stream/NalUnitReader.h"

#include "stream/H264Utils.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

TNalUnitReader::TNalUnitReader(FileStream& stream, std::int32_t blockSize, bool readAhead)
    : FStream(stream), FBlockSize(blockSize), FFileSize(stream.Size()), FReadAhead(readAhead) {
    if (blockSize < 16) {
        throw std::invalid_argument("block size too small");
    }
    FBuffer = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(blockSize));
    FAheadBuffer = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(blockSize));
}

TNalUnitReader::~TNalUnitReader() {
    if (FAhead.valid()) {
        FAhead.wait();
    }
}

std::int32_t TNalUnitReader::Held(std::int64_t offset, std::int32_t count,
                                  const std::uint8_t*& data) const {
    if (!Holds(offset, 1) || count <= 0) {
        return 0;
    }
    const std::int64_t index = offset - FBufferStart;
    data = FBuffer.get() + index;
    return static_cast<std::int32_t>(std::min<std::int64_t>(count, FBufferLength - index));
}

bool TNalUnitReader::Holds(std::int64_t pos, std::int64_t count) const {
    return pos >= FBufferStart && pos + count <= FBufferStart + FBufferLength;
}

// Only the bytes below the size taken at construction are read: a file that shrinks
// meanwhile ends the walk with EFileChanged at the read that comes up short, one that grows
// at the walk's end (Next). Every refill below that size brings a whole block or the rest
// of the file, so each turn of FindFrom moves forward.
void TNalUnitReader::Fill(std::int64_t pos) {
    FBufferStart = pos;
    FBufferLength = 0;
    const std::int32_t ahead = TakeReadAhead(pos);
    FBufferLength =
        ahead >= 0 ? ahead : ReadWithinSize(FStream, pos, FBuffer.get(), FBlockSize, FFileSize);
    ReadAhead();
}

// The block read ahead, now in FBuffer, when it begins at pos; otherwise -1. A read ahead
// of a block that is not wanted is waited for, since the stream is shared, and its failure
// does not count: the read that is wanted reports its own.
std::int32_t TNalUnitReader::TakeReadAhead(std::int64_t pos) {
    if (!FAhead.valid()) {
        return -1;
    }
    if (FAheadStart != pos) {
        try {
            FAhead.get();
        } catch (const std::exception&) {
        }
        return -1;
    }
    const std::int32_t length = FAhead.get(); // rethrows the read's failure
    std::swap(FBuffer, FAheadBuffer);
    return length;
}

// The walk goes on where FindFrom reads next: at the last three bytes of a whole block, the
// bytes that could begin a start code cut by the block's end.
void TNalUnitReader::ReadAhead() {
    const std::int64_t next = FBufferStart + FBufferLength - 3;
    if (!FReadAhead || FBufferLength < FBlockSize || FBufferStart + FBufferLength >= FFileSize) {
        return;
    }
    FAheadStart = next;
    FAhead = std::async(std::launch::async, [&stream = FStream, into = FAheadBuffer.get(), next,
                                             count = FBlockSize, size = FFileSize] {
        return ReadWithinSize(stream, next, into, count, size);
    });
}

std::int64_t TNalUnitReader::FindFrom(std::int64_t pos) {
    for (;;) {
        if (pos >= FFileSize) {
            return -1;
        }
        const bool bufferAtEnd = FBufferStart + FBufferLength >= FFileSize;
        if (!Holds(pos, 1) || (!bufferAtEnd && !Holds(pos, 4))) {
            Fill(pos);
        }
        const bool atEnd = FBufferStart + FBufferLength >= FFileSize;
        // Inside the file a start code must be tested with four bytes in hand; positions
        // closer to the block's end are examined again after the next read.
        const std::int64_t lastBegin = atEnd ? FBufferLength - 3 : FBufferLength - 4;
        const std::int64_t found =
            FindStartCode(FBuffer.get(), FBufferLength, pos - FBufferStart, lastBegin);
        if (found >= 0) {
            return FBufferStart + found;
        }
        if (atEnd || FBufferLength == 0) {
            return -1;
        }
        pos = FBufferStart + FBufferLength - 3;
        // A block without a start code may be the edge of a hole of a sparse file: its
        // zeros hold none, so the walk goes on four bytes before the data after it.
        pos = std::max(pos, FStream.NextDataOffset(pos) - 4);
        Fill(pos);
    }
}

bool TNalUnitReader::Next(TNalUnitSpan& span) {
    const std::int64_t at = FStarted ? FNext : FindFrom(0);
    FStarted = true;
    if (at < 0) {
        FNext = -1;
        // The last unit's length ran to the old end; a file that grew since may continue
        // that unit or hold more, so the listing as walked would be wrong.
        if (FStream.Size() != FFileSize) {
            throw EFileChanged();
        }
        return false;
    }
    if (!Holds(at, 5)) {
        Fill(at);
    }
    const std::int64_t rel = at - FBufferStart;
    const std::uint8_t* p = FBuffer.get() + rel;
    const std::int64_t available = FBufferLength - rel;
    span = TNalUnitSpan{};
    span.Offset = at;
    span.StartCodeLength = StartCodeLength(p, available);
    if (span.StartCodeLength == 0) {
        throw EFileChanged();
    }
    const std::uint8_t header = available > span.StartCodeLength ? p[span.StartCodeLength] : 0;
    FNext = FindFrom(at + span.StartCodeLength);
    span.Length = (FNext < 0 ? FFileSize : FNext) - at;
    // A start code that ends the file or is followed at once by the next one has no header
    // byte of its own; the byte after it belongs to the next unit, if to any.
    span.HasHeader = span.Length > span.StartCodeLength;
    span.Header = span.HasHeader ? header : 0;
    return true;
}
