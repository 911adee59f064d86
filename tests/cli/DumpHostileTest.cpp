// quillet-dump under hostile conditions: a file that shrinks or grows while it is read, output
// that cannot be written, parameter sets cut short, start codes with no header byte of
// their own. Each run has a status, a message, and ends.

#include "cli/DumpTestSupport.h"
#include "decode/PictureDecoder.h"
#include "stream/FileStream.h"
#include "support/HangWatch.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <filesystem>
#include <fstream>
#include <optional>

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
