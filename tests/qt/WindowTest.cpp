// The whole window with its logic, driven as a user drives it: keys and clicks in the NAL
// list, presses on its scroll bar, drops, the menu's shortcuts. Rows are checked against
// the independent listings of the test streams.

#include "QtTestSupport.h"
#include "qt/FindProgress.h"
#include "qt/LineListView.h"
#include "qt/MainWindow.h"
#include "qt/ReportListView.h"
#include "qt/ScrollBar.h"
#include "qt/StatusBar.h"
#include "qt/SummaryPane.h"
#include "qt/TreeLinesView.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSplitter>
#include <QStatusBar>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace {

// Offsets of every NAL unit of a test stream, from its independent listing.
std::vector<std::int64_t> UnitOffsets(const std::string& stream) {
    std::ifstream in(TestDataPath(stream + ".nals"));
    std::vector<std::int64_t> offsets;
    std::string line;
    while (std::getline(in, line)) {
        offsets.push_back(std::stoll(line));
    }
    return offsets;
}

// A window whose list holds about ten rows.
constexpr int kTenRowsHigh = 480;

struct ShownWindow {
    FakeDialogs dialogs;
    TMainWindow window{TMainWindowServices{&dialogs}};

    // height: the window's, which sets the rows a page holds.
    explicit ShownWindow(int height = 0) {
        if (height > 0) {
            window.resize(window.width(), height);
        }
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    TReportListView& List() { return *window.ListView1; }
    std::vector<std::int64_t> Rows() {
        std::vector<std::int64_t> rows;
        for (int i = 0; i < List().RowCount(); ++i) {
            rows.push_back(std::stoll(List().Model()->Text(i, 0).substr(2), nullptr, 16));
        }
        return rows;
    }
    std::int64_t SelectedOffset() {
        return std::stoll(List().SelectedCaption().substr(2), nullptr, 16);
    }
    // The first hex line's offset.
    std::int64_t HexStart() {
        const std::string line = window.ListBox1->Line(0);
        return line.empty() ? -1 : std::stoll(line.substr(2, 16), nullptr, 16);
    }
    void ClickRow(int row) {
        const QRect rect = List().visualRect(List().Model()->index(row, 0));
        QTest::mouseClick(List().viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    }
    void Key(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&List(), key, modifiers);
    }
    std::string Caption() const { return window.windowTitle().toStdString(); }
};

std::vector<std::int64_t> Slice(const std::vector<std::int64_t>& all, std::size_t first,
                                std::size_t count) {
    const std::size_t end = std::min(all.size(), first + count);
    return {all.begin() + static_cast<std::ptrdiff_t>(first),
            all.begin() + static_cast<std::ptrdiff_t>(end)};
}

TEST(QtWindow, CompositionAndStartup) {
    ShownWindow w;
    TMainWindow& f = w.window;
    EXPECT_EQ(w.Caption(), "Quillet");
    const std::pair<int, int> sizes[] = {
        {f.centralWidget()->width(), 958},
        {f.centralWidget()->height(), 653},
        {f.Panel2Width(), 700},
        // The splitter's handle is wider than the design's 3 pixels, to be easy to hit.
        {f.Panel3->x() - f.Panel2->geometry().right(), 8},
        {f.Panel1->height(), 210},
        // The hex list inside its focus frame.
        {f.ListBox1->height(), 192 - 4},
        {f.ScrollBar1->width(), 16},
    };
    for (const auto& [actual, design] : sizes) {
        EXPECT_EQ(actual, design);
    }
    // Columns as wide as the texts they commonly hold.
    EXPECT_GE(f.ListView1->ColumnWidth(3), f.ListView1->fontMetrics().horizontalAdvance(
                                               QStringLiteral("Coded slice of a non-IDR picture")));
    EXPECT_TRUE(f.CheckForUpdates1->isChecked());
    EXPECT_TRUE(f.tmUpdate->isActive());
    EXPECT_TRUE(w.List().viewport()->acceptDrops());
    const std::pair<QWidget*, const char*> names[] = {
        {f.ListView1, "NAL list"},        {f.TreeView1, "Detail tree"},
        {f.ListBox1, "Hex view"},         {f.ScrollBar1, "Window scroll bar"},
        {f.ScrollBar2, "Hex scroll bar"}, {f.StatusBar1, "Status"},
    };
    for (const auto& [widget, name] : names) {
        EXPECT_EQ(AccessibleTexts(widget).value(0).toStdString(), name);
    }
}

TEST(QtWindow, KeysMoveThroughAMultiPageStream) {
    const std::vector<std::int64_t> all = UnitOffsets("aud_sei");
    ShownWindow w(kTenRowsHigh);
    w.window.OpenDropped({QString::fromStdString(TestDataPath("aud_sei.264"))});
    const auto rows = static_cast<std::size_t>(w.List().RowsPerPage());
    ASSERT_GT(all.size(), 3 * rows) << "the stream spans several pages";
    ASSERT_EQ(w.Rows(), Slice(all, 0, rows));
    EXPECT_EQ(w.List().SelectedIndex(), 0);
    EXPECT_EQ(w.window.TreeView1->topLevelItem(0)->text(0), QStringLiteral("NAL"));

    struct Step {
        const char* what;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::size_t first; // the page's first unit afterwards
        int selected;      // -1: the last row
    };
    const Step steps[] = {
        {"Down within the page", Qt::Key_Down, Qt::NoModifier, 0, 1},
        {"Page Down", Qt::Key_PageDown, Qt::NoModifier, rows, -1},
        {"Down on the last row", Qt::Key_Down, Qt::NoModifier, rows + 1, -1},
        {"Up within the page", Qt::Key_Up, Qt::NoModifier, rows + 1, static_cast<int>(rows) - 2},
        {"Page Up", Qt::Key_PageUp, Qt::NoModifier, 1, 0},
        {"Up on the first row", Qt::Key_Up, Qt::NoModifier, 0, 0},
        {"Ctrl+End", Qt::Key_End, Qt::ControlModifier, all.size() - rows, -1},
        {"Home", Qt::Key_Home, Qt::NoModifier, 0, 0},
    };
    for (const Step& s : steps) {
        w.Key(s.key, s.modifiers);
        EXPECT_EQ(w.Rows(), Slice(all, s.first, rows)) << s.what;
        const int selected = s.selected < 0 ? w.List().RowCount() - 1 : s.selected;
        ASSERT_EQ(w.List().SelectedIndex(), selected) << s.what;
        // The key's release shows the selected unit in the hex view.
        EXPECT_EQ(w.HexStart(), w.SelectedOffset() / 16 * 16) << s.what;
    }
    // The rows are what a screen reader reads, once the views have laid them out.
    QApplication::processEvents();
    const QStringList texts = AccessibleTexts(w.window.ListView1);
    EXPECT_TRUE(texts.contains(QString::fromStdString(w.List().Model()->Text(2, 0))));
    EXPECT_TRUE(texts.contains(QStringLiteral("NAL Type")));
    EXPECT_TRUE(AccessibleTexts(w.window.TreeView1).contains(QStringLiteral("NAL")));
    EXPECT_TRUE(AccessibleTexts(w.window.ListBox1).contains(w.window.ListBox1->item(0)->text()));
}

void TurnWheel(QWidget* widget, int notches) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &event);
}

