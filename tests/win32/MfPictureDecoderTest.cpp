// The pictures of the system's H.264 decoder against ffmpeg's decode of the same streams
// (make_references.sh): byte for byte for small 8-bit 4:2:0 and 4:0:0 streams, and at 35 dB
// PSNR or more for 1080p and the streams whose colours Wine's decoder converts; the
// samplings it cannot give as they are, and interlaced pictures, refused with the line
// that says so. Each stream is stepped through in file order with one decoder, and its
// last picture in file order is also decoded cold, the one that comes out only when the
// stream ends.

#include "../decode/PictureTestSupport.h"
#include "cli/DumpCommand.h"
#include "decode/AccessUnitDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

namespace {

enum class Expect { Exact, Close, Refused };

struct Case {
    const char* Name;
    Expect How;
    const char* Refusal = ""; // a part of the line that refuses it
    // Only the last pictures in file order, when the first are not the stream's own (a cut).
    std::size_t Last = 0;
};

constexpr const char* kSampling = "gives 8-bit 4:2:0 pictures only: the stream's ";
const Case kCases[] = {
    {"main_cabac", Expect::Exact},
    {"baseline_cavlc", Expect::Exact},
    {"high_8x8", Expect::Exact},
    {"cqm_jvt", Expect::Exact},
    {"crop_170x100", Expect::Exact},
    {"crop_66x50", Expect::Exact},
    {"mono8_odd", Expect::Exact},
    {"slices4", Expect::Exact},
    {"weighted_fade", Expect::Exact},
    {"mixed_start_codes", Expect::Exact},
    {"hrd_cbr_filler", Expect::Exact},
    {"irb_cut", Expect::Exact, "", 4},
    {"poc_type1", Expect::Exact},
    {"intra_refresh", Expect::Exact},
    {"sps_scaling", Expect::Exact},
    {"aud_sei", Expect::Exact},
    {"hd1080", Expect::Close},
    {"tagged709", Expect::Close},
    {"untagged720", Expect::Close},
    {"high10", Expect::Refused, "10-bit 4:2:0 pictures cannot be shown as they are"},
    {"high422", Expect::Refused, kSampling},
    {"lossless444", Expect::Refused, "8-bit 4:4:4 pictures cannot be shown as they are"},
    {"interlaced_mbaff", Expect::Refused, "it does not decode interlaced pictures (frames of"},
};

std::string Reference(const std::string& file) {
    return std::string(QUILLET_MF_REFERENCES) + "/" + file;
}

// The PSNR of the picture's three planes together against an 8-bit 4:2:0 frame; infinite
// when they are the same.
double Psnr(const TPicture& p, const std::uint8_t* frame) {
    double squares = 0;
    std::size_t count = 0;
    for (int plane = 0; plane < p.PlaneCount(); ++plane) {
        for (const std::uint8_t sample : p.Planes[static_cast<std::size_t>(plane)]) {
            const double d = static_cast<double>(sample) - frame[count++];
            squares += d * d;
        }
    }
    return squares == 0 ? std::numeric_limits<double>::infinity()
                        : 10 * std::log10(255.0 * 255.0 * static_cast<double>(count) / squares);
}

TEST(MfPictureDecoder, PicturesMatchFfmpegsDecode) {
    ASSERT_TRUE(DecoderBuilt());
    for (const Case& c : kCases) {
        std::string path = TestDataPath(std::string(c.Name) + ".264");
        for (const std::string& other : {std::string(QUILLET_WIN32_DATA) + "/" + c.Name + ".264",
                                         Reference(std::string(c.Name) + ".264")}) {
            if (!std::filesystem::exists(path)) {
                path = other;
            }
        }
        const std::vector<std::uint8_t> frames = ReadAll(Reference(std::string(c.Name) + ".yuv"));
        std::vector<std::int64_t> positions;
        std::ifstream in(Reference(std::string(c.Name) + ".pos"));
        for (std::int64_t pos = 0; in >> pos;) {
            positions.push_back(pos);
        }
        ASSERT_FALSE(positions.empty()) << c.Name;
        const std::size_t frameBytes = frames.size() / positions.size();
        const std::vector<std::int64_t> units = UnitOffsets(path);
        std::vector<std::size_t> fileOrder(positions.size());
        for (std::size_t i = 0; i < fileOrder.size(); ++i) {
            fileOrder[i] = i;
        }
        std::sort(fileOrder.begin(), fileOrder.end(),
                  [&](std::size_t a, std::size_t b) { return positions[a] < positions[b]; });
        const auto check = [&](TAccessUnitDecoder& decoder, std::size_t frame, const char* how) {
            const std::int64_t at = *std::lower_bound(units.begin(), units.end(), positions[frame]);
            const std::string where = std::string(c.Name) + " frame " + std::to_string(frame) +
                                      " at " + std::to_string(at) + " (" + how + ")";
            const TPictureAnswer answer = decoder.Decode(at);
            if (c.How == Expect::Refused) {
                EXPECT_EQ(answer.Outcome, TPictureOutcome::Failed) << where;
                EXPECT_NE(answer.Message.find(c.Refusal), std::string::npos)
                    << where << ": " << answer.Message;
                return;
            }
            ASSERT_EQ(answer.Outcome, TPictureOutcome::Done) << where << ": " << answer.Message;
            const TPicture& p = answer.Decoded.Picture;
            // ffmpeg's frames are 4:2:0 whatever the stream's; a monochrome picture has
            // its luma alone.
            const std::size_t lumaBytes = static_cast<std::size_t>(p.Width) * p.Height;
            const std::size_t chromaBytes =
                static_cast<std::size_t>((p.Width + 1) / 2) * ((p.Height + 1) / 2);
            ASSERT_EQ(lumaBytes + 2 * chromaBytes, frameBytes) << where;
            ASSERT_EQ(p.ChromaFormat, std::string(c.Name).find("mono") == 0 ? 0 : 1) << where;
            ASSERT_EQ(p.Planes[0].size() + (p.ChromaFormat == 0 ? 0 : 2 * p.Planes[1].size()),
                      lumaBytes + (p.ChromaFormat == 0 ? 0 : 2 * chromaBytes))
                << where << ": " << p.Width << "x" << p.Height;
            const double psnr = Psnr(p, frames.data() + frame * frameBytes);
            if (c.How == Expect::Exact) {
                EXPECT_TRUE(std::isinf(psnr)) << where << ": PSNR " << psnr;
            } else {
                EXPECT_GE(psnr, 35.0) << where;
            }
        };
        FileStream stream;
        ASSERT_TRUE(stream.Open(path)) << path;
        const std::unique_ptr<IPictureDecoder> stepping = CreatePictureDecoder();
        TAccessUnitDecoder steppingUnits(stream, stream.Size(), *stepping);
        const std::size_t skipped = c.Last > 0 ? fileOrder.size() - c.Last : 0;
        for (const std::size_t frame : std::vector(fileOrder.begin() + skipped, fileOrder.end())) {
            check(steppingUnits, frame, "stepping");
        }
        const std::unique_ptr<IPictureDecoder> cold = CreatePictureDecoder();
        TAccessUnitDecoder coldUnits(stream, stream.Size(), *cold);
        check(coldUnits, fileOrder.back(), "cold");
    }
}

// Either side of the 32-bit program's bound at the largest picture a level allows: with 1
// frame buffered the last picture comes out as ffmpeg decodes it, with 2 the picture is
// refused before the decoder is given anything.
TEST(MfPictureDecoder, TheLargestPicturesDecodeWithinTheAddressSpace) {
    for (const int frames : {1, 2}) {
        const std::string path = Reference("edge_buf" + std::to_string(frames) + ".edge");
        FileStream stream;
        ASSERT_TRUE(stream.Open(path));
        const std::vector<std::int64_t> units = UnitOffsets(path);
        const std::unique_ptr<IPictureDecoder> decoder = CreatePictureDecoder();
        TAccessUnitDecoder coldUnits(stream, stream.Size(), *decoder);
        const TPictureAnswer answer = coldUnits.Decode(units.back());
        if (frames == 2) {
            EXPECT_EQ(answer.Outcome, TPictureOutcome::Failed);
            EXPECT_NE(answer.Message.find("the 32-bit program cannot decode pictures of "
                                          "8192x4320 with a buffer of 2 frames"),
                      std::string::npos)
                << answer.Message;
            continue;
        }
        ASSERT_EQ(answer.Outcome, TPictureOutcome::Done) << answer.Message;
        const std::vector<std::uint8_t> last = ReadAll(Reference("edge_buf1.last.yuv"));
        ASSERT_EQ(last.size(), std::size_t{8192} * 4320 * 3 / 2);
        EXPECT_TRUE(std::isinf(Psnr(answer.Decoded.Picture, last.data())));
    }
}

// The overlays that need nothing of the decoder are drawn, with the PNG files a build
// without an encoding library writes; those that need the macroblocks' coding are refused
// with the line that says why. check_pngs.sh then holds the files to ffmpeg's reading.
TEST(MfPictureDecoder, OverlaysOfPlacesAloneAreDrawn) {
    const std::string path = TestDataPath("slices4.264");
    const std::string first = std::to_string(UnitOffsets(path)[3]); // the IDR picture's slice
    const auto run = [&](std::vector<std::string> args, std::string& message) {
        std::ostringstream out;
        std::ostringstream err;
        args.push_back(path);
        const int status = RunDump(args, out, err);
        message = err.str();
        return status;
    };
    std::string message;
    EXPECT_EQ(run({"--picture", first, Reference("slices4.plain.png")}, message), 0) << message;
    EXPECT_EQ(run({"--picture", first, Reference("slices4.grid.png"), "--overlay", "grid,slices"},
                  message),
              0)
        << message;
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--picture", first, Reference("x.png"), "--overlay", "grid,qp"},
          std::vector<std::string>{"--macroblocks", first}}) {
        EXPECT_EQ(run(args, message), 1);
        EXPECT_EQ(message, "this system's H.264 decoder tells no QP, vectors or macroblock types: "
                           "of the overlays only grid and slices can be drawn\n");
    }
}

