#include "stream/StartCodeFinder.h"


#include <algorithm>
#include <cstring>

namespace {

// The start code whose 01 byte is at j, or -1 when none ends there.
std::int64_t StartCodeEndingAt(const std::uint8_t* buffer, std::int64_t j) {
    if (j < 2 || buffer[j - 1] != 0 || buffer[j - 2] != 0) {
        return -1;
    }
    return j >= 3 && buffer[j - 3] == 0 ? j - 3 : j - 2;
}

const std::uint8_t* LastOne(const std::uint8_t* from, std::size_t length) {
#ifdef __GLIBC__
    return static_cast<const std::uint8_t*>(memrchr(from, 1, length));
#else
    for (std::size_t i = length; i-- > 0;) {
        if (from[i] == 1) {
            return from + i;
        }
    }
    return nullptr;
#endif
}

constexpr std::int32_t kLeastRead = 65536;

} // namespace

std::int64_t FirstStartCodeIn(const std::uint8_t* buffer, std::int64_t n, std::int64_t lo,
                              std::int64_t hi) {
    // A start code at k has its 01 byte at k + 2 or k + 3.
    std::int64_t j = std::max<std::int64_t>(lo + 2, 2);
    const std::int64_t last = std::min(hi + 3, n - 1);
    while (j <= last) {
        const void* hit = std::memchr(buffer + j, 1, static_cast<std::size_t>(last - j + 1));
        if (hit == nullptr) {
            return -1;
        }
        j = static_cast<const std::uint8_t*>(hit) - buffer;
        const std::int64_t k = StartCodeEndingAt(buffer, j);
        // Below lo only when lo is the tail of a four-byte code that begins before it.
        if (k >= lo && k <= hi) {
            return k;
        }
        ++j;
    }
    return -1;
}

std::int32_t LastStartCodesIn(const std::uint8_t* buffer, std::int64_t n, std::int64_t lo,
                              std::int64_t hi, std::int32_t count, std::int64_t* found) {
    std::int32_t met = 0;
    const std::int64_t first = std::max<std::int64_t>(lo + 2, 2);
    std::int64_t upper = std::min(hi + 3, n - 1);
    while (met < count && upper >= first) {
        const std::uint8_t* hit =
            LastOne(buffer + first, static_cast<std::size_t>(upper - first + 1));
        if (hit == nullptr) {
            break;
        }
        const std::int64_t j = hit - buffer;
        const std::int64_t k = StartCodeEndingAt(buffer, j);
        if (k >= lo && k <= hi) {
            found[met++] = k;
        }
        upper = j - 1;
    }
    return met;
}

TStartCodeFinder::TStartCodeFinder(FileStream& stream, std::uint8_t* buffer, std::int32_t capacity,
                                   std::int64_t size)
    : FStream(stream), FBuffer(buffer), FCapacity(capacity), FBlockSize(capacity), FSize(size) {}

void TStartCodeFinder::SetBudget(std::int64_t bytes) {
    FBudget = bytes;
    FSpent = 0;
}

void TStartCodeFinder::SetBlockSize(std::int32_t bytes) {
    FBlockSize = std::clamp(bytes, kLeastRead, FCapacity);
}

bool TStartCodeFinder::Load(std::int64_t from, std::int64_t to) {
    to = std::min(to, FSize);
    if (to <= from || FSpent >= FBudget) {
        return false;
    }
    const auto want = static_cast<std::int32_t>(std::min<std::int64_t>(to - from, FCapacity));
    FSpent += want;
    FStream.Seek(from);
    const std::int32_t got = FStream.Read(FBuffer, want);
    FBlockStart = from;
    FBlockLength = std::max(got, 0);
    if (got < want) {
        // The file was cut meanwhile: it ends where the read ended.
        FSize = from + FBlockLength;
    }
    return FBlockLength > 0;
}

