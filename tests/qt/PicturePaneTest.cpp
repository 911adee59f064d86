// View > Picture in the real window: hidden at first, shown from the menu under the detail
// tree with its accessible name, and a clicked row's picture drawn with its shape kept and
// its line under it, while the window goes on taking input. View > Overlay's items draw
// over it, and the line names the macroblock under the pointer.

#include "qt/PicturePane.h"
#include "decode/PictureDecoder.h"
#include "qt/MainWindow.h"
#include "qt/ReportListView.h"
#include "stream/H264Utils.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"
#include "syntax/ReferenceSupport.h"

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QScrollArea>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace {

TEST(QtPicturePane, ShownFromTheViewMenuWithTheClickedRowsPicture) {
    FakeDialogs dialogs;
    TMainWindow window{TMainWindowServices{&dialogs}};
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.Picture1->text().remove(QLatin1Char('&')), QStringLiteral("Picture"));
    EXPECT_TRUE(window.Picture1->isCheckable());
    EXPECT_FALSE(window.Picture1->isChecked());
    EXPECT_FALSE(window.PicturePane->isVisible());
    EXPECT_EQ(window.PicturePane->accessibleName(), QStringLiteral("Picture"));

    window.Picture1->trigger();
    EXPECT_TRUE(window.Picture1->isChecked());
    EXPECT_TRUE(window.PicturePane->isVisible());
    EXPECT_EQ(window.PicturePane->parentWidget(), window.Panel3);

    window.OpenDropped({QString::fromStdString(TestDataPath("main_cabac.264"))});
    TReportListView& list = *window.ListView1;
    const QRect row = list.visualRect(list.Model()->index(4, 0)); // the first P picture
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    QLabel& line = *window.PicturePane->LineLabel;
    if (!DecoderBuilt()) {
        EXPECT_EQ(line.text(), QStringLiteral("built without a decoder"));
        return;
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return line.text().contains("(2 pictures)"); }, 20000))
        << line.text().toStdString();
    EXPECT_EQ(line.text().toStdString(),
              "176x144, slices P, frame_num 1, POC 6, picture 1 in decoding order and 3 in "
              "display order after the IDR, decoded from the IDR at 0x00000000000002D5 (2 "
              "pictures)");
    ASSERT_TRUE(window.PicturePane->HasImage());
    const QRect place = window.PicturePane->Canvas->Placement();
    EXPECT_NEAR(static_cast<double>(place.width()) / place.height(), 176.0 / 144.0, 0.02);
    EXPECT_TRUE(window.PicturePane->Canvas->rect().contains(place));

    window.Picture1->trigger();
    EXPECT_FALSE(window.PicturePane->isVisible());
}

