#include "decode/UnitWalk.h"

#include "stream/H264Utils.h"

#include <algorithm>

TUnitWalk::TUnitWalk(FileStream& stream, std::int64_t fileSize, std::int32_t blockSize)
    : FStream(stream), FFileSize(fileSize), FBlock(static_cast<std::size_t>(blockSize)) {}

void TUnitWalk::Start(std::int64_t offset) {
    FNext = offset < FFileSize ? offset : -1;
}

void TUnitWalk::Fill(std::int64_t position) {
    FStart = position;
    FLength = 0;
    FLength = ReadWithinSize(FStream, position, FBlock.data(),
                             static_cast<std::int32_t>(FBlock.size()), FFileSize);
}

bool TUnitWalk::Next(TWalkUnit& unit, TUnitWants (*wants)(std::uint8_t header),
                     std::vector<std::uint8_t>* sink, std::size_t sinkLimit) {
    if (FNext < 0) {
        return false;
    }
    const std::int64_t at = FNext;
    if (!Holds(at, std::min<std::int64_t>(5, FFileSize - at))) {
        Fill(at);
    }
    const std::uint8_t* p = FBlock.data() + (at - FStart);
    const std::int64_t available = FStart + FLength - at;
    const int startCode = StartCodeLength(p, available);
    if (startCode == 0) {
        throw EFileChanged();
    }
    unit.Offset = at;
    unit.HasHeader = available > startCode;
    unit.Header = unit.HasHeader ? p[startCode] : 0;
    unit.Head.clear();
    unit.Overflow = false;
    const TUnitWants wanted = unit.HasHeader ? wants(unit.Header) : TUnitWants{};
    const std::int32_t headBytes = wanted.HeadBytes;
    if (!wanted.Keep) {
        sink = nullptr;
    }
    const std::size_t sinkStart = sink ? sink->size() : 0;
    if (sink) {
        static constexpr std::uint8_t kStartCode[] = {0, 0, 0, 1};
        sink->insert(sink->end(), kStartCode, kStartCode + 4);
    }
    // The payload passes chunk by chunk; zeros are held back until a byte that is not zero
    // follows, so that the zeros at a unit's end never reach the sink.
    std::int64_t pendingZeros = 0;
    std::int64_t scan = at + startCode;
    bool first = true;
    for (;;) {
        const bool atEnd = FStart + FLength >= FFileSize;
        const std::int64_t lastBegin = atEnd ? FLength - 3 : FLength - 4;
        const std::int64_t found = FindStartCode(FBlock.data(), FLength, scan - FStart, lastBegin);
        const std::int64_t chunkEnd =
            found >= 0 ? FStart + found : (atEnd ? FStart + FLength : FStart + lastBegin + 1);
        const std::uint8_t* chunk = FBlock.data() + (scan - FStart);
        std::int64_t n = std::max<std::int64_t>(chunkEnd - scan, 0);
        const std::int64_t skip = first && n > 0 ? 1 : 0; // the header byte
        const auto headTake = std::min<std::int64_t>(
            n - skip, headBytes - static_cast<std::int64_t>(unit.Head.size()));
        if (headTake > 0) {
            unit.Head.insert(unit.Head.end(), chunk + skip, chunk + skip + headTake);
        }
        if (sink && !unit.Overflow && n > 0) {
            std::int64_t last = n - 1;
            while (last >= 0 && chunk[last] == 0) {
                --last;
            }
            if (last >= 0) {
                const auto grow = static_cast<std::size_t>(pendingZeros + last + 1);
                if (sink->size() + grow > sinkLimit) {
                    unit.Overflow = true;
                } else {
                    sink->insert(sink->end(), static_cast<std::size_t>(pendingZeros), 0);
                    sink->insert(sink->end(), chunk, chunk + last + 1);
                    pendingZeros = 0;
                }
            }
            pendingZeros += n - 1 - last;
        }
        first = first && n == 0;
        if (found >= 0) {
            FNext = FStart + found;
            break;
        }
        if (atEnd || FLength == 0) {
            FNext = -1;
            break;
        }
        scan = chunkEnd;
        Fill(chunkEnd);
    }
    unit.Length = (FNext < 0 ? FFileSize : FNext) - at;
    if (sink && unit.Overflow) {
        sink->resize(sinkStart);
    }
    return true;
}

std::vector<std::uint8_t> ReadUnitAt(FileStream& stream, std::int64_t fileSize, std::int64_t offset,
                                     std::int32_t maxBytes) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(maxBytes));
    const std::int32_t got = ReadWithinSize(stream, offset, bytes.data(), maxBytes, fileSize);
    std::int32_t length = 0;
    if (!GetNalUnitLength(bytes.data(), got, length)) {
        return {};
    }
    bytes.resize(static_cast<std::size_t>(length));
    return bytes;
}

std::vector<std::uint8_t> UnitPayload(const std::uint8_t* afterHeader, std::size_t size) {
    std::vector<std::uint8_t> rbsp(size);
    std::int32_t written = 0;
    if (size == 0 || !Remove_emulation_prevention_three_bytes(
                         afterHeader, static_cast<std::int32_t>(size), rbsp.data(), written)) {
        return {};
    }
    rbsp.resize(static_cast<std::size_t>(written));
    return rbsp;
}
