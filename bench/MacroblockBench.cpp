// What the macroblocks cost: the picture of a selected unit decoded cold with and without
// its macroblock map (the decoder's own choice of threads, and one thread for both), and the
// time to draw every overlay item over it at full size and fitted into a pane. The decoding
// is the window's (TAccessUnitDecoder), without the window.
// Usage: quillet_macroblock_bench FILE [PICTURE [REPEATS]]   PICTURE: the index of the
// slice unit to select, in file order (default 30)
//   prints one line of figures, medians in ms.

#include "decode/AccessUnitDecoder.h"
#include "decode/Overlay.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

double MedianMs(int repeats, const std::function<void()>& work) {
    std::vector<double> times;
    for (int i = 0; i < repeats; ++i) {
        const auto begin = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin)
                .count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: quillet_macroblock_bench FILE [PICTURE [REPEATS]]\n");
        return 2;
    }
    const std::size_t index = argc > 2 ? static_cast<std::size_t>(std::atoi(argv[2])) : 30;
    const int repeats = argc > 3 ? std::atoi(argv[3]) : 5;
    FileStream stream;
    if (!stream.Open(argv[1])) {
        std::fprintf(stderr, "%s\n", stream.OpenError().c_str());
        return 1;
    }
    std::vector<std::int64_t> slices;
    {
        TUnitCursor reader(stream);
        TNalUnitSpan span;
        while (reader.Next(span) && slices.size() <= index) {
            const std::uint32_t type = span.HasHeader ? NalUnitType(span.Header) : 0;
            if (type == 1 || type == 5) {
                slices.push_back(span.Offset);
            }
        }
    }
    if (slices.size() <= index) {
        std::fprintf(stderr, "the stream has fewer slice units\n");
        return 1;
    }
    TPicture picture;
    const auto decode = [&](int threads, bool macroblocks) {
        return MedianMs(repeats, [&] {
            auto decoder = CreatePictureDecoder(threads, macroblocks);
            TAccessUnitDecoder units(stream, stream.Size(), *decoder);
            TPictureAnswer answer = units.Decode(slices[index]);
            if (answer.Outcome != TPictureOutcome::Done) {
                std::fprintf(stderr, "%s\n", answer.Message.c_str());
                std::exit(1);
            }
            picture = std::move(answer.Decoded.Picture);
        });
    };
    const double plain = decode(0, false);
    const double withMap = decode(0, true);
    const double plainOne = decode(1, false);
    const double withMapOne = decode(1, true);
    if (!picture.Macroblocks) {
        std::fprintf(stderr, "no macroblocks\n");
        return 1;
    }
    const unsigned all =
        kOverlayQp | kOverlayIntra | kOverlayVectors | kOverlayGrid | kOverlaySlices;
    const auto draw = [&](int width, int height) {
        TRgbPixels base;
        PictureToRgb32(picture, width, height, base);
        return MedianMs(repeats, [&] {
            TRgbPixels rgb = base; // the pane draws over a copy of the picture
            DrawOverlay(*picture.Macroblocks, all, picture.Width, picture.Height, rgb);
        });
    };
    const double full = draw(0, 0);
    const double fitted = draw(960, 540);
    std::printf("%dx%d pictures_decoded_from_idr %zu decode_ms %.1f with_macroblocks_ms %.1f "
                "one_thread_ms %.1f one_thread_with_macroblocks_ms %.1f draw_full_ms %.2f "
                "draw_960x540_ms %.2f vectors %zu\n",
                picture.Width, picture.Height, index + 1, plain, withMap, plainOne, withMapOne,
                full, fitted, picture.Macroblocks->Vectors.size());
    return 0;
}
