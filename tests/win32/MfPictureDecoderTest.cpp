// The pictures of the system's H.264 decoder against ffmpeg's decode of the same streams
// (make_references.sh): byte for byte for small 8-bit 4:2:0 streams, and at 35 dB PSNR or
// more for the other samplings, 1080p and the streams whose colours Wine's decoder
// converts. Each stream is stepped through in file order with one decoder, and its last
// picture in file order is also decoded cold, the one that comes out only when the stream
// ends.

#include "../decode/PictureTestSupport.h"
#include "decode/AccessUnitDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

struct Case {
    const char* Name;
    bool Exact;
};

const Case kCases[] = {
    {"main_cabac", true},    {"baseline_cavlc", true},    {"high_8x8", true},
    {"cqm_jvt", true},       {"crop_170x100", true},      {"slices4", true},
    {"weighted_fade", true}, {"mixed_start_codes", true}, {"hrd_cbr_filler", true},
    {"high10", false},       {"high422", false},          {"lossless444", false},
    {"hd1080", false},       {"tagged709", false},        {"untagged720", false},
};

std::string Reference(const std::string& file) {
    return std::string(QUILLET_MF_REFERENCES) + "/" + file;
}

// The PSNR of the picture's three planes together against an 8-bit 4:2:0 frame; infinite
// when they are the same.
double Psnr(const TPicture& p, const std::uint8_t* frame) {
    double squares = 0;
    std::size_t count = 0;
    for (int plane = 0; plane < 3; ++plane) {
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
        if (!std::filesystem::exists(path)) {
            path = Reference(std::string(c.Name) + ".264");
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
            ASSERT_EQ(answer.Outcome, TPictureOutcome::Done) << where << ": " << answer.Message;
            const TPicture& p = answer.Decoded.Picture;
            ASSERT_EQ(p.ChromaFormat, 1) << where;
            ASSERT_EQ(p.PlaneCount() == 3 ? p.Planes[0].size() + p.Planes[1].size() * 2 : 0,
                      frameBytes)
                << where << ": " << p.Width << "x" << p.Height;
            const double psnr = Psnr(p, frames.data() + frame * frameBytes);
            if (c.Exact) {
                EXPECT_TRUE(std::isinf(psnr)) << where << ": PSNR " << psnr;
            } else {
                EXPECT_GE(psnr, 35.0) << where;
            }
        };
        FileStream stream;
        ASSERT_TRUE(stream.Open(path)) << path;
        const std::unique_ptr<IPictureDecoder> stepping = CreatePictureDecoder();
        TAccessUnitDecoder steppingUnits(stream, stream.Size(), *stepping);
        for (const std::size_t frame : fileOrder) {
            check(steppingUnits, frame, "stepping");
        }
        const std::unique_ptr<IPictureDecoder> cold = CreatePictureDecoder();
        TAccessUnitDecoder coldUnits(stream, stream.Size(), *cold);
        check(coldUnits, fileOrder.back(), "cold");
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
