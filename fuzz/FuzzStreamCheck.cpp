// Any bytes as a file, checked by the stream check: it ends, and every problem it tells is
// at a unit a byte-by-byte walk finds (or, for an access unit without a picture, at the
// unit that began it), no more of them than every rule at every unit. Each unit's detail
// tree, with its problems marked, marks none that the check does not tell at that unit.

#include "FuzzSupport.h"
#include "model/StreamCheck.h"
#include "stream/FileStream.h"
#include "support/NaiveUnits.h"
#include "model/SetStore.h"
#include "syntax/SyntaxTree.h"
#include "syntax/nal_unit.h"

#include <map>
#include <string>

#include <cstdint>
#include <cstdio>
#include <set>
#include <vector>

namespace {

class TOffsets final : public IProblems {
  public:
    void Problem(const TProblem& problem) override {
        FuzzCheck(problem.Rule != nullptr, "a problem without its rule");
        Offsets.push_back(problem.Offset);
        Rules[problem.Offset].insert(problem.Rule->Id);
    }
    std::vector<std::int64_t> Offsets;
    std::map<std::int64_t, std::set<std::string>> Rules;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    SilenceDebugOutput();
    static const TFuzzFile file("fuzz_stream_check");
    file.Write(data, size);
    FileStream stream;
    if (!stream.Open(file.Path())) {
        return 0;
    }
    TOffsets found;
    FuzzCheck(CheckStream(stream, found), "the check was not cancelled");
    const std::vector<std::uint8_t> bytes(data, data + size);
    std::set<std::int64_t> units;
    for (const TNalUnitSpan& unit : NaiveUnits(bytes, 0)) {
        units.insert(unit.Offset);
    }
    for (const std::int64_t offset : found.Offsets) {
        FuzzCheck(units.count(offset) != 0, "a problem where no unit begins");
    }
    FuzzCheck(found.Offsets.size() <= (units.size() + 1) * static_cast<std::size_t>(TRule::Count()),
              "more problems than rules at every unit");
    // The trees, the sets learned as the walk learns them.
    TSetStore sets(nullptr);
    const TChromaFormatLookup lookup = [&sets](std::uint32_t id) -> std::optional<std::uint32_t> {
        const TSeqParameterSet* sps = sets.Sps(id);
        return sps != nullptr ? std::optional(sps->chroma_format_idc) : std::nullopt;
    };
    std::vector<std::uint8_t> rbsp(size + 1);
    TBitStream4 reader;
    TSyntaxTree tree;
    TFullDecoding full;
    full.Problems = true;
    for (const TNalUnitSpan& unit : NaiveUnits(bytes, 0)) {
        sets.At(unit.Offset);
        DecodeNalUnit(data + unit.Offset, static_cast<std::int32_t>(size - unit.Offset), rbsp.data(),
                      reader, tree, lookup, nullptr, &full);
        tree.Walk([&](const TSyntaxLine& line, int) {
            if (line.Text.rfind("! ", 0) == 0) {
                const auto open = line.Text.rfind(" [");
                const std::string id = line.Text.substr(open + 2, line.Text.find(',', open) - open - 2);
                if (found.Rules[unit.Offset].count(id) == 0) {
                    std::fprintf(stderr, "mark %s at %lld\n", id.c_str(),
                                 static_cast<long long>(unit.Offset));
                }
                FuzzCheck(found.Rules[unit.Offset].count(id) != 0, "a mark the check does not tell");
            }
        });
        const std::int64_t from = unit.Offset + unit.StartCodeLength + 1;
        const std::uint32_t type = NalUnitType(unit.Header);
        std::int32_t n = 0;
        if (unit.HasHeader && (type == kNalSps || type == kNalPps) && unit.PayloadEnd > from) {
            Remove_emulation_prevention_three_bytes(
                data + from, static_cast<std::int32_t>(unit.PayloadEnd - from), rbsp.data(), n);
            sets.Learn(unit.Header, rbsp.data(), n, unit.Offset);
        }
    }
    return 0;
}
