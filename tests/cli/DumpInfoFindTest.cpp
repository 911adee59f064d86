// quillet-dump --info and --find KIND: the listing's lines, with the summary as a fifth
// field, and only the units of a kind.

#include "cli/DumpTestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t from = 0;
    for (std::size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1) {
        fields.push_back(line.substr(from, tab - from));
    }
    fields.push_back(line.substr(from));
    return fields;
}

std::vector<std::string> Streams() {
    std::vector<std::string> paths;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataPath(""))) {
        if (entry.path().extension() == ".264") {
            paths.push_back(entry.path().string());
        }
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

TEST(DumpInfo, TheListingWithTheSummaryAsAFifthField) {
    for (const std::string& path : Streams()) {
        const auto plain = Dump({path});
        const auto info = Dump({"--info", path});
        ASSERT_EQ(info.status, 0) << info.err;
        EXPECT_EQ(info.err, "");
        const auto plainLines = SplitLines(plain.out);
        const auto infoLines = SplitLines(info.out);
        ASSERT_EQ(infoLines.size(), plainLines.size()) << path;
        for (std::size_t i = 0; i < infoLines.size(); ++i) {
            const std::size_t tab = infoLines[i].rfind('\t');
            EXPECT_EQ(infoLines[i].substr(0, tab), plainLines[i]) << path;
            EXPECT_EQ(Fields(infoLines[i]).size(), 5u) << infoLines[i];
        }
    }
    const auto lines = SplitLines(Dump({"--info", TestDataPath("aud_sei.264")}).out);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(Fields(lines[0])[4], "primary_pic_type 0 (I)");
    EXPECT_EQ(Fields(lines[1])[4], "High  1.1  176x144");
    EXPECT_EQ(Fields(lines[2])[4], "PPS 0  SPS 0  CABAC");
}

TEST(DumpFind, TheListingLinesOfTheUnitsOfAKind) {
    for (const std::string& path : Streams()) {
        const auto listing = SplitLines(Dump({path}).out);
        const auto info = SplitLines(Dump({"--info", path}).out);
        struct Kind {
            const char* Argument;
            bool (*Takes)(const std::vector<std::string>& fields);
        } const kinds[] = {
            {"sps", [](const auto& f) { return f[3] == "Sequence parameter set"; }},
            {"6", [](const auto& f) { return f[3] == "SEI"; }},
            {"sei:5",
             [](const auto& f) {
                 return f[4].find("user_data_unregistered") != std::string::npos;
             }},
        };
        for (const Kind& kind : kinds) {
            std::vector<std::string> expected;
            for (std::size_t i = 0; i < info.size(); ++i) {
                if (kind.Takes(Fields(info[i]))) {
                    expected.push_back(listing[i]);
                }
            }
            const auto found = Dump({"--find", kind.Argument, path});
            ASSERT_EQ(found.status, 0) << found.err;
            EXPECT_EQ(SplitLines(found.out), expected) << path << " " << kind.Argument;
        }
        // Every B picture's first slice is a B slice, and the summary comes along.
        for (const std::string& line : SplitLines(Dump({"--find", "b", "--info", path}).out)) {
            EXPECT_EQ(Fields(line)[4].substr(0, 3), "B  ") << line;
        }
    }
}

TEST(DumpFind, BadKindsAndModesThatHaveNoListing) {
    const std::string path = TestDataPath("aud_sei.264");
    for (const std::vector<std::string>& args :
         std::vector<std::vector<std::string>>{{"--find", "x", path},
                                               {"--find", "32", path},
                                               {"--find", path},
                                               {"--find", "idr", "--full", path},
                                               {"--info", "--at", "0", path},
                                               {"--info", "--json", path}}) {
        const auto r = Dump(args);
        EXPECT_EQ(r.status, 2) << args[0] << " " << args[1];
        EXPECT_TRUE(r.out.empty());
    }
}

} // namespace
