#include "stream/NalUnitReader.h"
#include "stream/NalScan.h"
#include "support/HangWatch.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>

namespace {

std::vector<TNalUnitSpan> ReadAllUnits(const std::string& path, std::int32_t blockSize) {
    FileStream stream;
    EXPECT_TRUE(stream.Open(path));
    TNalUnitReader reader(stream, blockSize);
    std::vector<TNalUnitSpan> spans;
    TNalUnitSpan span;
    while (reader.Next(span)) {
        spans.push_back(span);
    }
    return spans;
}

// Whatever the block size, the sequential reader lists the units that one scan over the
// whole file in a single block lists.
TEST(NalUnitReader, BlockBoundariesChangeNothing) {
    std::mt19937 rng(7);
    TempDir dir;
    std::vector<TNalUnitLocator> locators(4096);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(rng() % 200));
        for (auto& b : bytes) {
            const auto r = rng() % 8;
            b = r < 4 ? 0 : r < 6 ? 1 : static_cast<std::uint8_t>(rng());
        }
        const auto path = dir.Write("r.264", bytes);
        const auto n = static_cast<std::int32_t>(bytes.size());
        // With no page limit, the scan lists every unit of the block.
        std::int32_t count = ScanNalUnits(bytes.data(), n, 0, 4096, locators.data());
        // The window scan does not examine the last three bytes after a unit; the
        // sequential reader does, and lists a start code there as a unit of its own.
        for (const auto blockSize : {16, 17, 23, 64, 1 << 20}) {
            const auto spans = ReadAllUnits(path, blockSize);
            ASSERT_GE(spans.size(), static_cast<std::size_t>(count)) << round;
            ASSERT_LE(spans.size(), static_cast<std::size_t>(count) + 1) << round;
            for (std::int32_t i = 0; i < count; ++i) {
                const bool lastCut =
                    i == count - 1 && spans.size() > static_cast<std::size_t>(count);
                ASSERT_EQ(spans[i].Offset, locators[i].Offset) << round << "/" << blockSize;
                if (!lastCut) {
                    ASSERT_EQ(spans[i].Length, locators[i].Len) << round << "/" << blockSize;
                }
                ASSERT_EQ(spans[i].Header, locators[i].NalHeader) << round;
                ASSERT_EQ(spans[i].StartCodeLength == 4, locators[i].StartCodeWord == 1) << round;
            }
            std::int64_t total = 0;
            for (const auto& s : spans) {
                total += s.Length;
            }
            if (!spans.empty()) {
                ASSERT_EQ(spans.front().Offset + total, n) << round;
            }
        }
    }
}

TEST(NalUnitReader, AStartCodeAtTheVeryEndHasNoHeader) {
    TempDir dir;
    const auto spans = ReadAllUnits(dir.Write("e.264", Hex("00 00 01 09 F0 00 00 00 01")), 16);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0].Length, 5);
    EXPECT_EQ(spans[1].Offset, 5);
    EXPECT_EQ(spans[1].Length, 4);
    EXPECT_FALSE(spans[1].HasHeader);
    EXPECT_TRUE(ReadAllUnits(dir.Write("z.264", {}), 16).empty());
}

// A file that changes after the reader took its size: a cut ends the walk with
// EFileChanged instead of reading the same bytes again and again, growth ends it with
// EFileChanged once the units of the old size are walked. Reading ahead, the walk may get
// further before it notices, on bytes read before the change.
TEST(NalUnitReader, AFileThatChangesWhileItIsWalked) {
    std::vector<std::uint8_t> three; // three units of 43 bytes
    for (int i = 0; i < 3; ++i) {
        const auto unit = Hex("00 00 01 41");
        three.insert(three.end(), unit.begin(), unit.end());
        three.insert(three.end(), 39, 0x11);
    }
    auto first = Hex("00 00 00 01 67");
    first.insert(first.end(), 1000, 0x11);
    auto grown = three;
    grown.insert(grown.end(), {0, 0, 1, 0x41, 0x11});
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::int32_t blockSize;
        int unitsBeforeChange;
        std::optional<std::int64_t> cutTo; // else the content becomes grownTo
        std::vector<std::uint8_t> grownTo;
        int units;    // reported in all
        bool changed; // the walk ends with EFileChanged
    };
    const Case cases[] = {
        {"one unit cut to 6 bytes before the first read", first, 4 << 20, 0, 6, {}, 0, true},
        {"cut inside the second unit", three, 16, 1, 50, {}, 1, true},
        {"cut where the third unit begins", three, 16, 1, 86, {}, 1, true},
        {"cut to nothing", three, 16, 2, 0, {}, 2, true},
        {"a unit added at the end", three, 16, 1, std::nullopt, grown, 3, true},
        {"a unit added before the first unit is walked", three, 16, 0, std::nullopt, grown, 3,
         true},
        {"a unit added after the last unit is walked", three, 16, 3, std::nullopt, grown, 3, true},
        {"rewritten with the same bytes", three, 16, 1, std::nullopt, three, 3, false},
    };
    for (const bool readAhead : {false, true}) {
        for (const auto& c : cases) {
            TempDir dir;
            const auto path = dir.Write("s.264", c.bytes);
            FileStream stream;
            ASSERT_TRUE(stream.Open(path));
            TNalUnitReader reader(stream, c.blockSize, readAhead);
            THangWatch watch(c.name);
            int units = 0;
            bool changed = false;
            TNalUnitSpan span;
            try {
                for (; units < c.unitsBeforeChange && reader.Next(span); ++units) {
                }
                if (c.cutTo) {
                    std::filesystem::resize_file(path, static_cast<std::uintmax_t>(*c.cutTo));
                } else {
                    // In place: a rewrite through a cut file would be seen as a cut by a
                    // read ahead under way.
                    std::fstream(path, std::ios::in | std::ios::out | std::ios::binary)
                        .write(reinterpret_cast<const char*>(c.grownTo.data()),
                               static_cast<std::streamsize>(c.grownTo.size()));
                }
                while (reader.Next(span)) {
                    ++units;
                    EXPECT_LE(span.Offset + span.Length, static_cast<std::int64_t>(c.bytes.size()))
                        << c.name;
                }
            } catch (const EFileChanged& e) {
                changed = true;
                EXPECT_STREQ(e.what(), "the file changed while it was read");
            }
            if (readAhead) {
                EXPECT_GE(units, c.units) << c.name;
            } else {
                EXPECT_EQ(units, c.units) << c.name;
            }
            EXPECT_EQ(changed, c.changed) << c.name << (readAhead ? ", reading ahead" : "");
        }
    }
}

// The rule that --at applies to a single offset agrees with the walk over the file.
TEST(NalUnitReader, ListedUnitsBeginWhereTheOffsetRuleSays) {
    std::mt19937 rng(11);
    TempDir dir;
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(rng() % 60));
        for (auto& b : bytes) {
            const auto r = rng() % 8;
            b = r < 5 ? 0 : r < 7 ? 1 : static_cast<std::uint8_t>(rng());
        }
        std::set<std::int64_t> listed;
        for (const auto& span : ReadAllUnits(dir.Write("r.264", bytes), 16)) {
            listed.insert(span.Offset);
        }
        const auto n = static_cast<std::int64_t>(bytes.size());
        for (std::int64_t p = 0; p < n; ++p) {
            const bool zeroBefore = p > 0 && bytes[static_cast<std::size_t>(p - 1)] == 0;
            EXPECT_EQ(BeginsListedNalUnit(bytes.data() + p, n - p, zeroBefore),
                      listed.count(p) == 1)
                << round << " at " << p;
        }
    }
}

} // namespace
