// The Qt adapters' contracts with real widgets: what the window logic relies on and Qt
// does differently by itself (event orders, rows per page, scroll codes, drops, bytes).

#include "QtTestSupport.h"
#include "qt/Cp1252.h"
#include "qt/LineListView.h"
#include "qt/QtServices.h"
#include "qt/ReportListView.h"
#include "qt/ScrollBar.h"
#include "qt/TreeLinesView.h"
#include "qt/VirtualKeys.h"

#include <QApplication>
#include <QHeaderView>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

namespace {

// A list of rows whose caption is "row" and the index.
struct ShownList {
    TReportListView list;
    explicit ShownList(int rows) {
        list.SetDataHandler([](int index, TReportRow& row) {
            row.Caption = "row" + std::to_string(index);
            row.SubItems[2] = "type" + std::to_string(index);
        });
        list.resize(400, 300);
        list.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&list));
        list.SetRowCount(rows);
    }
    QPoint RowPoint(int row) { return list.visualRect(list.Model()->index(row, 1)).center(); }
};

TEST(QtReportList, RowsPerPageCountsFullyVisibleRows) {
    TReportListView list;
    list.show();
    const int rowHeight = list.verticalHeader()->defaultSectionSize();
    const int chrome = list.height() - list.viewport()->height();
    for (const int extra : {0, 1, rowHeight - 1}) {
        list.resize(300, chrome + 7 * rowHeight + extra);
        EXPECT_EQ(list.RowsPerPage(), 7) << "extra pixels: " << extra;
    }
    list.resize(300, chrome + rowHeight - 1);
    EXPECT_EQ(list.RowsPerPage(), 0);
}

TEST(QtReportList, KeyDownComesBeforeTheListsOwnMoveAndKeyUpAfter) {
    struct Case {
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        int after;
    };
    const Case cases[] = {
        {Qt::Key_Down, Qt::NoModifier, 4},      {Qt::Key_Up, Qt::NoModifier, 2},
        {Qt::Key_Home, Qt::NoModifier, 0},      {Qt::Key_End, Qt::NoModifier, 9},
        {Qt::Key_Home, Qt::ControlModifier, 0}, {Qt::Key_PageDown, Qt::NoModifier, 9},
        {Qt::Key_PageUp, Qt::NoModifier, 0},    {Qt::Key_Left, Qt::NoModifier, 3},
    };
    ShownList shown(10);
    std::vector<std::pair<int, int>> downs; // key, selected row
    std::vector<std::pair<int, int>> ups;
    shown.list.SetKeyDownHandler([&](int key) {
        // The modifier's own press comes first, as it does on Windows.
        if (key != VirtualKeyOf(Qt::Key_Control)) {
            downs.emplace_back(key, shown.list.SelectedIndex());
        }
    });
    shown.list.SetKeyUpHandler([&](int key) {
        if (key != VirtualKeyOf(Qt::Key_Control)) {
            ups.emplace_back(key, shown.list.SelectedIndex());
        }
    });
    for (const Case& c : cases) {
        shown.list.Select(3);
        downs.clear();
        ups.clear();
        QTest::keyClick(&shown.list, c.key, c.modifiers);
        const int vk = VirtualKeyOf(c.key);
        EXPECT_EQ(downs, (std::vector<std::pair<int, int>>{{vk, 3}})) << c.key;
        EXPECT_EQ(ups, (std::vector<std::pair<int, int>>{{vk, c.after}})) << c.key;
        EXPECT_EQ(shown.list.SelectedIndex(), c.after) << c.key;
    }
}

TEST(QtReportList, KeysTheHandlerMovesTheRowsUnderAreStillTheListsOwn) {
    // The logic rescans in the key-down handler; the list then moves on the new rows.
    ShownList shown(10);
    shown.list.SetKeyDownHandler([&](int) { shown.list.SetRowCount(5); });
    shown.list.Select(2);
    QTest::keyClick(&shown.list, Qt::Key_End);
    EXPECT_EQ(shown.list.SelectedIndex(), 4);
    EXPECT_EQ(shown.list.SelectedCaption(), "row4");
}

