// quillet-dump's arguments as a command-line tool takes them: help and version on standard
// output with status 0, and every refusal saying what was wrong before the usage.

#include "cli/DumpTestSupport.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

const std::string kUsage =
    "usage: quillet-dump [--debug] [--at OFFSET | --trees] [--full] [--bits] FILE\n"
    "       quillet-dump [--debug] --json FILE\n"
    "       quillet-dump [--debug] [--info] [--find KIND] FILE\n"
    "       quillet-dump [--debug] --summary FILE\n"
    "       quillet-dump [--debug] --pictures [--json | --display-order] FILE\n"
    "       quillet-dump [--debug] --picture OFFSET OUT.y4m FILE\n"
    "       quillet-dump [--debug] --picture OFFSET OUT.png [--overlay ITEMS] FILE\n"
    "       quillet-dump [--debug] --macroblocks OFFSET FILE\n"
    "       quillet-dump [--debug] --hrd [--json] [--what-if RATE,SIZE[,DELAY[,FPS]]] FILE\n"
    "       quillet-dump [--debug] --levels FILE\n"
    "       quillet-dump [--debug] --check [--json] FILE\n"
    "       quillet-dump --help | --version\n";

// An AUD and a slice.
const char* kStream = "00 00 00 01 09 50 00 00 00 01 65 88 84";

TEST(DumpArguments, RefusalsSayWhatWasWrongBeforeTheUsage) {
    TempDir dir;
    const auto path = dir.Write("s.264", Hex(kStream));
    struct Case {
        std::vector<std::string> args;
        std::string wrong; // the line before the usage; $FILE is the stream's path
    };
    const Case cases[] = {
        {{}, "no FILE given"},
        {{"--trees"}, "no FILE given"},
        {{"--at", "12"}, "no FILE given"},
        {{"a.264", "b.264"}, "one FILE at a time: b.264 is one too many"},
        {{"--at", "0", path, "extra"}, "one FILE at a time: extra is one too many"},
        {{""}, "FILE is empty"},
        {{"--bogus"}, "unknown option --bogus"},
        {{"--tree", path}, "unknown option --tree"},
        {{"--at", "0", "-x"}, "unknown option -x"},
        {{"--at"}, "--at needs OFFSET"},
        {{"--at", "-1", path}, "OFFSET -1 is not an offset"},
        {{"--at", path}, "OFFSET $FILE is not an offset"},
        {{"--at", "+4", path}, "OFFSET +4 is not an offset"},
        {{"--at", "x12", path}, "OFFSET x12 is not an offset"},
        {{"--at", "0x", path}, "OFFSET 0x is not an offset"},
        {{"--at", "0xG1", path}, "OFFSET 0xG1 is not an offset"},
        {{"--at", "12 ", path}, "OFFSET 12  is not an offset"},
        {{"--at", "99999999999999999999", path}, "OFFSET 99999999999999999999 is not an offset"},
        {{"--full", path}, "--full needs --at or --trees"},
        {{"--debug", "--bits", path}, "--bits needs --at or --trees"},
        {{"--trees", "--at", "0", path}, "--trees and --at cannot go together"},
        {{"--json", "--trees", path}, "--json and --trees cannot go together"},
        {{"--json", "--full", path}, "--json always holds what --full adds"},
        {{"--bits", "--json", path}, "--json always holds what --bits adds"},
        {{"--find", "x", path}, "KIND x is not a kind of unit"},
        {{"--find", "idr", "--summary", path}, "--find and --summary cannot go together"},
        {{"--summary", "--full", path}, "--full needs --at or --trees"},
        {{"--info", "--at", "0", path}, "--info goes with the listing or --find"},
        {{"--picture", "0", path}, "--picture needs OUT.y4m and FILE"},
        {{"--picture", "0", "a.y4m", path, "extra"}, "--picture needs OUT.y4m and FILE"},
        {{"--picture", "x", "a.y4m", path}, "OFFSET x is not an offset"},
        {{"--picture", "0", "--full", "a.y4m", path}, "--full needs --at or --trees"},
        {{"--picture", "0", "--at", "0", "a.y4m", path}, "--picture and --at cannot go together"},
        {{"--picture", "0", "a.y4m", "--overlay", "qp", path},
         "--overlay needs --picture with OUT.png"},
        {{"--macroblocks", "0", "--overlay", "qp", path}, "--overlay needs --picture with OUT.png"},
        {{"--picture", "0", "a.png", "--overlay", "qp,hue", path},
         "ITEMS qp,hue are not overlay items"},
        {{"--picture", "0", "a.png", "--overlay", "", path}, "--overlay needs at least one item"},
        {{"--macroblocks", "0", "--full", path}, "--full needs --at or --trees"},
        {{"--check", "--bits", path}, "--bits needs --at or --trees"},
        {{"--check", "--trees", path}, "--check and --trees cannot go together"},
    };
    for (const Case& c : cases) {
        const auto r = Dump(c.args);
        const std::string wrong = std::regex_replace(c.wrong, std::regex("\\$FILE"), path);
        EXPECT_EQ(r.status, 2) << wrong;
        EXPECT_EQ(r.err, wrong + "\n" + kUsage);
        EXPECT_TRUE(r.out.empty()) << wrong;
    }
}

