// quillet-dump --check as a script reads it: one line per problem with five tab-separated
// fields, the counts by rule after "# ", the same problems as JSON with the keys the README
// names, and the exit status 3 only when an error is found.

#include "cli/DumpTestSupport.h"
#include "support/NaiveUnits.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <map>

namespace {

struct TLine {
    long long Offset;
    std::string Type, Severity, Rule;
};

TEST(DumpCheck, TextJsonAndStatusAgree) {
    const TempDir dir;
    auto clean = ReadAll(TestDataPath("main_cabac.264"));
    // forbidden_zero_bit set in the last unit (an error); level_idc 14 (a warning) in
    // another copy.
    const TNalUnitSpan last = NaiveUnits(clean, 0).back();
    auto broken = clean;
    broken[static_cast<std::size_t>(last.Offset + last.StartCodeLength)] |= 0x80;
    auto warned = clean;
    warned[7] = 14;
    struct Case {
        std::vector<std::uint8_t> Bytes;
        int Status;
    } const cases[] = {{clean, 0}, {broken, 3}, {warned, 0}};
    for (const Case& c : cases) {
        const std::string path = dir.Write("s.264", c.Bytes);
        const DumpResult text = Dump({"--check", path});
        const DumpResult json = Dump({"--json", "--check", path});
        EXPECT_EQ(text.status, c.Status);
        EXPECT_EQ(json.status, c.Status);
        EXPECT_TRUE(text.err.empty() && json.err.empty());
        // The listing's offsets, to hold each problem's unit to.
        std::map<long long, std::string> units;
        for (const std::string& line : SplitLines(Dump({path}).out)) {
            units[std::stoll(line.substr(0, line.find('\t')), nullptr, 16)] =
                line.substr(line.rfind('\t') + 1);
        }
        std::vector<TLine> lines;
        std::map<std::string, long long> tally, counted;
        for (const std::string& line : SplitLines(text.out)) {
            if (line.rfind("# ", 0) == 0) {
                const auto tab = line.find('\t');
                if (tab != std::string::npos) {
                    counted[line.substr(tab + 1)] = std::stoll(line.substr(2, tab - 2));
                }
                continue;
            }
            std::vector<std::string> fields;
            for (std::size_t from = 0;;) {
                const auto tab = line.find('\t', from);
                fields.push_back(line.substr(from, tab - from));
                if (tab == std::string::npos) {
                    break;
                }
                from = tab + 1;
            }
            ASSERT_EQ(fields.size(), 5u) << line;
            const TLine l{std::stoll(fields[0], nullptr, 16), fields[1], fields[2], fields[3]};
            ASSERT_TRUE(units.count(l.Offset)) << line;
            EXPECT_EQ(units[l.Offset], l.Type) << line;
            ++tally[l.Rule];
            lines.push_back(l);
        }
        EXPECT_EQ(tally, counted);
        EXPECT_EQ(lines.empty(), c.Status == 0 && c.Bytes == clean);
        const QJsonObject doc = QJsonDocument::fromJson(QByteArray::fromStdString(json.out)).object();
        const QJsonArray problems = doc["problems"].toArray();
        ASSERT_EQ(problems.size(), static_cast<qsizetype>(lines.size())) << json.out;
        for (qsizetype i = 0; i < problems.size(); ++i) {
            const QJsonObject p = problems[i].toObject();
            for (const char* key :
                 {"offset", "nal_unit_type", "severity", "rule", "element", "reason", "clause"}) {
                EXPECT_TRUE(p.contains(key)) << key;
            }
            EXPECT_EQ(p["offset"].toInteger(), lines[i].Offset);
            EXPECT_EQ(p["severity"].toString().toStdString(), lines[i].Severity);
            EXPECT_EQ(p["rule"].toString().toStdString(), lines[i].Rule);
            for (const TNalUnitSpan& u : NaiveUnits(c.Bytes, lines[i].Offset)) {
                EXPECT_EQ(p["nal_unit_type"].toInt(), u.Header & 31);
                break;
            }
        }
        std::map<std::string, long long> jsonCounts;
        const QJsonObject counts = doc["counts"].toObject();
        for (auto i = counts.begin(); i != counts.end(); ++i) {
            jsonCounts[i.key().toStdString()] = i.value().toInteger();
        }
        EXPECT_EQ(jsonCounts, counted);
    }
}

} // namespace
