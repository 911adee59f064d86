// View > Picture in the window logic: off at first, shown on demand, the selected row's
// picture decoded off this thread and shown with its line, a newer selection winning over
// an older one, the setting kept, and the pane emptied with the file. View > Overlay asks
// for the picture again with its macroblocks, draws over it and names the macroblock under
// the pointer.

#include "app/Unit1.h"
#include "decode/PictureDecoder.h"
#include "support/FakePicture.h"
#include "support/FakeWindow.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>

namespace {

struct PictureWindow {
    FakePicturePane pane;
    FakeUiThread ui;
    FakeMenuCheck mark;
    FakeMenuCheck qpMark; // View > Overlay > QP Heat Map
    FakeSettingsStore registry;
    TFakeWindow window;

    explicit PictureWindow(bool shownBefore = false)
        : window(8, 12, [this, shownBefore](TForm1Widgets& w) {
              w.Picture1 = &mark;
              w.OverlayItems[0] = &qpMark;
              w.PicturePane = &pane;
              w.UiThread = &ui;
              w.Registry = &registry;
              if (shownBefore) {
                  registry.Keys["Software\\Marvane\\Quillet"]["ShowPicture"] = 1;
              }
          }) {}
    TForm1& Form() { return *window.form; }
    // Selects row i of the page and waits until the pane's line is no longer the note that
    // the picture is on its way.
    std::string SelectAndWait(int i) {
        window.list.Select(i);
        Form().ListView1MouseDown();
        EXPECT_TRUE(ui.PumpUntil([&] { return pane.Line().rfind("Decoding", 0) != 0; }));
        return pane.Line();
    }
};

// main_cabac: rows 0 SPS, 1 PPS, 2 SEI, 3 IDR, 4 P (0xD3F), 5 B, 6 B, 7 P.
TEST(PictureView, OffAtFirstThenTheSelectedRowsPicture) {
    PictureWindow w;
    ASSERT_TRUE(w.Form().LoadFile(TestDataPath("main_cabac.264")));
    EXPECT_FALSE(w.pane.Shown);
    EXPECT_FALSE(w.mark.Checked());
    EXPECT_TRUE(w.pane.Lines.empty() || w.pane.Line().empty()) << "nothing asked while hidden";

    w.Form().Picture1Click();
    EXPECT_TRUE(w.pane.Shown);
    EXPECT_TRUE(w.mark.Checked());
    if (!DecoderBuilt()) {
        EXPECT_EQ(w.pane.Line(), "built without a decoder");
        return;
    }
    EXPECT_EQ(w.SelectAndWait(4), "176x144, slices P, frame_num 1, POC 6, picture 1 in decoding "
                                  "order and 3 in display order after the IDR, decoded from the "
                                  "IDR at 0x00000000000002D5 (2 pictures)");
    ASSERT_TRUE(w.pane.HasImage());
    EXPECT_EQ(w.pane.Image.Width, 176);
    EXPECT_EQ(w.pane.Image.Pixels->size(), 176u * 144u);
    // The SPS belongs to the IDR picture's access unit.
    EXPECT_EQ(w.SelectAndWait(0), "176x144, slices I, frame_num 0, POC 0, picture 0 in decoding "
                                  "order and 0 in display order after the IDR, decoded from the "
                                  "IDR at 0x00000000000002D5 (1 picture)");

    w.Form().Picture1Click();
    EXPECT_FALSE(w.pane.Shown);
    w.Form().UnloadFile();
    EXPECT_FALSE(w.pane.HasImage());
    EXPECT_EQ(w.pane.Line(), "");
}

// slices4 with the third slice of its first P picture lost: rows 0 SPS, 1 PPS, 2 SEI, 3 to 6
// the IDR picture's slices, 7 the P picture's first. The decoder conceals what the slice
// left, and the window's line says so with the decoder's reasons.
TEST(PictureView, TheLineSaysWhatTheDecoderFoundDamaged) {
    if (!DecoderBuilt()) {
        GTEST_SKIP() << "built without a decoder";
    }
#ifdef _WIN32
    GTEST_SKIP() << "Media Foundation's decoder marks no damage";
#endif
    std::vector<std::uint8_t> bytes = ReadAll(TestDataPath("slices4.264"));
    bytes.erase(bytes.begin() + 0x119E, bytes.begin() + 0x12CA);
    TempDir dir;
    PictureWindow w;
    ASSERT_TRUE(w.Form().LoadFile(dir.Write("lost.264", bytes)));
    w.Form().Picture1Click();
    EXPECT_EQ(w.SelectAndWait(3).find("may differ"), std::string::npos);
    EXPECT_TRUE(w.SelectAndWait(7).ends_with(
        "; the picture may differ from the stream's: the decoder concealed damaged macroblocks"
        "; the picture may differ from the stream's: the decoder could not decode all of its "
        "slices"))
        << w.pane.Line();
}

TEST(PictureView, ANewerSelectionWinsOverTheOneUnderWay) {
    if (!DecoderBuilt()) {
        GTEST_SKIP() << "built without a decoder";
    }
    PictureWindow w;
    ASSERT_TRUE(w.Form().LoadFile(TestDataPath("main_cabac.264")));
    w.Form().Picture1Click();
    // Rows 7, 6, 5 in a row, as keys held down give them; only row 5's picture is shown.
    for (const int row : {7, 6}) {
        w.window.list.Select(row);
        w.Form().ListView1MouseDown();
    }
    const std::size_t before = w.pane.Lines.size();
    const std::string line = w.SelectAndWait(5);
    EXPECT_EQ(line, "176x144, slices B, frame_num 2, POC 2, picture 2 in decoding order and 1 in "
                    "display order after the IDR, decoded from the IDR at 0x00000000000002D5 (3 "
                    "pictures)");
    for (std::size_t i = before; i < w.pane.Lines.size(); ++i) {
        EXPECT_TRUE(w.pane.Lines[i].rfind("Decoding", 0) == 0 || w.pane.Lines[i] == line)
            << w.pane.Lines[i];
    }
}

// mb_pan: rows 3 IDR, 4 P; the noise moves by (+4, 0) a picture.
TEST(PictureView, TheOverlayDrawsOverThePictureAndNamesTheMacroblockUnderThePointer) {
    if (!DecoderBuilt()) {
        GTEST_SKIP() << "built without a decoder";
    }
#ifdef _WIN32
    GTEST_SKIP() << "Media Foundation's decoder gives no macroblocks";
#endif
    PictureWindow w;
    ASSERT_TRUE(w.Form().LoadFile(TestDataPath("mb_pan.264")));
    w.Form().Picture1Click();
    const std::string facts = w.SelectAndWait(4);
    const std::vector<std::uint32_t> plain = *w.pane.Image.Pixels;
    ASSERT_TRUE(w.pane.Pointer);
    w.pane.Pointer(88, 72);
    EXPECT_EQ(w.pane.Line().find(" QP "), std::string::npos)
        << "no macroblock map without an overlay";

    w.Form().OverlayClick(kOverlayQp);
    EXPECT_TRUE(w.qpMark.Checked());
    EXPECT_EQ(w.pane.Line().rfind("Decoding", 0), 0u) << "asked again with its macroblocks";
    ASSERT_TRUE(w.ui.PumpUntil([&] { return w.pane.Line() == facts; }));
    const std::vector<std::uint32_t>& drawn = *w.pane.Image.Pixels;
    ASSERT_EQ(drawn.size(), plain.size());
    EXPECT_NE(drawn[20 * 176 + 100], plain[20 * 176 + 100]) << "the heat map";
    EXPECT_NE(drawn[143 * 176 + 1], plain[143 * 176 + 1]) << "the legend";

    w.pane.Pointer(88, 72);
    const std::string line = w.pane.Line();
    EXPECT_NE(line.find("  |  MB 49 (x 5, y 4) QP "), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 10), " L0 (4, 0)") << line;
    w.pane.Pointer(-1, -1);
    EXPECT_EQ(w.pane.Line(), facts);