TEST(DumpArguments, HelpAndVersionGoToStandardOutput) {
    TempDir dir;
    const auto path = dir.Write("s.264", Hex(kStream));
    const auto help = Dump({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind(kUsage + "\n", 0), 0u) << help.out;
    EXPECT_TRUE(help.err.empty());
    struct Case {
        std::vector<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"-h"}, help.out},
        {{"--trees", "--help", path}, help.out},
        {{"--version"}, "quillet-dump 2.0.7.63\n"},
        {{"--version", "a.264", "b.264"}, "quillet-dump 2.0.7.63\n"},
    };
    for (const Case& c : cases) {
        const auto r = Dump(c.args);
        EXPECT_EQ(r.status, 0) << c.args[0];
        EXPECT_EQ(r.out, c.out) << c.args[0];
        EXPECT_TRUE(r.err.empty()) << c.args[0];
    }
    // Each option the help names is one the command takes.
    const std::regex optionLine("^  (?:-[a-z], )?(--[a-z]+)( [A-Z]+)? ");
    int named = 0;
    for (const std::string& line : SplitLines(help.out)) {
        std::smatch m;
        if (!std::regex_search(line, m, optionLine) || m[1] == "--") {
            continue;
        }
        ++named;
        std::vector<std::string> args{m[1]};
        if (m[2].matched) {
            args.push_back("0");
        }
        const auto r = Dump(args);
        EXPECT_EQ(r.err.find("unknown option"), std::string::npos) << line;
    }
    EXPECT_GE(named, 8);
    // After "--" a FILE may begin with a dash.
    const auto r = Dump({"--", path});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SplitLines(r.out).size(), 2u);
}

TEST(DumpArguments, ARefusedFileIsNamedWithTheReason) {
    TempDir dir;
    struct Case {
        const char* name;
        std::vector<std::uint8_t> bytes;
        std::string reason;
    };
    const Case cases[] = {
        {"empty.264", {}, "the file is empty"},
        {"notes.txt", std::vector<std::uint8_t>(100, 'a'), "no start codes in the file"},
        {"one.264", Hex("00 00 00 01 09 50 AA"), "only one start code in the file"},
        {"bit.264", Hex("00 00 00 01 09 50 00 00 01 89 50"),
         "the NAL unit header at offset 0x0000000000000009 has its forbidden_zero_bit set"},
    };
    for (const Case& c : cases) {
        const auto path = dir.Write(c.name, c.bytes);
        for (const std::vector<std::string>& options :
             {std::vector<std::string>{}, {"--trees"}, {"--at", "0"}}) {
            std::vector<std::string> args = options;
            args.push_back(path);
            const auto r = Dump(args);
            EXPECT_EQ(r.status, 1) << c.name;
            EXPECT_EQ(r.err,
                      "Not valid H.264 video elementary stream\n" + path + "\n" + c.reason + "\n");
            EXPECT_TRUE(r.out.empty());
        }
    }
}

} // namespace
