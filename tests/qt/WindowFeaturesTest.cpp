// What a user of the window sees beyond the views' own behaviour: the first-run layout,
// the hex pane's splitter, the message for a refused file, the clipboard after Ctrl+C, the
// recent files across a restart, mnemonics and focus frames. Real widgets throughout.

#include "QtTestSupport.h"
#include "cli/DumpCommand.h"
#include "qt/FocusFrame.h"
#include "qt/LineListView.h"
#include "qt/MainWindow.h"
#include "qt/ReportListView.h"
#include "qt/ScrollBar.h"
#include "qt/TreeLinesView.h"
#include "support/Fakes.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QMenuBar>
#include <QMessageBox>
#include <QSplitter>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QTreeWidgetItemIterator>
#include <QWindow>

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct Services {
    FakeDialogs dialogs;
    FakeSettingsStore registry;
    FakeMonitors monitors;
    TMainWindowServices Get() {
        TMainWindowServices s;
        s.Dialogs = &dialogs;
        s.Registry = &registry;
        s.Monitors = &monitors;
        return s;
    }
};

void Show(TMainWindow& window) {
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
}

QString Path(const std::string& path) {
    return QString::fromStdString(path);
}

// What quillet-dump prints for args.
std::string DumpOut(const std::vector<std::string>& args) {
    DebugCapture quiet;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(RunDump(args, out, err), 0) << err.str();
    return out.str();
}

TEST(QtWindowLayout, AFirstRunShowsTheColumnsAndTheTreesValues) {
    struct Case {
        TScreenRect area;
        QSize size;
    };
    const Case cases[] = {
        {{0, 0, 1920, 1040}, {1400, 900}},
        {{0, 0, 1280, 760}, {1280, 760}},
        {{0, 0, 1024, 738}, {1024, 738}},
    };
    for (const Case& c : cases) {
        Services services;
        services.monitors.Areas = {c.area};
        TMainWindow window(services.Get());
        Show(window);
        EXPECT_EQ(window.frameGeometry().size(), c.size);
        window.OpenDropped({Path(TestDataPath("aud_sei.264"))});
        window.ListView1->Select(1); // the SPS, whose lines are the longest
        window.Form().ListView1KeyUp(0);
        window.TreeView1->expandAll();
        QApplication::processEvents();
        // Every column within the pane, the Offset and Info columns wide enough for their
        // common texts.
        int columns = 0;
        for (int i = 0; i < 5; ++i) {
            columns += window.ListView1->columnWidth(i);
        }
        EXPECT_LE(columns, window.ListView1->viewport()->width()) << c.area.Width;
        const QFontMetrics metrics = window.ListView1->fontMetrics();
        EXPECT_GE(window.ListView1->columnWidth(0),
                  metrics.horizontalAdvance(QStringLiteral("0x0000000000000000")));
        EXPECT_GE(window.ListView1->columnWidth(4),
                  metrics.horizontalAdvance(QStringLiteral("B  frame_num 15  POC lsb 30  QP 51")));
        // A cut cell tells its whole text on hovering; a whole one tells nothing.
        for (const int column : {0, 3}) {
            const QModelIndex slice = window.ListView1->Model()->index(9, column);
            const QString text = slice.data().toString();
            const QPoint at = window.ListView1->visualRect(slice).center();
            QHelpEvent hover(QEvent::ToolTip, at, window.ListView1->viewport()->mapToGlobal(at));
            QToolTip::hideText();
            QApplication::sendEvent(window.ListView1->viewport(), &hover);
            const bool cut =
                metrics.horizontalAdvance(text) + 8 > window.ListView1->visualRect(slice).width();
            EXPECT_EQ(QToolTip::text(), cut ? text : QString()) << c.area.Width << " " << column;
        }
        // Every line's value without scrolling sideways; on the wider screens the whole lines.
        for (QTreeWidgetItemIterator item(window.TreeView1); *item != nullptr; ++item) {
            const QString text = (*item)->text(0);
            const QString value = text.left(text.indexOf(QStringLiteral(" ("), text.indexOf(':')));
            EXPECT_LE(window.TreeView1->visualItemRect(*item).left() +
                          window.TreeView1->fontMetrics().horizontalAdvance(value),
                      window.TreeView1->viewport()->width())
                << c.area.Width << " " << value.toStdString();
        }
        if (c.area.Width > 1024) {
            EXPECT_LE(window.TreeView1->header()->sectionSize(0),
                      window.TreeView1->viewport()->width())
                << c.area.Width;
        }
    }
    // Stored settings keep the window as they say.
    Services services;
    services.monitors.Areas = {{0, 0, 1920, 1040}};
    services.registry.Keys["Software\\Marvane\\Quillet"] = {{"FormWidth", 900},
                                                            {"FormHeight", 600}};
    TMainWindow window(services.Get());
    Show(window);
    EXPECT_EQ(window.frameGeometry().size(), QSize(900, 600));
}