    // Off: the plain picture again, without decoding it again.
    const std::size_t lines = w.pane.Lines.size();
    w.Form().OverlayClick(kOverlayQp);
    EXPECT_FALSE(w.qpMark.Checked());
    EXPECT_EQ(*w.pane.Image.Pixels, plain);
    for (std::size_t i = lines; i < w.pane.Lines.size(); ++i) {
        EXPECT_EQ(w.pane.Lines[i], facts);
    }
}

// The samples under the pointer against ffmpeg's own decode of the first picture, at the
// stream's depth and sampling; fitted into half the picture's size, then at 1:1 and 2:1.
TEST(PictureView, ThePointerLineGivesTheSamplesAsFfmpegDecodesThem) {
    if (!DecoderBuilt() || std::system("ffmpeg -version >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "needs the decoder and ffmpeg";
    }
    struct Case {
        const char* Stream;
        int Bytes;            // a sample
        int ChromaW, ChromaH; // the chroma planes' size
    } const cases[] = {{"main_cabac", 1, 88, 72}, {"high10", 2, 88, 72}, {"high422", 1, 88, 144}};
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Stream);
        const std::string raw = (dir.Path() / (std::string(c.Stream) + ".yuv")).string();
        ASSERT_EQ(
            std::system(("ffmpeg -v error -y -i " + TestDataPath(std::string(c.Stream) + ".264") +
                         " -frames:v 1 -f rawvideo " + raw)
                            .c_str()),
            0);
        const std::vector<std::uint8_t> yuv = ReadAll(raw);
        const auto sample = [&](std::size_t planeStart, int width, int x, int y) {
            const std::size_t at = planeStart + (static_cast<std::size_t>(y) * width + x) * c.Bytes;
            return c.Bytes == 1 ? yuv.at(at) : yuv.at(at) | yuv.at(at + 1) << 8;
        };
        PictureWindow w;
        w.pane.Width = 88;
        w.pane.Height = 72;
        ASSERT_TRUE(w.Form().LoadFile(TestDataPath(std::string(c.Stream) + ".264")));
        w.Form().Picture1Click();
        const std::string facts = w.SelectAndWait(0);
        for (const int zoom : {0, 1, 2}) {
            // From fitted to 1:1 the picture is asked for at full size; 2:1 draws that larger.
            w.Form().ZoomClick(zoom);
            if (zoom == 1) {
                ASSERT_TRUE(w.ui.PumpUntil([&] { return w.pane.Line() == facts; }));
            }
            EXPECT_EQ(w.pane.Zoom, zoom);
            ASSERT_EQ(w.pane.Image.Width, zoom == 0 ? 88 : 176);
            for (const auto& [x, y] : {std::pair{0, 0}, {37, 101}, {175, 143}, {120, 8}}) {
                const int scale = zoom == 0 ? 2 : 1;
                w.pane.Pointer(x / scale, y / scale);
                const int px = x / scale * scale;
                const int py = y / scale * scale;
                const std::size_t cb = 176 * 144 * static_cast<std::size_t>(c.Bytes);
                const std::size_t cr =
                    cb + static_cast<std::size_t>(c.ChromaW) * c.ChromaH * c.Bytes;
                const int cx = px * c.ChromaW / 176;
                const int cy = py * c.ChromaH / 144;
                const std::string expected =
                    std::to_string(px) + ", " + std::to_string(py) + ": Y " +
                    std::to_string(sample(0, 176, px, py)) + " Cb " +
                    std::to_string(sample(cb, c.ChromaW, cx, cy)) + " Cr " +
                    std::to_string(sample(cr, c.ChromaW, cx, cy)) + "  |  MB " +
                    std::to_string(py / 16 * 11 + px / 16) + " (x " + std::to_string(px / 16) +
                    ", y " + std::to_string(py / 16) + ")";
                EXPECT_EQ(w.pane.Line(), facts + "  |  " + expected);
            }
        }
    }
}

// Where it goes among the settings: WindowSettings.NewValuesAreWrittenAfterTheElevenValues.
TEST(PictureView, TheSettingIsKept) {
    PictureWindow hidden;
    hidden.Form().Picture1Click();
    hidden.Form().FormClose();
    EXPECT_EQ(hidden.registry.Keys["Software\\Marvane\\Quillet"]["ShowPicture"], 1);

    PictureWindow shown(true);
    EXPECT_TRUE(shown.pane.Shown);
    EXPECT_TRUE(shown.mark.Checked());
}

} // namespace
