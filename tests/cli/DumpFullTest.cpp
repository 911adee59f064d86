// --full: slice headers and SEI messages in the trees, their parameter sets looked for back
// through the file within 16 MiB.

#include "cli/DumpTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr std::int64_t kMiB = 1048576;

// The first SPS, PPS and IDR slice of a test stream (its units at 0, 0x1C and 0x295).
struct Units {
    std::vector<std::uint8_t> Sps, Pps, Slice;
};

Units IntraRefreshUnits() {
    const auto bytes = ReadAll(TestDataPath("intra_refresh.264"));
    const auto at = [&](std::size_t from, std::size_t to) {
        return std::vector<std::uint8_t>(bytes.begin() + static_cast<std::ptrdiff_t>(from),
                                         bytes.begin() + static_cast<std::ptrdiff_t>(to));
    };
    return {at(0, 0x1C), at(0x1C, 0x25), at(0x295, 0xC64)};
}

// A filler data unit of about size bytes: a gap no start code interrupts.
std::vector<std::uint8_t> Filler(std::int64_t size) {
    std::vector<std::uint8_t> unit(static_cast<std::size_t>(size), 0xFF);
    unit[0] = 0;
    unit[1] = 0;
    unit[2] = 1;
    unit[3] = 0x0C;
    unit.back() = 0x80;
    return unit;
}

TEST(DumpFull, ParameterSetsAreLookedForSixteenMebibytesBack) {
    const Units u = IntraRefreshUnits();
    struct Case {
        const char* name;
        std::vector<std::vector<std::uint8_t>> parts; // the slice follows them
        std::string lastLine;
    };
    const Case cases[] = {
        {"both near", {u.Sps, u.Pps}, "      slice_beta_offset_div2                  : 0 (v bits)"},
        {"PPS 1 MiB back, SPS 15 MiB back",
         {u.Sps, Filler(14 * kMiB), u.Pps, Filler(kMiB)},
         "      slice_beta_offset_div2                  : 0 (v bits)"},
        {"PPS beyond the bound",
         {u.Sps, u.Pps, Filler(16 * kMiB)},
         "      pic_parameter_set_id 0 not found within 16 MiB before this unit"},
        {"SPS beyond the bound",
         {u.Sps, Filler(16 * kMiB), u.Pps},
         "      seq_parameter_set_id 0 not found within 16 MiB before this unit"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        std::vector<std::uint8_t> file;
        for (const auto& part : c.parts) {
            file.insert(file.end(), part.begin(), part.end());
        }
        const std::string offset = std::to_string(file.size());
        file.insert(file.end(), u.Slice.begin(), u.Slice.end());
        const auto path = dir.Write("s.264", file);
        const auto r = Dump({"--at", offset, "--full", path});
        ASSERT_EQ(r.status, 0) << c.name << r.err;
        auto lines = SplitLines(r.out);
        // The picture model's nodes follow the header.
        lines.erase(std::find_if(lines.begin(), lines.end(),
                                 [](const std::string& l) { return l.rfind("  Reference", 0) == 0; }),
                    lines.end());
        EXPECT_EQ(lines.back(), c.lastLine) << c.name;
        // The lines before the missing set are shown; nothing that depends on it is.
        if (c.lastLine.find("not found") != std::string::npos) {
            EXPECT_EQ(lines[lines.size() - 2],
                      "      pic_parameter_set_id                    : 0 (v bits)")
                << c.name;
        }
    }
}

TEST(DumpFull, OnlyWithTrees) {
    const std::string path = TestDataPath("aud_sei.264");
    EXPECT_EQ(Dump({"--full", path}).status, 2);
    const auto plain = Dump({"--trees", path});
    const auto full = Dump({"--trees", "--full", path});
    ASSERT_EQ(full.status, 0) << full.err;
    EXPECT_EQ(full.err, "");
    EXPECT_EQ(plain.out.find("slice_header( )"), std::string::npos);
    // The deeper tree holds every line of the plain one, in the same order, once the
    // meanings it adds after the widths are taken off.
    const auto plainLines = SplitLines(plain.out);
    auto fullLines = SplitLines(full.out);
    for (std::string& line : fullLines) {
        if (line.back() == ']') {
            line.erase(line.rfind(" ["));
        }
    }
    std::size_t at = 0;
    for (const auto& line : plainLines) {
        const auto found =
            std::find(fullLines.begin() + static_cast<std::ptrdiff_t>(at), fullLines.end(), line);
        ASSERT_NE(found, fullLines.end()) << line;
        at = static_cast<std::size_t>(found - fullLines.begin()) + 1;
    }
    EXPECT_NE(full.out.find("        recovery_point( )\n"
                            "          recovery_frame_cnt                      : 0 (v bits)\n"),
              std::string::npos);
}

} // namespace

namespace {

TEST(DumpFull, BitsGiveEachElementsFileByteAndBit) {
    const std::string path = TestDataPath("aud_sei.264");
    // The SPS at 6: its start code takes 4 bytes, so its header byte is 0xA. Its
    // num_units_in_tick runs over the 00 00 03 at 0x16, so time_scale begins one byte
    // later than the payload alone would put it.
    const auto r = Dump({"--at", "6", "--bits", path});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = SplitLines(r.out);
    for (const char* expected : {
             "  forbidden_zero_bit                   : 0 (1 bit) @0xA.0",
             "  nal_unit_type                        : 7 (5 bits) @0xA.3",
             "    profile_idc                             : 100 (8 bits) @0xB.0",
             "      num_units_in_tick                       : 1 (32 bits) @0x14.2",
             "      time_scale                              : 50 (32 bits) @0x19.2",
         }) {
        EXPECT_NE(std::find(lines.begin(), lines.end(), expected), lines.end()) << expected;
    }
    // Structure lines have no bits of their own.
    EXPECT_NE(std::find(lines.begin(), lines.end(), "  seq_parameter_set_rbsp( )"), lines.end());
    EXPECT_EQ(Dump({"--bits", path}).status, 2);

    // Every element line of the deeper trees has its place.
    const auto full = Dump({"--trees", "--full", "--bits", path});
    ASSERT_EQ(full.status, 0) << full.err;
    int elements = 0;
    for (const auto& line : SplitLines(full.out)) {
        if (line.find(" : ") != std::string::npos) {
            EXPECT_NE(line.find(" @0x"), std::string::npos) << line;
            ++elements;
        }
    }
    EXPECT_GT(elements, 400);
}

} // namespace
