#pragma once

// The toolkit interfaces realised with plain Win32 controls. Each adapter creates its
// control as a child of the main window; the main window hands the control's
// notifications (WM_NOTIFY, WM_VSCROLL, WM_DRAWITEM) to the adapter, and the adapter's
// subclass restores the event orders the logic relies on.

#include "syntax/SyntaxTree.h"
#include "toolkit/Toolkit.h"

#include <windows.h>
#include <commctrl.h>

#include <array>
#include <optional>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

using TWheelHandler = std::function<void(int notches)>;

// Whole notches from WM_MOUSEWHEEL's deltas: a fine-grained wheel or touchpad adds up to
// notches over several messages.
class TWheelNotches {
  public:
    // Hands the message's whole notches to handler; false without a handler, so that the
    // control's own wheel handling applies.
    bool Deliver(WPARAM wParam, const TWheelHandler& handler);

  private:
    int FDelta = 0;
};

// A control created as a child of the main window, named for screen readers by its window
// text, and destroyed with its parent.
class TChildControl {
  public:
    TChildControl(HWND parent, const wchar_t* className, DWORD style, DWORD exStyle, int id,
                  const std::string& name);
    virtual ~TChildControl();
    TChildControl(const TChildControl&) = delete;
    TChildControl& operator=(const TChildControl&) = delete;
    HWND Handle() const { return FHandle; }
    void Place(int left, int top, int width, int height) const;

  protected:
    // Messages of the control, before its own routine; DefaultProc runs that routine.
    virtual LRESULT Subclass(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT DefaultProc(UINT message, WPARAM wParam, LPARAM lParam);

  private:
    static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam,
                                         LPARAM lParam, UINT_PTR id, DWORD_PTR self);
    HWND FHandle;
};

// One drop from the shell, finished when the handler did not finish it.
class TShellDrop : public IDroppedFiles {
  public:
    explicit TShellDrop(HDROP drop) : FDrop(drop) {}
    ~TShellDrop() override { Finish(); }
    TShellDrop(const TShellDrop&) = delete;
    TShellDrop& operator=(const TShellDrop&) = delete;
    int Count() override;
    std::string Path(int index) override;
    void Finish() override;

  private:
    HDROP FDrop;
};

// Paths handed over as a drop would hand them (the command line).
class TPathDrop : public IDroppedFiles {
  public:
    explicit TPathDrop(std::vector<std::string> paths) : FPaths(std::move(paths)) {}
    int Count() override { return FFinished ? 0 : static_cast<int>(FPaths.size()); }
    std::string Path(int index) override;
    void Finish() override { FFinished = true; }

  private:
    std::vector<std::string> FPaths;
    bool FFinished = false;
};

// ListView1: SysListView32 in report and owner-data mode. The list asks for the texts of
// the rows it draws through LVN_GETDISPINFO.
class TWin32ReportList : public TChildControl, public IReportList {
  public:
    using DataHandler = std::function<void(int index, TReportRow& row)>;

    TWin32ReportList(HWND parent, int id);
    void SetDataHandler(DataHandler handler) { FOnData = std::move(handler); }
    // Before the list's own handling of the key.
    void SetKeyDownHandler(KeyDownHandler handler) { FOnKeyDown = std::move(handler); }
    // After the list's own handling of the release.
    void SetKeyUpHandler(KeyDownHandler handler) { FOnKeyUp = std::move(handler); }
    // After the list moved its selection to the pressed row; any mouse button.
    void SetMouseDownHandler(NotifyHandler handler) { FOnMouseDown = std::move(handler); }
    // Whenever the rows that fit change.
    void SetPageHeightHandler(NotifyHandler handler) { FOnPageHeight = std::move(handler); }
    // Whole notches of the wheel over the list (away from the user positive); without a
    // handler the list keeps its own behaviour.
    void SetWheelHandler(TWheelHandler handler) { FOnWheel = std::move(handler); }
    // WM_NOTIFY from the list; true when handled, with the result in result.
    bool OnNotify(NMHDR* header, LRESULT& result);
    // Sizes the columns to their common texts in the list's present font.
    void FitColumns();
    // The whole text of the cell at (x, y) of the list when the cell cuts it, for the
    // tooltip; empty where the cell shows it whole or there is no cell.
    std::string CutTextAt(int x, int y) const;
    HWND CutTextTip() const { return FTip; }

    // IReportList
    void SetRowCount(int count) override;
    int RowCount() const override;
    int RowsPerPage() const override;
    int SelectedIndex() const override;
    std::string SelectedCaption() const override;
    void Select(int index) override;
    void ClearSelection() override;
    void SetFocus() override;
    void Invalidate() override;
    int ColumnWidth(int column) const override;
    void SetColumnWidth(int column, int width) override;
    void SetColumnVisible(int column, bool visible) override;
    TWindowProc WindowProc() const override { return FWindowProc; }
    void SetWindowProc(TWindowProc proc) override;
    void SetAcceptDrops(bool accept) override;

