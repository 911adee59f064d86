// The find walk: the units of each kind in every test stream against the independent
// listing and ffmpeg's reading of the slices and SEI messages, forward and backward, with
// blocks small enough to cut units and start codes anywhere; the start-code rule against
// the listing's walk on random bytes; a 300 GB sparse file; a cancelled search; steps from
// anywhere past a parameter set that cannot be read.

#include "model/UnitSearch.h"
#include "stream/FileStream.h"
#include "stream/UnitCursor.h"
#include "support/NaiveUnits.h"
#include "support/SparseFiles.h"
#include "support/TestSupport.h"
#include "syntax/ReferenceSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

namespace {

using namespace reference;

struct Listed {
    std::int64_t Offset = 0;
    std::int64_t Length = 0;
    int Type = 0;
};

std::vector<Listed> Listing(const std::string& name) {
    std::ifstream in(TestDataPath(name + ".nals"));
    std::vector<Listed> units;
    Listed unit;
    int startCode = 0;
    while (in >> unit.Offset >> unit.Length >> startCode >> unit.Type) {
        units.push_back(unit);
    }
    return units;
}

std::int64_t RefValue(const std::vector<RefElement>& elements, const std::string& name) {
    for (const RefElement& e : elements) {
        if (e.Name == name) {
            return e.Value;
        }
    }
    return -1;
}

// Which units of a stream a kind takes, from the listing and the reference alone.
std::vector<Listed> Expected(const std::string& name, const TFindKind& kind) {
    const RefStream ref = LoadRef(TestDataPath(name + ".ref"));
    const std::vector<Listed> units = Listing(name);
    std::vector<Listed> out;
    using W = TFindKind::TWhat;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const Listed& u = units[i];
        const auto slice = ref.Slices.find(static_cast<int>(i));
        const bool first =
            slice != ref.Slices.end() && RefValue(slice->second, "first_mb_in_slice") == 0;
        const std::int64_t sliceType = first ? RefValue(slice->second, "slice_type") % 5 : -1;
        bool take = false;
        switch (kind.What) {
        case W::NalUnitType:
            take = u.Type == static_cast<int>(kind.Value);
            break;
        case W::Idr:
            take = u.Type == 5 && first;
            break;
        case W::IPicture:
            take = sliceType == 2;
            break;
        case W::PPicture:
            take = sliceType == 0;
            break;
        case W::BPicture:
            take = sliceType == 1;
            break;
        case W::Sps:
            take = u.Type == 7;
            break;
        case W::Pps:
            take = u.Type == 8;
            break;
        case W::Sei:
            take = u.Type == 6;
            break;
        case W::SeiPayload: {
            const auto sei = ref.Seis.find(static_cast<int>(i));
            if (sei != ref.Seis.end()) {
                std::int64_t type = 0;
                for (const RefElement& e : sei->second) {
                    if (e.Name == "ff_byte") {
                        type += e.Value;
                    } else if (e.Name == "last_payload_type_byte") {
                        take = take || type + e.Value == kind.Value;
                    } else if (e.Name == "last_payload_size_byte") {
                        type = 0;
                    }
                    if (e.Name == "last_payload_type_byte") {
                        type = 0;
                    }
                }
            }
            break;
        }
        }
        if (take) {
            out.push_back(u);
        }
    }
    return out;
}

TEST(UnitSearch, KindsReadAsTheyAreWritten) {
    using W = TFindKind::TWhat;
    const std::pair<const char*, std::optional<TFindKind>> cases[] = {
        {"idr", TFindKind{W::Idr, 0}},
        {"IDR", TFindKind{W::Idr, 0}},
        {"i", TFindKind{W::IPicture, 0}},
        {"b", TFindKind{W::BPicture, 0}},
        {"sei:137", TFindKind{W::SeiPayload, 137}},
        {"31", TFindKind{W::NalUnitType, 31}},
        {"32", std::nullopt},
        {"sei:", std::nullopt},
        {"-1", std::nullopt},
        {"x", std::nullopt},
        {"", std::nullopt},
        {"sei:1x", std::nullopt},
    };
    for (const auto& [text, kind] : cases) {
        EXPECT_EQ(ParseFindKind(text), kind) << text;
        if (kind) {
            EXPECT_EQ(ParseFindKind(FindKindArgument(*kind)), kind);
        }
    }
}

// Block sizes down to a few bytes put every unit and start code across a block's edge.
class UnitSearchReference : public testing::TestWithParam<std::string> {};

