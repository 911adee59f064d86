// Start-code scanning speed over a realistic buffer: the sample stream repeated to 32 MiB
// (slice data with emulation prevention, as encoders write it).

#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace {

const std::vector<std::uint8_t>& Buffer() {
    static const std::vector<std::uint8_t> buffer = [] {
        std::ifstream in(QUILLET_SAMPLE, std::ios::binary);
        std::vector<std::uint8_t> sample{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
        if (sample.empty()) {
            throw std::runtime_error("sample stream missing");
        }
        std::vector<std::uint8_t> all;
        while (all.size() < (32u << 20)) {
            all.insert(all.end(), sample.begin(), sample.end());
        }
        return all;
    }();
    return buffer;
}

void BM_GetNalUnitLength(benchmark::State& state) {
    const auto& b = Buffer();
    const auto n = static_cast<std::int32_t>(b.size());
    std::int64_t units = 0;
    for (auto _ : state) {
        auto pos = static_cast<std::int32_t>(FindStartCode(b.data(), n, 0, n - 4));
        std::int32_t len = 0;
        while (pos < n && GetNalUnitLength(b.data() + pos, n - pos, len)) {
            pos += len;
            ++units;
        }
        benchmark::DoNotOptimize(pos);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * n);
    state.counters["units"] = static_cast<double>(units) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_GetNalUnitLength)->Unit(benchmark::kMillisecond);

// The floor for any scan that looks at every byte: memchr for the 01 byte that ends each
// start code, over the same buffer, doing nothing with what it finds.
void BM_Memchr(benchmark::State& state) {
    const auto& b = Buffer();
    const std::uint8_t* const end = b.data() + b.size();
    std::int64_t ones = 0;
    for (auto _ : state) {
        for (const std::uint8_t* p = b.data(); p < end; ++p) {
            p = static_cast<const std::uint8_t*>(
                std::memchr(p, 1, static_cast<std::size_t>(end - p)));
            if (p == nullptr) {
                break;
            }
            ++ones;
        }
        benchmark::DoNotOptimize(ones);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(b.size()));
}
BENCHMARK(BM_Memchr)->Unit(benchmark::kMillisecond);

// The backward kernel over 4 MiB, as End and Page Up use it: the start codes counting down.
void BM_LastStartCodesIn(benchmark::State& state) {
    const auto& b = Buffer();
    const std::int64_t n = (std::int64_t{4} << 20) + 4;
    std::vector<std::int64_t> found(1 << 20);
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            LastStartCodesIn(b.data(), n, 0, n - 4, static_cast<std::int32_t>(found.size()),
                             found.data()));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * n);
}
BENCHMARK(BM_LastStartCodesIn)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
