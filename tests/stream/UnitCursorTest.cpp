#include "stream/UnitCursor.h"
#include "stream/H264Utils.h"
#include "support/HangWatch.h"
#include "support/NaiveUnits.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>

namespace {

std::vector<TNalUnitSpan> CursorUnits(const std::string& path, std::int32_t blockSize,
                                      std::int64_t from, bool readAhead,
                                      std::vector<std::vector<std::uint8_t>>* heads = nullptr) {
    FileStream stream;
    EXPECT_TRUE(stream.Open(path));
    TUnitCursor cursor(stream, blockSize, readAhead);
    cursor.Seek(from);
    std::vector<TNalUnitSpan> spans;
    TNalUnitSpan span;
    std::vector<std::uint8_t> sink;
    const auto wants = [](std::uint8_t) { return TUnitWants{8, true}; };
    while (heads ? cursor.Next(span, wants, &sink, std::size_t{1} << 30) : cursor.Next(span)) {
        spans.push_back(span);
        if (heads) {
            heads->push_back(cursor.Head());
        }
    }
    return spans;
}

void ExpectSameUnits(const std::vector<TNalUnitSpan>& got, const std::vector<TNalUnitSpan>& want,
                     const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].Offset, want[i].Offset) << what << " unit " << i;
        EXPECT_EQ(got[i].Length, want[i].Length) << what << " unit " << i;
        EXPECT_EQ(got[i].StartCodeLength, want[i].StartCodeLength) << what << " unit " << i;
        EXPECT_EQ(got[i].Header, want[i].Header) << what << " unit " << i;
        EXPECT_EQ(got[i].PayloadEnd, want[i].PayloadEnd) << what << " unit " << i;
    }
}

// Whatever the block size, the starting offset and the reading ahead, the cursor lists
// what the byte-by-byte walk lists; the same with the bytes spread over a sparse file
// whose holes it passes unread.
TEST(UnitCursor, AgreesWithAByteByByteWalk) {
    std::mt19937 rng(7);
    TempDir dir;
    for (int round = 0; round < 200; ++round) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(rng() % 200));
        for (auto& b : bytes) {
            const auto r = rng() % 8;
            b = r < 4 ? 0 : r < 6 ? 1 : static_cast<std::uint8_t>(rng());
        }
        const auto path = dir.Write("r.264", bytes);
        const auto from = bytes.empty() ? 0 : static_cast<std::int64_t>(rng() % bytes.size());
        for (const auto blockSize : {16, 17, 23, 64, 1 << 20}) {
            const std::string what = std::to_string(round) + "/" + std::to_string(blockSize);
            ExpectSameUnits(CursorUnits(path, blockSize, 0, blockSize == 17), NaiveUnits(bytes, 0),
                            what);
            ExpectSameUnits(CursorUnits(path, blockSize, from, false), NaiveUnits(bytes, from),
                            what + " from " + std::to_string(from));
        }
    }
    // Pieces of random units 3 MiB apart: the holes between them read as zeros.
    for (int round = 0; round < 4; ++round) {
        std::vector<std::uint8_t> whole;
        const auto path = dir.Write("s.264", {});
        for (int piece = 0; piece < 3; ++piece) {
            whole.resize(whole.size() + (3u << 20));
            ResizeSparse(path, static_cast<std::int64_t>(whole.size()));
            std::vector<std::uint8_t> bytes(64);
            for (auto& b : bytes) {
                const auto r = rng() % 8;
                b = r < 4 ? 0 : r < 6 ? 1 : static_cast<std::uint8_t>(rng());
            }
            std::fstream(path, std::ios::in | std::ios::out | std::ios::binary | std::ios::ate)
                .write(reinterpret_cast<const char*>(bytes.data()), 64);
            whole.insert(whole.end(), bytes.begin(), bytes.end());
        }
        std::vector<std::vector<std::uint8_t>> heads;
        const auto want = NaiveUnits(whole, 0);
        ExpectSameUnits(CursorUnits(path, 1 << 16, 0, false, &heads), want, "sparse");
        for (std::size_t i = 0; i < heads.size() && i < want.size(); ++i) {
            const auto from =
                static_cast<std::size_t>(want[i].Offset + want[i].StartCodeLength + 1);
            const std::size_t to = std::min<std::size_t>(
                from + 8, static_cast<std::size_t>(want[i].Offset + want[i].Length));
            const auto at = [&](std::size_t k) {
                return whole.begin() + static_cast<std::ptrdiff_t>(k);
            };
            EXPECT_EQ(heads[i], std::vector<std::uint8_t>(at(std::min(from, to)), at(to)))
                << "head of unit " << i;
        }
    }
}