TEST_P(UnitSearchReference, EveryKindForwardAndBackwardMatchesTheListingAndReference) {
    const std::string name = GetParam();
    FileStream stream;
    ASSERT_TRUE(stream.Open(TestDataPath(name + ".264")));
    const std::vector<std::string> kinds = {"idr", "i", "p",  "b",     "sps",   "pps",   "sei",
                                            "9",   "1", "12", "sei:5", "sei:1", "sei:6", "sei:137"};
    for (const std::int32_t block : {7, 1000, TUnitSearch::kBlockSize}) {
        for (const std::string& text : kinds) {
            const TFindKind kind = *ParseFindKind(text);
            // Small blocks read little after them: enough for a slice's head, not an SEI.
            const bool seiPayload = kind.What == TFindKind::TWhat::SeiPayload;
            if (block == 7 && seiPayload) {
                continue;
            }
            SCOPED_TRACE(name + " " + text + " block " + std::to_string(block));
            TUnitSearch search(stream, block, block == 7 ? 32 : kSearchLookAhead);
            const std::vector<Listed> expected = Expected(name, kind);
            std::vector<Listed> found;
            search.Forward(kind, 0, [&](const TNalUnitSpan& span) {
                found.push_back({span.Offset, span.Length, span.Header & 31});
                return true;
            });
            ASSERT_EQ(found.size(), expected.size());
            for (std::size_t i = 0; i < found.size(); ++i) {
                EXPECT_EQ(found[i].Offset, expected[i].Offset);
                EXPECT_EQ(found[i].Length, expected[i].Length);
                EXPECT_EQ(found[i].Type, expected[i].Type);
            }
            if (block == 7) {
                continue; // stepping both ways over every match is enough at one size
            }
            for (std::size_t i = 0; i < expected.size(); ++i) {
                const std::int64_t at = expected[i].Offset;
                EXPECT_EQ(search.Next(kind, at), at);
                EXPECT_EQ(search.Previous(kind, at), at);
                const std::optional<std::int64_t> next =
                    i + 1 < expected.size() ? std::optional(expected[i + 1].Offset) : std::nullopt;
                const std::optional<std::int64_t> previous =
                    i > 0 ? std::optional(expected[i - 1].Offset) : std::nullopt;
                EXPECT_EQ(search.Next(kind, at + 1), next);
                EXPECT_EQ(search.Previous(kind, at - 1), previous);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(TestData, UnitSearchReference, testing::ValuesIn(StreamNames()),
                         [](const testing::TestParamInfo<std::string>& param) {
                             return param.param;
                         });

// Bytes rich in start codes of every form (00 00 01, 00 00 00 01, longer runs of zeros):
// what the search finds of every nal_unit_type is what the listing's walk lists.
TEST(UnitSearch, FindsWhatTheListingListsOnRandomBytes) {
    TempDir dir;
    std::mt19937 random(18);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::uint8_t> bytes(3000 + round * 100);
        for (std::uint8_t& b : bytes) {
            const auto r = random() % 8;
            b = r < 4 ? 0 : r == 4 ? 1 : static_cast<std::uint8_t>(random());
        }
        const std::string path = dir.Write("random.264", bytes);
        FileStream walk;
        FileStream searched;
        ASSERT_TRUE(walk.Open(path));
        ASSERT_TRUE(searched.Open(path));
        std::vector<std::tuple<std::int64_t, std::int64_t, int>> listed;
        TUnitCursor reader(walk, 64);
        TNalUnitSpan span;
        while (reader.Next(span)) {
            if (span.HasHeader) {
                listed.emplace_back(span.Offset, span.Length, span.Header);
            }
        }
        for (const std::int32_t block : {5, 61, 4096}) {
            TUnitSearch search(searched, block, 32);
            std::vector<std::tuple<std::int64_t, std::int64_t, int>> found;
            for (std::uint32_t type = 0; type < 32; ++type) {
                search.Forward({TFindKind::TWhat::NalUnitType, type}, 0,
                               [&](const TNalUnitSpan& s) {
                                   found.emplace_back(s.Offset, s.Length, s.Header);
                                   return true;
                               });
            }
            std::sort(found.begin(), found.end());
            ASSERT_EQ(found, listed) << "round " << round << " block " << block;
        }
    }
}

// A 300 GB sparse file with the stream at its start, in its middle and at its end: the
// walk passes the holes without reading them, both ways.
TEST(UnitSearch, CrossesTheHolesOfAHugeSparseFile) {
    constexpr std::int64_t kSize = 300'000'000'000;
    TempDir dir;
    const std::vector<std::uint8_t> stream = ReadAll(TestDataPath("aud_sei.264"));
    const std::string path = dir.Path().string() + "/huge.264";
    const auto size = static_cast<std::int64_t>(stream.size());
    const std::int64_t middle = kSize / 2 + 12345;
    const std::int64_t tail = kSize - size;
    WriteSparseCopies(path, kSize, stream, {std::int64_t{0}, middle, tail});
    if (!ReportsHoles(path, middle / 2)) {
        GTEST_SKIP() << "the file system does not report the holes of a sparse file";
    }
    ASSERT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(path)), kSize);
    const std::vector<Listed> idrs = Expected("aud_sei", *ParseFindKind("idr"));
    ASSERT_GE(idrs.size(), 1u);
    FileStream file;
    ASSERT_TRUE(file.Open(path));
    TUnitSearch search(file);
    TSearchControl control;
    EXPECT_EQ(search.Next(*ParseFindKind("idr"), size, &control), middle + idrs.front().Offset);
    EXPECT_EQ(search.Next(*ParseFindKind("idr"), middle + size, &control),
              tail + idrs.front().Offset);
    EXPECT_EQ(search.Previous(*ParseFindKind("idr"), tail - 1, &control),
              middle + idrs.back().Offset);
    EXPECT_EQ(search.Previous(*ParseFindKind("idr"), middle - 1, &control), idrs.back().Offset);
    // The last unit's length runs through the hole up to the next copy.
    std::vector<std::int64_t> spsLengths;
    search.Forward(*ParseFindKind("sps"), 0, [&](const TNalUnitSpan& span) {
        spsLengths.push_back(span.Length);
        return true;
    });
    EXPECT_EQ(spsLengths.size(), 3 * Expected("aud_sei", *ParseFindKind("sps")).size());
    // Nothing after the last copy's last IDR picture.
    EXPECT_EQ(search.Next(*ParseFindKind("idr"), tail + idrs.back().Offset + 1), std::nullopt);
}

TEST(UnitSearch, ACancelledSearchStopsWithoutAnAnswer) {
    FileStream file;
    ASSERT_TRUE(file.Open(TestDataPath("aud_sei.264")));
    TUnitSearch search(file);
    TSearchControl control;
    control.Cancel = true;
    EXPECT_EQ(search.Next(*ParseFindKind("sps"), 0, &control), std::nullopt);
    EXPECT_EQ(search.Previous(*ParseFindKind("sps"), 1 << 20, &control), std::nullopt);
}

} // namespace

