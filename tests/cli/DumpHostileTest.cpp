// quillet-dump under hostile conditions: a file that shrinks or grows while it is read, output
// that cannot be written, parameter sets cut short, start codes with no header byte of
// their own. Each run has a status, a message, and ends.

#include "cli/DumpTestSupport.h"
#include "decode/DpbBound.h"
#include "decode/PictureDecoder.h"
#include "stream/FileStream.h"
#include "support/HangWatch.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>

namespace {

// Collects what is written; the first time anything arrives it cuts or extends the stream
// file to a given size, so that the file changes while quillet-dump walks it.
class TResizeOnFirstWrite : public std::stringbuf {
  public:
    TResizeOnFirstWrite(std::string path, std::optional<std::uintmax_t> size)
        : FPath(std::move(path)), FSize(size) {}

  protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        Resize();
        return std::stringbuf::xsputn(s, n);
    }
    int_type overflow(int_type c) override {
        Resize();
        return std::stringbuf::overflow(c);
    }

  private:
    void Resize() {
        if (FSize) {
            std::filesystem::resize_file(FPath, *FSize);
            FSize.reset();
        }
    }
    std::string FPath;
    std::optional<std::uintmax_t> FSize;
};

enum class TOutput { Captured, FullDevice, Closed };
enum class TMatch { Exact, Contains, Any };

struct HostileCase {
    const char* name;
    std::vector<std::uint8_t> file;
    std::vector<std::string> options; // the file's path follows them
    TOutput output;
    std::optional<std::uintmax_t> resizeAtFirstOutput;
    int status;
    std::string err; // exactly; $FILE stands for the file's path
    TMatch match;
    std::string out;
};

DumpResult RunCase(const HostileCase& c, const std::string& path) {
    std::vector<std::string> args = c.options;
    args.push_back(path);
    std::ostringstream err;
    const THangWatch watch(c.name);
    switch (c.output) {
    case TOutput::Captured: {
        TResizeOnFirstWrite buffer(path, c.resizeAtFirstOutput);
        std::ostream out(&buffer);
        const int status = RunDump(args, out, err);
        return {status, buffer.str(), err.str()};
    }
    case TOutput::FullDevice: {
        std::ofstream out("/dev/full", std::ios::binary);
        const int status = RunDump(args, out, err);
        return {status, "", err.str()};
    }
    case TOutput::Closed: {
        std::ostream out(nullptr);
        const int status = RunDump(args, out, err);
        return {status, "", err.str()};
    }
    }
    return {};
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> bytes;
    for (const auto& part : parts) {
        bytes.insert(bytes.end(), part.begin(), part.end());
    }
    return bytes;
}

