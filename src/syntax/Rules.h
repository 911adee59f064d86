#pragma once

// The stream check's rules and the one list of problems they feed. Each rule is a named
// entry written once, beside the code that checks it; the tree, the window and
// `quillet-dump --check` all show what the rules find.

#include <cstdint>

enum class TSeverity : std::uint8_t { Error, Warning, Note };

// "error", "warning" or "note".
const char* SeverityName(TSeverity severity);

// One rule: a stable identifier, how bad breaking it is, the syntax element at fault (null
// when the rule is about a unit or an order), a short reason and the standard's clause.
// Every rule defined at namespace scope joins the list First() begins, in no set order.
class TRule {
  public:
    TRule(const char* id, TSeverity severity, const char* element, const char* reason,
          const char* clause);
    TRule(const TRule&) = delete;
    TRule& operator=(const TRule&) = delete;

    const char* const Id;
    const TSeverity Severity;
    const char* const Element;
    const char* const Reason;
    const char* const Clause;
    // Its place among all rules, from 0 to Count() - 1: what counts by rule index.
    std::int32_t Index() const { return FIndex; }

    static const TRule* First();
    const TRule* Next() const { return FNext; }
    static std::int32_t Count();
    // The rule with that identifier; null when none has it.
    static const TRule* Find(const char* id);

  private:
    std::int32_t FIndex;
    const TRule* FNext;
};

// One broken rule at one unit.
struct TProblem {
    std::int64_t Offset = 0; // the unit's start code
    std::uint8_t Header = 0; // its header byte
    const TRule* Rule = nullptr;
    // The value the element has, when the rule is about one.
    bool HasValue = false;
    std::int64_t Value = 0;
};

// Where problems go, one call each, in the order the walk finds them.
class IProblems {
  public:
    virtual ~IProblems() = default;
    virtual void Problem(const TProblem& problem) = 0;
};

// The problems of one unit, told to the list as its checks find them.
class TUnitProblems {
  public:
    TUnitProblems(IProblems& sink, std::int64_t offset, std::uint8_t header)
        : FSink(sink), FOffset(offset), FHeader(header) {}

    // Tells the rule as broken unless ok; returns ok.
    bool Expect(bool ok, const TRule& rule) {
        if (!ok) {
            Report(rule, false, 0);
        }
        return ok;
    }
    // The same with the element's value.
    bool Expect(bool ok, const TRule& rule, std::int64_t value) {
        if (!ok) {
            Report(rule, true, value);
        }
        return ok;
    }
    std::int32_t Found() const { return FFound; }
    std::int64_t Offset() const { return FOffset; }
    std::uint8_t Header() const { return FHeader; }

  private:
    void Report(const TRule& rule, bool hasValue, std::int64_t value);

    IProblems& FSink;
    std::int64_t FOffset;
    std::uint8_t FHeader;
    std::int32_t FFound = 0;
};
