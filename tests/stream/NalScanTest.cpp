#include "stream/NalScan.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace {

// Plain byte-by-byte models of the rules, written straight from their definitions, to
// check the kernels' faster searches against.
// The byte at a 64-bit index (size_t is 32 bits wide on 32-bit Windows).
std::uint8_t At(const std::vector<std::uint8_t>& b, std::int64_t i) {
    return b[static_cast<std::size_t>(i)];
}

int ModelStartCodeAt(const std::vector<std::uint8_t>& b, std::int64_t p) {
    const auto n = static_cast<std::int64_t>(b.size());
    if (p + 4 <= n && At(b, p) == 0 && At(b, p + 1) == 0 && At(b, p + 2) == 0 &&
        At(b, p + 3) == 1) {
        return 4;
    }
    if (p + 3 <= n && At(b, p) == 0 && At(b, p + 1) == 0 && At(b, p + 2) == 1) {
        return 3;
    }
    return 0;
}

std::int32_t ModelLength(const std::vector<std::uint8_t>& b, std::int64_t p) {
    const int sc = ModelStartCodeAt(b, p);
    const auto n = static_cast<std::int64_t>(b.size());
    for (std::int64_t i = p + (sc == 4 ? 2 : 1); i < n; ++i) {
        if (ModelStartCodeAt(b, i) != 0) {
            return static_cast<std::int32_t>(i - p);
        }
    }
    return static_cast<std::int32_t>(n - p);
}

std::vector<TNalUnitLocator> ModelScan(const std::vector<std::uint8_t>& b, std::int32_t capacity) {
    std::vector<TNalUnitLocator> out;
    std::int64_t cursor = 0;
    std::int64_t remaining = static_cast<std::int64_t>(b.size());
    if (remaining == 0) {
        return out;
    }
    do {
        const int sc = ModelStartCodeAt(b, cursor);
        if (sc != 0) {
            TNalUnitLocator loc{};
            loc.Offset = cursor;
            loc.Len = ModelLength(b, cursor);
            loc.NalHeader = cursor + sc < static_cast<std::int64_t>(b.size()) ? At(b, cursor + sc) : 0;
            loc.StartCodeWord = sc == 4 ? 1u : 0x100u | loc.NalHeader;
            out.push_back(loc);
            cursor += loc.Len;
            remaining -= loc.Len;
        } else {
            ++cursor;
            --remaining;
        }
    } while (static_cast<std::int32_t>(out.size()) < capacity && remaining >= 4);
    return out;
}

// The sound backward rule: a three-byte match moves back one byte only when it is the
// tail of 00 00 00 01.
bool ModelBackward(const std::vector<std::uint8_t>& b, std::int32_t count, std::int32_t& index) {
    bool found = false;
    std::int32_t left = count;
    for (std::int64_t k = static_cast<std::int64_t>(b.size()) - 4; k >= 0; --k) {
        const int sc = ModelStartCodeAt(b, k);
        if (sc == 0) {
            continue;
        }
        if (sc == 3 && k > 0 && At(b, k - 1) == 0) {
            --k;
        }
        found = true;
        index = static_cast<std::int32_t>(k);
        if (left == 1) {
            return true;
        }
        --left;
    }
    return found;
}

bool ModelFirst(const std::vector<std::uint8_t>& b, std::int32_t& index) {
    const auto n = static_cast<std::int64_t>(b.size());
    for (std::int64_t i = 0; i == 0 || i <= n - 4; ++i) {
        if (i < n && ModelStartCodeAt(b, i) != 0) {
            index = static_cast<std::int32_t>(i);
            return true;
        }
    }
    return false;
}

// Buffers rich in zeros and ones, where start codes, their tails and runs of zeros meet.
std::vector<std::uint8_t> RandomStreamBytes(std::mt19937& rng, std::size_t size) {
    std::vector<std::uint8_t> b(size);
    std::uniform_int_distribution<int> pick(0, 9);
    for (auto& byte : b) {
        const int r = pick(rng);
        byte = r < 5 ? 0 : r < 7 ? 1 : r < 8 ? 3 : static_cast<std::uint8_t>(rng());
    }
    return b;
}

bool SameLocators(const TNalUnitLocator& a, const TNalUnitLocator& b) {
    return a.Offset == b.Offset && a.Len == b.Len && a.StartCodeWord == b.StartCodeWord &&
           a.NalHeader == b.NalHeader;
}

TEST(NalScanKernels, AgreeWithTheByteByByteRulesOnRandomBuffers) {
    std::mt19937 rng(20261207);
    std::vector<TNalUnitLocator> locators(256);
    for (int round = 0; round < 3000; ++round) {
        const auto b = RandomStreamBytes(rng, static_cast<std::size_t>(rng() % 64));
        const auto n = static_cast<std::int32_t>(b.size());
        const auto capacity = static_cast<std::int32_t>(rng() % 6);

        const auto expected = ModelScan(b, capacity);
        const std::int32_t count = ScanNalUnits(b.data(), n, 0, capacity, locators.data());
        ASSERT_EQ(count, static_cast<std::int32_t>(expected.size())) << "round " << round;
        for (std::int32_t i = 0; i < count; ++i) {
            ASSERT_TRUE(SameLocators(locators[i], expected[i])) << "round " << round << " #" << i;
        }

        std::int32_t want = -1, got = -1;
        ASSERT_EQ(FindFirstStartCode(b.data(), n, got), ModelFirst(b, want)) << round;
        ASSERT_EQ(got, want) << round;

        const auto nth = static_cast<std::int32_t>(rng() % 5) - 1;
        want = got = -1;
        ASSERT_EQ(FindStartCodeBackward(b.data(), n, nth, got), ModelBackward(b, nth, want))
            << round;
        ASSERT_EQ(got, want) << round;
    }
}

