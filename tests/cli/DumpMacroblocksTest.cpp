// quillet-dump --macroblocks and --picture OUT.png --overlay, read back by Qt's JSON parser
// and image reader, against what the streams were made to hold: the panned noise's vectors
// of (+4, 0) and the slices4 stream's slice starts (first_mb_in_slice 22, 55 and 77).

#include "DumpTestSupport.h"
#include "decode/Overlay.h"

#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

namespace {

TEST(DumpMacroblocks, PrintsEachMacroblockInRasterOrder) {
    if (!DecoderBuilt()) {
        GTEST_SKIP() << "built without a decoder";
    }
    // mb_pan.nals: the IDR slice at 663, a P slice at 7279.
    for (const char* offset : {"663", "7279"}) {
        const DumpResult r = Dump({"--macroblocks", offset, TestDataPath("mb_pan.264")});
        ASSERT_EQ(r.status, 0) << r.err;
        QJsonParseError error{};
        const QJsonObject doc =
            QJsonDocument::fromJson(QByteArray::fromStdString(r.out), &error).object();
        ASSERT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
        EXPECT_EQ(doc["width_mbs"].toInt(), 11);
        EXPECT_EQ(doc["height_mbs"].toInt(), 9);
        const QJsonArray mbs = doc["mbs"].toArray();
        ASSERT_EQ(mbs.size(), 99);
        const bool idr = std::string(offset) == "663";
        int moved = 0;
        for (int i = 0; i < 99; ++i) {
            const QJsonObject mb = mbs[i].toObject();
            EXPECT_EQ(mb["x"].toInt(), i % 11);
            EXPECT_EQ(mb["y"].toInt(), i / 11);
            EXPECT_EQ(mb["slice"].toInt(), 0);
            EXPECT_TRUE(mb["qp"].isDouble());
            EXPECT_EQ(mb["intra"].toBool(), idr);
            const QJsonArray mvs = mb["mvs"].toArray();
            EXPECT_EQ(mvs.isEmpty(), idr);
            for (const auto& value : mvs) {
                const QJsonObject v = value.toObject();
                EXPECT_EQ(v["list"].toInt(), 0);
                EXPECT_LE(v["x"].toInt() + v["w"].toInt(), 16);
                EXPECT_LE(v["y"].toInt() + v["h"].toInt(), 16);
                moved += v["dx"].toDouble() == 4 && v["dy"].toDouble() == 0 ? 1 : 0;
            }
        }
        EXPECT_GE(moved, idr ? 0 : 95) << offset;
    }
}

TEST(DumpMacroblocks, DrawsTheOverlayIntoThePng) {
    if (!DecoderBuilt()) {
        GTEST_SKIP() << "built without a decoder";
    }
    TempDir dir;
    const auto picture = [&](const std::string& overlay) {
        const std::string out = (dir.Path() / ("out" + overlay + ".png")).string();
        std::vector<std::string> args = {"--picture", "0x2DE", out};
        if (!overlay.empty()) {
            args.insert(args.end(), {"--overlay", overlay});
        }
        args.push_back(TestDataPath("slices4.264"));
        const DumpResult r = Dump(args);
        EXPECT_EQ(r.status, 0) << r.err;
        return QImage(QString::fromStdString(out));
    };
    const QImage plain = picture("");
    const QImage slices = picture("slices");
    ASSERT_EQ(plain.size(), QSize(176, 144));
    ASSERT_EQ(slices.size(), plain.size());
    // Slices start at macroblocks 22, 55 and 77, rows 2, 5 and 7 of rows of 11: a line of
    // two pixels at each of those rows' top edges.
    const QRgb yellow = kSliceColour & 0xFFFFFF;
    for (const int y : {31, 32, 79, 80, 111, 112}) {
        EXPECT_EQ(slices.pixel(100, y) & 0xFFFFFF, yellow) << y;
    }
    EXPECT_EQ(slices.pixel(100, 50), plain.pixel(100, 50));
    EXPECT_NE(picture("qp,grid").pixel(16, 50), plain.pixel(16, 50));
}

} // namespace