TEST(DumpHostile, EveryConditionEndsWithItsStatusAndMessage) {
    const auto audAudSlice = Hex("00 00 00 01 09 10 00 00 01 09 10 00 00 01 41 88 84");
    // Longer than the 4 MiB the walk reads at once, so that it must read again.
    const auto beyondOneBlock =
        Join({Hex("00 00 00 01 09 10 00 00 01 41"), std::vector<std::uint8_t>(5 << 20, 0x11),
              Hex("00 00 01 41 11")});
    const auto baseline = ReadAll(TestDataPath("baseline_cavlc.264"));
    const std::vector<std::uint8_t> baselineSps(baseline.begin(), baseline.begin() + 26);
    const auto degenerate = Hex("00 00 01 09 10 00 00 01 00 00 01 68 CE 38 80 00 00 01");
    const auto highStream = ReadAll(TestDataPath("high_8x8.264"));
    const std::string readError = "Error reading $FILE: the file changed while it was read\n";
    const std::string audTree = "0x0000000000000000\t6\t0x0000000109\tAccess UD\n"
                                "  NAL\n"
                                "    forbidden_zero_bit                   : 0 (1 bit)\n"
                                "    nal_ref_idc                          : 0 (2 bits)\n"
                                "    nal_unit_type                        : 9 (5 bits)\n"
                                "    access_unit_delimiter_rbsp( )\n"
                                "      primary_pic_type                     : 0 (3 bits)\n";

    const HostileCase cases[] = {
        // The file shrinks while it is read.
        {"listing, file cut after the first line",
         beyondOneBlock,
         {},
         TOutput::Captured,
         100,
         1,
         readError,
         TMatch::Exact,
         "0x0000000000000000\t6\t0x0000000109\tAccess UD\n"},
        // The trees go out when the walk reads on, the first unit's with it.
        {"--trees, file cut after the first unit",
         beyondOneBlock,
         {"--trees"},
         TOutput::Captured,
         100,
         1,
         readError,
         TMatch::Exact,
         audTree},
        // The file grows while it is read: its last unit as listed would be wrong.
        {"listing, file grown after the first line",
         beyondOneBlock,
         {},
         TOutput::Captured,
         beyondOneBlock.size() + 100,
         1,
         readError,
         TMatch::Exact,
         "0x0000000000000000\t6\t0x0000000109\tAccess UD\n"},
        {"--trees, file grown after the first unit",
         beyondOneBlock,
         {"--trees"},
         TOutput::Captured,
         beyondOneBlock.size() + 100,
         1,
         readError,
         TMatch::Exact,
         audTree},
        {"--find, file grown after the first match",
         beyondOneBlock,
         {"--find", "9"},
         TOutput::Captured,
         beyondOneBlock.size() + 100,
         1,
         readError,
         TMatch::Exact,
         "0x0000000000000000\t6\t0x0000000109\tAccess UD\n"},
        // Output that cannot be written.
        {"a picture to a full device: one message",
         ReadAll(TestDataPath("main_cabac.264")),
         {"--picture", "0", "-"},
         TOutput::FullDevice,
         {},
         1,
         DecoderBuilt() ? "cannot write output: No space left on device\n"
                        : "quillet-dump was built without a decoder\n",
         TMatch::Exact,
         ""},
        {"listing to a full device",
         audAudSlice,
         {},
         TOutput::FullDevice,
         {},
         1,
         "cannot write output: No space left on device\n",
         TMatch::Any,
         ""},
        {"--at to a full device",
         audAudSlice,
         {"--at", "0"},
         TOutput::FullDevice,
         {},
         1,
         "cannot write output: No space left on device\n",
         TMatch::Any,
         ""},
        {"--trees to a closed output",
         audAudSlice,
         {"--trees"},
         TOutput::Closed,
         {},
         1,
         "cannot write output: the output stream failed\n",
         TMatch::Any,
         ""},
        // Parameter sets cut short: the tree stops, the listing is right, status 0.
        {"SPS of five payload bytes",
         Hex("00 00 00 01 67 64 00 1E AC D9 00 00 01 09 10"),
         {"--at", "0"},
         TOutput::Captured,
         {},
         0,
         "NAL unit at offset 0x0000000000000000 ends early: data ends after 40 bits\n",
         TMatch::Contains,
         "    pic_order_cnt_type                      : 0 (v bits)\n"
         "    log2_max_pic_order_cnt_lsb_minus4       : 2 (v bits)\n"
         "  NAL unit ends early: data ends after 40 bits\n"},
        {"PPS of one payload byte after a whole SPS",
         Join({baselineSps, Hex("00 00 00 01 68 CB 00 00 01 09 10")}),
         {"--trees"},
         TOutput::Captured,
         {},
         0,
         "NAL unit at offset 0x000000000000001A ends early: data ends after 8 bits\n",
         TMatch::Contains,
         "      num_ref_idx_l0_active_minus1            : 2 (v bits)\n"
         "    NAL unit ends early: data ends after 8 bits\n"
         "0x0000000000000020\t5\t0x00000109\tAccess UD\n"},
        // Start codes with no header byte of their own, and the tail of a four-byte one.
        {"listing of units with no header",
         degenerate,
         {},
         TOutput::Captured,
         {},
         0,
         "",
         TMatch::Exact,
         "0x0000000000000000\t5\t0x00000109\tAccess UD\n"
         "0x0000000000000005\t3\t0x00000100\t(no header)\n"
         "0x0000000000000008\t7\t0x00000168\tPicture parameter set\n"
         "0x000000000000000F\t3\t0x00000100\t(no header)\n"},
        {"--at a start code followed by another",
         degenerate,
         {"--at", "5"},
         TOutput::Captured,
         {},
         0,
         "",
         TMatch::Exact,
         "NAL\n  (no header)\n"},
        {"--at a start code that ends the file",
         degenerate,
         {"--at", "0xF"},
         TOutput::Captured,
         {},
         0,
         "",
         TMatch::Exact,
         "NAL\n  (no header)\n"},
        {"--at the second zero of 00 00 00 01",
         audAudSlice,
         {"--at", "1"},
         TOutput::Captured,
         {},
         2,
         "No NAL unit begins at offset 1\n",
         TMatch::Exact,
         ""},
        // Standard error carries failures; debugger lines only when asked for.
        {"--trees of a High profile SPS",
         highStream,
         {"--trees"},
         TOutput::Captured,
         {},
         0,
         "",
         TMatch::Any,
         ""},
        // The SPS is parsed for its tree, for its lines, and by the walk's set store.
        {"--debug --trees of a High profile SPS",
         highStream,
         {"--debug", "--trees"},
         TOutput::Captured,
         {},
         0,
         "kvo: WARNING - to check\nkvo: WARNING - to check\nkvo: WARNING - to check\n",
         TMatch::Any,
         ""},
    };
    for (const auto& c : cases) {
#ifndef __linux__
        if (c.output == TOutput::FullDevice) {
            continue; // no full device to write to
        }
#endif
        TempDir dir;
        const auto path = dir.Write("s.264", c.file);
        const auto r = RunCase(c, path);
        std::string err = c.err;
        if (const auto at = err.find("$FILE"); at != std::string::npos) {
            err.replace(at, 5, path);
        }
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(r.err, err) << c.name;
        switch (c.match) {
        case TMatch::Exact:
            EXPECT_EQ(r.out, c.out) << c.name;
            break;
        case TMatch::Contains:
            EXPECT_NE(r.out.find(c.out), std::string::npos) << c.name << "\n" << r.out;
            break;
        case TMatch::Any:
            break;
        }
    }
}

} // namespace