// What a screen reader reads in the status bar: each label by its name.
std::string StatusText(TMainWindow& window, const char* name) {
    for (QLabel* label : window.StatusBar1->findChildren<QLabel*>()) {
        if (label->accessibleName() == QLatin1String(name)) {
            return label->text().toStdString();
        }
    }
    return "(no label " + std::string(name) + ")";
}

TEST(QtWindow, TheWheelMovesThePageAndTheStatusBarSaysWhere) {
    const std::vector<std::int64_t> all = UnitOffsets("aud_sei");
    ShownWindow w(kTenRowsHigh);
    w.window.OpenDropped({QString::fromStdString(TestDataPath("aud_sei.264"))});
    const auto rows = static_cast<std::size_t>(w.List().RowsPerPage());
    ASSERT_EQ(std::filesystem::file_size(TestDataPath("aud_sei.264")), 10835u);
    EXPECT_EQ(StatusText(w.window, "File size"), "10,835 bytes");
    // A notch down over the list moves the page by three units, as three arrow presses.
    TurnWheel(w.List().viewport(), -1);
    EXPECT_EQ(w.Rows(), Slice(all, 3, rows));
    EXPECT_EQ(w.SelectedOffset(), all[3]);
    EXPECT_EQ(w.HexStart(), all[3] / 16 * 16);
    EXPECT_EQ(StatusText(w.window, "Page").rfind("Page " + NalOffsetText(all[3]) + " to ", 0), 0u)
        << StatusText(w.window, "Page");
    EXPECT_EQ(StatusText(w.window, "Selected unit"), "Unit at " + NalOffsetText(all[3]) + ", " +
                                                         std::to_string(all[4] - all[3]) +
                                                         " bytes");
    // Two notches up over its bar: back to the start, where it stops.
    TurnWheel(w.window.ScrollBar1, 2);
    EXPECT_EQ(w.Rows(), Slice(all, 0, rows));
    EXPECT_EQ(w.window.ScrollBar1->Position(), 0);
    // Over the hex view a notch scrolls three lines.
    const std::int64_t start = w.HexStart();
    TurnWheel(w.window.ListBox1->viewport(), -1);
    EXPECT_EQ(w.HexStart(), start + 48);
    TurnWheel(w.window.ListBox1->viewport(), 1);
    EXPECT_EQ(w.HexStart(), start);
}

