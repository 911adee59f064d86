#pragma once

// The limits of the level each sequence parameter set declares, checked per stream (the
// set's own figures) and per picture (rates from the removal times), each violation naming
// its limit, the value found and the bound.

#include "model/HrdWalk.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>

struct TLevelViolation {
    std::int64_t Index = -1; // the access unit; -1 for the set's own figures
    std::int64_t Offset = 0; // of the access unit, or of the set's first use
    std::string Level;       // as declared ("3.1")
    std::string Limit;       // "MaxFS", "MaxMBPS", ...
    std::string Value;       // what the stream has
    std::string Bound;       // what the level allows
};

class TLevelCheck {
  public:
    using TSink = std::function<void(const TLevelViolation&)>;
    explicit TLevelCheck(TSink sink) : FSink(std::move(sink)) {}

    void Next(const THrdAccessUnit& au);

    std::int64_t Violations() const { return FViolations; }
    // Access units whose rates could not be checked: no tick in the stream.
    std::int64_t Untimed() const { return FUntimed; }
    // Access units with no set to check them against.
    std::int64_t Unchecked() const { return FUnchecked; }
    // The limits checked, for the closing lines.
    static const char* Covered();

  private:
    void Report(const THrdAccessUnit& au, bool perSet, const char* limit, const std::string& value,
                const std::string& bound);
    void CheckSet(const THrdAccessUnit& au);

    TSink FSink;
    std::int64_t FViolations = 0;
    std::int64_t FUntimed = 0;
    std::int64_t FUnchecked = 0;
    // The set last checked as a whole, by content: its figures are told once.
    std::array<std::uint32_t, 8> FSetKey{};
    bool FSetChecked = false;
    // The unit before: its picture size, whether it began a buffering period, its removal
    // delay.
    bool FHavePrevious = false;
    std::uint64_t FPreviousMbs = 0;
    bool FPreviousPeriod = false;
    std::uint32_t FPreviousDelay = 0;
};
