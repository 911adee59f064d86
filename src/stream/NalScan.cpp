#include "stream/NalScan.h"

#include <algorithm>
#include <cstring>

void SetLocatorHeader(TNalUnitLocator& locator, std::uint8_t header) {
    locator.NalHeader = header;
    if (locator.StartCodeWord != 1) {
        locator.StartCodeWord = 0x00000100u | header;
    }
}

bool HeaderOutsideBlock(const TNalUnitLocator& locator, std::int64_t base, std::int32_t n) {
    const std::int64_t startCodeLength = locator.StartCodeWord == 1 ? 4 : 3;
    return locator.Offset - base + startCodeLength >= n;
}

std::int32_t ScanNalUnits(const std::uint8_t* buffer, std::int32_t n, std::int64_t base,
                          std::int32_t capacity, TNalUnitLocator* locators) {
    std::int32_t count = 0;
    std::int64_t cursor = 0;
    if (n <= 0) {
        return 0;
    }
    // Position 0 is examined whatever n and capacity are; after that only positions with
    // at least four bytes left, while the page is not full.
    if (StartCodeLength(buffer, n) == 0) {
        if (capacity <= 0) {
            return 0;
        }
        cursor = FindStartCode(buffer, n, 1, static_cast<std::int64_t>(n) - 4);
        if (cursor < 0) {
            return 0;
        }
    }
    do {
        const std::uint8_t* p = buffer + cursor;
        const std::int32_t remaining = n - static_cast<std::int32_t>(cursor);
        const int sc = StartCodeLength(p, remaining);
        TNalUnitLocator& loc = locators[count];
        loc = TNalUnitLocator{};
        loc.Offset = base + cursor;
        std::int32_t length = 0;
        GetNalUnitLength(p, remaining, length);
        loc.Len = length;
        loc.StartCodeWord = sc == 4 ? 1u : 0x00000100u;
        SetLocatorHeader(loc, remaining > sc ? p[sc] : 0);
        cursor += loc.Len;
        ++count;
    } while (count < capacity && n - cursor >= 4);
    return count;
}

bool FindFirstStartCode(const std::uint8_t* buffer, std::int32_t n, std::int32_t& index) {
    if (n <= 0) {
        return false;
    }
    if (StartCodeLength(buffer, n) != 0) {
        index = 0;
        return true;
    }
    const std::int64_t found = FindStartCode(buffer, n, 1, static_cast<std::int64_t>(n) - 4);
    if (found < 0) {
        return false;
    }
    index = static_cast<std::int32_t>(found);
    return true;
}

namespace {

// The last 01 byte in [from, to], or -1.
std::int64_t FindLastOne(const std::uint8_t* buffer, std::int64_t from, std::int64_t to) {
    if (to < from) {
        return -1;
    }
#ifdef __GLIBC__
    const void* hit = memrchr(buffer + from, 1, static_cast<std::size_t>(to - from + 1));
    return hit ? static_cast<const std::uint8_t*>(hit) - buffer : -1;
#else
    for (std::int64_t j = to; j >= from; --j) {
        if (buffer[j] == 1) {
            return j;
        }
    }
    return -1;
#endif
}

} // namespace

bool FindStartCodeBackward(const std::uint8_t* buffer, std::int32_t n, std::int32_t count,
                           std::int32_t& index, std::int32_t* met) {
    bool found = false;
    std::int32_t seen = 0;
    // Reports how many were met on every way out.
    struct Report {
        std::int32_t* To;
        const std::int32_t& Seen;
        ~Report() {
            if (To != nullptr) {
                *To = Seen;
            }
        }
    } report{met, seen};
    std::int32_t left = count;
    // Positions are examined from kMax downward; a start code that begins at k has its 01
    // byte at k + 2 (three-byte form) or k + 3 (four-byte form).
    std::int64_t kMax = static_cast<std::int64_t>(n) - 4;
    std::int64_t upper = kMax + 3; // the last 01 byte still to look at
    while (kMax >= 0) {
        const std::int64_t j = FindLastOne(buffer, 2, upper);
        if (j < 0) {
            break;
        }
        upper = j - 1;
        if (buffer[j - 1] != 0 || buffer[j - 2] != 0) {
            continue;
        }
        const bool fourByte = j >= 3 && buffer[j - 3] == 0;
        std::int64_t at;
        if (j - 2 <= kMax) {
            // A three-byte match moves back one byte only when it is the tail of 00 00 00 01.
            at = fourByte ? j - 3 : j - 2;
        } else if (fourByte) {
            at = j - 3;
        } else {
            continue;
        }
        found = true;
        ++seen;
        index = static_cast<std::int32_t>(at);
        if (left == 1) {
            return true;
        }
        --left;
        kMax = at - 1;
        upper = std::min(upper, kMax + 3);
    }
    return found;
}