TEST(QtWindow, ClicksAndTheWindowScrollBar) {
    const std::vector<std::int64_t> all = UnitOffsets("aud_sei");
    ShownWindow w(kTenRowsHigh);
    w.window.OpenDropped({QString::fromStdString(TestDataPath("aud_sei.264"))});
    const auto rows = static_cast<std::size_t>(w.List().RowsPerPage());
    w.ClickRow(3);
    EXPECT_EQ(w.SelectedOffset(), all[3]);
    EXPECT_EQ(w.HexStart(), all[3] / 16 * 16);

    struct Press {
        const char* what;
        QStyle::SubControl part;
        std::size_t first;
        bool forward; // the first row is selected after a forward step, the last after a back one
    };
    const Press presses[] = {
        {"down arrow", QStyle::SC_ScrollBarAddLine, 1, true},
        {"page below the thumb", QStyle::SC_ScrollBarAddPage, 1 + rows, true},
        {"up arrow", QStyle::SC_ScrollBarSubLine, rows, false},
    };
    for (const Press& p : presses) {
        const QPoint at = ScrollBarPoint(w.window.ScrollBar1, p.part);
        QTest::mouseClick(w.window.ScrollBar1, Qt::LeftButton, Qt::NoModifier, at);
        EXPECT_EQ(w.Rows(), Slice(all, p.first, rows)) << p.what;
        const int row = p.forward ? 0 : static_cast<int>(rows) - 1;
        EXPECT_EQ(w.List().SelectedIndex(), row) << p.what;
        EXPECT_EQ(w.HexStart(), all[p.first + static_cast<std::size_t>(row)] / 16 * 16) << p.what;
    }
    DragThumb(w.window.ScrollBar1, 0.0);
    EXPECT_EQ(w.Rows(), Slice(all, 0, rows)) << "thumb at the top";
    QTest::mouseClick(w.window.ScrollBar1, Qt::LeftButton, Qt::NoModifier,
                      ScrollBarPoint(w.window.ScrollBar1, QStyle::SC_ScrollBarSubLine));
    EXPECT_EQ(w.window.ScrollBar1->Position(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);

    // The hex view's bar pages the lines by its own codes: the first page step selects
    // the last line, the next one moves on.
    w.ClickRow(0);
    const std::int64_t start = w.HexStart();
    for (int i = 0; i < 2; ++i) {
        QTest::mouseClick(w.window.ScrollBar2, Qt::LeftButton, Qt::NoModifier,
                          ScrollBarPoint(w.window.ScrollBar2, QStyle::SC_ScrollBarAddPage));
    }
    EXPECT_EQ(w.HexStart(), start + 16 * w.window.ListBox1->Count());
    EXPECT_GT(w.window.ScrollBar2->Position(), 0);
}

TEST(QtWindow, ResizingListsAsManyRowsAsFit) {
    ShownWindow w;
    // Without the Info column the columns fit the list pane: no horizontal bar at first.
    w.window.UnitSummaryColumn1->trigger();
    w.window.OpenDropped({QString::fromStdString(TestDataPath("aud_sei.264"))});
    const int before = w.List().RowCount();
    // Shorter by the odd pixels and more, so that the rows fill the list exactly.
    const int rowHeight = w.List().rowHeight(0);
    const int odd = w.List().viewport()->height() % rowHeight;
    w.window.resize(w.window.width(), w.window.height() - 4 * rowHeight - odd);
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.List().RowCount() == before - 4; }));
    EXPECT_EQ(w.List().RowCount(), w.List().RowsPerPage());
    EXPECT_EQ(w.List().viewport()->height() % rowHeight, 0);
    // A list pane narrower than its columns gets a horizontal bar, which takes a row's room.
    const int tall = w.List().RowCount();
    w.window.Splitter1->setSizes({200, 700});
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.List().horizontalScrollBar()->isVisible(); }));
    EXPECT_EQ(w.List().RowCount(), w.List().RowsPerPage());
    EXPECT_LT(w.List().RowCount(), tall);
}

