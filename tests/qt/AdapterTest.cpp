// The Qt adapters' contracts with real widgets, where Qt by itself does otherwise than the
// window logic expects: event orders, rows per page, scroll codes, drops, bytes of lines.

#include "QtTestSupport.h"
#include "qt/LineListView.h"
#include "qt/QtServices.h"
#include "qt/ReportListView.h"
#include "qt/ScrollBar.h"
#include "qt/TreeLinesView.h"

#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QHeaderView>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

// Every character of glyphs takes the same width in font, as the column layouts of the hex
// lines and the tree's element lines need; each measured apart, fallback fonts included.
::testing::AssertionResult EqualAdvances(const QFont& font, const QString& glyphs) {
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(glyphs.left(1));
    for (const QChar c : glyphs) {
        if (metrics.horizontalAdvance(QString(c)) != width) {
            return ::testing::AssertionFailure()
                   << QFontInfo(font).family().toStdString() << ": U+" << std::hex
                   << static_cast<unsigned>(c.unicode()) << " is " << std::dec
                   << metrics.horizontalAdvance(QString(c)) << " wide, '"
                   << glyphs.left(1).toStdString() << "' " << width;
        }
    }
    return ::testing::AssertionSuccess();
}

QString PrintableAscii() {
    QString text;
    for (char16_t c = 0x20; c < 0x7F; ++c) {
        text += QChar(c);
    }
    return text;
}

using Seen = std::vector<std::pair<int, int>>;
constexpr int kCtrl = 0x11;

// A shown list of ten rows whose captions are "row" and the index.
struct ShownList {
    TReportListView list;
    ShownList() {
        list.SetDataHandler([](int index, TReportRow& row) {
            row.Caption = "row" + std::to_string(index);
            row.SubItems[2] = "type" + std::to_string(index);
        });
        list.resize(400, 300);
        list.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&list));
        list.SetRowCount(10);
    }
    QPoint RowPoint(int row) { return list.visualRect(list.Model()->index(row, 1)).center(); }
};

TEST(QtReportList, RowsPerPageCountsFullyVisibleRows) {
    TReportListView list;
    list.show();
    const int rowHeight = list.verticalHeader()->defaultSectionSize();
    const int chrome = list.height() - list.viewport()->height();
    for (const auto& [height, rows] : {std::pair{7 * rowHeight, 7},
                                       {7 * rowHeight + 1, 7},
                                       {8 * rowHeight - 1, 7},
                                       {rowHeight - 1, 0}}) {
        list.resize(300, chrome + height);
        EXPECT_EQ(list.RowsPerPage(), rows) << height;
    }
}

TEST(QtReportList, KeyDownComesBeforeTheListsOwnMoveAndKeyUpAfter) {
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int vk;
        int after;
    };
    const Case cases[] = {
        {Qt::Key_Down, Qt::NoModifier, Key::Down, 4},
        {Qt::Key_Up, Qt::NoModifier, Key::Up, 2},
        {Qt::Key_Home, Qt::NoModifier, Key::Home, 0},
        {Qt::Key_End, Qt::ControlModifier, Key::End, 9},
        {Qt::Key_PageDown, Qt::NoModifier, Key::PageDown, 9},
        {Qt::Key_PageUp, Qt::NoModifier, Key::PageUp, 0},
        {Qt::Key_Left, Qt::NoModifier, 0x25, 3},
    };
    ShownList shown;
    Seen downs; // key, selected row at the time
    Seen ups;
    const auto record = [&](Seen& into) {
        return [&](int key) {
            if (key != kCtrl) { // the modifier's own press and release
                into.emplace_back(key, shown.list.SelectedIndex());
            }
        };
    };
    shown.list.SetKeyDownHandler(record(downs));
    shown.list.SetKeyUpHandler(record(ups));
    for (const Case& c : cases) {
        shown.list.Select(3);
        downs.clear();
        ups.clear();
        QTest::keyClick(&shown.list, c.key, c.modifiers);
        EXPECT_EQ(downs, (Seen{{c.vk, 3}})) << c.key;
        EXPECT_EQ(ups, (Seen{{c.vk, c.after}})) << c.key;
    }
    // The logic rescans in the key-down handler; the list then moves on the new rows.
    shown.list.SetKeyDownHandler([&](int) { shown.list.SetRowCount(5); });
    QTest::keyClick(&shown.list, Qt::Key_End);
    EXPECT_EQ(shown.list.SelectedCaption(), "row4");
}

TEST(QtReportList, MouseDownComesAfterTheSelectionMovedForEveryButton) {
    ShownList shown;
    std::vector<int> seen;
    shown.list.SetMouseDownHandler([&] { seen.push_back(shown.list.SelectedIndex()); });
    for (const Qt::MouseButton button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
        shown.list.Select(0);
        seen.clear();
        QTest::mousePress(shown.list.viewport(), button, Qt::NoModifier, shown.RowPoint(6));
        EXPECT_EQ(seen, std::vector<int>{6}) << button;
        QTest::mouseRelease(shown.list.viewport(), button, Qt::NoModifier, shown.RowPoint(6));
    }
}

