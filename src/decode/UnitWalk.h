#pragma once

// Reads the NAL units of a file forward from any unit's start code, with one block buffer
// that slides along: a unit may be larger than the block. The unit's bytes can go to the
// caller as the access unit the decoder is given.

#include "stream/FileStream.h"

#include <cstdint>
#include <vector>

struct TWalkUnit {
    std::int64_t Offset = 0; // the start code's first byte
    std::int64_t Length = 0; // start code included, up to the next start code
    std::uint8_t Header = 0;
    bool HasHeader = false;
    // The first bytes after the header byte, as stored (emulation prevention included).
    std::vector<std::uint8_t> Head;
    // The unit went past what the sink could take.
    bool Overflow = false;
};

// What the reader of a walk keeps of one unit.
struct TUnitWants {
    std::int32_t HeadBytes = 0;
    bool Keep = false;
};

class TUnitWalk {
  public:
    // fileSize: the file's size when the walk began; bytes past it are never read.
    TUnitWalk(FileStream& stream, std::int64_t fileSize, std::int32_t blockSize = 1 << 20);

    // The next unit begins at offset, which must be a start code's first byte.
    void Start(std::int64_t offset);
    // Where the next unit begins; -1 when the file has no more.
    std::int64_t Position() const { return FNext; }

    // The next unit. wants tells by its header byte how many bytes after that byte go to
    // unit.Head and whether sink receives the unit: as 00 00 00 01, the header byte and the
    // payload with the zero bytes at its end left out, up to sinkLimit bytes in all
    // (Overflow says when the unit did not fit; the sink then has none of it). False when
    // there is none left. Throws on a read failure and EFileChanged when the file no longer
    // holds a start code where one was.
    bool Next(TWalkUnit& unit, TUnitWants (*wants)(std::uint8_t header),
              std::vector<std::uint8_t>* sink, std::size_t sinkLimit);

  private:
    void Fill(std::int64_t position);
    bool Holds(std::int64_t position, std::int64_t count) const {
        return position >= FStart && position + count <= FStart + FLength;
    }

    FileStream& FStream;
    std::int64_t FFileSize;
    std::vector<std::uint8_t> FBlock;
    std::int64_t FStart = 0;
    std::int32_t FLength = 0;
    std::int64_t FNext = -1;
};

// Reads the unit whose start code begins at offset: at most maxBytes of it, start code
// included, cut at the next start code. Empty when no start code begins there.
std::vector<std::uint8_t> ReadUnitAt(FileStream& stream, std::int64_t fileSize, std::int64_t offset,
                                     std::int32_t maxBytes);

// The payload of a unit without emulation prevention: bytes after the header byte.
std::vector<std::uint8_t> UnitPayload(const std::uint8_t* afterHeader, std::size_t size);