TEST(QtWindow, DropsOpenOnlyOnTheList) {
    ShownWindow w;
    const QString stream = QString::fromStdString(TestDataPath("slices4.264"));
    EXPECT_FALSE(DropFiles(w.window.TreeView1, {stream}));
    EXPECT_FALSE(DropFiles(w.window.ListBox1, {stream}));
    EXPECT_EQ(w.Caption(), "Quillet");
    EXPECT_TRUE(DropFiles(w.window.ListView1, {stream}));
    EXPECT_EQ(w.Caption(), "Quillet(" + TestDataPath("slices4.264") + ")");
    // Not a stream: dropped, it is named with the reason and the stream stays.
    const int rows = w.List().RowCount();
    EXPECT_TRUE(
        DropFiles(w.window.ListView1, {QString::fromStdString(TestDataPath("slices4.nals"))}));
    EXPECT_EQ(w.Caption(), "Quillet(" + TestDataPath("slices4.264") + ")");
    EXPECT_EQ(w.List().RowCount(), rows);
    ASSERT_EQ(w.dialogs.Warnings.size(), 1u);
    EXPECT_EQ(w.dialogs.Warnings[0].second,
              NotValidStreamText(TestDataPath("slices4.nals"), "no start codes in the file"));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST(QtWindow, MenuShortcutsOpenAndClose) {
    ShownWindow w;
    w.dialogs.ChosenFile = TestDataPath("slices4.nals");
    QTest::keyClick(&w.List(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(w.dialogs.OpenCount, 1);
    ASSERT_EQ(w.dialogs.Warnings.size(), 1u);
    EXPECT_EQ(w.dialogs.Warnings[0].second.rfind("Not valid H.264 video elementary stream\n", 0),
              0u);
    w.dialogs.ChosenFile = TestDataPath("slices4.264");
    QTest::keyClick(&w.List(), Qt::Key_O, Qt::ControlModifier);
    EXPECT_EQ(w.Caption(), "Quillet(" + TestDataPath("slices4.264") + ")");
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    w.window.Close1->trigger();
    EXPECT_EQ(w.Caption(), "Quillet");
    w.window.CheckForUpdates1->trigger();
    EXPECT_EQ(w.window.CheckForUpdates1->isChecked(), w.window.Form().CheckForUpdates);

    QTest::keyClick(&w.List(), Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(w.window.isVisible());
    EXPECT_FALSE(w.List().viewport()->acceptDrops()) << "the shutdown steps ran";
    EXPECT_EQ(w.window.Form().TableLock, nullptr);
    w.window.Form().TableLock = std::make_unique<std::recursive_mutex>();
    w.window.close();
    EXPECT_NE(w.window.Form().TableLock, nullptr) << "the shutdown steps run once";
}

TEST(QtWindow, ASessionNeverWritesTheStreamFile) {
    TempDir dir;
    const std::string path = dir.Write("s.264", ReadAll(TestDataPath("aud_sei.264")));
    const auto bytes = ReadAll(path);
    std::filesystem::last_write_time(path, std::filesystem::file_time_type::clock::now() -
                                               std::chrono::hours(1));
    const auto written = std::filesystem::last_write_time(path);
    {
        ShownWindow w;
        w.dialogs.ChosenFile = path;
        w.window.Open1->trigger();
        w.ClickRow(2);
        for (const Qt::Key key : {Qt::Key_Down, Qt::Key_PageDown, Qt::Key_End, Qt::Key_Home}) {
            w.Key(key);
        }
        QTest::mouseClick(w.window.ScrollBar1, Qt::LeftButton, Qt::NoModifier,
                          ScrollBarPoint(w.window.ScrollBar1, QStyle::SC_ScrollBarAddPage));
        DragThumb(w.window.ScrollBar2, 0.5);
        DropFiles(w.window.ListView1, {QString::fromStdString(path)});
        w.window.Exit1->trigger();
    }
    EXPECT_EQ(ReadAll(path), bytes);
    EXPECT_EQ(std::filesystem::last_write_time(path), written);
}

} // namespace

namespace {

TEST(QtWindow, ViewMenuDecodesSliceHeadersOfTheSelectedUnit) {
    ShownWindow w(kTenRowsHigh);
    const auto menus = w.window.menuBar()->actions();
    ASSERT_EQ(menus.size(), 4);
    EXPECT_EQ(menus[0]->text(), "&File");
    EXPECT_EQ(menus[1]->text(), "&View");
    EXPECT_EQ(menus[2]->text(), "&Go");
    EXPECT_EQ(menus[3]->text(), "&Help");
    QAction* item = w.window.DecodeSliceHeaders1;
    ASSERT_EQ(menus[1]->menu()->actions(),
              (QList<QAction*>{item, w.window.UnitSummaryColumn1, w.window.StreamSummary1,
                               w.window.Picture1, w.window.Overlay1->menuAction(),
                               w.window.Zoom1->menuAction()}));
    EXPECT_EQ(item->text(), "&Decode Slice Headers and SEI");
    EXPECT_TRUE(item->isCheckable());
    EXPECT_FALSE(item->isChecked());

    w.dialogs.ChosenFile = TestDataPath("intra_refresh.264");
    w.window.Open1->trigger();
    w.ClickRow(3); // the IDR slice
    const auto structureChildren = [&] {
        const QTreeWidgetItem* nal = w.window.TreeView1->topLevelItem(0);
        return nal != nullptr && nal->childCount() > 3 ? nal->child(3)->childCount() : -1;
    };
    EXPECT_EQ(structureChildren(), 0);
    item->trigger();
    EXPECT_TRUE(item->isChecked());
    EXPECT_TRUE(w.window.Form().DecodeSliceHeaders);
    EXPECT_EQ(structureChildren(), 1); // slice_header( )
    EXPECT_EQ(w.window.TreeView1->topLevelItem(0)->child(3)->child(0)->text(0), "slice_header( )");
    item->trigger();
    EXPECT_FALSE(item->isChecked());
    EXPECT_EQ(structureChildren(), 0);
}

// Selecting lines of the real tree marks the real hex list: an element its bytes, a
// structure line every byte of the lines below it.
TEST(QtWindow, ASelectedTreeLineMarksItsBytesInTheHexList) {
    ShownWindow w(kTenRowsHigh);
    w.dialogs.ChosenFile = TestDataPath("aud_sei.264");
    w.window.Open1->trigger();
    w.ClickRow(1); // the SPS at 6, 28 bytes
    QTreeWidget& tree = *w.window.TreeView1;
    const auto marks = [&] {
        std::vector<std::pair<int, QPoint>> all;
        for (int i = 0; i < w.window.ListBox1->count(); ++i) {
            for (const QVariant& m : w.window.ListBox1->item(i)->data(Qt::UserRole + 1).toList()) {
                all.emplace_back(i, m.toPoint());
            }
        }
        return all;
    };
    const auto find = [&](const QString& prefix) {
        const auto items = tree.findItems(prefix, Qt::MatchStartsWith | Qt::MatchRecursive);
        return items.isEmpty() ? nullptr : items.front();
    };
    QTreeWidgetItem* timeScale = find("time_scale ");
    ASSERT_NE(timeScale, nullptr);
    tree.setCurrentItem(timeScale);
    using Marks = std::vector<std::pair<int, QPoint>>;
    EXPECT_EQ(marks(), (Marks{{1, QPoint(48, 61)}, {1, QPoint(80, 84)}}));

    // The structure: from profile_idc at 0xB to the last VUI element, which ends in 0x20
    // (0x21 holds only the stop bit).
    QTreeWidgetItem* sps = find("seq_parameter_set_rbsp( )");
    ASSERT_NE(sps, nullptr);
    tree.setCurrentItem(sps);
    EXPECT_EQ(marks(), (Marks{{0, QPoint(21 + 3 * 11, 21 + 3 * 15 + 1)},
                              {0, QPoint(71 + 11, 71 + 15)},
                              {1, QPoint(21, 21 + 3 * 15 + 1)},
                              {1, QPoint(71, 71 + 15)},
                              {2, QPoint(21, 22)},
                              {2, QPoint(71, 71)}}));
    w.window.ListBox1->grab(); // the marks are drawn without complaint

    tree.setCurrentItem(tree.topLevelItem(0)); // "NAL": the header byte and the rest
    EXPECT_EQ(marks().front(), (std::pair<int, QPoint>{0, QPoint(21 + 3 * 10, 21 + 3 * 15 + 1)}));
}

} // namespace

namespace {

// The Info column of the real list, View > Unit Summary Column, Go to Offset by Ctrl+G and
// Find by Ctrl+F and F3, with the status bar's note when nothing more is found.
TEST(QtWindow, InfoColumnGoToAndFind) {
    ShownWindow w(kTenRowsHigh);
    w.dialogs.ChosenFile = TestDataPath("aud_sei.264");
    w.window.Open1->trigger();
    TReportListModel& model = *w.List().Model();
    EXPECT_EQ(model.headerData(4, Qt::Horizontal, Qt::DisplayRole).toString(), "Info");
    EXPECT_EQ(model.Text(0, 4), "primary_pic_type 0 (I)");
    EXPECT_EQ(model.Text(1, 4), "High  1.1  176x144");
    EXPECT_TRUE(w.window.UnitSummaryColumn1->isChecked());
    const int width = w.List().columnWidth(4);
    w.window.UnitSummaryColumn1->trigger();
    EXPECT_FALSE(w.window.UnitSummaryColumn1->isChecked());
    EXPECT_TRUE(w.List().isColumnHidden(4));
    EXPECT_EQ(w.List().ColumnWidth(4), width);
    EXPECT_EQ(model.Text(0, 4), "");
    w.window.UnitSummaryColumn1->trigger();
    EXPECT_FALSE(w.List().isColumnHidden(4));
    EXPECT_EQ(w.List().columnWidth(4), width);

    const std::vector<std::int64_t> units = UnitOffsets("aud_sei");
    w.dialogs.TypedText = std::to_string(units[12] + 2);
    QTest::keyClick(&w.List(), Qt::Key_G, Qt::ControlModifier);
    EXPECT_EQ(w.Rows().front(), units[12]);
    EXPECT_EQ(w.SelectedOffset(), units[12]);
    // The hex view shows and selects the offset's own line, its byte marked.
    QApplication::processEvents();
    const std::int64_t sought = units[12] + 2;
    const QString line = QString::fromStdString(NalOffsetText(sought - sought % 16));
    ASSERT_GT(w.window.ListBox1->count(), 0);
    EXPECT_TRUE(w.window.ListBox1->item(0)->text().startsWith(line))
        << w.window.ListBox1->item(0)->text().toStdString();
    EXPECT_EQ(w.window.ListBox1->currentRow(), 0);
    // The byte's two digits and its character, on that line only.
    for (int i = 0; i < w.window.ListBox1->count(); ++i) {
        const QVariantList marks = w.window.ListBox1->item(i)->data(kMarksRole).toList();
        ASSERT_EQ(marks.size(), i == 0 ? 2 : 0) << i;
        if (i == 0) {
            const int digits = 21 + 3 * static_cast<int>(sought % 16);
            EXPECT_EQ(marks[0].toPoint(), QPoint(digits, digits + 1));
        }
    }

    // From the selected row, the next SPS, then on with F3 until there is none.
    w.dialogs.ChosenItem = "sps  SPS";
    QTest::keyClick(&w.List(), Qt::Key_F, Qt::ControlModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.window.Form().Finding(); }, 10000));
    const std::int64_t first = w.SelectedOffset();
    EXPECT_GT(first, units[12]);
    EXPECT_EQ(model.Text(0, 3), "Sequence parameter set");
    EXPECT_FALSE(w.window.FindProgress->isVisible());
    for (int i = 0; i < 10 && w.window.StatusBar1->Text(TStatusField::Note).empty(); ++i) {
        QTest::keyClick(&w.List(), Qt::Key_F3);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !w.window.Form().Finding(); }, 10000));
    }
    EXPECT_EQ(w.window.StatusBar1->Text(TStatusField::Note),
              "No SPS after " + NalOffsetText(w.SelectedOffset()));
    QTest::keyClick(&w.List(), Qt::Key_F3, Qt::ShiftModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.window.Form().Finding(); }, 10000));
    EXPECT_LT(w.SelectedOffset(), units.back());
    EXPECT_EQ(model.Text(0, 3), "Sequence parameter set");
}

