// quillet-dump --picture: the YUV4MPEG2 file of a picture in the stream's own sampling,
// its samples those of ffmpeg's decode, and the statuses when there is none to write.

#include "../decode/PictureTestSupport.h"
#include "DumpTestSupport.h"
#include "decode/PictureDecoder.h"

#include <gtest/gtest.h>

namespace {

TEST(DumpPicture, WritesOneFrameInTheStreamsOwnSampling) {
    if (!DecoderBuilt()) {
        GTEST_SKIP() << "built without a decoder";
    }
    struct Case {
        const char* Stream;
        const char* Colour;
    } cases[] = {{"main_cabac", "C420mpeg2 XCOLORRANGE=LIMITED"},
                 {"high422", "C422 XCOLORRANGE=LIMITED"},
                 {"lossless444", "C444 XCOLORRANGE=LIMITED"},
                 {"high10", "C420p10 XCOLORRANGE=LIMITED"},
                 {"interlaced_mbaff", "C420mpeg2 XCOLORRANGE=LIMITED"},
                 // video_full_range_flag 1, chroma_sample_loc_type 1 (centred)
                 {"vui_full", "C420jpeg XCOLORRANGE=FULL"}};
    TempDir dir;
    const std::string out = (dir.Path() / "out.y4m").string();
    for (const Case& c : cases) {
#ifdef _WIN32
        // The system's decoder gives 8-bit 4:2:0 frames, and Wine's none of MBAFF.
        if (std::string(c.Stream) != "main_cabac") {
            continue;
        }
#endif
        // The last picture in the file order, decoded from the IDR picture at 0.
        const std::vector<ExpectedPicture> expected =
            ReadPictures(std::string(c.Stream) + ".pictures");
        const ExpectedPicture& last = *std::max_element(
            expected.begin(), expected.end(),
            [](const ExpectedPicture& a, const ExpectedPicture& b) { return a.Pos < b.Pos; });
        const std::vector<std::int64_t> units =
            UnitOffsets(TestDataPath(std::string(c.Stream) + ".264"));
        const std::int64_t select = *std::lower_bound(units.begin(), units.end(), last.Pos);
        const DumpResult r = Dump({"--picture", std::to_string(select), out,
                                   TestDataPath(std::string(c.Stream) + ".264")});
        ASSERT_EQ(r.status, 0) << c.Stream << ": " << r.err;
        EXPECT_EQ(r.err, "");
        const std::vector<std::uint8_t> file = ReadAll(out);
        const std::string text(file.begin(), file.end());
        const std::size_t frame = text.find("\nFRAME\n");
        ASSERT_NE(frame, std::string::npos);
        const std::string header = text.substr(0, frame);
        const auto x = last.Size.find('x');
        EXPECT_EQ(header.rfind("YUV4MPEG2 W" + last.Size.substr(0, x) + " H" +
                                   last.Size.substr(x + 1) + " ",
                               0),
                  0u)
            << header;
        EXPECT_TRUE(header.ends_with(std::string(" ") + c.Colour)) << header;
        std::uint32_t a = 0;
        std::uint32_t b = 0;
        for (std::size_t i = frame + 7; i < file.size(); ++i) {
            a = (a + file[i]) % 65521;
            b = (b + a) % 65521;
        }
        EXPECT_EQ((b << 16) | a, last.Checksum) << c.Stream;
    }
}

TEST(DumpPicture, SaysWhyThereIsNoPicture) {
    const std::vector<std::uint8_t> bytes = ReadAll(TestDataPath("main_cabac.264"));
    TempDir dir;
    // From the first P picture on: no IDR picture before it.
    const std::string cut =
        dir.Write("cut.264", std::vector<std::uint8_t>(bytes.begin() + 0xD3F, bytes.end()));
    const std::string out = (dir.Path() / "out.y4m").string();
    struct Case {
        std::vector<std::string> Args;
        int Status;
        std::string Err;
    } cases[] = {
        {{"--picture", "0", out, cut},
         1,
         DecoderBuilt() ? "No IDR picture, recovery point or I picture within 64 MiB before this picture\n"
                        : "quillet-dump was built without a decoder\n"},
        {{"--picture", "1", out, cut}, 2, "No NAL unit begins at offset 1\n"},
    };
    for (const Case& c : cases) {
        const DumpResult r = Dump(c.Args);
        EXPECT_EQ(r.status, c.Status) << c.Args[1];
        EXPECT_EQ(r.err, c.Err) << c.Args[1];
        EXPECT_EQ(r.out, "");
    }
}

} // namespace