namespace {

// Every test stream with a parameter set that cannot be read put after each PPS: the same
// pic_parameter_set_id 0, naming SPS 31, which no stream has, and cut after two more
// elements; and the first slice of every third picture lost, so that only the slice
// header's comparison tells where that picture begins. A walk keeps the PPS before the
// unreadable one; a step from anywhere after must judge the pictures by that PPS too, as
// the walk from the file's start does.
TEST(UnitSearch, AStepFromAnywhereJudgesPicturesAsTheWalkFromTheStart) {
    TempDir dir;
    const auto broken = Hex("00 00 00 01 68 82 08");
    std::size_t pictures = 0;
    for (const std::string& name : StreamNames()) {
        const auto bytes = ReadAll(TestDataPath(name + ".264"));
        std::vector<std::uint8_t> edited;
        std::vector<std::int64_t> starts;
        const auto units = NaiveUnits(bytes, 0);
        int firsts = 0;
        for (const TNalUnitSpan& u : units) {
            const std::uint32_t type = u.HasHeader ? NalUnitType(u.Header) : 0;
            if (type == kNalNonIdrSlice && u.Length > u.StartCodeLength + 1 &&
                bytes[static_cast<std::size_t>(u.Offset + u.StartCodeLength + 1)] >= 0x80 &&
                ++firsts % 3 == 0) {
                continue; // a picture's first slice lost: its second tells by the comparison
            }
            starts.push_back(static_cast<std::int64_t>(edited.size()));
            const auto at = bytes.begin() + static_cast<std::ptrdiff_t>(u.Offset);
            edited.insert(edited.end(), at, at + static_cast<std::ptrdiff_t>(u.Length));
            if (type == kNalPps) {
                starts.push_back(static_cast<std::int64_t>(edited.size()));
                edited.insert(edited.end(), broken.begin(), broken.end());
            }
        }
        FileStream stream;
        ASSERT_TRUE(stream.Open(dir.Write("edited.264", edited)));
        TUnitSearch search(stream);
        using W = TFindKind::TWhat;
        for (const W what : {W::Idr, W::IPicture, W::PPicture, W::BPicture}) {
            std::vector<std::int64_t> walked;
            search.Forward({what, 0}, 0, [&](const TNalUnitSpan& s) {
                walked.push_back(s.Offset);
                return true;
            });
            pictures += walked.size();
            for (const std::int64_t from : starts) {
                const auto want = std::lower_bound(walked.begin(), walked.end(), from);
                const std::optional<std::int64_t> got = search.Next({what, 0}, from);
                ASSERT_EQ(got.value_or(-1), want == walked.end() ? -1 : *want)
                    << name << " kind " << static_cast<int>(what) << " from " << from;
            }
        }
    }
    EXPECT_GT(pictures, 100u);
}

} // namespace