// The progress bar's Cancel button and Esc, while it is shown.
TEST(QtWindow, TheSearchBarCancelsByButtonAndEsc) {
    ShownWindow w;
    int cancels = 0;
    TFindProgress& bar = *w.window.FindProgress;
    bar.SetCancelHandler([&] { ++cancels; });
    QTest::keyClick(&w.List(), Qt::Key_Escape);
    EXPECT_EQ(cancels, 0) << "no search shown";
    bar.Show("Searching for IDR picture");
    bar.SetProgress(500, "0x0000000000001000");
    EXPECT_TRUE(bar.isVisible());
    EXPECT_EQ(bar.Bar->value(), 500);
    EXPECT_EQ(bar.Bar->text(), "0x0000000000001000");
    QTest::mouseClick(bar.CancelButton, Qt::LeftButton);
    QTest::keyClick(&w.List(), Qt::Key_Escape);
    EXPECT_EQ(cancels, 2);
    bar.Hide();
    EXPECT_FALSE(bar.Visible());
}

} // namespace

namespace {

// View > Stream Summary on the real window: the pane named "Summary" shows the figures and
// the plot once the walk is done; a click on the plot lists the page from there.
TEST(QtWindow, TheStreamSummaryPane) {
    ShownWindow w(kTenRowsHigh);
    w.dialogs.ChosenFile = TestDataPath("aud_sei.264");
    w.window.Open1->trigger();
    TSummaryPane& pane = *w.window.SummaryPane;
    EXPECT_FALSE(pane.isVisible());
    w.window.StreamSummary1->trigger();
    EXPECT_TRUE(w.window.StreamSummary1->isChecked());
    EXPECT_TRUE(pane.isVisible());
    EXPECT_EQ(AccessibleTexts(&pane).value(0).toStdString(), "Summary");
    EXPECT_TRUE(QTest::qWaitFor([&] { return !w.window.Form().Summarising(); }, 10000));
    EXPECT_TRUE(pane.Figures->text().startsWith("Pictures: 8 (I 2, P 2, B 4, IDR 1)"));
    EXPECT_FALSE(pane.Bar->isVisible());
    const TSummaryPlot& plot = pane.PlotView->Plot();
    ASSERT_EQ(plot.Bars.size(), 8u);
    EXPECT_EQ(plot.PageFirst, 0);
    // A click at a bar lists the page from its access unit; hovering tells of it.
    TSummaryPlotView& view = *pane.PlotView;
    ASSERT_EQ(view.Model().Columns().size(), 8u);
    const TPlotColumn fifth = view.Model().Columns()[4];
    const QPoint at((fifth.Left + fifth.Right) / 2, view.height() / 2);
    // The VUI gives the timing: the bitrate line is drawn in its colour.
    ASSERT_FALSE(view.Model().Picture().Lines.empty());
    const TPlotLine& rateLine = view.Model().Picture().Lines.back();
    EXPECT_EQ(view.grab().toImage().pixelColor(rateLine.X2, rateLine.Y2),
              QColor(kPlotRate.R, kPlotRate.G, kPlotRate.B));
    QTest::mouseClick(&view, Qt::LeftButton, Qt::NoModifier, at);
    EXPECT_EQ(w.Rows().front(), fifth.Bar.LargestOffset);
    EXPECT_EQ(view.Plot().PageFirst, fifth.Bar.LargestOffset);
    QHelpEvent hover(QEvent::ToolTip, at, view.mapToGlobal(at));
    QApplication::sendEvent(&view, &hover);
    EXPECT_TRUE(QToolTip::text().contains(QStringLiteral(" POC lsb ")))
        << QToolTip::text().toStdString();

    // A drag from the second bar to the sixth zooms there, and that range is walked again:
    // its own access units, each in a bucket of the range; a right click, the whole file.
    const std::vector<TPlotColumn> columns = view.Model().Columns();
    const int y = view.height() / 2;
    QTest::mousePress(&view, Qt::LeftButton, Qt::NoModifier, QPoint(columns[1].Left - 1, y));
    QTest::mouseMove(&view, QPoint(columns[5].Right, y));
    QTest::mouseRelease(&view, Qt::LeftButton, Qt::NoModifier, QPoint(columns[5].Right, y));
    ASSERT_TRUE(view.Model().Zoomed());
    EXPECT_TRUE(QTest::qWaitFor([&] { return view.Plot().RangeFirst > 0; }, 10000));
    EXPECT_EQ(view.Plot().RangeFirst, view.Model().ViewFirst());
    EXPECT_GE(view.Plot().Bars.size(), 3u);
    for (const TSummaryBar& bar : view.Plot().Bars) {
        EXPECT_GE(bar.FirstOffset, view.Model().ViewFirst());
        EXPECT_LT(bar.FirstOffset, view.Model().ViewEnd());
        EXPECT_EQ(bar.Pictures, 1) << "a bucket for each access unit";
    }
    QTest::mouseClick(&view, Qt::RightButton, Qt::NoModifier, QPoint(columns[1].Left, y));
    EXPECT_EQ(view.Plot().RangeFirst, 0);
    EXPECT_EQ(view.Plot().Bars.size(), 8u);
    w.window.StreamSummary1->trigger();
    EXPECT_FALSE(pane.isVisible());
}

} // namespace

namespace {

// At 1400 x 900 the summary dock shows every figure line beside the plot at its height, and
// leaves the window's panes most of the height.
TEST(QtWindow, TheSummaryDockFitsAt1400By900) {
    ShownWindow w;
    w.window.resize(1400, 900);
    w.window.OpenDropped({QString::fromStdString(TestDataPath("main_cabac.264"))});
    w.window.StreamSummary1->trigger();
    TSummaryPane& pane = *w.window.SummaryPane;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !w.window.Form().Summarising(); }, 10000));
    QApplication::processEvents();
    // The figures beside the plot: the dock no taller than the plot with the progress row.
    EXPECT_GE(pane.FiguresScroll->viewport()->height(),
              pane.Figures->heightForWidth(pane.Figures->width()));
    EXPECT_GE(pane.PlotView->height(), pane.PlotView->minimumHeight());
    EXPECT_LE(pane.height() - pane.PlotView->height(), 60) << "the title and margins only";
    EXPECT_LE(pane.geometry().bottom(), w.window.statusBar()->geometry().top());
    EXPECT_GE(w.window.centralWidget()->height(), 900 / 2);
}

} // namespace
