// quillet-dump --json: one JSON document (read back with Qt's parser) holding the listing
// and, for every unit, the deeper tree with each line's bits in the file.

#include "cli/DumpTestSupport.h"
#include "cli/JsonTree.h"
#include "stream/H264Utils.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <sstream>

namespace {

// Every line of a JSON tree in display order, as "--trees --full" prints it (two spaces
// per level after indent).
void Flatten(const QJsonArray& lines, int indent, std::vector<std::string>& out) {
    for (const auto& value : lines) {
        const QJsonObject line = value.toObject();
        out.push_back(std::string(static_cast<std::size_t>(indent), ' ') +
                      line["text"].toString().toStdString());
        Flatten(line["children"].toArray(), indent + 2, out);
    }
}

TEST(DumpJson, HoldsTheListingAndEveryDeeperTree) {
    for (const char* name : {"aud_sei", "mixed_start_codes", "intra_refresh"}) {
        SCOPED_TRACE(name);
        const std::string path = TestDataPath(std::string(name) + ".264");
        const auto r = Dump({"--json", path});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        EXPECT_EQ(doc["file"].toString().toStdString(), path);

        // The units and their trees are what --trees --full prints, line for line.
        std::vector<std::string> fromJson;
        for (const auto& value : doc["units"].toArray()) {
            const QJsonObject unit = value.toObject();
            fromJson.push_back(NalOffsetText(static_cast<std::int64_t>(unit["offset"].toDouble())) +
                               "\t" + std::to_string(unit["length"].toInteger()) + "\t" +
                               unit["start_code"].toString().toStdString() + "\t" +
                               unit["type"].toString().toStdString());
            Flatten(unit["tree"].toArray(), 2, fromJson);
        }
        EXPECT_EQ(fromJson, SplitLines(Dump({"--trees", "--full", path}).out));
    }
}

TEST(DumpJson, ElementLinesCarryNameValueAndFileBits) {
    const auto r = Dump({"--json", TestDataPath("aud_sei.264")});
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out));
    // The SPS at 6 (second unit): time_scale at byte 0x19, bit 2, past the 00 00 03 at
    // 0x16.
    const QJsonObject sps = doc["units"].toArray()[1].toObject();
    QJsonArray vui;
    for (const auto& line : sps["tree"][0]["children"][3]["children"].toArray()) {
        if (line.toObject()["text"].toString() == "vui_parameters ( )") {
            vui = line.toObject()["children"].toArray();
        }
    }
    QJsonObject timeScale;
    for (const auto& line : vui) {
        if (line.toObject()["name"].toString() == "time_scale") {
            timeScale = line.toObject();
        }
    }
    EXPECT_EQ(timeScale["value"].toString(), "50");
    EXPECT_EQ(timeScale["first_bit"].toInteger(), 8 * 0x19 + 2);
    EXPECT_EQ(timeScale["bits"].toInteger(), 32);
    // An enumerated element tells its meaning apart from its value.
    const QJsonObject profile = sps["tree"][0]["children"][3]["children"][0].toObject();
    EXPECT_EQ(profile["name"].toString(), "profile_idc");
    EXPECT_EQ(profile["value"].toString(), "100");
    EXPECT_EQ(profile["meaning"].toString(), "High");
    // A structure line has a text only.
    EXPECT_EQ(sps["tree"][0]["children"][3].toObject().keys(), (QStringList{"children", "text"}));
}

