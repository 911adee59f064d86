#pragma once

// The whole main window over the recording fakes, wired as the widgets wire it: the list
// asks the logic for its rows' texts and delivers its keys to it. Shown, as the program
// shows it, before it is handed out.

#include "app/Unit1.h"
#include "support/Fakes.h"
#include "syntax/SyntaxTree.h"

#include <functional>
#include <memory>

struct TFakeWindow {
    FakeReportList list;
    FakeScrollBar bar1;
    FakeScrollBar bar2;
    TSyntaxTree tree;
    FakeLineList hex;
    FakeMainWindow main;
    FakeMenuCheck check;
    FakeMenuCheck viewCheck; // View > Decode Slice Headers and SEI
    FakeTimer timer;
    FakeMenuCheck summaryCheck; // View > Unit Summary Column
    FakeProgressBar progress;   // a search's progress
    FakeTimer findTimer;
    FakeStatusBar status;
    FakeMenuCheck summaryMark; // View > Stream Summary
    FakeSummaryView summary;
    FakeTimer summaryTimer;
    FakeDialogs dialogs;
    FakeCursor cursor;
    FakeClipboard clipboard;
    FakeTreeSelection treeSelection;
    FakeRecentFilesMenu recent;
    std::unique_ptr<TForm1> form;

    // rows: the list's rows per page; hexLines: the hex list's; without may take widgets
    // away before the window is made.
    explicit TFakeWindow(int rows = 8, int hexLines = 12,
                         const std::function<void(TForm1Widgets&)>& without = nullptr) {
        list.Rows = rows;
        hex.SetVisibleLines(hexLines);
        TForm1Widgets widgets{&list, &bar1,  &tree,  &hex,     &bar2,
                              &main, &check, &timer, &dialogs, &cursor};
        widgets.DecodeSliceHeaders1 = &viewCheck;
        widgets.TreeView1Bits = &tree;
        widgets.UnitSummaryColumn1 = &summaryCheck;
        widgets.FindProgress = &progress;
        widgets.tmFind = &findTimer;
        widgets.StatusBar = &status;
        widgets.StreamSummary1 = &summaryMark;
        widgets.SummaryPane = &summary;
        widgets.tmSummary = &summaryTimer;
        widgets.Clipboard = &clipboard;
        widgets.TreeView1Selection = &treeSelection;
        widgets.RecentFiles1 = &recent;
        if (without) {
            without(widgets);
        }
        form = std::make_unique<TForm1>(widgets);
        list.CaptionOf = [this](int i) { return Row(i).Caption; };
        list.OnKeyDown = [this](int key) { form->ListView1KeyDown(key); };
        list.OnKeyUp = [this](int key) { form->ListView1KeyUp(key); };
        form->FormShow();
    }
    TFakeWindow(const TFakeWindow&) = delete;
    TFakeWindow& operator=(const TFakeWindow&) = delete;

    TReportRow Row(int i) {
        TReportRow row;
        form->ListView1Data(i, row);
        return row;
    }
};