#ifndef _WIN32
// A pipe, as `quillet-dump <(command)` gives one, with no writer: refused at once.
TEST(DumpHostile, APipeIsRefusedWithoutWaiting) {
    TempDir dir;
    const std::string fifo = (dir.Path() / "fifo.264").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const THangWatch watch("pipe");
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{}, std::vector<std::string>{"--trees"}}) {
        std::vector<std::string> args = options;
        args.push_back(fifo);
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(RunDump(args, out, err), 1);
        EXPECT_EQ(err.str(), NotRegularFileText(fifo) + "\n");
        EXPECT_EQ(out.str(), "");
    }
}
#endif

namespace {

// The Adler-32 of a YUV4MPEG2 file's planes, as ffmpeg's showinfo filter sums them.
std::string PlanesChecksum(const std::vector<std::uint8_t>& file) {
    const std::string text(file.begin(), file.end());
    const std::size_t frame = text.find("\nFRAME\n");
    if (frame == std::string::npos) {
        return "no frame";
    }
    std::uint32_t a = 0;
    std::uint32_t b = 0;
    for (std::size_t i = frame + 7; i < file.size(); ++i) {
        a = (a + file[i]) % 65521;
        b = (b + a) % 65521;
    }
    char hex[9];
    std::snprintf(hex, sizeof hex, "%08X", (b << 16) | a);
    return hex;
}

// The hostile streams of the adversarial review (tests/data/hostile.tar.xz, unpacked into
// the build), each held to what its item asks: a picture that may differ says so on
// standard error with its reason, a legal picture decodes as ffmpeg decodes it, what no
// level allows is refused with the line that says so, one access unit the decoder refuses
// touches only what comes after it. Checksums are ffmpeg's (-threads 1 -flags2 +showall,
// showinfo) of the same file.
TEST(DumpHostile, HostileStreamsSayWhatTheirPicturesAre) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows decoder's answers are held in tests/win32";
#endif
    if (!DecoderBuilt()) {
        GTEST_SKIP() << "built without a decoder";
    }
    struct Case {
        const char* File;
        const char* Offset;
        int Status;
        std::string Err; // "" none; else it must hold this
        const char* Checksum = nullptr;
    } cases[] = {
        // recovery_frame_cnt 2^31: never recovers, whatever the start tried.
        {"rp_2e31_cut.264", "0x2554A", 0, "warning: the picture may differ"},
        // A field pair begun at an I field whose second field is P.
        {"paff_cut.264", "0x16", 0,
         "warning: the picture may differ from the stream's: decoding began at the I picture"},
        // A new size without an IDR picture: its P pictures refer to pictures of the old.
        {"res_change_no_idr_pcm.264", "0x25561", 0,
         "warning: the picture may differ from the stream's: the sequence changed from "
         "352x288, chroma 1, 8 bits to 176x144, chroma 1, 8 bits at 0x000000000002554C "
         "without an IDR picture\n"},
        // 1,055 macroblocks wide, legal at level 6.2.
        {"wide_1055x132.264", "0", 0, "", "522AE92C"},
        {"wide444_14bit_1055x132.264", "0", 0, "", "BB197496"},
        {"wide_1056x131.264", "0", 1,
         "The picture is 16896x2096, larger than any level allows (level 6.2: at most 139264 "
         "macroblocks, no side over the square root of 8 times that)\n"},
        // deblocking_filter_idc 5 in the access unit at 0x2554C: refused; the pictures
        // before it are whole, those after it name it.
        {"one_bad_header.264", "0x25541", 0, "", "984C45F2"},
        {"one_bad_header.264", "0x2554C", 1,
         "The decoder refused the access unit at 0x000000000002554C: Invalid data found when "
         "processing input\n"},
        {"one_bad_header.264", "0x2558E", 0,
         "the decoder refused the access unit at 0x000000000002554C", "984C45F2"},
        // More operations than a slice header can hold: the unit is left out, the rest go on.
        {"mmco_long_header.264", "0x1AB", 1,
         "The slice header at 0x00000000000001AB cannot be read: its access unit was left "
         "out\n"},
        {"mmco_long_header.264", "0x25D8", 0,
         "the slice header at 0x00000000000001AB cannot be read", "369A1167"},
        // num_ref_frames 16 at 8192x4320, where level 6.2 allows 5.
        {"dpb16_420_8bit_8192x4320.264", "0x19", 0,
         "warning: the picture may differ from the stream's: the stream declares 16 reference "
         "frames, more than level 6.2 allows at 8192x4320 (5): the decoder kept 5\n"},
        // An IDR picture whose only slice begins at the last macroblock, or past any: the
        // picture after it refers to what it never decoded.
        {"first_mb_at_end.264", "0x2A", 0,
         "warning: the picture may differ from the stream's: decoding began at the IDR at "
         "0x0000000000000015, and references were missing\n"},
        {"first_mb_huge.264", "0x28", 0,
         "warning: the picture may differ from the stream's: decoding began at the IDR at "
         "0x0000000000000015, and references were missing\n"},
        // A slice whose first macroblock lies beyond the picture, after a whole one.
        {"first_mb_beyond.264", "0x1BC", 0, "", "369A1167"},
        // One macroblock, the smallest picture there is.
        {"zero_height.264", "0x1D", 0, "", "6870C000"},
        // Sets never sent: refused with the set's number, nothing decoded.
        {"missing_pps.264", "0x1AA", 1,
         "pic_parameter_set_id 3 not found within 16 MiB before 0x0000000000000015, where "
         "decoding begins\n"},
        {"missing_sps.264", "0x15", 1,
         "seq_parameter_set_id 5 not found within 16 MiB before 0x0000000000000015, where "
         "decoding begins\n"},
        {"no_sps.264", "0x8", 1,
         "seq_parameter_set_id 0 not found within 16 MiB before 0x0000000000000008, where "
         "decoding begins\n"},
        // memory_management_control_operation 5 in every picture, and a storm of them.
        {"mmco5_every_picture.264", "0x333", 0, "", "369A1167"},
        {"mmco_storm.264", "0x1C6F", 1,
         "The decoder refused the access unit at 0x0000000000001C6F: Invalid data found when "
         "processing input\n"},
        // Recovery counts: 15 is reached, 65535 and 2^32 - 2 are not.
        {"recovery_15.264", "0x356", 0, "", "369A1167"},
        {"recovery_65535.264", "0x359", 0, "warning: the picture may differ"},
        {"recovery_2e32m2.264", "0x35E", 0, "warning: the picture may differ"},
        {"res_change_no_idr.264", "0x213", 0,
         "warning: the picture may differ from the stream's: the sequence changed from "
         "352x288, chroma 1, 8 bits to 176x144, chroma 1, 8 bits at 0x00000000000001D6 "
         "without an IDR picture\n"},
        // 1,000 slices, each sent twice.
        {"slices1000_dup.264", "0x271C", 0,
         "warning: the picture may differ from the stream's: the decoder concealed damaged "
         "macroblocks\n"},
        // Depths, samplings and odd sizes: as ffmpeg decodes them, or refused outright.
        {"fmt_420_9.264", "0", 0, "", "3A59C88B"},
        {"fmt_422_10_oddh.264", "0", 0, "", "1ACA6C98"},
        {"fmt_422_12.264", "0", 0, "", "C5749278"},
        {"fmt_444_14.264", "0", 0, "", "FD36E55F"},
        {"fmt_444_8_odd.264", "0", 0, "", "721DD7E4"},
        {"fmt_mono14.264", "0", 0, "", "79651592"},
        {"fmt_mono8_odd.264", "0", 0, "", "9C230C4E"},
        {"fmt_mono10_odd.264", "0", 1, "The decoder reported an error"},
    };
    TempDir dir;
    const std::string out = (dir.Path() / "out.y4m").string();
    for (const Case& c : cases) {
        const std::string where = std::string(c.File) + " at " + c.Offset;
        std::filesystem::remove(out);
        const DumpResult r =
            Dump({"--picture", c.Offset, out, std::string(QUILLET_HOSTILE_DIR) + "/" + c.File});
        EXPECT_EQ(r.status, c.Status) << where << ": " << r.err;
        if (c.Err.empty() || c.Err.back() == '\n') {
            EXPECT_EQ(r.err, c.Err) << where;
        } else {
            EXPECT_NE(r.err.find(c.Err), std::string::npos) << where << ": " << r.err;
        }
        if (c.Checksum != nullptr) {
            EXPECT_EQ(PlanesChecksum(ReadAll(out)), c.Checksum) << where;
        }
    }
}

