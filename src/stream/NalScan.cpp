#include "stream/NalScan.h"

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
        GetNalUnitLength(p, remaining, loc.Len);
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

bool FindStartCodeBackward(const std::uint8_t* buffer, std::int32_t n, std::int32_t count,
                           std::int32_t& index) {
    bool found = false;
    std::int32_t left = count;
    for (std::int32_t k = n - 4; k >= 0; --k) {
        // Skip ahead to the next 01 byte below: a start code at k has its 01 at k+2 or k+3.
        if (buffer[k + 2] != 1 && buffer[k + 3] != 1) {
            continue;
        }
        const std::int64_t available = static_cast<std::int64_t>(n) - k;
        std::int32_t at;
        if (IsStartCode4(buffer + k, available)) {
            at = k;
        } else if (IsStartCode3(buffer + k, available)) {
            at = (k > 0 && buffer[k - 1] == 0) ? k - 1 : k;
        } else {
            continue;
        }
        found = true;
        index = at;
        if (left == 1) {
            return true;
        }
        --left;
        k = at; // the loop steps below the start code's first byte
    }
    return found;
}
