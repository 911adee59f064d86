// The picture of a selected unit: the time from selecting the last picture of a run from
// an IDR picture to its picture being there, cold and when stepping forward, and the peak
// memory. The decoding is the window's (TAccessUnitDecoder, libavcodec with its own choice
// of threads), without the window. bench/picture.sh runs it beside ffmpeg.
// Usage: quillet_picture_bench FILE [REPEATS [THREADS]]   (THREADS 0: the decoder's choice)
//   prints: pictures in the first run, cold ms (median), step ms (median and longest of the
//   steps through the middle of the run), peak RSS KiB.

#include "decode/AccessUnitDecoder.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

long PeakKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double Ms(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - since)
        .count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: quillet_picture_bench FILE [REPEATS [THREADS]]\n");
        return 2;
    }
    const std::string path = argv[1];
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 3;
    const int threads = argc > 3 ? std::atoi(argv[3]) : 0;
    // The slices of the first run: every slice unit before the second IDR picture.
    FileStream stream;
    if (!stream.Open(path)) {
        std::fprintf(stderr, "%s\n", stream.OpenError().c_str());
        return 1;
    }
    std::vector<std::int64_t> slices;
    {
        TUnitCursor reader(stream);
        TNalUnitSpan span;
        int idr = 0;
        std::uint32_t previous = 0;
        while (reader.Next(span)) {
            const std::uint32_t type = span.HasHeader ? NalUnitType(span.Header) : 0;
            // A new IDR picture: an IDR slice after a slice of another type.
            idr += type == 5 && (slices.empty() || previous != 5) ? 1 : 0;
            if (type == 1 || type == 5) {
                previous = type;
            }
            if (idr >= 2) {
                break;
            }
            if (type == 1 || type == 5) {
                slices.push_back(span.Offset);
            }
        }
    }
    if (slices.size() < 40) {
        std::fprintf(stderr, "the first run is too short\n");
        return 1;
    }
    const std::int64_t size = stream.Size();
    const std::int64_t last = slices.back();
    std::int32_t pictures = 0;
    std::vector<double> cold;
    for (int i = 0; i < repeats; ++i) {
        auto decoder = CreatePictureDecoder(threads);
        TAccessUnitDecoder units(stream, size, *decoder);
        const auto begin = std::chrono::steady_clock::now();
        const TPictureAnswer answer = units.Decode(last);
        cold.push_back(Ms(begin));
        if (answer.Outcome != TPictureOutcome::Done) {
            std::fprintf(stderr, "%s\n", answer.Message.c_str());
            return 1;
        }
        pictures = answer.Decoded.Facts.Pictures;
    }
    // Steps through the middle of the run, one decoder, after a cold start there.
    std::vector<double> steps;
    {
        auto decoder = CreatePictureDecoder(threads);
        TAccessUnitDecoder units(stream, size, *decoder);
        const std::size_t from = slices.size() / 2;
        units.Decode(slices[from]);
        for (std::size_t i = from + 1; i < from + 30 && i < slices.size(); ++i) {
            const auto begin = std::chrono::steady_clock::now();
            units.Decode(slices[i]);
            steps.push_back(Ms(begin));
        }
    }
    double total = 0;
    for (const double step : steps) {
        total += step;
    }
    std::printf("pictures %d cold_ms %.1f step_ms %.2f step_max_ms %.2f peak_kib %ld "
                "step_mean_ms %.2f\n",
                pictures, Median(cold), Median(steps),
                *std::max_element(steps.begin(), steps.end()), PeakKiB(),
                total / static_cast<double>(steps.size()));
    return 0;
}