// A set declaring more reference frames than level 6.2 allows for its size reaches the
// decoder with the bound in their place, and with what a missing VUI restriction means said
// outright (the buffer's frames at its level), every other element as it was: the two sets'
// trees, read by the parser, differ in those lines alone.
TEST(DumpHostile, ReferenceFramesAreCutToTheLevelsBound) {
    struct Case {
        const char* Sps; // from its header byte, as in the stream
        int Frames;      // level 6.2 at 8192x4320
    } cases[] = {
        // dpb16_444_14bit_8192x4320.264 and dpb16_420_8bit_8192x4320.264: no VUI
        {"67f4003e907385942200400010ec80", 5},
        {"6764003eac2ca11002000087640000", 5},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> sps = Hex(c.Sps);
        std::vector<std::uint8_t> bounded;
        ASSERT_TRUE(BoundSequenceSet(sps.data(), sps.size(), bounded)) << c.Sps;
        std::vector<std::uint8_t> again;
        EXPECT_FALSE(BoundSequenceSet(bounded.data(), bounded.size(), again)) << c.Sps;
        const auto tree = [&](const std::vector<std::uint8_t>& unit) {
            // Sized first: GCC 12 warns of the inserts into a vector of four falsely.
            std::vector<std::uint8_t> file(4 + unit.size() + 6);
            const std::uint8_t delimiter[] = {0, 0, 0, 1, 9, 0x10}; // two units at least
            file[3] = 1;
            std::copy(unit.begin(), unit.end(), file.begin() + 4);
            std::copy(std::begin(delimiter), std::end(delimiter),
                      file.begin() + 4 + static_cast<std::ptrdiff_t>(unit.size()));
            std::string text = Dump({"--at", "0", dir.Write("sps.264", file)}).out;
            // The values alone: a name's padding and a code's width are the tree's.
            return std::regex_replace(text, std::regex(" +: (\\d+) \\((v bits|\\d+ bits?)\\)"),
                                      "=$1");
        };
        const std::string f = std::to_string(c.Frames);
        std::string expected =
            std::regex_replace(tree(sps), std::regex("num_ref_frames=16"), "num_ref_frames=" + f);
        expected = std::regex_replace(
            expected, std::regex("vui_parameters_present_flag=0\n"),
            "vui_parameters_present_flag=1\n    vui_parameters ( )\n"
            "      aspect_ratio_info_present_flag=0\n      overscan_info_present_flag=0\n"
            "      video_signal_type_present_flag=0\n      chroma_loc_info_present_flag=0\n"
            "      timing_info_present_flag=0\n      nal_hrd_parameters_present_flag=0\n"
            "      vcl_hrd_parameters_present_flag=0\n      pic_struct_present_flag=0\n"
            "      bitstream_restriction_flag=1\n"
            "      motion_vectors_over_pic_boundaries_flag=1\n      max_bytes_per_pic_denom=2\n"
            "      max_bits_per_mb_denom=1\n      log2_max_mv_length_horizontal=15\n"
            "      log2_max_mv_length_vertical=15\n      num_reorder_frames=" +
                f + "\n      max_dec_frame_buffering=" + f + "\n");
        EXPECT_EQ(tree(bounded), expected) << c.Sps;
    }
}

