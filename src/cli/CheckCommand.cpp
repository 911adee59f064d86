#include "cli/CheckCommand.h"

#include "cli/DumpOutput.h"
#include "cli/JsonTree.h"
#include "model/StreamCheck.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

char* Put(char* out, std::string_view text) {
    return std::copy(text.begin(), text.end(), out);
}

char* PutNumber(char* out, std::int64_t value) {
    return std::to_chars(out, out + 20, value).ptr;
}

// The problems written as they come, counted by rule.
class TCheckOutput final : public IProblems {
  public:
    TCheckOutput(TLineBuffer& lines, bool json)
        : FLines(lines), FJson(json), FCounts(static_cast<std::size_t>(TRule::Count()), 0) {}

    void Problem(const TProblem& problem) override {
        ++FCounts[static_cast<std::size_t>(problem.Rule->Index())];
        ++FBySeverity[static_cast<int>(problem.Rule->Severity)];
        if (FJson) {
            Json(problem);
        } else {
            Text(problem);
        }
    }

    std::int64_t Errors() const { return FBySeverity[0]; }

    // The counts by rule, in the order of the rules' identifiers.
    void Close() {
        std::vector<const TRule*> found;
        for (const TRule* rule = TRule::First(); rule != nullptr; rule = rule->Next()) {
            if (FCounts[static_cast<std::size_t>(rule->Index())] != 0) {
                found.push_back(rule);
            }
        }
        std::sort(found.begin(), found.end(),
                  [](const TRule* a, const TRule* b) { return std::strcmp(a->Id, b->Id) < 0; });
        if (FJson) {
            FLines.Append(FAny ? "\n],\"counts\":{" : "],\"counts\":{");
        } else {
            char* text = Put(FLines.Room(128), "# ");
            text = PutNumber(text, FBySeverity[0]);
            text = Put(text, " errors, ");
            text = PutNumber(text, FBySeverity[1]);
            text = Put(text, " warnings, ");
            text = PutNumber(text, FBySeverity[2]);
            FLines.Commit(Put(text, " notes\n"));
        }
        for (std::size_t i = 0; i < found.size(); ++i) {
            const std::int64_t count = FCounts[static_cast<std::size_t>(found[i]->Index())];
            if (FJson) {
                FLines.Append(i == 0 ? "\n\"" : ",\n\"");
                FLines.Append(found[i]->Id);
                FLines.Commit(PutNumber(Put(FLines.Room(32), "\":"), count));
            } else {
                FLines.Commit(Put(PutNumber(Put(FLines.Room(32), "# "), count), "\t"));
                FLines.Append(found[i]->Id);
                FLines.Append('\n');
            }
        }
        if (FJson) {
            char* text = Put(FLines.Room(128), found.empty() ? "},\"errors\":" : "\n},\"errors\":");
            text = PutNumber(text, FBySeverity[0]);
            text = PutNumber(Put(text, ",\"warnings\":"), FBySeverity[1]);
            FLines.Commit(Put(PutNumber(Put(text, ",\"notes\":"), FBySeverity[2]), "}\n"));
        }
    }

  private:
    void Text(const TProblem& problem) {
        const TRule& rule = *problem.Rule;
        char* text = WriteNalOffsetText(FLines.Room(256), problem.Offset);
        FLines.Commit(Put(text, "\t"));
        FLines.Append(NalTypeName(problem.Header));
        FLines.Append('\t');
        FLines.Append(SeverityName(rule.Severity));
        FLines.Append('\t');
        FLines.Append(rule.Id);
        FLines.Append('\t');
        FLines.Append(rule.Reason);
        if (problem.HasValue && rule.Element != nullptr) {
            FLines.Append(" (");
            FLines.Append(rule.Element);
            FLines.Commit(Put(PutNumber(Put(FLines.Room(32), " = "), problem.Value), ")"));
        }
        FLines.Append(" [");
        FLines.Append(rule.Clause);
        FLines.Append("]\n");
    }

    void Json(const TProblem& problem) {
        const TRule& rule = *problem.Rule;
        char* text = Put(FLines.Room(128), FAny ? ",\n{\"offset\":" : "\n{\"offset\":");
        FAny = true;
        text = PutNumber(text, problem.Offset);
        text = PutNumber(Put(text, ",\"nal_unit_type\":"), problem.Header & 31);
        FLines.Commit(Put(text, ",\"severity\":\""));
        FLines.Append(SeverityName(rule.Severity));
        FLines.Append("\",\"rule\":\"");
        FLines.Append(rule.Id);
        FLines.Append("\",\"element\":");
        if (rule.Element != nullptr) {
            AppendJsonString(rule.Element, FLines);
        } else {
            FLines.Append("null");
        }
        if (problem.HasValue) {
            FLines.Commit(PutNumber(Put(FLines.Room(32), ",\"value\":"), problem.Value));
        }
        FLines.Append(",\"reason\":");
        AppendJsonString(rule.Reason, FLines);
        FLines.Append(",\"clause\":");
        AppendJsonString(rule.Clause, FLines);
        FLines.Append('}');
    }

    TLineBuffer& FLines;
    bool FJson;
    bool FAny = false;
    std::vector<std::int64_t> FCounts;
    std::int64_t FBySeverity[3] = {0, 0, 0};
};

} // namespace

int DumpCheck(FileStream& stream, bool json, std::ostream& out) {
    TLineBuffer lines(out);
    TCheckOutput output(lines, json);
    if (json) {
        lines.Append("{\"problems\":[");
    }
    CheckStream(stream, output);
    output.Close();
    lines.Drain();
    Flush(out); // a failed write must not pass for a clean stream
    return output.Errors() != 0 ? kCheckErrorsStatus : 0;
}