TEST(QtReportList, MouseDownComesAfterTheSelectionMovedForEveryButton) {
    ShownList shown(10);
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

TEST(QtReportList, RowsSelectionAndTextsFollowTheCount) {
    ShownList shown(10);
    shown.list.Select(4);
    EXPECT_EQ(shown.list.SelectedCaption(), "row4");
    EXPECT_EQ(shown.list.Model()->data(shown.list.Model()->index(7, 3), Qt::DisplayRole),
              QStringLiteral("type7"));
    shown.list.SetRowCount(6);
    EXPECT_EQ(shown.list.SelectedIndex(), 4) << "a row that stays keeps its selection";
    shown.list.SetRowCount(3);
    EXPECT_EQ(shown.list.SelectedIndex(), -1) << "no neighbour is selected instead";
    EXPECT_EQ(shown.list.SelectedCaption(), "");
    shown.list.Select(7);
    EXPECT_EQ(shown.list.SelectedIndex(), -1) << "no such row";
    shown.list.Select(2);
    shown.list.ClearSelection();
    EXPECT_EQ(shown.list.SelectedIndex(), -1);
    shown.list.SetRowCount(1);
    EXPECT_EQ(shown.list.SelectedIndex(), -1);

    shown.list.SetColumnWidth(2, 99);
    EXPECT_EQ(shown.list.ColumnWidth(2), 99);
    EXPECT_EQ(shown.list.ColumnWidth(4), 0);
}

TEST(QtReportList, TheWheelMovesNothing) {
    ShownList shown(0);
    shown.list.SetRowCount(shown.list.RowsPerPage());
    shown.list.Select(2);
    QWheelEvent wheel(QPointF(20, 20), shown.list.viewport()->mapToGlobal(QPointF(20, 20)),
                      QPoint(), QPoint(0, -360), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(shown.list.viewport(), &wheel);
    EXPECT_EQ(shown.list.verticalScrollBar()->value(), 0);
    EXPECT_EQ(shown.list.rowAt(0), 0);
    EXPECT_EQ(shown.list.SelectedIndex(), 2);
}

TEST(QtReportList, DroppedFilesGoThroughTheRoutineInForce) {
    ShownList shown(3);
    std::vector<std::string> wrapped;
    unsigned ownMessages = 0;
    const TWindowProc own = shown.list.WindowProc();
    shown.list.SetWindowProc([&](TMessage& message) {
        for (int i = 0; i < message.Drop->Count(); ++i) {
            wrapped.push_back(message.Drop->Path(i));
        }
        own(message);
        ++ownMessages;
    });
    EXPECT_FALSE(DropFiles(&shown.list, {QStringLiteral("/tmp/a.264")})) << "not a target yet";
    shown.list.SetAcceptDrops(true);
    EXPECT_TRUE(DropFiles(&shown.list, {QStringLiteral("/tmp/a.264"), QStringLiteral("/b c")}));
    EXPECT_EQ(wrapped, (std::vector<std::string>{"/tmp/a.264", "/b c"}));
    EXPECT_EQ(ownMessages, 1u);

    shown.list.SetWindowProc(own);
    EXPECT_TRUE(DropFiles(&shown.list, {QStringLiteral("/tmp/a.264")}));
    EXPECT_EQ(wrapped.size(), 2u) << "the wrapper was taken away";
    shown.list.SetAcceptDrops(false);
    EXPECT_FALSE(DropFiles(&shown.list, {QStringLiteral("/tmp/a.264")}));
}

struct Bar {
    TScrollBar bar;
    std::vector<std::pair<ScrollCode, int>> codes;
    int mouseDowns = 0;
    Bar(int maximum, int largeChange) {
        bar.SetMaximum(maximum);
        bar.SetLargeChange(largeChange);
        bar.resize(16, 200);
        bar.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&bar));
    }
    void Press(QStyle::SubControl part) {
        const QPoint at = ScrollBarPoint(&bar, part);
        QTest::mousePress(&bar, Qt::LeftButton, Qt::NoModifier, at);
        EXPECT_EQ(mouseDowns, 0) << "not before the press ends";
        QTest::mouseRelease(&bar, Qt::LeftButton, Qt::NoModifier, at);
    }
};

TEST(QtScrollBar, ClampsEveryPosition) {
    Bar b(10, 1);
    for (const auto& [given, taken] : {std::pair{-5, 0}, {4, 4}, {11, 10}}) {
        b.bar.SetPosition(given);
        EXPECT_EQ(b.bar.Position(), taken) << given;
    }
    b.bar.SetMaximum(3);
    EXPECT_EQ(b.bar.Position(), 3) << "a lower maximum takes the position along";
}