// Every element line of every test stream read back from the file at the bits its JSON
// names: those bits, less the emulation-prevention bytes among them, hold the line's value
// as its width says: n bits unsigned or in two's complement, or an Exp-Golomb code of
// exactly the length told, unsigned or signed.
TEST(DumpJson, EveryElementsValueLiesAtItsBits) {
    int checked = 0;
    for (const auto& entry : std::filesystem::directory_iterator(TestDataPath(""))) {
        if (entry.path().extension() != ".264") {
            continue;
        }
        const std::string path = entry.path().string();
        const std::vector<std::uint8_t> file = ReadAll(path);
        std::vector<QJsonObject> lines;
        const std::function<void(const QJsonArray&)> collect = [&](const QJsonArray& array) {
            for (const auto& line : array) {
                lines.push_back(line.toObject());
                collect(line.toObject()["children"].toArray());
            }
        };
        const QJsonDocument doc =
            QJsonDocument::fromJson(QByteArray::fromStdString(Dump({"--json", path}).out));
        for (const auto& unit : doc["units"].toArray()) {
            collect(unit.toObject()["tree"].toArray());
        }
        for (const QJsonObject& line : lines) {
            bool number = false;
            const long long value = line["value"].toString().toLongLong(&number);
            const long long first = line["first_bit"].toInteger(-1);
            const long long bits = line["bits"].toInteger();
            if (!number || first < 0 || bits <= 0 || bits > 64) {
                continue;
            }
            std::vector<int> code;
            for (long long at = first; at < first + bits; ++at) {
                const auto byte = static_cast<std::size_t>(at / 8);
                if (byte < 2 || file[byte] != 3 || file[byte - 1] != 0 || file[byte - 2] != 0) {
                    code.push_back((file[byte] >> (7 - at % 8)) & 1);
                }
            }
            bool holds = false;
            const QString text = line["text"].toString();
            if (text.contains(" (v bits)")) {
                std::size_t zeros = 0;
                while (zeros < code.size() && code[zeros] == 0) {
                    ++zeros;
                }
                long long codeNum = 1;
                for (std::size_t i = zeros + 1; i < code.size(); ++i) {
                    codeNum = codeNum << 1 | code[i];
                }
                codeNum -= 1;
                holds = code.size() == 2 * zeros + 1 &&
                        (value == codeNum ||
                         value == (codeNum % 2 == 1 ? (codeNum + 1) / 2 : -(codeNum / 2)));
            } else if (text.contains(QString(" (%1 bit").arg(code.size()))) {
                // An SEI message's type and size are bytes that add up, 0xFF while more follow.
                const QString name = line["name"].toString();
                const std::size_t step =
                    name == "payloadType" || name == "payloadSize" ? 8 : code.size();
                unsigned long long u = 0;
                for (std::size_t from = 0; from < code.size(); from += step) {
                    unsigned long long part = 0;
                    for (std::size_t i = from; i < std::min(from + step, code.size()); ++i) {
                        part = part << 1 | static_cast<unsigned long long>(code[i]);
                    }
                    u += part;
                }
                holds =
                    static_cast<unsigned long long>(value) == u ||
                    (code.size() < 64 && value == static_cast<long long>(u) - (1LL << code.size()));
            }
            EXPECT_TRUE(holds) << path << ": " << text.toStdString() << " at bit " << first;
            ++checked;
        }
    }
    EXPECT_GT(checked, 5000);
}

TEST(DumpJson, StringsAreEscaped) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c", "\"a\\\"b\\\\c\""},
        {std::string("\x01\n", 2), "\"\\u0001\\u000a\""},
        {"\xE9t\xE9", "\"\\u00e9t\\u00e9\""},
    };
    for (const auto& [text, json] : cases) {
        EXPECT_EQ(JsonString(text), json);
    }
    EXPECT_EQ(Dump({"--json", "--full", TestDataPath("aud_sei.264")}).status, 2);
}

