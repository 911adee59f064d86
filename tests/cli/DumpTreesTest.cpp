#include "cli/DumpTestSupport.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::size_t Indent(const std::string& line) {
    return line.find_first_not_of(' ');
}

// An AUD, a PPS-like unit with no payload, and an end of stream, with both start code
// lengths, then a slice.
const char* kSmallStream = "00 00 00 01 09 50"      // 0x00
                           " 00 00 01 68"           // 0x06
                           " 00 00 01 0B"           // 0x0A
                           " 00 00 00 01 65 88 84"; // 0x0E

const std::string kAudTree = "NAL\n"
                             "  forbidden_zero_bit                   : 0 (1 bit)\n"
                             "  nal_ref_idc                          : 0 (2 bits)\n"
                             "  nal_unit_type                        : 9 (5 bits)\n"
                             "  access_unit_delimiter_rbsp( )\n"
                             "    primary_pic_type                     : 2 (3 bits)\n";

TEST(DumpTrees, RejectedFilesAndOffsets) {
    TempDir dir;
    const auto stream = dir.Write("s.264", Hex(kSmallStream));
    const auto cut = dir.Write("cut.264", Hex(std::string(kSmallStream) + " 00 00 01"));
    const auto missing = (dir.Path() / "missing.264").string();
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string err; // prefix
    };
    const Case cases[] = {
        {{"--at", "0", missing}, 1, "Cannot open "},
        {{"--trees", missing}, 1, "Cannot open "},
        // Not at a start code, at and past the end.
        {{"--at", "4", stream}, 2, "No NAL unit begins at offset 4\n"},
        {{"--at", "5", stream}, 2, "No NAL unit begins at offset 5\n"},
        {{"--at", "24", cut}, 2, "No NAL unit begins at offset 24\n"},
        {{"--at", "21", stream}, 2, "No NAL unit begins at offset 21\n"},
        {{"--at", "22", stream}, 2, "No NAL unit begins at offset 22\n"},
        {{"--at", "0x7FFFFFFFFFFFFFFF", stream}, 2, "No NAL unit begins at offset "},
    };
    for (const auto& c : cases) {
        const auto r = Dump(c.args);
        EXPECT_EQ(r.status, c.status) << c.args[1];
        EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
        EXPECT_TRUE(r.out.empty());
    }
}

TEST(DumpTrees, AtPrintsOneUnitsTree) {
    TempDir dir;
    const auto path = dir.Write("s.264", Hex(kSmallStream));
    struct Case {
        const char* offset;
        std::string out;
    };
    const Case cases[] = {
        {"0", kAudTree},
        {"0x0", kAudTree},
        {"0X00", kAudTree},
        // A parameter set with an empty payload: its header lines, and that it ends there.
        {"6", "NAL\n"
              "  forbidden_zero_bit                   : 0 (1 bit)\n"
              "  nal_ref_idc                          : 3 (2 bits)\n"
              "  nal_unit_type                        : 8 (5 bits)\n"
              "  NAL unit ends early: data ends after 0 bits\n"},
        {"0xa", "NAL\n"
                "  forbidden_zero_bit                   : 0 (1 bit)\n"
                "  nal_ref_idc                          : 0 (2 bits)\n"
                "  nal_unit_type                        : 11 (5 bits)\n"
                "  end_of_stream_rbsp( )\n"},
        {"14", "NAL\n"
               "  forbidden_zero_bit                   : 0 (1 bit)\n"
               "  nal_ref_idc                          : 3 (2 bits)\n"
               "  nal_unit_type                        : 5 (5 bits)\n"
               "  slice_layer_without_partitioning_rbsp( )\n"},
    };
    for (const auto& c : cases) {
        const auto r = Dump({"--at", c.offset, path});
        EXPECT_EQ(r.status, 0) << c.offset << r.err;
        EXPECT_EQ(r.out, c.out) << c.offset;
        EXPECT_EQ(r.err, std::string(c.offset) == "6" ? "NAL unit at offset 0x0000000000000006"
                                                        " ends early: data ends after 0 bits\n"
                                                      : "")
            << c.offset;
    }
}

