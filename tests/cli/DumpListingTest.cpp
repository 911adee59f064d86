#include "cli/DumpTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string f; std::getline(in, f, '\t');) {
        fields.push_back(f);
    }
    return fields;
}

TEST(DumpListing, AMissingFileCannotBeOpened) {
    TempDir dir;
    const auto missing = Dump({(dir.Path() / "missing.264").string()});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err.rfind("Cannot open ", 0), 0u) << missing.err;
}

TEST(DumpListing, LinesHoldTheFourNalListTexts) {
    TempDir dir;
    const auto path = dir.Write("s.264", Hex("00 00 00 01 67 42 00 1E AB CD 00 00 01 68 CE 38"
                                             " 00 00 01 09 F0 00 00 00 00 01 65 88 84 21"));
    const auto r = Dump({path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "0x0000000000000000\t10\t0x0000000167\tSequence parameter set\n"
                     "0x000000000000000A\t6\t0x00000168\tPicture parameter set\n"
                     "0x0000000000000010\t6\t0x00000109\tAccess UD\n"
                     "0x0000000000000016\t8\t0x0000000165\tCoded slice of an IDR picture\n");
}

// Every test stream is listed exactly as an independent listing of its start codes says.
TEST(DumpListing, MatchesTheIndependentListingOfEveryTestStream) {
    int streams = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QUILLET_TEST_DATA_DIR)) {
        if (entry.path().extension() != ".264") {
            continue;
        }
        auto nalsPath = entry.path();
        nalsPath.replace_extension(".nals");
        if (!std::filesystem::exists(nalsPath)) {
            ADD_FAILURE() << "no independent listing for " << entry.path().filename();
            continue;
        }
        ++streams;
        const auto r = Dump({entry.path().string()});
        ASSERT_EQ(r.status, 0) << entry.path() << ": " << r.err;
        const auto got = SplitLines(r.out);
        std::ifstream in(nalsPath);
        std::vector<std::string> want;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line[0] != '#') {
                want.push_back(line);
            }
        }
        ASSERT_EQ(got.size(), want.size()) << entry.path().filename();
        for (std::size_t i = 0; i < got.size(); ++i) {
            const auto g = SplitTabs(got[i]);
            const auto w = SplitTabs(want[i]);
            ASSERT_EQ(g.size(), 4u);
            ASSERT_GE(w.size(), 4u);
            const auto where = entry.path().filename().string() + " unit " + std::to_string(i);
            EXPECT_EQ(std::stoll(g[0], nullptr, 16), std::stoll(w[0])) << where;
            EXPECT_EQ(g[1], w[1]) << where;
            EXPECT_EQ(g[2].size() == 12 ? "4" : "3", w[2]) << where;
            EXPECT_EQ(std::stoul(g[2].substr(g[2].size() - 2), nullptr, 16) & 31u, std::stoul(w[3]))
                << where;
        }
    }
    EXPECT_GE(streams, 7);
}

// ffmpeg's own parse of every test stream finds the same NAL units with the same headers.
TEST(DumpListing, AgreesWithFfmpegOnEveryNalUnitHeader) {
    int streams = 0;
    for (const auto& entry : std::filesystem::directory_iterator(QUILLET_TEST_DATA_DIR)) {
        if (entry.path().extension() != ".264") {
            continue;
        }
        auto refPath = entry.path();
        refPath.replace_extension(".ref");
        std::ifstream in(refPath);
        ASSERT_TRUE(in) << refPath;
        std::vector<std::pair<unsigned, unsigned>> want; // nal_unit_type, nal_ref_idc
        for (std::string line; std::getline(in, line);) {
            std::istringstream fields(line);
            std::string tag;
            unsigned index = 0, type = 0, refIdc = 0;
            if (fields >> tag && tag == "nal" && fields >> index >> type >> refIdc) {
                want.emplace_back(type, refIdc);
            }
        }
        const auto r = Dump({entry.path().string()});
        ASSERT_EQ(r.status, 0) << r.err;
        const auto got = SplitLines(r.out);
        ASSERT_EQ(got.size(), want.size()) << entry.path().filename();
        for (std::size_t i = 0; i < got.size(); ++i) {
            const auto code = SplitTabs(got[i])[2];
            const auto header = std::stoul(code.substr(code.size() - 2), nullptr, 16);
            EXPECT_EQ(std::make_pair(static_cast<unsigned>(header & 31u),
                                     static_cast<unsigned>((header >> 5) & 3u)),
                      want[i])
                << entry.path().filename() << " unit " << i;
        }
        ++streams;
    }
    EXPECT_GE(streams, 7);
}

} // namespace