TEST(QtPicturePane, OverlayItemsDrawAndTheLineNamesTheMacroblockUnderThePointer) {
    if (!DecoderBuilt()) {
        GTEST_SKIP() << "built without a decoder";
    }
    FakeDialogs dialogs;
    TMainWindow window{TMainWindowServices{&dialogs}};
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(window.Overlay1->actions().size(), static_cast<int>(kOverlayItemCount));
    window.Picture1->trigger();
    window.OpenDropped({QString::fromStdString(TestDataPath("mb_pan.264"))});
    TReportListView& list = *window.ListView1;
    const QRect row = list.visualRect(list.Model()->index(4, 0)); // the first P picture
    QTest::mouseClick(list.viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    QLabel& line = *window.PicturePane->LineLabel;
    TPictureCanvas& canvas = *window.PicturePane->Canvas;
    ASSERT_TRUE(QTest::qWaitFor([&] { return line.text().contains("(2 pictures)"); }, 20000));
    const QImage plain = canvas.grab().toImage();
    const QString facts = line.text();

    // On: the picture is asked for again with its macroblocks and drawn with the vectors.
    QAction& vectors = *window.OverlayItems[2];
    EXPECT_EQ(vectors.text().remove(QLatin1Char('&')), QStringLiteral("Motion Vectors"));
    vectors.trigger();
    EXPECT_TRUE(vectors.isChecked());
    ASSERT_TRUE(QTest::qWaitFor([&] { return canvas.grab().toImage() != plain; }, 20000));

    // The pointer over picture pixel (88, 72): macroblock 49 at (5, 4), moved by (+4, 0).
    const QRect place = canvas.Placement();
    const QPoint over =
        place.topLeft() + QPoint(88 * place.width() / 176 + 1, 72 * place.height() / 144 + 1);
    QTest::mouseMove(&canvas, over);
    EXPECT_TRUE(QTest::qWaitFor([&] { return line.text() != facts; }, 5000));
    EXPECT_TRUE(line.text().startsWith(facts + "  |  89, 73: Y ")) << line.text().toStdString();
    EXPECT_TRUE(line.text().contains("  |  MB 49 (x 5, y 4) QP ")) << line.text().toStdString();
    EXPECT_TRUE(line.text().endsWith(" L0 (4, 0)")) << line.text().toStdString();
    QTest::mouseMove(&canvas, place.topLeft() - QPoint(1, 1));
    EXPECT_EQ(line.text().toStdString(), facts.toStdString());

    // Off again: the plain picture, and the macroblock's place without its map.
    vectors.trigger();
    EXPECT_FALSE(vectors.isChecked());
    EXPECT_EQ(canvas.grab().toImage(), plain);
    QTest::mouseMove(&canvas, over);
    EXPECT_TRUE(line.text().endsWith("  |  MB 49 (x 5, y 4)")) << line.text().toStdString();

    // View > Zoom > 2:1 (Ctrl+2): the full-size picture drawn twice its size in a scrolled
    // canvas, sample by sample; the pointer still names the sample under it.
    ASSERT_EQ(window.Zoom1->actions().size(), 3);
    QTest::keyClick(&window, Qt::Key_2, Qt::ControlModifier);
    EXPECT_TRUE(window.ZoomItems[2]->isChecked());
    EXPECT_FALSE(window.ZoomItems[0]->isChecked());
    ASSERT_TRUE(QTest::qWaitFor([&] { return canvas.Placement().width() == 352; }, 20000));
    EXPECT_EQ(canvas.size(), QSize(352, 288));
    QTest::mouseMove(&canvas, QPoint(2 * 88 + 1, 2 * 72 + 1));
    EXPECT_TRUE(line.text().startsWith(facts + "  |  88, 72: Y ")) << line.text().toStdString();
    const QImage zoomed = canvas.grab().toImage();
    EXPECT_EQ(zoomed.pixel(2 * 88, 2 * 72), zoomed.pixel(2 * 88 + 1, 2 * 72 + 1))
        << "a sample a square";
    window.ZoomItems[0]->trigger();
    EXPECT_TRUE(window.ZoomItems[0]->isChecked());
    ASSERT_TRUE(QTest::qWaitFor([&] { return canvas.grab().toImage() == plain; }, 20000));
}

// Right and Left in the pane select the next and previous picture's first slice in the list,
// turning pages; against ffmpeg's slices (first_mb_in_slice 0) at the independent listing's
// offsets.
TEST(QtPicturePane, RightAndLeftSelectTheNextAndPreviousPicturesFirstSlice) {
    FakeDialogs dialogs;
    TMainWindow window{TMainWindowServices{&dialogs}};
    window.resize(900, 600);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.Picture1->trigger();
    window.OpenDropped({QString::fromStdString(TestDataPath("slices4.264"))});
    const reference::RefStream ref = reference::LoadRef(TestDataPath("slices4.ref"));
    const std::vector<std::int64_t> units = ListedUnitOffsets("slices4");
    std::vector<std::int64_t> firsts;
    for (const auto& [index, elements] : ref.Slices) {
        for (const reference::RefElement& e : elements) {
            if (e.Name == "first_mb_in_slice" && e.Value == 0) {
                firsts.push_back(units[static_cast<std::size_t>(index)]);
            }
        }
    }
    ASSERT_GE(firsts.size(), 6u);
    TReportListView& list = *window.ListView1;
    const auto selected = [&] {
        return ParseOffsetText(list.Model()->Text(list.SelectedIndex(), 0)).value_or(-1);
    };
    list.Select(0);
    window.PicturePane->setFocus();
    for (std::size_t i = 0; i < firsts.size(); ++i) {
        QTest::keyClick(window.PicturePane, Qt::Key_Right);
        EXPECT_EQ(selected(), firsts[i]) << i;
    }
    EXPECT_LT(list.RowCount(), static_cast<int>(units.size())) << "pages were turned";
    QTest::keyClick(window.PicturePane, Qt::Key_Right); // none after the last: it stays
    EXPECT_EQ(selected(), firsts.back());
    QTest::keyClick(window.PicturePane, Qt::Key_Left);
    EXPECT_EQ(selected(), firsts[firsts.size() - 2]);
    // The wheel with Ctrl over the zoomed, scrolled picture steps rather than scrolls.
    window.ZoomItems[2]->trigger();
    QWidget* area = window.PicturePane->Scroll->viewport();
    const QPointF at(area->width() / 2.0, area->height() / 2.0);
    QWheelEvent wheel(at, area->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::ControlModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(area, &wheel);
    EXPECT_EQ(selected(), firsts[firsts.size() - 3]);
}

} // namespace
