// The sets a walk keeps answer what the finder answers at every unit: on every test stream,
// and on one whose later slices lie past the finder's bound from the sets they follow.

#include "cli/WalkAnswers.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <type_traits>

namespace {

template <class Set> bool Same(const Set* walked, const Set* found) {
    static_assert(std::has_unique_object_representations_v<Set>, "compared byte by byte");
    if (walked == nullptr || found == nullptr) {
        return walked == found;
    }
    return std::memcmp(walked, found, sizeof(Set)) == 0;
}

// Walks path asking, at each unit, for the sets with ids (none: any sequence set), and
// checks each answer against a finder of its own; the count of answers that were sets.
int ExpectFinderAnswers(const std::string& path, std::uint32_t ppsId,
                        std::optional<std::uint32_t> spsId) {
    FileStream walked, finderFile, oracleFile;
    EXPECT_TRUE(walked.Open(path) && finderFile.Open(path) && oracleFile.Open(path));
    TUnitCursor cursor(walked, 1 << 16);
    TParameterSetFinder finder(finderFile);
    TParameterSetFinder oracle(oracleFile);
    TWalkAnswers sets(finder);
    int found = 0;
    TNalUnitSpan span;
    while (cursor.Next(span)) {
        sets.At(span);
        TGoverningSets truth(oracle, span.Offset);
        const TPicParameterSet* pps = sets.Pps(ppsId);
        EXPECT_TRUE(Same(pps, truth.Pps(ppsId))) << path << " PPS at " << span.Offset;
        const TSeqParameterSet* sps = sets.Sps(spsId);
        EXPECT_TRUE(Same(sps, truth.Sps(spsId))) << path << " SPS at " << span.Offset;
        found += (pps != nullptr) + (sps != nullptr);
    }
    return found;
}

TEST(WalkAnswers, AnswerWhatTheFinderAnswers) {
    TempDir dir;
    std::vector<std::string> paths;
    std::vector<std::uint8_t> first;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataPath(""))) {
        if (entry.path().extension() == ".264") {
            paths.push_back(entry.path().string());
            if (first.empty()) {
                first = ReadAll(paths.back());
            }
        }
    }
    // A stream, a hole past the finder's bound, and the same stream again from its first
    // slice on: those slices have no sets within the bound.
    const std::string far = dir.Write("far.264", first);
    ResizeSparse(far, static_cast<std::int64_t>(first.size()) + kParameterSetSearchBound + 4096);
    std::size_t slice = 0;
    while (slice + 4 < first.size() &&
           !(first[slice] == 0 && first[slice + 1] == 0 && first[slice + 2] == 1 &&
             (NalUnitType(first[slice + 3]) == kNalIdrSlice ||
              NalUnitType(first[slice + 3]) == kNalNonIdrSlice))) {
        ++slice;
    }
    std::ofstream(far, std::ios::binary | std::ios::app)
        .write(reinterpret_cast<const char*>(first.data() + slice),
               static_cast<std::streamsize>(first.size() - slice));
    paths.push_back(far);
    for (const std::string& path : paths) {
        const int found = ExpectFinderAnswers(path, 0, 0) + ExpectFinderAnswers(path, 1, {});
        EXPECT_GT(found, 0) << path;
    }
}

} // namespace
