// quillet-dump --hrd, --hrd --json, --what-if and --levels: the keys scripts rely on, the
// lists of access units against the oracle's answers, the exit status, standard input.

#include "cli/DumpTestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <regex>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

std::string Hrd(const std::string& name) {
    return TestDataPath("hrd/" + name);
}

// The indices the oracle marks with flag, as a JSON array's items.
std::string Flagged(const std::string& name, const std::string& flag) {
    std::ifstream in(Hrd(name + ".hrd"));
    std::string items;
    for (std::string line; std::getline(in, line);) {
        if (line.find("\t" + flag) != std::string::npos) {
            items += (items.empty() ? "" : ",") + line.substr(0, line.find('\t'));
        }
    }
    return items;
}

std::string Array(const std::string& json, const std::string& key) {
    std::smatch m;
    const std::regex re("\"" + key + "\":\\[([0-9,]*)\\]");
    return std::regex_search(json, m, re) ? m[1].str() : "missing";
}

} // namespace

TEST(HrdCommand, JsonHoldsTheKeysAndTheOraclesLists) {
    for (const char* name : {"cbr", "underflow_b", "cbr_half_size"}) {
        const DumpResult r = Dump({"--hrd", "--json", Hrd(std::string(name) + ".264")});
        const bool conforms = std::string(name) == "cbr";
        EXPECT_EQ(r.status, conforms ? 0 : 3) << name << r.err;
        EXPECT_EQ(r.out.rfind(conforms ? "{\"conforms\":true" : "{\"conforms\":false", 0), 0u);
        for (const char* key : {"\"hrd\":\"nal\"", "\"schedule\":0", "\"bit_rate\":", "\"cpb_size\":",
                                "\"cbr\":", "\"low_delay\":false", "\"bytes_counted\":\"every byte",
                                "\"max_fullness\":", "\"access_units\":[", "\"offset\":", "\"bits\":",
                                "\"initial_arrival\":", "\"final_arrival\":", "\"removal\":",
                                "\"fullness\":"}) {
            EXPECT_NE(r.out.find(key), std::string::npos) << name << " " << key;
        }
        EXPECT_EQ(Array(r.out, "underflows"), Flagged(name, "underflow")) << name;
        EXPECT_EQ(Array(r.out, "overflows"), Flagged(name, "overflow")) << name;
        // The same with the options the other way round.
        EXPECT_EQ(Dump({"--json", "--hrd", Hrd(std::string(name) + ".264")}).out, r.out);
    }
}

TEST(HrdCommand, TextWhatIfLevelsAndStatus) {
    const DumpResult text = Dump({"--hrd", Hrd("underflow_b.264")});
    EXPECT_EQ(text.status, 3);
    EXPECT_NE(text.out.find("# does not conform"), std::string::npos);
    EXPECT_NE(text.out.find("counts every byte of the access unit"), std::string::npos);
    const DumpResult none = Dump({"--hrd", Hrd("no_hrd.264")});
    EXPECT_EQ(none.status, 0);
    EXPECT_NE(none.out.find("--what-if"), std::string::npos);
    EXPECT_NE(none.out.find("# nothing checked"), std::string::npos);
    EXPECT_EQ(Dump({"--hrd", "--json", Hrd("no_hrd.264")}).out.rfind("{\"conforms\":null,", 0), 0u);
    const DumpResult whatIf = Dump({"--what-if", "100k,80k,0.5", Hrd("no_hrd.264")});
    EXPECT_EQ(whatIf.status, 0) << whatIf.out;
    EXPECT_NE(whatIf.out.find("what-if\t99\t"), std::string::npos);
    EXPECT_EQ(Dump({"--what-if", "100k", Hrd("no_hrd.264")}).status, 2);
    EXPECT_EQ(Dump({"--what-if", "0,80k", Hrd("no_hrd.264")}).status, 2);
    const DumpResult levels = Dump({"--levels", Hrd("cbr_level1.264")});
    EXPECT_EQ(levels.status, 3);
    EXPECT_NE(levels.out.find("set\t0x0\t1\tMaxBR\t"), std::string::npos) << levels.out;
    EXPECT_EQ(Dump({"--levels", Hrd("cbr.264")}).status, 0);
    const DumpResult help = Dump({"--help"});
    for (const char* word : {"--hrd", "--what-if", "--levels", "(--hrd,\n--what-if, --levels)"}) {
        EXPECT_NE(help.out.find(word), std::string::npos) << word;
    }
}

#ifndef _WIN32
// Standard input gives what the file gives.
TEST(HrdCommand, StandardInputAsTheFile) {
    const std::string path = Hrd("underflow_b.264");
    const int saved = dup(0);
    const int fd = open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    dup2(fd, 0);
    close(fd);
    const DumpResult piped = Dump({"--hrd", "--json", "-"});
    dup2(saved, 0);
    close(saved);
    EXPECT_EQ(piped.status, 3) << piped.err;
    EXPECT_EQ(piped.out, Dump({"--hrd", "--json", path}).out);
}
#endif