  protected:
    LRESULT Subclass(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    DataHandler FOnData;
    KeyDownHandler FOnKeyDown;
    KeyDownHandler FOnKeyUp;
    NotifyHandler FOnMouseDown;
    NotifyHandler FOnPageHeight;
    TWheelNotches FWheel;
    TWheelHandler FOnWheel;
    TWindowProc FWindowProc;
    int FRowsPerPage = -1;
    // The tooltip of cut cells, the cell it last spoke of, and its text.
    HWND FTip = nullptr;
    std::pair<int, int> FTipCell{-1, -1};
    std::wstring FTipText;
    // The widths hidden columns show again with; none while a column shows.
    std::array<std::optional<int>, 5> FHiddenWidths{};
};

// ListBox1: an owner-drawn list box of hex lines, which marks the characters it is told
// to. Lines are bytes, shown as Windows-1252 text.
class TWin32LineList : public TChildControl, public ILineList {
  public:
    TWin32LineList(HWND parent, int id);
    ~TWin32LineList() override;
    // WM_DRAWITEM for the list box.
    void Draw(const DRAWITEMSTRUCT& item) const;
    // The marks drawn on one line, as [first, last] character ranges.
    std::vector<std::pair<int, int>> MarksOf(int line) const;

    // ILineList
    void Clear() override;
    void Append(const std::string& text) override;
    int Count() const override;
    std::string Line(int index) const override;
    void SetLine(int index, const std::string& text) override;
    int SelectedIndex() const override;
    void SetSelectedIndex(int index) override;
    int InnerHeight() const override;
    int LineHeight() const override;
    void SetFont(const std::string& family, int pointSize) override;
    void SetFocus() override;
    void SetKeyDownHandler(KeyDownHandler handler) override { FOnKeyDown = std::move(handler); }
    void SetMarks(const std::vector<TLineMark>& marks) override;
    void SetRangeHandler(TRangeHandler handler) override { FOnRange = std::move(handler); }
    // Whole notches of the wheel over the lines, in place of the list's own scrolling.
    void SetWheelHandler(TWheelHandler handler) { FOnWheel = std::move(handler); }
    // The line and the character under a point of the list (lines clamped to those there).
    TRangeInput PointerInput(TRangeInput::TKind kind, int x, int y) const;

  protected:
    LRESULT Subclass(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    TRangeHandler FOnRange;
    std::vector<std::string> FLines;
    std::vector<TLineMark> FMarks;
    KeyDownHandler FOnKeyDown;
    TWheelNotches FWheel;
    TWheelHandler FOnWheel;
    HFONT FFont = nullptr;
};

// ScrollBar1, ScrollBar2: a SCROLLBAR control. The bar moves itself by the steps its
// notifications ask for, after the scroll handler may have changed the position; the
// mouse-down handler runs once the control's own tracking of a press has ended.
class TWin32ScrollBar : public TChildControl, public IScrollBar {
  public:
    TWin32ScrollBar(HWND parent, int id, const std::string& name);
    // WM_VSCROLL from the bar, with its request code.
    void OnScroll(int request);
    // Whole notches of the wheel over the bar, in place of stepping it like its arrows.
    void SetWheelHandler(TWheelHandler handler) { FOnWheel = std::move(handler); }

    // IScrollBar
    int Position() const override;
    void SetPosition(int position) override;
    int Minimum() const override;
    void SetMinimum(int minimum) override;
    int Maximum() const override;
    void SetMaximum(int maximum) override;
    // Kept at 0: every position of the range stays reachable, as the logic expects.
    void SetPageSize(int pageSize) override { (void)pageSize; }
    void SetSmallChange(int change) override { FSmallChange = change; }
    void SetLargeChange(int change) override { FLargeChange = change; }
    void SetScrollHandler(ScrollHandler handler) override { FOnScroll = std::move(handler); }
    void SetMouseDownHandler(NotifyHandler handler) override {
        FOnMouseDown = std::move(handler);
    }