TEST(QtReportList, SelectionFollowsTheRowsAndTheWheelMovesNothing) {
    ShownList shown;
    shown.list.Select(4);
    EXPECT_EQ(shown.list.Model()->data(shown.list.Model()->index(7, 3), Qt::DisplayRole),
              QStringLiteral("type7"));
    shown.list.SetRowCount(6);
    EXPECT_EQ(shown.list.SelectedCaption(), "row4") << "a row that stays keeps its selection";
    shown.list.SetRowCount(3);
    EXPECT_EQ(shown.list.SelectedIndex(), -1) << "no neighbour is selected instead";
    shown.list.Select(2);
    shown.list.ClearSelection();
    shown.list.SetRowCount(1);
    EXPECT_EQ(shown.list.SelectedIndex(), -1);

    shown.list.SetRowCount(shown.list.RowsPerPage());
    shown.list.Select(2);
    Wheel(shown.list.viewport(), -360);
    EXPECT_EQ(shown.list.rowAt(0), 0);
    EXPECT_EQ(shown.list.SelectedIndex(), 2);
}

TEST(QtReportList, DroppedFilesGoThroughTheRoutineInForce) {
    ShownList shown;
    std::vector<std::string> wrapped;
    const TWindowProc own = shown.list.WindowProc();
    shown.list.SetWindowProc([&](TMessage& message) {
        for (int i = 0; i < message.Drop->Count(); ++i) {
            wrapped.push_back(message.Drop->Path(i));
        }
        own(message);
    });
    EXPECT_FALSE(DropFiles(&shown.list, {QStringLiteral("/a.264")})) << "not a target yet";
    shown.list.SetAcceptDrops(true);
    EXPECT_TRUE(DropFiles(&shown.list, {QStringLiteral("/a.264"), QStringLiteral("/b c")}));
    EXPECT_EQ(wrapped, (std::vector<std::string>{"/a.264", "/b c"}));
    shown.list.SetWindowProc(own);
    EXPECT_TRUE(DropFiles(&shown.list, {QStringLiteral("/a.264")}));
    EXPECT_EQ(wrapped.size(), 2u) << "the wrapper was taken away";
}

struct Bar {
    TScrollBar bar;
    std::vector<std::pair<ScrollCode, int>> codes;
    std::vector<int> mouseDowns; // the position each time
    Bar(int maximum, int largeChange, int position) {
        bar.SetMaximum(maximum);
        bar.SetLargeChange(largeChange);
        bar.SetPosition(position);
        bar.resize(16, 200);
        bar.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&bar));
    }
    void Press(QStyle::SubControl part) {
        const QPoint at = ScrollBarPoint(&bar, part);
        QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, at);
        EXPECT_TRUE(mouseDowns.empty()) << "not before the press ends";
        QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, at);
    }
};

TEST(QtScrollBar, MouseDownHandlerRunsOnceThePressEnded) {
    const std::pair<QStyle::SubControl, int> cases[] = {
        {QStyle::SC_ScrollBarAddLine, 51},
        {QStyle::SC_ScrollBarSubLine, 49},
        {QStyle::SC_ScrollBarAddPage, 60},
        {QStyle::SC_ScrollBarSubPage, 40},
    };
    for (const auto& [part, position] : cases) {
        Bar b(100, 10, 50);
        b.bar.SetMouseDownHandler([&] { b.mouseDowns.push_back(b.bar.Position()); });
        b.Press(part);
        EXPECT_EQ(b.mouseDowns, std::vector<int>{position}) << part;
    }
    Bar b(100, 10, 50);
    b.bar.SetMouseDownHandler([&] { b.mouseDowns.push_back(b.bar.Position()); });
    DragThumb(&b.bar, 1.0);
    EXPECT_EQ(b.mouseDowns, std::vector<int>{100}) << "once, after the drag";
    Wheel(&b.bar, 240);
    EXPECT_EQ(b.bar.Position(), 100) << "the wheel does not move it";
    for (const auto& [given, taken] : {std::pair{-5, 0}, {101, 100}}) {
        b.bar.SetPosition(given);
        EXPECT_EQ(b.bar.Position(), taken) << given;
    }
}

