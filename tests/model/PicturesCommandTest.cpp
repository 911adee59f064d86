// quillet-dump --pictures as scripts read it: the JSON with the keys the README promises,
// read back by Qt's parser and held to the model's own pictures; the lines in decoding and
// in display order the same pictures.

#include "cli/DumpTestSupport.h"
#include "model/PictureWalk.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

TEST(PicturesCommand, JsonHasEveryKeyForEveryPicture) {
    const std::string path = TestDataPath("pictures/ref4_normal.264");
    const DumpResult r = Dump({"--pictures", "--json", path});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Dump({"--json", "--pictures", path}).out, r.out);
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error);
    ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
    const QJsonArray pictures = doc.object()["pictures"].toArray();
    FileStream stream;
    ASSERT_TRUE(stream.Open(path));
    std::vector<TCodedPicture> model;
    TPictureModel walk([&](const TCodedPicture& p) { model.push_back(p); });
    WalkPictures(stream, walk);
    ASSERT_EQ(pictures.size(), static_cast<qsizetype>(model.size()));
    const char* const keys[] = {"decode", "display", "offset",    "type",  "idr",
                                "reference", "structure", "frame_num", "poc", "bytes",
                                "slices", "qp", "exact", "dpb", "lists", "problems"};
    for (qsizetype i = 0; i < pictures.size(); ++i) {
        const QJsonObject p = pictures[i].toObject();
        for (const char* key : keys) {
            EXPECT_TRUE(p.contains(key)) << key;
        }
        const TCodedPicture& m = model[static_cast<std::size_t>(i)];
        EXPECT_EQ(p["decode"].toInteger(), m.Decode);
        EXPECT_EQ(p["display"].toInteger(), m.Display);
        EXPECT_EQ(p["offset"].toInteger(), m.Offset);
        EXPECT_EQ(p["poc"].toInteger(), m.Count.Poc);
        EXPECT_EQ(p["dpb"].toArray().size(), static_cast<qsizetype>(m.After.size()));
        for (const QJsonValue entry : p["dpb"].toArray()) {
            const QJsonObject e = entry.toObject();
            EXPECT_TRUE(e.contains("poc") && e.contains("long_term") &&
                        e.contains("waiting_for_output") &&
                        (e.contains("frame_num") || e.contains("long_term_frame_idx")));
        }
        const QJsonArray lists = p["lists"].toArray();
        ASSERT_EQ(lists.size(), static_cast<qsizetype>(m.Lists.size()));
        for (qsizetype s = 0; s < lists.size(); ++s) {
            const QJsonArray l0 = lists[s].toObject()["l0"].toArray();
            ASSERT_EQ(l0.size(), static_cast<qsizetype>(m.Lists[s].Final[0].size()));
            for (qsizetype k = 0; k < l0.size(); ++k) {
                EXPECT_EQ(l0[k].toInteger(), m.Lists[s].Final[0][k].Poc);
            }
        }
    }
}

TEST(PicturesCommand, DisplayOrderHasTheSameLinesSortedByDisplay) {
    const std::string path = TestDataPath("pictures/bframes16.264");
    std::vector<std::string> decoding = SplitLines(Dump({"--pictures", path}).out);
    const std::vector<std::string> display = SplitLines(Dump({"--pictures", "--display-order", path}).out);
    ASSERT_GT(decoding.size(), 2u);
    EXPECT_EQ(decoding.front(), display.front()); // the header
    const auto displayNumber = [](const std::string& line) {
        return std::stoll(line.substr(line.find('\t') + 1));
    };
    std::sort(decoding.begin() + 1, decoding.end(), [&](const auto& x, const auto& y) {
        return displayNumber(x) < displayNumber(y);
    });
    EXPECT_EQ(decoding, display);
    EXPECT_NE(Dump({"--display-order", path}).status, 0);
}

} // namespace