TEST(QtScrollBar, MouseDownHandlerRunsOnceThePressEnded) {
    struct Case {
        QStyle::SubControl part;
        int position;
    };
    const Case cases[] = {
        {QStyle::SC_ScrollBarAddLine, 51},
        {QStyle::SC_ScrollBarSubLine, 49},
        {QStyle::SC_ScrollBarAddPage, 60},
        {QStyle::SC_ScrollBarSubPage, 40},
    };
    for (const Case& c : cases) {
        Bar b(100, 10);
        b.bar.SetPosition(50);
        std::vector<int> seen;
        b.bar.SetMouseDownHandler([&] {
            ++b.mouseDowns;
            seen.push_back(b.bar.Position());
        });
        b.Press(c.part);
        EXPECT_EQ(seen, std::vector<int>{c.position}) << c.part;
    }
    Bar dragged(100, 10);
    std::vector<int> seen;
    dragged.bar.SetMouseDownHandler([&] { seen.push_back(dragged.bar.Position()); });
    DragThumb(&dragged.bar, 1.0);
    EXPECT_EQ(seen, std::vector<int>{100}) << "once, after the drag";
    QWheelEvent wheel(QPointF(8, 100), dragged.bar.mapToGlobal(QPointF(8, 100)), QPoint(),
                      QPoint(0, 240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&dragged.bar, &wheel);
    EXPECT_EQ(dragged.bar.Position(), 100) << "the wheel does not move it";
    EXPECT_EQ(seen.size(), 1u);
}

TEST(QtScrollBar, ScrollCodesCarryAPositionTheBarTakes) {
    struct Case {
        QStyle::SubControl part;
        ScrollCode code;
        int offered;
    };
    const Case cases[] = {
        {QStyle::SC_ScrollBarAddLine, ScrollCode::LineDown, 501},
        {QStyle::SC_ScrollBarSubLine, ScrollCode::LineUp, 499},
        {QStyle::SC_ScrollBarAddPage, ScrollCode::PageDown, 600},
        {QStyle::SC_ScrollBarSubPage, ScrollCode::PageUp, 400},
    };
    for (const Case& c : cases) {
        Bar b(1000, 100);
        b.bar.SetPosition(500);
        b.bar.SetScrollHandler([&](ScrollCode code, int& position) {
            b.codes.emplace_back(code, position);
            position = 123;
        });
        b.Press(c.part);
        EXPECT_EQ(b.codes, (std::vector<std::pair<ScrollCode, int>>{{c.code, c.offered}}))
            << c.part;
        EXPECT_EQ(b.bar.Position(), 123) << c.part;
    }

    Bar dragged(1000, 100);
    dragged.bar.SetScrollHandler(
        [&](ScrollCode code, int& position) { dragged.codes.emplace_back(code, position); });
    DragThumb(&dragged.bar, 1.0);
    ASSERT_GE(dragged.codes.size(), 3u);
    EXPECT_EQ(dragged.codes.front().first, ScrollCode::ThumbDragged);
    EXPECT_EQ(dragged.codes.back(), std::make_pair(ScrollCode::ThumbReleased, 1000));
    EXPECT_EQ(dragged.codes[dragged.codes.size() - 2],
              std::make_pair(ScrollCode::ThumbDragged, 1000));

    dragged.codes.clear();
    QWheelEvent wheel(QPointF(8, 100), dragged.bar.mapToGlobal(QPointF(8, 100)), QPoint(),
                      QPoint(0, 240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&dragged.bar, &wheel);
    EXPECT_EQ(dragged.codes, (std::vector<std::pair<ScrollCode, int>>{{ScrollCode::LineUp, 999},
                                                                      {ScrollCode::LineUp, 998}}));
}

TEST(QtLineList, KeepsTheBytesAndShowsThemAsWindows1252) {
    struct Case {
        std::string bytes;
        std::u16string shown;
    };
    const Case cases[] = {
        {"A\x14~", u"A\x14~"},
        {"\x80\x81\x8D\x8F\x90\x9D", u"\u20AC\u0081\u008D\u008F\u0090\u009D"},
        {"\x8A\x99\x9F", u"\u0160\u2122\u0178"},
        {"\xA0\xD0\xE9\xFF", u"\u00A0\u00D0\u00E9\u00FF"},
    };
    TLineListView lines;
    for (const Case& c : cases) {
        lines.Append(c.bytes);
    }
    for (int i = 0; i < lines.Count(); ++i) {
        const Case& c = cases[i];
        EXPECT_EQ(lines.item(i)->text().toStdU16String(), c.shown) << i;
        EXPECT_EQ(lines.Line(i), c.bytes) << i;
    }
    lines.SetLine(1, "0x" + cases[1].bytes);
    EXPECT_EQ(lines.Line(1), "0x" + cases[1].bytes);
    EXPECT_EQ(lines.item(1)->text(), QStringLiteral("0x") + Cp1252ToQString(cases[1].bytes));
    EXPECT_EQ(lines.Line(9), "");
}

TEST(QtLineList, LinesThatFitAndSelection) {
    TLineListView lines;
    lines.SetFont("Courier New", 10);
    lines.resize(300, 150);
    lines.show();
    const int fit = lines.InnerHeight() / lines.LineHeight();
    for (int i = 0; i < fit; ++i) {
        lines.Append("line");
    }
    QApplication::processEvents();
    ASSERT_GT(fit, 3);
    EXPECT_LE(lines.visualItemRect(lines.item(fit - 1)).bottom(), lines.InnerHeight());
    EXPECT_EQ(lines.visualItemRect(lines.item(1)).height(), lines.LineHeight());
    EXPECT_TRUE(lines.font().fixedPitch() || QFontInfo(lines.font()).fixedPitch());

    EXPECT_EQ(lines.SelectedIndex(), -1);
    lines.SetSelectedIndex(2);
    EXPECT_EQ(lines.SelectedIndex(), 2);
    lines.SetSelectedIndex(fit);
    EXPECT_EQ(lines.SelectedIndex(), -1);
    std::vector<int> seen;
    lines.SetKeyDownHandler([&](int key) { seen.push_back(key * 100 + lines.SelectedIndex()); });
    lines.SetSelectedIndex(1);
    QTest::keyClick(&lines, Qt::Key_Down);
    EXPECT_EQ(seen, std::vector<int>{Key::Down * 100 + 1});
    EXPECT_EQ(lines.SelectedIndex(), 2);
}

TEST(QtTreeLines, RootsGoFirstChildrenInOrderCollapsedUntilExpanded) {
    TTreeLinesView tree;
    const TTreeLine first = tree.AddRootLine("first");
    const TTreeLine root = tree.AddRootLine("root");
    tree.AddChildLine(root, "a");
    const TTreeLine b = tree.AddChildLine(root, "b");
    tree.AddChildLine(b, "b1");
    tree.ExpandLine(root);
    ASSERT_EQ(tree.topLevelItemCount(), 2);
    EXPECT_EQ(tree.topLevelItem(0)->text(0), QStringLiteral("root"));
    EXPECT_EQ(tree.topLevelItem(1)->text(0), QStringLiteral("first"));
    const QTreeWidgetItem* top = tree.topLevelItem(0);
    EXPECT_EQ(top->child(0)->text(0) + top->child(1)->text(0), QStringLiteral("ab"));
    EXPECT_TRUE(top->isExpanded());
    EXPECT_FALSE(top->child(1)->isExpanded());
    EXPECT_EQ(tree.indentation(), 19);
    EXPECT_TRUE(QFontInfo(tree.font()).fixedPitch());
    (void)first;
    tree.ClearLines();
    EXPECT_EQ(tree.topLevelItemCount(), 0);
}

TEST(QtServices, BusyCursorIsBalanced) {
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
    EXPECT_EQ(QApplication::overrideCursor(), nullptr) << "restored when the window goes";
}

TEST(QtServices, VirtualKeys) {
    const std::pair<int, int> cases[] = {
        {Qt::Key_PageUp, 0x21}, {Qt::Key_PageDown, 0x22}, {Qt::Key_End, 0x23},
        {Qt::Key_Home, 0x24},   {Qt::Key_Up, 0x26},       {Qt::Key_Down, 0x28},
        {Qt::Key_A, 'A'},       {Qt::Key_7, '7'},         {Qt::Key_F5, 0x74},
        {Qt::Key_Escape, 0x1B}, {Qt::Key_Enter, 0x0D},    {Qt::Key_Eject, 0},
    };
    for (const auto& [qtKey, vk] : cases) {
        EXPECT_EQ(VirtualKeyOf(qtKey), vk) << qtKey;
    }
}

} // namespace