TEST(DumpTrees, TreesFollowEachListingLine) {
    TempDir dir;
    const auto path = dir.Write("s.264", Hex(kSmallStream));
    const auto r = Dump({"--trees", path});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string aud;
    for (const auto& line : SplitLines(kAudTree)) {
        aud += "  " + line + "\n";
    }
    EXPECT_EQ(r.out, "0x0000000000000000\t6\t0x0000000109\tAccess UD\n" + aud +
                         "0x0000000000000006\t4\t0x00000168\tPicture parameter set\n"
                         "  NAL\n"
                         "    forbidden_zero_bit                   : 0 (1 bit)\n"
                         "    nal_ref_idc                          : 3 (2 bits)\n"
                         "    nal_unit_type                        : 8 (5 bits)\n"
                         "    NAL unit ends early: data ends after 0 bits\n"
                         "0x000000000000000A\t4\t0x0000010B\tEnd of stream\n"
                         "  NAL\n"
                         "    forbidden_zero_bit                   : 0 (1 bit)\n"
                         "    nal_ref_idc                          : 0 (2 bits)\n"
                         "    nal_unit_type                        : 11 (5 bits)\n"
                         "    end_of_stream_rbsp( )\n"
                         "0x000000000000000E\t7\t0x0000000165\tCoded slice of an IDR picture\n"
                         "  NAL\n"
                         "    forbidden_zero_bit                   : 0 (1 bit)\n"
                         "    nal_ref_idc                          : 3 (2 bits)\n"
                         "    nal_unit_type                        : 5 (5 bits)\n"
                         "    slice_layer_without_partitioning_rbsp( )\n");
}

TEST(DumpTrees, NestedLinesArePrintedWhateverTheirState) {
    // NAL and VCL HRD: the collapsed VUI and HRD lines still print all their children.
    const auto r = Dump({"--at", "0", TestDataPath("hrd_nal_vcl.264")});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto lines = SplitLines(r.out);
    std::vector<std::string> structures;
    for (const auto& line : lines) {
        if (line.find(" : ") == std::string::npos) {
            structures.push_back(line);
        }
    }
    EXPECT_EQ(structures, (std::vector<std::string>{
                              "NAL", "  seq_parameter_set_rbsp( )", "    vui_parameters ( )",
                              "      hrd_parameters( )", "      hrd_parameters( )"}));
    // Each line is one level below a line indented two spaces less, above it.
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_LE(Indent(lines[i]), Indent(lines[i - 1]) + 2) << lines[i];
        EXPECT_EQ(Indent(lines[i]) % 2, 0u);
    }
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "        initial_cpb_removal_delay_length_minus1 : 19 (5 bits)"),
              lines.end())
        << r.out;
}

TEST(DumpTrees, PictureParameterSetFindsItsSequenceParameterSet) {
    // The 4:4:4 PPS at offset 29 has twelve scaling list flags, which only its SPS tells.
    const auto r = Dump({"--at", "29", TestDataPath("cqm_jvt_444.264")});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("    pic_scaling_list_present_flag[11]       : 0 (1 bit)\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("    second_chroma_qp_index_offset           : 4 (v bits)\n"),
              std::string::npos)
        << r.out;
}

TEST(DumpTrees, TreesKeepTheListingOfEveryTestStream) {
    for (const char* name :
         {"aud_sei", "mixed_start_codes", "hrd_cbr_filler", "sps_scaling_444", "poc_type1"}) {
        const std::string path = TestDataPath(std::string(name) + ".264");
        const auto listing = Dump({path});
        const auto trees = Dump({"--trees", path});
        ASSERT_EQ(trees.status, 0) << name << trees.err;
        std::string listed;
        std::size_t roots = 0;
        for (const auto& line : SplitLines(trees.out)) {
            if (line.empty() || line[0] != ' ') {
                listed += line + "\n";
            } else if (line == "  NAL") {
                ++roots;
            } else {
                EXPECT_GE(Indent(line), 4u) << name << ": " << line;
            }
        }
        EXPECT_EQ(listed, listing.out) << name;
        EXPECT_EQ(roots, SplitLines(listing.out).size()) << name;
    }
}

} // namespace