// The PNG path with an overlay says what the plain path says; write errors name the file
// and the reason; ".PNG" is a PNG with or without an overlay.
TEST(DumpHostile, PicturePathsShareTheirWarningsAndTheirWriteErrors) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows decoder's answers are held in tests/win32";
#endif
    if (!DecoderBuilt()) {
        GTEST_SKIP() << "built without a decoder";
    }
    const std::vector<std::uint8_t> bytes = ReadAll(TestDataPath("intra_refresh.264"));
    TempDir dir;
    // From the second refresh's recovery point on, with no IDR picture before it.
    const std::string cut =
        dir.Write("cut.264", std::vector<std::uint8_t>(bytes.begin() + 0x15EA, bytes.end()));
    const std::string stream = TestDataPath("main_cabac.264");
    const std::string missing = (dir.Path() / "no" / "out.png").string();
    const std::string folder = dir.Path().string();
    struct Case {
        std::vector<std::string> Args;
        int Status;
        std::string Err; // exactly, or, ending without a newline, the start of the first line
    } cases[] = {
        {{"--picture", "0", (dir.Path() / "a.png").string(), cut},
         0,
         "warning: the picture may differ from the stream's: decoding began at the recovery "
         "point at 0x"},
        {{"--picture", "0", (dir.Path() / "b.png").string(), "--overlay", "grid", cut},
         0,
         "warning: the picture may differ from the stream's: decoding began at the recovery "
         "point at 0x"},
        {{"--picture", "0", missing, "--overlay", "grid", stream},
         1,
         "cannot write output: " + missing + ": No such file or directory\n"},
        {{"--picture", "0", missing, stream},
         1,
         "cannot write output: " + missing + ": No such file or directory\n"},
        {{"--picture", "0", folder, stream},
         1,
         "cannot write output: " + folder + ": Is a directory\n"},
        {{"--picture", "0", (dir.Path() / "c.PNG").string(), "--overlay", "qp", stream}, 0, ""},
        {{"--picture", "0", (dir.Path() / "d.Png").string(), stream}, 0, ""},
    };
    for (const Case& c : cases) {
        const DumpResult r = Dump(c.Args);
        const std::string where = c.Args[2] + (c.Args.size() > 4 ? " " + c.Args[4] : "");
        EXPECT_EQ(r.status, c.Status) << where << ": " << r.err;
        if (c.Err.empty() || c.Err.back() == '\n') {
            EXPECT_EQ(r.err, c.Err) << where;
        } else {
            EXPECT_EQ(r.err.rfind(c.Err, 0), 0u) << where << ": " << r.err;
        }
        if (c.Status == 0) {
            const std::vector<std::uint8_t> file = ReadAll(c.Args[2]);
            ASSERT_GE(file.size(), 8u) << where;
            EXPECT_EQ(std::string(file.begin() + 1, file.begin() + 4), "PNG") << where;
        }
    }
}

} // namespace
