// Any bytes as a file, walked by the unit cursor from an offset and with a block size the
// input picks, once as they are and once with holes of a sparse file between pieces of
// them; and every unit told to the access-unit rule. The cursor must list what a
// byte-by-byte walk lists, with the same lengths and payload ends, and the rule must keep
// its promises: the first unit and an opener after a slice begin an access unit (a prefix
// unit with the slice after it), filler and the ends of a sequence or stream never do. The
// window's steps from the offset, forward and back, must find the walk's start codes, and
// each kernel of the start-code search is held to a byte-by-byte look as well.

#include "FuzzSupport.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"
#include "support/NaiveUnits.h"
#include "model/WalkContext.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <vector>

namespace {

struct TUnit {
    std::int64_t Offset;
    std::int64_t Length;
    std::int64_t PayloadEnd;
    bool operator==(const TUnit&) const = default;
};

std::vector<TUnit> Naive(const std::vector<std::uint8_t>& bytes, std::int64_t from) {
    std::vector<TUnit> units;
    for (const TNalUnitSpan& u : NaiveUnits(bytes, from)) {
        units.push_back({u.Offset, u.Length, u.PayloadEnd});
    }
    return units;
}

// A cursor that reads ahead hands each block to its thread and back, which on a busy
// machine costs a wait for the scheduler: its blocks are larger, still a few to an input.
std::int32_t AheadBlock(std::int32_t block) {
    return block * 8;
}

std::vector<TUnit> Walked(const std::string& path, std::int32_t block, std::int64_t from,
                          const std::vector<std::uint8_t>& bytes, bool rule) {
    FileStream stream;
    std::vector<TUnit> units;
    if (!stream.Open(path)) {
        return units;
    }
    const bool ahead = (block & 1) != 0;
    TUnitCursor cursor(stream, ahead ? AheadBlock(block) : block, ahead);
    TWalkContext walk(cursor, nullptr);
    walk.Begin(from);
    const TAccessUnitRule& access = walk.Rule();
    TWalkUnit unit;
    bool first = true;
    bool sliceBefore = false;
    bool held = false; // the unit before was held back
    const auto wants = [](std::uint8_t) { return TUnitWants{kSliceHeaderBytes, false}; };
    while (walk.Next(unit, wants)) {
        const TNalUnitSpan& span = unit.Span;
        units.push_back({span.Offset, span.Length, span.PayloadEnd});
        if (!rule || !span.HasHeader) {
            continue;
        }
        const std::vector<std::uint8_t>& head = cursor.Head();
        FuzzCheck(head.size() <= static_cast<std::size_t>(kSliceHeaderBytes), "head within bound");
        if (static_cast<std::int64_t>(bytes.size()) >=
            span.Offset + span.StartCodeLength + 1 + static_cast<std::int64_t>(head.size())) {
            FuzzCheck(std::equal(head.begin(), head.end(),
                                 bytes.begin() + span.Offset + span.StartCodeLength + 1),
                      "the head holds the unit's bytes after its header byte");
        }
        const std::uint32_t type = NalUnitType(span.Header);
        const bool begins = unit.BeginsAccessUnit;
        FuzzCheck(unit.BeginsPicture == access.PictureBegan(), "the unit tells the rule's answer");
        const bool slice =
            type == kNalNonIdrSlice || type == kNalIdrSlice || type == kNalPartitionA;
        const bool opener =
            (type >= kNalSei && type <= kNalDelimiter) || (type >= 14 && type <= 18);
        FuzzCheck(!first || begins, "the first unit begins an access unit");
        FuzzCheck(!access.HeldBack() || (type == kNalPrefix && sliceBefore && !held),
                  "only a prefix unit after a slice is held back");
        FuzzCheck(!(opener && sliceBefore) || begins || access.HeldBack() || held,
                  "an opener after a slice begins one");
        FuzzCheck(!held || slice || (begins && access.BeganBefore()),
                  "a held prefix unit not followed by a slice began an access unit");
        FuzzCheck(first || !begins || access.BeganBefore() ||
                      !(type == kNalFiller || type == kNalEndOfSequence ||
                        type == kNalEndOfStream || type == kNalSpsExtension ||
                        type == kNalPartitionB || type == kNalPartitionC),
                  "filler and the ends never begin one");
        FuzzCheck(!begins || !slice || access.PictureBegan() || first,
                  "a slice that begins an access unit begins a picture");
        first = false;
        held = access.HeldBack();
        sliceBefore = held || (sliceBefore && !opener && !(begins && !slice)) || slice;
    }
    return units;
}

// The window's steps from at, forward and back, against the start codes of the walk from
// the file's start: a block size the input picks, and blocks as large as the window's.
void Steps(const std::string& path, std::int32_t block, std::int64_t at,
           const std::vector<std::uint8_t>& bytes) {
    FileStream stream;
    if (!stream.Open(path)) {
        return;
    }
    std::vector<std::uint8_t> buffer((1 << 16) + 16);
    // Reading ahead, and sent to the steps in the middle of a walk: the blocks read ahead
    // must give way.
    TUnitCursor owned(stream, AheadBlock(block), true);
    TNalUnitSpan span;
    for (int i = 0; i < 3 && owned.Next(span); ++i) {
    }
    TUnitCursor lent(stream, buffer.data(), static_cast<std::int32_t>(buffer.size()), -1);
    const auto [after, before] = NaiveSteps(bytes, at, 6);
    for (TUnitCursor* cursor : {&owned, &lent}) {
        std::int64_t next = -1;
        FuzzCheck((cursor->NextStart(at, next) ? next : -1) == after, "the start after an offset");
        std::int64_t found[6];
        const std::int32_t met = cursor->Previous(at, 6, found);
        FuzzCheck(std::vector<std::int64_t>(found, found + met) == before,
                  "the starts before an offset");
        if (met > 0) {
            const std::int64_t k = found[met - 1];
            const TNalUnitLocator locator = cursor->Describe(k);
            const bool four = bytes[static_cast<std::size_t>(k) + 2] == 0;
            FuzzCheck((locator.StartCodeWord == 1) == four, "the start code's length");
        }
    }
}

// Each kernel of the start-code search, from every start code to the next, finds what a
// byte-by-byte look finds, within a buffer of exactly the input's size.
void CheckKernels(const std::vector<std::uint8_t>& bytes, std::int64_t lastBegin) {
    const auto n = static_cast<std::int64_t>(bytes.size());
    std::vector<std::int64_t> starts;
    for (std::int64_t i = 0; i <= lastBegin && i < n; ++i) {
        if (StartCodeLength(bytes.data() + i, n - i) != 0) {
            starts.push_back(i);
        }
    }
    for (const auto kernel : {TStartCodeKernel::Narrow, TStartCodeKernel::Wide}) {
        if (!RunsStartCodeKernel(kernel)) {
            continue;
        }
        std::int64_t from = 0;
        for (std::size_t k = 0;; ++k) {
            const std::int64_t found = FindStartCode(kernel, bytes.data(), n, from, lastBegin);
            FuzzCheck(found == (k < starts.size() ? starts[k] : -1),
                      "the kernel finds the next start code");
            if (found < 0) {
                break;
            }
            from = found + 1;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SilenceDebugOutput();
    static const TFuzzFile file("unit_cursor");
    static const TFuzzFile sparse("unit_cursor_sparse");
    if (size < 3) {
        return 0;
    }
    // Blocks of a few dozen bytes make hundreds of reads of a large input: the first 4 KiB
    // of a larger one (a test stream) are walked, enough for every kind of block boundary,
    // so that thousands of inputs run in the seconds a build gives the fuzzers.
    const std::vector<std::uint8_t> bytes(data + 2, data + std::min<std::size_t>(size, 4096));
    const auto n = static_cast<std::int64_t>(bytes.size());
    const std::int32_t block = 16 + data[0] % 200;
    const std::int64_t from = n > 0 ? data[1] % n : 0;
    CheckKernels(bytes, n - 1 - data[0] % 8);
    file.Write(bytes.data(), bytes.size());
    FuzzCheck(Walked(file.Path(), block, 0, bytes, true) == Naive(bytes, 0), "the walk from 0");
    FuzzCheck(Walked(file.Path(), block, from, bytes, false) == Naive(bytes, from),
              "the walk from an offset");
    Steps(file.Path(), block, from, bytes);
    // The second half of the bytes 1 MiB further on: a hole of zeros lies between. Walking
    // a megabyte byte by byte for the oracle costs a hundred times the rest, so one input
    // in 64, picked by a hash of all its bytes so that a finding repeats alone, takes this
    // part (its first bytes would not do: nearly every stream begins 00 00).
    std::uint32_t hash = 2166136261U;
    for (std::size_t i = 0; i < size; ++i) {
        hash = (hash ^ data[i]) * 16777619U;
    }
    if (hash % 64 != 0) {
        return 0;
    }
    std::vector<std::uint8_t> spread(bytes.begin(), bytes.begin() + n / 2);
    spread.resize(static_cast<std::size_t>(n / 2 + (1 << 20)));
    spread.insert(spread.end(), bytes.begin() + n / 2, bytes.end());
    sparse.Write(bytes.data(), static_cast<std::size_t>(n / 2));
    if (truncate(sparse.Path().c_str(), n / 2 + (1 << 20)) == 0) {
        std::ofstream(sparse.Path(), std::ios::binary | std::ios::app)
            .write(reinterpret_cast<const char*>(bytes.data() + n / 2),
                   static_cast<std::streamsize>(n - n / 2));
        FuzzCheck(Walked(sparse.Path(), 1 << 16, 0, spread, false) == Naive(spread, 0),
                  "the walk over a hole");
        Steps(sparse.Path(), block, from < n / 2 ? from : from + (1 << 20), spread);
    }
    return 0;
}
