#include "syntax/Rules.h"

#include <cstring>

namespace {

// Constant-initialised, so that rules of every file may join before any code runs.
const TRule* gFirst = nullptr;
std::int32_t gCount = 0;

} // namespace

const char* SeverityName(TSeverity severity) {
    switch (severity) {
    case TSeverity::Error:
        return "error";
    case TSeverity::Warning:
        return "warning";
    case TSeverity::Note:
        break;
    }
    return "note";
}

TRule::TRule(const char* id, TSeverity severity, const char* element, const char* reason,
             const char* clause)
    : Id(id), Severity(severity), Element(element), Reason(reason), Clause(clause),
      FIndex(gCount++), FNext(gFirst) {
    gFirst = this;
}

const TRule* TRule::First() {
    return gFirst;
}

std::int32_t TRule::Count() {
    return gCount;
}

const TRule* TRule::Find(const char* id) {
    for (const TRule* rule = gFirst; rule != nullptr; rule = rule->Next()) {
        if (std::strcmp(rule->Id, id) == 0) {
            return rule;
        }
    }
    return nullptr;
}

void TUnitProblems::Report(const TRule& rule, bool hasValue, std::int64_t value) {
    ++FFound;
    TProblem problem;
    problem.Offset = FOffset;
    problem.Header = FHeader;
    problem.Rule = &rule;
    problem.HasValue = hasValue;
    problem.Value = value;
    FSink.Problem(problem);
}
