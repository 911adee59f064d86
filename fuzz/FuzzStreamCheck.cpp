// Any bytes as a file, checked by the stream check: it ends, and every problem it tells is
// at a unit a byte-by-byte walk finds (or, for an access unit without a picture, at the
// unit that began it), no more of them than every rule at every unit.

#include "FuzzSupport.h"
#include "model/StreamCheck.h"
#include "stream/FileStream.h"
#include "support/NaiveUnits.h"

#include <cstdint>
#include <set>
#include <vector>

namespace {

class TOffsets final : public IProblems {
  public:
    void Problem(const TProblem& problem) override {
        FuzzCheck(problem.Rule != nullptr, "a problem without its rule");
        Offsets.push_back(problem.Offset);
    }
    std::vector<std::int64_t> Offsets;
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
    return 0;
}
