// Finding a unit's parameter sets by looking back through the file: the nearest one with
// the id, within the bound, and the same answers from the remembered sets as from reading.

#include "syntax/ParameterSetFinder.h"

#include "stream/FileStream.h"
#include "support/TestSupport.h"
#include "syntax/SyntaxTestSupport.h"

#include <gtest/gtest.h>

#include <random>

namespace {

std::vector<std::uint8_t> SpsUnit(std::uint32_t profile_idc, std::uint32_t id,
                                  std::uint32_t chroma_format_idc) {
    BitWriter w;
    w.U(8, profile_idc).U(8, 0).U(8, 30).Ue(id);
    if (profile_idc >= 100) {
        w.Ue(chroma_format_idc).Ue(0).Ue(0).Flag(false).Flag(false);
    }
    w.Put("ue:0 ue:2 ue:1 0 ue:10 ue:8 1 1 0 0").Trailing();
    return Unit("00 00 00 01 67", Escape(w.Bytes()));
}

std::vector<std::uint8_t> PpsUnit(std::uint32_t id, std::uint32_t spsId) {
    BitWriter w;
    w.Ue(id).Ue(spsId).Put("0 0 ue:0 ue:0 ue:0 0 u2:0 se:0 se:0 se:0 1 0 0").Trailing();
    return Unit("00 00 01 68", Escape(w.Bytes()));
}

TEST(SpsChromaFormat, ReadsTheSpsHeadOnly) {
    // Each unit with its own size: a count past its end reads outside it.
    const auto chromaFormat = [](const std::vector<std::uint8_t>& unit) {
        return SpsChromaFormat(unit.data(), static_cast<std::int32_t>(unit.size()));
    };
    EXPECT_EQ(chromaFormat(SpsUnit(244, 0, 3)), 3u);
    EXPECT_EQ(chromaFormat(SpsUnit(77, 0, 3)), 1u); // no chroma block: 4:2:0
    EXPECT_EQ(chromaFormat(PpsUnit(0, 0)), std::nullopt);
}

TEST(TParameterSetFinder, LooksNoFurtherBackThanSixteenMebibytes) {
    TempDir dir;
    const auto sps = SpsUnit(244, 0, 3);
    const auto pps = PpsUnit(0, 0);
    for (std::int64_t gap : {std::int64_t{0}, std::int64_t{100000},
                             kParameterSetSearchBound - static_cast<std::int64_t>(sps.size()),
                             kParameterSetSearchBound}) {
        // Filler bytes of 0xFF hold no start code.
        std::vector<std::uint8_t> file = sps;
        file.resize(sps.size() + static_cast<std::size_t>(gap), 0xFF);
        const auto ppsOffset = static_cast<std::int64_t>(file.size());
        file.insert(file.end(), pps.begin(), pps.end());
        FileStream stream;
        ASSERT_TRUE(stream.Open(dir.Write("s.264", file)));
        TParameterSetFinder finder(stream);
        const bool within = ppsOffset <= kParameterSetSearchBound;
        EXPECT_EQ(finder.GoverningChromaFormat(0, ppsOffset),
                  within ? std::optional<std::uint32_t>(3) : std::nullopt)
            << gap;
        EXPECT_EQ(finder.Find(7, 0, 0), std::nullopt); // nothing before the file's start
    }
}

// Queries in any order, answered from what was remembered or by reading, give the last set
// made with the type and id before each place.
TEST(TParameterSetFinder, RememberedAnswersAgreeWithReading) {
    std::mt19937 random(5);
    std::vector<std::uint8_t> file;
    std::vector<std::int64_t> places;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> made; // each place's type and id
    const auto filler = std::vector<std::uint8_t>(3000, 0x5A);
    for (int i = 0; i < 400; ++i) {
        const auto id = static_cast<std::uint32_t>(random() % 3);
        const auto kind = static_cast<std::uint32_t>(random() % 4);
        places.push_back(static_cast<std::int64_t>(file.size()));
        const auto unit = kind == 0 ? SpsUnit(100, id, static_cast<std::uint32_t>(random() % 4))
                                    : PpsUnit(id, static_cast<std::uint32_t>(random() % 3));
        made.emplace_back(kind == 0 ? 7u : 8u, id);
        file.insert(file.end(), unit.begin(), unit.end());
        if (kind == 3) {
            file.insert(file.end(), filler.begin(), filler.end());
        }
    }
    TempDir dir;
    FileStream stream;
    ASSERT_TRUE(stream.Open(dir.Write("s.264", file)));
    TParameterSetFinder finder(stream);
    std::vector<std::int64_t> order = places;
    order.insert(order.end(), places.begin(), places.end()); // walked down, then at random
    std::shuffle(order.begin() + static_cast<std::ptrdiff_t>(places.size()), order.end(), random);
    for (const std::int64_t before : order) {
        for (std::uint32_t type : {7u, 8u}) {
            for (std::uint32_t id = 0; id < 3; ++id) {
                std::int64_t index = -1;
                for (std::size_t k = 0; k < places.size() && places[k] < before; ++k) {
                    if (made[k] == std::make_pair(type, id)) {
                        index = places[k];
                    }
                }
                const bool expected = index >= 0;
                const std::optional<std::int64_t> found = finder.Find(type, id, before);
                ASSERT_EQ(found.has_value(), expected) << before << " " << type << " " << id;
                if (expected) {
                    ASSERT_EQ(*found, index) << before << " " << type << " " << id;
                }
            }
        }
    }
}

} // namespace