TEST(NalScanKernels, ScanWindowCases) {
    struct Case {
        const char* name;
        const char* bytes;
        std::int32_t capacity;
        std::vector<std::pair<std::int64_t, std::int32_t>> units; // offset, length
    };
    const Case cases[] = {
        {"start inside a unit lists the next start code first",
         "9A 00 00 00 01 67 64 00 00 01 68 EE",
         8,
         {{1, 6}, {7, 5}}},
        {"no start code, no rows", "11 22 33 44 55 66 77", 8, {}},
        {"page full", "00 00 01 09 F0 00 00 01 09 F0 00 00 01 09 F0", 2, {{0, 5}, {5, 5}}},
        {"capacity 0 still stores the unit at the start",
         "00 00 01 09 F0 00 00 01 09 F0",
         0,
         {{0, 5}}},
        {"capacity 0 stores nothing when no start code is at the start",
         "FF 00 00 01 09 F0 00 00 01 09",
         0,
         {}},
        {"trailing zeros stay with the unit before",
         "00 00 01 41 9A 00 00 00 00 01 65 88",
         8,
         {{0, 6}, {6, 6}}},
        // A start code in the last three bytes is not examined after the first unit.
        {"three-byte start code in the last three bytes", "00 00 01 41 9A 00 00 01", 8, {{0, 5}}},
    };
    std::vector<TNalUnitLocator> locators(256);
    for (const auto& c : cases) {
        const auto b = Hex(c.bytes);
        const std::int32_t count = ScanNalUnits(b.data(), static_cast<std::int32_t>(b.size()), 1000,
                                                c.capacity, locators.data());
        ASSERT_EQ(count, static_cast<std::int32_t>(c.units.size())) << c.name;
        for (std::size_t i = 0; i < c.units.size(); ++i) {
            EXPECT_EQ(locators[i].Offset, 1000 + c.units[i].first) << c.name;
            EXPECT_EQ(locators[i].Len, c.units[i].second) << c.name;
        }
    }
}

TEST(NalScanKernels, LocatorFieldsAndHeaderPastTheBlock) {
    const auto b = Hex("00 00 00 01 67 42 00 00 01 68 CE 00 00 01");
    std::vector<TNalUnitLocator> locators(4);
    const std::int32_t count =
        ScanNalUnits(b.data(), static_cast<std::int32_t>(b.size()), 0, 4, locators.data());
    ASSERT_EQ(count, 2);
    EXPECT_EQ(locators[0].StartCodeWord, 1u);
    EXPECT_EQ(locators[0].NalHeader, 0x67);
    EXPECT_EQ(locators[1].StartCodeWord, 0x00000168u);
    EXPECT_EQ(locators[1].NalHeader, 0x68);
    EXPECT_FALSE(HeaderOutsideBlock(locators[1], 0, static_cast<std::int32_t>(b.size())));

    // A block that ends right after a four-byte start code.
    const auto end = Hex("00 00 00 01");
    ASSERT_EQ(ScanNalUnits(end.data(), 4, 64, 4, locators.data()), 1);
    EXPECT_EQ(locators[0].Len, 4);
    EXPECT_TRUE(HeaderOutsideBlock(locators[0], 64, 4));
    SetLocatorHeader(locators[0], 0x65);
    EXPECT_EQ(locators[0].StartCodeWord, 1u);
    EXPECT_EQ(locators[0].NalHeader, 0x65);
}

TEST(NalScanKernels, BackwardSearchesFindWhatTheForwardSearchFinds) {
    // xx 00 00 00 00 01: the start code begins one byte after the first zero, both ways.
    const auto b = Hex("41 9A 00 00 00 00 01 65 88 84");
    std::int32_t forward = -1;
    ASSERT_TRUE(FindFirstStartCode(b.data() + 1, static_cast<std::int32_t>(b.size()) - 1, forward));
    EXPECT_EQ(forward + 1, 3);
    std::int32_t backward = -1;
    ASSERT_TRUE(FindStartCodeBackward(b.data(), static_cast<std::int32_t>(b.size()), 1, backward));
    EXPECT_EQ(backward, 3);

    struct Case {
        const char* bytes;
        std::int32_t count;
        bool result;
        std::int32_t index;
    };
    const Case cases[] = {
        // From inside a four-byte start code: its first zero.
        {"41 00 00 00 01", 1, true, 1},
        {"41 00 00 00 01 65", 1, true, 1},
        // Count 3 with two start codes: the earlier of the two.
        {"00 00 01 09 F0 00 00 01 09 F0 77", 3, true, 0},
        {"00 00 01 09 F0 00 00 01 09 F0 77", 1, true, 5},
        {"00 00 01 09 F0 00 00 01 09 F0 77", 2, true, 0},
        {"00 00 01 09 F0 00 00 01 09 F0 77", 0, true, 0},
        {"11 22 33 44 55", 1, false, -1},
        {"00 00 01", 1, false, -1},
        // Position 0 holds a start code: found there.
        {"00 00 01 09", 1, true, 0},
    };
    for (const auto& c : cases) {
        const auto bytes = Hex(c.bytes);
        std::int32_t index = -1;
        EXPECT_EQ(FindStartCodeBackward(bytes.data(), static_cast<std::int32_t>(bytes.size()),
                                        c.count, index),
                  c.result)
            << c.bytes;
        EXPECT_EQ(index, c.index) << c.bytes << " count " << c.count;
    }
}

} // namespace
