#include "stream/NalUnitReader.h"
#include "stream/NalScan.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <random>

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

} // namespace