// The colours the window shows against ffmpeg's conversion of the same picture, which
// interpolates chroma where this one repeats it.
TEST(MfPictureDecoder, ThePictureShownHasFfmpegsColours) {
    FileStream stream;
    ASSERT_TRUE(stream.Open(TestDataPath("main_cabac.264")));
    const std::unique_ptr<IPictureDecoder> decoder = CreatePictureDecoder();
    TAccessUnitDecoder units(stream, stream.Size(), *decoder);
    const TPictureAnswer answer = units.Decode(0);
    ASSERT_EQ(answer.Outcome, TPictureOutcome::Done) << answer.Message;
    TRgbPixels rgb;
    ASSERT_TRUE(PictureToRgb32(answer.Decoded.Picture, 0, 0, rgb));
    const std::vector<std::uint8_t> expected = ReadAll(Reference("main_cabac.bgra"));
    ASSERT_EQ(expected.size(), rgb.Pixels.size() * 4);
    double squares = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (i % 4 != 3) {
            const double d =
                static_cast<double>((rgb.Pixels[i / 4] >> (8 * (i % 4))) & 0xFF) - expected[i];
            squares += d * d;
        }
    }
    EXPECT_GE(10 * std::log10(255.0 * 255.0 * (expected.size() * 3 / 4) / squares), 40.0);
}

} // namespace
