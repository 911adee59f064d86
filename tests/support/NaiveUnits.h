#pragma once

// The units a byte-by-byte walk lists, for tests and fuzz targets to hold the unit cursor
// to: a start code is 00 00 01, or 00 00 00 01 when a zero comes before it, and a unit runs
// to the next start code; zeros at its end belong to no unit.

#include "stream/UnitCursor.h"

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

// Every unit whose start code begins at or after from.
inline std::vector<TNalUnitSpan> NaiveUnits(const std::vector<std::uint8_t>& bytes,
                                            std::int64_t from) {
    const auto n = static_cast<std::int64_t>(bytes.size());
    const auto at = [&bytes](std::int64_t i) { return bytes[static_cast<std::size_t>(i)]; };
    std::vector<std::pair<std::int64_t, int>> starts; // offset, start code length
    for (std::int64_t i = std::max<std::int64_t>(from, 0); i + 3 <= n; ++i) {
        if (at(i) == 0 && at(i + 1) == 0 && at(i + 2) == 1) {
            const bool four = i > 0 && at(i - 1) == 0;
            if (i - (four ? 1 : 0) >= from) {
                starts.emplace_back(i - (four ? 1 : 0), four ? 4 : 3);
            }
            i += 2;
        }
    }
    std::vector<TNalUnitSpan> units;
    for (std::size_t k = 0; k < starts.size(); ++k) {
        TNalUnitSpan u;
        u.Offset = starts[k].first;
        u.StartCodeLength = starts[k].second;
        u.Length = (k + 1 < starts.size() ? starts[k + 1].first : n) - u.Offset;
        u.HasHeader = u.Length > u.StartCodeLength;
        u.Header = u.HasHeader ? at(u.Offset + u.StartCodeLength) : 0;
        u.PayloadEnd = u.Offset + u.StartCodeLength;
        for (std::int64_t q = u.Offset + u.Length - 1; q >= u.PayloadEnd; --q) {
            if (at(q) != 0) {
                u.PayloadEnd = q + 1;
                break;
            }
        }
        units.push_back(u);
    }
    return units;
}

// What the window's steps from at must find, by the walk from the file's first byte: the
// first start code at or after at (-1 when none), and up to count start codes at or before
// at, the highest first.
inline std::pair<std::int64_t, std::vector<std::int64_t>>
NaiveSteps(const std::vector<std::uint8_t>& bytes, std::int64_t at, std::size_t count) {
    std::vector<std::int64_t> starts;
    for (const TNalUnitSpan& u : NaiveUnits(bytes, 0)) {
        starts.push_back(u.Offset);
    }
    const auto after = std::lower_bound(starts.begin(), starts.end(), at);
    std::vector<std::int64_t> before;
    for (auto below = std::upper_bound(starts.begin(), starts.end(), at);
         below != starts.begin() && before.size() < count;) {
        before.push_back(*--below);
    }
    return {after != starts.end() ? *after : -1, before};
}
