// Any bytes as a file: the summary of every unit, cut at every length the walk gives it,
// the find walk forward and backward at a block size the input picks, and the whole-stream
// summary. None may crash or read outside what it was given; the find walk must find
// exactly the units the listing lists, with the listing's lengths, and the access units of
// the stream summary must lie within the file from its first unit on.

#include "FuzzSets.h"
#include "FuzzSupport.h"
#include "stream/FileStream.h"
#include "stream/UnitCursor.h"
#include "model/StreamSummary.h"
#include "syntax/UnitInfo.h"
#include "model/UnitSearch.h"

#include <algorithm>
#include <cstdint>
#include <tuple>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SilenceDebugOutput();
    static const TFuzzFile file("unit_info");
    if (size < 2 || size > 16384) {
        return 0;
    }
    // Exact-size copies, so that a read past the end is caught.
    const std::vector<std::uint8_t> bytes(data + 1, data + size);
    file.Write(bytes.data(), bytes.size());
    InputSets sets(data, static_cast<std::int32_t>(size));
    TUnitInfo info;

    FileStream walk;
    FileStream searched;
    if (!walk.Open(file.Path()) || !searched.Open(file.Path())) {
        return 0;
    }
    std::vector<std::tuple<std::int64_t, std::int64_t, int>> listed;
    TUnitCursor reader(walk, 64, false);
    TNalUnitSpan span;
    while (reader.Next(span)) {
        if (span.HasHeader) {
            listed.emplace_back(span.Offset, span.Length, span.Header);
        }
        const auto n =
            static_cast<std::int32_t>(std::min<std::int64_t>(span.Length, kInfoSeiReadSize));
        const std::vector<std::uint8_t> unit(bytes.begin() + span.Offset,
                                             bytes.begin() + span.Offset + n);
        info.Describe(unit.data(), n, (data[0] & 1) != 0, &sets);
        info.Describe(unit.data(), n / 2, true, &sets);
    }

    // Blocks small enough to cut units and start codes anywhere, few enough to run fast.
    const std::int32_t block = 7 + data[0] % 97 + static_cast<std::int32_t>(bytes.size() / 64);
    TUnitSearch search(searched, block, 32 + data[0]);
    std::vector<std::tuple<std::int64_t, std::int64_t, int>> found;
    std::uint32_t types = 0;
    for (const auto& unit : listed) {
        types |= 1u << (std::get<2>(unit) & 31);
    }
    for (std::uint32_t type = 0; type < 32; ++type) {
        if ((types & (1u << type)) == 0 && type != 31) {
            continue; // a type absent from the listing is looked for once, as 31 or among them
        }
        search.Forward({TFindKind::TWhat::NalUnitType, type}, 0, [&](const TNalUnitSpan& s) {
            found.emplace_back(s.Offset, s.Length, s.Header);
            return true;
        });
    }
    std::sort(found.begin(), found.end());
    FuzzCheck(found == listed, "the find walk lists what the listing lists");
    for (const char* kind : {"idr", "i", "p", "b", "sei:5", "sei"}) {
        const TFindKind parsed = *ParseFindKind(kind);
        const auto next = search.Next(parsed, data[0]);
        const auto previous =
            search.Previous(parsed, static_cast<std::int64_t>(bytes.size()) - 1 - data[0]);
        FuzzCheck(!next || *next >= data[0], "a forward find goes forward");
        FuzzCheck(!previous || *previous < static_cast<std::int64_t>(bytes.size()),
                  "within the file");
    }
    TStreamSummary summary;
    {
        FileStream summed;
        if (summed.Open(file.Path())) {
            WalkStreamSummary(summed, summary);
            std::int64_t covered = 0;
            std::int64_t pictures = 0;
            for (const TSummaryBucket& bucket : summary.Buckets) {
                covered += bucket.Bytes;
                pictures += bucket.Pictures;
            }
            FuzzCheck(pictures == summary.Pictures, "every picture in a bucket");
            // Zeros at the end of an access unit belong to none.
            FuzzCheck(covered <= summary.Size - std::max<std::int64_t>(summary.FirstStartCode, 0),
                      "the access units lie within the file from its first start code");
            // A range walked again (the plot's zoom): its access units begin within it, and
            // are no more than the whole walk's.
            const auto length = static_cast<std::int64_t>(bytes.size());
            const std::int64_t first = data[0] % (length + 1);
            const std::int64_t end = first + data[1] * length / 256;
            TStreamSummary range;
            TStreamSummaryWalk(summed, range, first, end).Run();
            std::int64_t within = 0;
            for (const TSummaryBucket& bucket : range.Buckets) {
                within += bucket.Pictures;
                FuzzCheck(bucket.Pictures == 0 ||
                              (bucket.FirstOffset >= first && bucket.LargestOffset < end),
                          "a range's access units begin within it");
            }
            FuzzCheck(within <= summary.Pictures, "a range holds no more pictures than the file");
        }
    }
    return 0;
}