TEST(QtWindowLayout, TheHexPaneIsDraggedTallerAndKeptSoAndTreeLinesShowTheirText) {
    Services services;
    TMainWindow window(services.Get());
    Show(window);
    window.OpenDropped({Path(TestDataPath("aud_sei.264"))});
    EXPECT_GE(window.Splitter1->handleWidth(), 6);
    EXPECT_GE(window.Splitter2->handleWidth(), 6);
    const int lines = window.ListBox1->count();
    const int rows = window.ListView1->RowCount();
    QWidget* handle = window.Splitter2->handle(1);
    const QPoint from = handle->rect().center();
    QTest::mousePress(handle, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(handle, from - QPoint(0, 100));
    QTest::mouseRelease(handle, Qt::LeftButton, Qt::NoModifier, from - QPoint(0, 100));
    EXPECT_EQ(window.HexPaneHeight(), 310);
    EXPECT_EQ(window.Panel1->height(), 310);
    EXPECT_GT(window.ListBox1->count(), lines + 5) << "the hex view fills the taller pane";
    EXPECT_LT(window.ListView1->RowCount(), rows) << "and the list the shorter one";
    window.close();
    EXPECT_EQ(services.registry.Keys["Software\\Marvane\\Quillet"]["HexPaneHeight"], 310);

    TMainWindow again(services.Get());
    Show(again);
    EXPECT_EQ(again.Panel1->height(), 310);

    again.OpenDropped({Path(TestDataPath("aud_sei.264"))});
    int checked = 0;
    for (QTreeWidgetItemIterator it(again.TreeView1); *it != nullptr; ++it, ++checked) {
        EXPECT_EQ((*it)->toolTip(0), (*it)->text(0));
    }
    EXPECT_GT(checked, 3);
}

TEST(QtWindowMessages, ARefusedFileKeepsTheStreamAndSaysWhyInAWarning) {
    TempDir dir;
    const std::string text = dir.Write("notes.txt", std::vector<std::uint8_t>(100, 'a'));
    const std::string bracketed = dir.Write("a[*]b.264", ReadAll(TestDataPath("aud_sei.264")));
    TMainWindow window; // the real message boxes
    Show(window);
    window.OpenCommandLine({Path(bracketed)});
    // The caption is literal: Qt's modified-document mark takes nothing from it.
    EXPECT_EQ(window.windowHandle()->title().toStdString(), "Quillet(" + bracketed + ")");
    EXPECT_EQ(window.Caption(), "Quillet(" + bracketed + ")");
    QString title;
    QString shown;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        shown = box->text();
        icon = box->icon();
        box->accept();
    });
    window.OpenCommandLine({Path(text)});
    EXPECT_EQ(title, "Quillet");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(shown.toStdString(),
              "Not valid H.264 video elementary stream\n" + text + "\nno start codes in the file");
    EXPECT_EQ(window.Form().FileName, bracketed) << "the stream stays";
    EXPECT_GT(window.ListView1->RowCount(), 0);
}

