// What showing a slice header costs in the middle of a 20 GB file whose parameter sets lie
// far back: the picture parameter set 1 MiB before the slice, the sequence parameter set
// 15 MiB before it, zeros between (a sparse file, so it takes no disk). Cold is the first
// selection in a freshly loaded window (nothing found yet); warm is the same selection
// again (the finder remembers both sets). Each figure is the median of repeated runs.
// Usage: quillet_slice_bench [DIR] [REPEATS]

#include "app/Unit1.h"
#include "support/FakeWindow.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kMiB = 1048576;
constexpr std::int64_t kFileSize = 20 * 1024 * kMiB;

std::vector<char> Bytes(const std::vector<char>& all, std::size_t from, std::size_t to) {
    return {all.begin() + static_cast<std::ptrdiff_t>(from),
            all.begin() + static_cast<std::ptrdiff_t>(to)};
}

void WriteAt(std::fstream& file, std::int64_t offset, const std::vector<char>& bytes) {
    file.seekp(offset);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double Milliseconds(std::chrono::steady_clock::time_point from) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - from)
        .count();
}

} // namespace

int main(int argc, char** argv) {
    const std::filesystem::path dir =
        argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
    const int repeats = argc > 2 ? std::max(1, std::atoi(argv[2])) : 9;
    const std::filesystem::path path = dir / "quillet-slice-bench.264";

    // The first SPS, PPS and IDR slice of a test stream (units at 0, 0x1C and 0x295).
    std::ifstream source(QUILLET_SLICE_SOURCE, std::ios::binary);
    const std::vector<char> all((std::istreambuf_iterator<char>(source)),
                                std::istreambuf_iterator<char>());
    if (all.size() < 0xC64) {
        std::fprintf(stderr, "cannot read %s\n", QUILLET_SLICE_SOURCE);
        return 1;
    }
    const std::int64_t slice = kFileSize / 2;
    {
        std::ofstream(path, std::ios::binary).close();
        std::filesystem::resize_file(path, static_cast<std::uintmax_t>(kFileSize));
        std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
        WriteAt(file, 0, Bytes(all, 0, 0x25)); // a stream's start, for the open check
        WriteAt(file, slice - 15 * kMiB, Bytes(all, 0, 0x1C));
        WriteAt(file, slice - kMiB, Bytes(all, 0x1C, 0x25));
        WriteAt(file, slice, Bytes(all, 0x295, 0xC64));
    }

    std::vector<double> cold;
    std::vector<double> warm;
    std::vector<double> plain;
    std::size_t lines = 0;
    for (int i = 0; i < repeats; ++i) {
        TFakeWindow w(40, 14);
        if (!w.form->LoadFile(path.string())) {
            std::fprintf(stderr, "not a stream: %s\n", path.string().c_str());
            return 1;
        }
        w.form->DecodeSliceHeaders = true;
        auto start = std::chrono::steady_clock::now();
        w.form->UpdatePack(slice);
        cold.push_back(Milliseconds(start));
        start = std::chrono::steady_clock::now();
        w.form->UpdatePack(slice);
        warm.push_back(Milliseconds(start));
        lines = 0;
        w.tree.Walk([&](const TSyntaxLine&, int) { ++lines; });
        // The same unit without the deeper decoding: what any unit costs to show.
        w.form->DecodeSliceHeaders = false;
        start = std::chrono::steady_clock::now();
        w.form->UpdatePack(slice);
        plain.push_back(Milliseconds(start));
    }
    std::filesystem::remove(path);
    std::printf("slice header at %lld of a %lld-byte file, PPS 1 MiB and SPS 15 MiB back\n",
                static_cast<long long>(slice), static_cast<long long>(kFileSize));
    std::printf("tree lines: %zu\n", lines);
    std::printf("cold (first selection): %.2f ms\n", Median(cold));
    std::printf("warm (sets remembered): %.2f ms\n", Median(warm));
    std::printf("without the deeper decoding: %.2f ms\n", Median(plain));
    return 0;
}