  protected:
    LRESULT Subclass(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    SCROLLINFO Info(UINT mask) const;
    void SetRange(int minimum, int maximum);
    void Step(ScrollCode code, int position);

    int FSmallChange = 1;
    int FLargeChange = 1;
    TWheelNotches FWheel;
    TWheelHandler FOnWheel;
    ScrollHandler FOnScroll;
    NotifyHandler FOnMouseDown;
};

// TreeView1: SysTreeView32 in a fixed-pitch font. Each line may know where its bits lie;
// selecting a line reports them.
class TWin32TreeLines : public TChildControl,
                        public ITreeLines,
                        public ILineBits,
                        public ITreeSelection {
  public:
    using SelectHandler = std::function<void(std::int64_t firstBit, std::int64_t bits)>;

    TWin32TreeLines(HWND parent, int id);
    ~TWin32TreeLines() override;
    void SetSelectHandler(SelectHandler handler) { FOnSelect = std::move(handler); }
    bool OnNotify(NMHDR* header, LRESULT& result);
    // The text of a line, for tests and screen readers alike.
    std::string Text(TTreeLine line) const;

    // ILineBits
    void LineBits(TTreeLine line, std::int64_t firstBit, std::int64_t bits) override;
    // ITreeSelection
    std::vector<TBranchLine> SelectedBranch() const override;
    // ITreeLines
    void ClearLines() override;
    TTreeLine AddRootLine(const std::string& text) override;
    TTreeLine AddChildLine(TTreeLine parent, const std::string& text) override;
    void ExpandLine(TTreeLine line) override;

  private:
    TTreeLine Insert(HTREEITEM parent, HTREEITEM after, const std::string& text);
    void AddBranch(HTREEITEM item, int depth, std::vector<TBranchLine>& lines) const;
    void Span(HTREEITEM item, std::int64_t& first, std::int64_t& last) const;

    struct TBits {
        std::int64_t First;
        std::int64_t Last;
    };
    std::vector<TBits> FBits; // an item's lParam is its index here plus one
    SelectHandler FOnSelect;
    HFONT FFont;
};

// The status bar under the window, one part a field; a screen reader reads its parts.
class TWin32StatusBar : public TChildControl, public IStatusBar {
  public:
    TWin32StatusBar(HWND parent, int id);
    // Lays the parts out for the window's new width; the bar's height after that.
    int Fit(int clientWidth);

    void SetText(TStatusField field, const std::string& text) override;
    std::string Text(TStatusField field) const override;

  private:
    // Sizes the parts to their texts.
    void Lay();

    std::array<std::string, 4> FTexts;
    int FClientWidth = 0;
};

// tmUpdate: a window timer; WM_TIMER reaches the window's routine on its thread.
class TWin32Timer : public ITimer {
  public:
    TWin32Timer(HWND window, UINT_PTR id, UINT interval)
        : FWindow(window), FId(id), FInterval(interval) {}
    bool Enabled() const override { return FEnabled; }
    void SetEnabled(bool enabled) override;

  private:
    HWND FWindow;
    UINT_PTR FId;
    UINT FInterval;
    bool FEnabled = false;
};

// The check mark of a menu item.
class TWin32MenuCheck : public IMenuCheck {
  public:
    TWin32MenuCheck(HMENU menu, UINT id) : FMenu(menu), FId(id) {}
    bool Checked() const override;
    void SetChecked(bool checked) override;

  private:
    HMENU FMenu;
    UINT FId;
};

// The open-file dialog and the message boxes, owned by the main window.
class TWin32Dialogs : public IDialogs {
  public:
    explicit TWin32Dialogs(HWND owner) : FOwner(owner) {}
    std::optional<std::string> OpenFileName() override;
    std::optional<std::string> OpenFileNameFor(const TOpenFileRequest& request) override;
    // Titled with the application's title, the executable's name.
    void ShowMessage(const std::string& text) override;
    void ShowInformation(const std::string& title, const std::string& text) override;
    void ShowWarning(const std::string& title, const std::string& text) override;
    bool Confirm(const std::string& title, const std::string& text) override;
    std::optional<std::string> AskText(const std::string& title, const std::string& label,
                                       const std::string& text) override;
    // Editable, so that an item not in the list can be typed.
    std::optional<std::string> ChooseItem(const std::string& title, const std::string& label,
                                          const std::vector<std::string>& items,
                                          int current) override;

  private:
    HWND FOwner;
};

// How far a search has come: a progress bar in the status bar's last part while it runs;
// Esc cancels, through the window's key handling.
// A progress bar that draws its window text over itself, centred.
void CarryTextOnBar(HWND bar);

class TWin32ProgressBar : public IProgressBar {
  public:
    explicit TWin32ProgressBar(HWND statusBar);
    void Show(const std::string& caption) override;
    void SetProgress(int permille, const std::string& text) override;
    void Hide() override;
    bool Visible() const override { return FVisible; }
    void SetCancelHandler(NotifyHandler handler) override { FOnCancel = std::move(handler); }
    // Esc while the bar shows.
    void Cancel();
    HWND Handle() const { return FBar; }

  private:
    HWND FStatusBar;
    HWND FBar;
    bool FVisible = false;
    NotifyHandler FOnCancel;
};

// The system clipboard; texts come in the views' encoding, Windows-1252, and go on as
// Unicode text with CR LF line ends.
class TWin32Clipboard : public IClipboard {
  public:
    explicit TWin32Clipboard(HWND owner) : FOwner(owner) {}
    void SetText(const std::string& text) override;

  private:
    HWND FOwner;
};

// The busy cursor over the application's windows. Each SetBusy is undone by one
// SetDefault; the window's WM_SETCURSOR asks Busy().
class TWin32Cursor : public ICursor {
  public:
    void SetBusy() override;
    void SetDefault() override;
    bool Busy() const { return FDepth > 0; }

  private:
    int FDepth = 0;
};

// The application's title: the executable's file name without its extension.
std::wstring ApplicationTitle();