// A tree line's text with one byte that needs an escape, or a plain one at the edge of
// those, at every place in texts of every size around the 16 bytes copied at once: Qt's
// parser reads back the very text, from printable ASCII.
TEST(DumpJson, EveryByteThatNeedsAnEscapeAtEveryPlace) {
    TDumpTree tree;
    for (std::size_t size = 1; size <= 40; ++size) {
        for (std::size_t at = 0; at < size; ++at) {
            for (const char byte : {'"', '\\', '\x1F', '\x7F', '\x80', '\xFF', '\x20', '\x7E'}) {
                std::string text(size, 'a');
                text[at] = byte;
                tree.ClearLines();
                tree.AddRootLine(text);
                std::ostringstream out;
                TLineBuffer lines(out);
                TJsonTreeWriter(lines).Line(*tree.Roots().front(), 0);
                lines.Drain();
                const QJsonObject line =
                    QJsonDocument::fromJson(QByteArray::fromStdString(out.str())).object();
                ASSERT_EQ(line["text"].toString(), QString::fromLatin1(text.data(), size))
                    << size << " at " << at << ": " << out.str();
                const std::string json = out.str(); // which holds printable ASCII alone
                ASSERT_TRUE(std::all_of(json.begin(), json.end(),
                                        [](char c) { return c >= 0x20 && c < 0x7F; }))
                    << size << " at " << at << ": " << json;
            }
        }
    }
}

} // namespace

namespace {

// quillet-dump --summary: one JSON document with the keys scripts rely on, whose figures
// agree with the listing (units per type) and with each other (buckets, pictures).
TEST(DumpSummary, TheDocumentsKeysAndFigures) {
    for (const char* name : {"aud_sei", "mixed_start_codes", "slices4", "intra_refresh"}) {
        const std::string path = TestDataPath(std::string(name) + ".264");
        const auto r = Dump({"--summary", path});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err, "");
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out;
        const QJsonObject top = doc.object();
        EXPECT_EQ(top.keys(), (QStringList{"buckets", "file", "gop", "pictures", "size", "sps",
                                           "units_by_type"}));
        EXPECT_EQ(top["file"].toString().toStdString(), path);
        const auto size = static_cast<std::int64_t>(std::filesystem::file_size(path));
        EXPECT_EQ(top["size"].toInteger(), size);
        // Units per type as the listing counts them.
        std::map<std::string, std::int64_t> listed;
        for (const std::string& line : SplitLines(Dump({path}).out)) {
            // Offset, Len, Start Code (its last two digits the header byte), NAL Type.
            const std::size_t third = line.find('\t', line.find('\t') + 1) + 1;
            const std::size_t fourth = line.find('\t', third);
            if (line.substr(fourth + 1) != "(no header)") {
                const std::string header = line.substr(fourth - 2, 2);
                ++listed[std::to_string(std::stoi(header, nullptr, 16) & 31)];
            }
        }
        const QJsonObject units = top["units_by_type"].toObject();
        EXPECT_EQ(static_cast<std::size_t>(units.size()), listed.size());
        for (const auto& [type, count] : listed) {
            EXPECT_EQ(units[QString::fromStdString(type)].toInteger(), count) << type;
        }
        const QJsonObject pictures = top["pictures"].toObject();
        std::int64_t bytes = 0;
        std::int64_t inBuckets = 0;
        for (const auto& b : top["buckets"].toArray()) {
            bytes += b.toObject()["bytes"].toInteger();
            inBuckets += b.toObject()["pictures"].toInteger();
        }
        // Each of these streams begins with a start code; only the zeros at the end of
        // access units are counted to none.
        EXPECT_LE(bytes, size);
        EXPECT_GE(bytes, size - 4 * inBuckets);
        EXPECT_EQ(inBuckets, pictures["total"].toInteger());
        EXPECT_EQ(pictures["total"].toInteger(),
                  pictures["I"].toInteger() + pictures["P"].toInteger() +
                      pictures["B"].toInteger() + pictures["SI"].toInteger() +
                      pictures["SP"].toInteger());
        EXPECT_FALSE(top["sps"].toArray().isEmpty());
    }
    // A stream with IDR pictures far apart: the GOP figures; one with no second IDR: null.
    const QJsonObject gop =
        QJsonDocument::fromJson(
            QByteArray::fromStdString(Dump({"--summary", TestDataPath("aud_sei.264")}).out))
            .object()["gop"]
            .toObject();
    EXPECT_TRUE(gop["min"].isNull());
    EXPECT_TRUE(gop["mean"].isNull());
}

} // namespace