TEST(QtWindowCopy, CtrlCCopiesAsQuilletDumpPrints) {
    Services services;
    TMainWindow window(services.Get());
    Show(window);
    const std::string stream = TestDataPath("aud_sei.264");
    window.OpenDropped({Path(stream)});
    QClipboard* clipboard = QGuiApplication::clipboard();
    const auto clip = [&] { return clipboard->text().toStdString(); };

    // The list: the selected row as the listing has it, with its Info text.
    window.ListView1->Select(1);
    window.Form().ListView1KeyUp(0);
    QTest::keyClick(window.ListView1, Qt::Key_C, Qt::ControlModifier);
    const std::string listing = DumpOut({"--info", stream});
    EXPECT_EQ(clip(),
              listing.substr(listing.find('\n') + 1,
                             listing.find('\n', listing.find('\n') + 1) - listing.find('\n')));
    window.CopyOffset1->trigger();
    EXPECT_EQ(clip(), "0x0000000000000006");
    QStringList listItems;
    for (QAction* a : window.ListView1->actions()) {
        listItems << a->text();
    }
    EXPECT_EQ(listItems, (QStringList{"&Copy", "Copy &Offset"}));

    // The tree: the selected line and those below it, as --at prints them.
    const std::string tree = DumpOut({"--at", "6", stream});
    const auto items = window.TreeView1->findItems(QStringLiteral("vui_parameters ( )"),
                                                   Qt::MatchStartsWith | Qt::MatchRecursive);
    ASSERT_FALSE(items.isEmpty());
    window.TreeView1->setFocus();
    window.TreeView1->setCurrentItem(items.front());
    QTest::keyClick(window.TreeView1, Qt::Key_C, Qt::ControlModifier);
    const std::string copied = clip();
    ASSERT_FALSE(copied.empty());
    const std::size_t at = tree.find(copied);
    EXPECT_NE(at, std::string::npos) << copied;
    EXPECT_EQ(at == std::string::npos ? 0 : at + copied.size(), tree.size())
        << "the VUI block ends the SPS's tree";
    EXPECT_EQ(copied.rfind("    vui_parameters ( )\n", 0), 0u) << copied;

    // The hex view: its selected line.
    window.ListBox1->setFocus();
    window.ListBox1->SetSelectedIndex(1);
    QTest::keyClick(window.ListBox1, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(), window.ListBox1->item(1)->text() + "\n");

    // Shift+Down twice from that line's first byte: that line and the next, whole (the
    // mouse and the other keys: HexViewTest and the Windows window's test).
    QTest::mouseClick(window.ListBox1->viewport(), Qt::LeftButton, {},
                      window.ListBox1->visualItemRect(window.ListBox1->item(1)).topLeft() +
                          QPoint(1, 1));
    QTest::keyClick(window.ListBox1, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(window.ListBox1, Qt::Key_Down, Qt::ShiftModifier);
    QTest::keyClick(window.ListBox1, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(clipboard->text(),
              window.ListBox1->item(1)->text() + "\n" + window.ListBox1->item(2)->text() + "\n");
    EXPECT_EQ(window.ListBox1->currentRow(), 2);
}

TEST(QtWindowMenus, RecentFilesStayAcrossARestartAndOpenFromTheMenu) {
    Services services;
    const std::string first = TestDataPath("aud_sei.264");
    const std::string second = TestDataPath("slices4.264");
    const auto shownItems = [](TMainWindow& w) {
        QStringList texts;
        for (QAction* item : w.RecentFile1) {
            if (item->isVisible()) {
                texts << item->text();
            }
        }
        return texts;
    };
    const QStringList expected = {"&1 " + Path(second), "&2 " + Path(first)};
    {
        TMainWindow window(services.Get());
        Show(window);
        EXPECT_TRUE(shownItems(window).isEmpty());
        EXPECT_FALSE(window.RecentSeparator1->isVisible());
        for (const std::string& path : {first, second}) {
            services.dialogs.ChosenFile = path;
            window.Open1->trigger();
        }
        EXPECT_EQ(shownItems(window), expected);
        window.close();
    }
    TMainWindow window(services.Get());
    Show(window);
    EXPECT_EQ(shownItems(window), expected);
    window.RecentFile1[1]->trigger();
    EXPECT_EQ(window.Form().FileName, first);
    EXPECT_EQ(shownItems(window), (QStringList{"&1 " + Path(first), "&2 " + Path(second)}));
}

TEST(QtWindowMenus, EveryItemHasAMnemonicAndAltHOpensHelp) {
    Services services;
    TMainWindow window(services.Get());
    Show(window);
    window.OpenDropped({Path(TestDataPath("aud_sei.264"))});
    QList<QAction*> items;
    for (QAction* menu : window.menuBar()->actions()) {
        items << menu;
        for (QAction* item : menu->menu()->actions()) {
            if (!item->isSeparator() && item->isVisible()) {
                items << item;
            }
        }
    }
    for (QWidget* view :
         {static_cast<QWidget*>(window.ListView1), static_cast<QWidget*>(window.TreeView1),
          static_cast<QWidget*>(window.ListBox1)}) {
        items << view->actions();
    }
    EXPECT_GE(items.size(), 14);
    for (QAction* item : items) {
        EXPECT_FALSE(QKeySequence::mnemonic(item->text()).isEmpty()) << item->text().toStdString();
    }
    EXPECT_FALSE(window.DecodeSliceHeaders1->shortcut().isEmpty());
    QTest::keyClick(&window, Qt::Key_H, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.Help1->isVisible(); }));
    window.Help1->close();
}

TEST(QtWindowFocus, TheFocusedViewShowsAFrameAndKeepsItsSize) {
    Services services;
    TMainWindow window(services.Get());
    Show(window);
    window.OpenDropped({Path(TestDataPath("aud_sei.264"))});
    const int rows = window.ListView1->RowCount();
    const QColor highlight = window.palette().color(QPalette::Active, QPalette::Highlight);
    const auto framed = [&](TFocusFrame* frame) {
        const QImage picture = frame->grab().toImage();
        return frame->FrameShown() && picture.pixelColor(0, picture.height() / 2) == highlight;
    };
    struct Step {
        QWidget* view;
        TFocusFrame* frame;
    };
    const Step steps[] = {{window.TreeView1, window.TreeFrame},
                          {window.ListBox1, window.HexFrame},
                          {window.ListView1, window.ListFrame}};
    for (const Step& s : steps) {
        s.view->setFocus(Qt::TabFocusReason);
        QApplication::processEvents();
        for (const Step& other : steps) {
            EXPECT_EQ(framed(other.frame), other.frame == s.frame)
                << s.view->accessibleName().toStdString() << " / "
                << other.view->accessibleName().toStdString();
        }
        EXPECT_EQ(window.ListView1->RowCount(), rows);
    }
}

} // namespace