bool TStartCodeFinder::Next(std::int64_t from, std::int64_t& found) {
    FExhausted = false;
    std::int64_t pos = std::max<std::int64_t>(from, 0);
    for (;;) {
        if (pos > FSize - 3) {
            FReached = std::max(pos, FSize);
            return false;
        }
        const std::int64_t blockEnd = FBlockStart + FBlockLength;
        // The last position a block decides: a four-byte code needs four bytes.
        std::int64_t hi = blockEnd >= FSize ? FSize - 3 : blockEnd - 4;
        if (!(FBlockLength > 0 && pos - (pos > 0 ? 1 : 0) >= FBlockStart && pos <= hi)) {
            const std::int64_t data = FStream.NextDataOffset(pos);
            // The zeros of a start code may lie in the hole before the data.
            pos = std::max(pos, data - 3);
            if (pos > FSize - 3) {
                FReached = FSize;
                return false;
            }
            const std::int64_t readFrom = pos > 0 ? pos - 1 : 0;
            const std::int64_t allowed = std::max<std::int64_t>(FBudget - FSpent, kLeastRead);
            if (!Load(readFrom, readFrom + std::min<std::int64_t>(FBlockSize, allowed))) {
                FReached = pos;
                FExhausted = FSpent >= FBudget && pos <= FSize - 3;
                return false;
            }
            const std::int64_t end = FBlockStart + FBlockLength;
            hi = end >= FSize ? FSize - 3 : end - 4;
            if (hi < pos) {
                continue; // a read cut short by the file's end
            }
        }
        const std::int64_t k =
            FirstStartCodeIn(FBuffer, FBlockLength, pos - FBlockStart, hi - FBlockStart);
        if (k >= 0) {
            found = FBlockStart + k;
            FReached = found;
            return true;
        }
        pos = hi + 1;
    }
}

std::int32_t TStartCodeFinder::Previous(std::int64_t at, std::int32_t count, std::int64_t* found) {
    FExhausted = false;
    std::int32_t met = 0;
    std::int64_t pos = std::min(at, FSize - 3);
    FReached = std::max<std::int64_t>(pos + 1, 0);
    while (met < count) {
        if (pos < 0) {
            FReached = 0;
            break;
        }
        // Pass over a hole: its start code's 01 byte lies in data, at least two bytes in.
        const std::int64_t dataEnd = FStream.DataEndBefore(std::min(pos + 4, FSize));
        pos = std::min(pos, dataEnd - 3);
        if (pos < 0) {
            FReached = 0;
            break;
        }
        const std::int64_t top = std::min(pos + 4, FSize);
        std::int64_t lo = std::max<std::int64_t>(top - FBlockSize + 1, 0);
        // The block at hand serves as far down as it reaches; a position needs the byte
        // before it.
        const std::int64_t heldLo = FBlockStart == 0 ? 0 : FBlockStart + 1;
        if (FBlockLength > 0 && top <= FBlockStart + FBlockLength && heldLo <= pos) {
            lo = std::max(lo, heldLo);
        } else {
            const std::int64_t allowed = FBudget - FSpent;
            if (allowed <= 0) {
                FExhausted = true;
                FReached = pos + 1;
                break;
            }
            lo = std::min(std::max(lo, top - std::max<std::int64_t>(allowed, kLeastRead) + 1), pos);
            if (!Load(lo > 0 ? lo - 1 : 0, top)) {
                FExhausted = FSpent >= FBudget;
                FReached = pos + 1;
                break;
            }
            if (FBlockStart + FBlockLength < top) {
                continue; // the file was cut: look again below its new end
            }
        }
        const std::int32_t more = LastStartCodesIn(FBuffer, FBlockLength, lo - FBlockStart,
                                                   pos - FBlockStart, count - met, found + met);
        for (std::int32_t i = met; i < met + more; ++i) {
            found[i] += FBlockStart;
        }
        met += more;
        FReached = lo;
        pos = lo - 1;
    }
    return met;
}

TNalUnitLocator TStartCodeFinder::Describe(std::int64_t offset) {
    std::uint8_t bytes[5] = {};
    const std::int64_t available = std::min<std::int64_t>(FSize - offset, 5);
    if (available > 0 && Holds(offset, offset + available)) {
        std::memcpy(bytes, FBuffer + (offset - FBlockStart), static_cast<std::size_t>(available));
    } else if (available > 0) {
        FStream.Seek(offset);
        FStream.Read(bytes, static_cast<std::int32_t>(available));
    }
    TNalUnitLocator locator{};
    locator.Offset = offset;
    const int startCode = StartCodeLength(bytes, std::max<std::int64_t>(available, 0));
    locator.NalHeader = startCode > 0 && available > startCode ? bytes[startCode] : 0;
    // The four bytes at the offset read big-endian: 1 for 00 00 00 01, 00 00 01 xx otherwise.
    locator.StartCodeWord = startCode == 4 ? 1u : 0x00000100u | locator.NalHeader;
    return locator;
}