// Reading ahead, a walk sent elsewhere in the middle goes on from there as a walk that
// began there: back, a little ahead, past the blocks read ahead, and to the end; with a
// budget too, which reads one block ahead only.
TEST(UnitCursor, ReadingAheadASeekInTheMiddleOfAWalk) {
    std::mt19937 rng(11);
    std::vector<std::uint8_t> bytes(6000);
    for (auto& b : bytes) {
        const auto r = rng() % 8;
        b = r < 4 ? 0 : r < 6 ? 1 : static_cast<std::uint8_t>(rng());
    }
    TempDir dir;
    const auto path = dir.Write("a.264", bytes);
    const auto n = static_cast<std::int64_t>(bytes.size());
    for (const bool budget : {false, true}) {
        for (const std::int64_t to : {std::int64_t{0}, std::int64_t{300}, std::int64_t{700},
                                      std::int64_t{2500}, n - 40, n}) {
            FileStream stream;
            ASSERT_TRUE(stream.Open(path));
            TUnitCursor cursor(stream, 64, true);
            cursor.SetBudget(budget ? 3 * n : -1);
            TNalUnitSpan span;
            for (int i = 0; i < 40 && cursor.Next(span); ++i) {
            }
            cursor.Seek(to);
            std::vector<TNalUnitSpan> spans;
            while (cursor.Next(span)) {
                spans.push_back(span);
            }
            ExpectSameUnits(spans, NaiveUnits(bytes, to),
                            "to " + std::to_string(to) + (budget ? " within a budget" : ""));
        }
    }
}

// The steps the window takes, forward and backward from any offset, find the start codes
// the byte-by-byte walk lists, whatever the block size: the walk over the whole file is the
// oracle.
TEST(UnitCursor, StepsFindWhatAByteByByteWalkLists) {
    std::mt19937 rng(3);
    TempDir dir;
    std::vector<std::uint8_t> buffer((1 << 16) + 16);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> bytes(static_cast<std::size_t>(1 + rng() % 300));
        for (auto& b : bytes) {
            const auto r = rng() % 8;
            b = r < 4 ? 0 : r < 6 ? 1 : static_cast<std::uint8_t>(rng());
        }
        FileStream stream;
        ASSERT_TRUE(stream.Open(dir.Write("f.264", bytes)));
        const std::int64_t at = static_cast<std::int64_t>(rng() % bytes.size());
        TUnitCursor small(stream, 16 + round % 7);
        TUnitCursor lent(stream, buffer.data(), static_cast<std::int32_t>(buffer.size()), 1 << 20);
        // Reading ahead and sent to the steps in the middle of a walk: its blocks give way.
        TUnitCursor ahead(stream, 16, true);
        TNalUnitSpan span;
        for (int i = 0; i < round % 5 && ahead.Next(span); ++i) {
        }
        for (TUnitCursor* cursor : {&small, &lent, &ahead}) {
            const auto [after, before] = NaiveSteps(bytes, at, 8);
            std::int64_t next = -1;
            EXPECT_EQ(cursor->NextStart(at, next) ? next : -1, after) << round << " from " << at;
            std::int64_t found[8];
            const std::int32_t met = cursor->Previous(at, 8, found);
            EXPECT_EQ(std::vector<std::int64_t>(found, found + met), before)
                << round << " from " << at;
        }
    }
}

TEST(UnitCursor, AStartCodeAtTheVeryEndHasNoHeader) {
    TempDir dir;
    const auto spans =
        CursorUnits(dir.Write("e.264", Hex("00 00 01 09 F0 00 00 00 01")), 16, 0, false);
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0].Length, 5);
    EXPECT_EQ(spans[1].Offset, 5);
    EXPECT_EQ(spans[1].Length, 4);
    EXPECT_FALSE(spans[1].HasHeader);
    EXPECT_TRUE(CursorUnits(dir.Write("z.264", {}), 16, 0, false).empty());
}

// A file that changes after the reader took its size: a cut ends the walk with
// EFileChanged instead of reading the same bytes again and again, growth ends it with
// EFileChanged once the units of the old size are walked. Reading ahead, the walk may get
// further before it notices, on bytes read before the change.
TEST(UnitCursor, AFileThatChangesWhileItIsWalked) {
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
            TUnitCursor reader(stream, c.blockSize, readAhead);
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

} // namespace