TEST(QtScrollBar, ScrollCodesCarryAPositionTheBarTakes) {
    const std::tuple<QStyle::SubControl, ScrollCode, int> cases[] = {
        {QStyle::SC_ScrollBarAddLine, ScrollCode::LineDown, 501},
        {QStyle::SC_ScrollBarSubLine, ScrollCode::LineUp, 499},
        {QStyle::SC_ScrollBarAddPage, ScrollCode::PageDown, 600},
        {QStyle::SC_ScrollBarSubPage, ScrollCode::PageUp, 400},
    };
    for (const auto& [part, code, offered] : cases) {
        Bar b(1000, 100, 500);
        b.bar.SetScrollHandler([&](ScrollCode given, int& position) {
            b.codes.emplace_back(given, position);
            position = 123;
        });
        b.Press(part);
        EXPECT_EQ(b.codes, (decltype(b.codes){{code, offered}})) << part;
        EXPECT_EQ(b.bar.Position(), 123) << part;
    }
    Bar b(1000, 100, 500);
    b.bar.SetScrollHandler(
        [&](ScrollCode code, int& position) { b.codes.emplace_back(code, position); });
    DragThumb(&b.bar, 1.0);
    ASSERT_GE(b.codes.size(), 3u);
    EXPECT_EQ(b.codes.front().first, ScrollCode::ThumbDragged);
    EXPECT_EQ(b.codes[b.codes.size() - 2], std::make_pair(ScrollCode::ThumbDragged, 1000));
    EXPECT_EQ(b.codes.back(), std::make_pair(ScrollCode::ThumbReleased, 1000));
    b.codes.clear();
    Wheel(&b.bar, 240);
    EXPECT_EQ(b.codes, (decltype(b.codes){{ScrollCode::LineUp, 999}, {ScrollCode::LineUp, 998}}));
}

TEST(QtLineList, KeepsTheBytesShowsThemAsWindows1252AndFitsWholeLines) {
    const std::pair<std::string, std::u16string> cases[] = {
        {"A\x14~\x7F", u"A\x14~\x7F"},
        {"\x80\x81\x8D\x8F\x90\x9D", u"\u20AC\u0081\u008D\u008F\u0090\u009D"},
        {"\x8A\x99\x9F\xA0\xE9\xFF", u"\u0160\u2122\u0178\u00A0\u00E9\u00FF"},
    };
    TLineListView lines;
    lines.SetFont("Courier New", 10);
    lines.resize(300, 150);
    lines.show();
    for (const auto& [bytes, shown] : cases) {
        lines.Append(bytes);
        lines.SetLine(lines.Count() - 1, "0x" + bytes);
        EXPECT_EQ(lines.Line(lines.Count() - 1), "0x" + bytes);
        EXPECT_EQ(lines.item(lines.Count() - 1)->text().toStdU16String(), u"0x" + shown);
    }
    const int fit = lines.InnerHeight() / lines.LineHeight();
    while (lines.Count() < fit) {
        lines.Append("line");
    }
    QApplication::processEvents();
    EXPECT_LE(lines.visualItemRect(lines.item(fit - 1)).bottom(), lines.InnerHeight());
    EXPECT_EQ(lines.visualItemRect(lines.item(1)).height(), lines.LineHeight());
    // The hex lines' text column shows bytes as Windows-1252.
    EXPECT_TRUE(EqualAdvances(lines.font(),
                              PrintableAscii() + QString::fromStdU16String(u"\u20AC\u0160\u2122"
                                                                           u"\u0178\u00E9\u00FF")));

    std::vector<int> seen;
    lines.SetKeyDownHandler([&](int key) { seen.push_back(key * 100 + lines.SelectedIndex()); });
    lines.SetSelectedIndex(1);
    QTest::keyClick(&lines, Qt::Key_Down);
    EXPECT_EQ(seen, std::vector<int>{Key::Down * 100 + 1});
    EXPECT_EQ(lines.SelectedIndex(), 2);
    lines.SetSelectedIndex(fit);
    EXPECT_EQ(lines.SelectedIndex(), -1);
}

TEST(QtTreeLines, RootsGoFirstChildrenInOrderCollapsedUntilExpanded) {
    TTreeLinesView tree;
    tree.AddRootLine("first");
    const TTreeLine root = tree.AddRootLine("root");
    tree.AddChildLine(root, "a");
    tree.AddChildLine(tree.AddChildLine(root, "b"), "b1");
    tree.ExpandLine(root);
    ASSERT_EQ(tree.topLevelItemCount(), 2);
    const QTreeWidgetItem* top = tree.topLevelItem(0);
    EXPECT_EQ(top->text(0) + top->child(0)->text(0) + top->child(1)->text(0) +
                  tree.topLevelItem(1)->text(0),
              QStringLiteral("rootabfirst"));
    EXPECT_TRUE(top->isExpanded());
    EXPECT_FALSE(top->child(1)->isExpanded());
    EXPECT_TRUE(EqualAdvances(tree.font(), PrintableAscii()));
    tree.ClearLines();
    EXPECT_EQ(tree.topLevelItemCount(), 0);
}

TEST(QtServices, BusyCursorIsBalancedAndRestoredWhenItGoes) {
    {
        TQtCursor cursor;
        cursor.SetBusy();
        cursor.SetBusy();
        cursor.SetDefault();
        EXPECT_NE(QApplication::overrideCursor(), nullptr);
        cursor.SetDefault();
        cursor.SetDefault();
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        cursor.SetBusy();
    }
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
