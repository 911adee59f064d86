#pragma once

// The widget and platform operations the viewer's logic relies on, as small interfaces.
// The logic (app/, hexview/, syntax/) sees only these; src/qt/ realises them with Qt
// widgets and tests/support/ with recording fakes.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// Virtual-key codes of the keys the handlers look at (the Windows values).
namespace Key {
inline constexpr int PageUp = 0x21;
inline constexpr int PageDown = 0x22;
inline constexpr int End = 0x23;
inline constexpr int Home = 0x24;
inline constexpr int Left = 0x25;
inline constexpr int Up = 0x26;
inline constexpr int Right = 0x27;
inline constexpr int Down = 0x28;
} // namespace Key

using KeyDownHandler = std::function<void(int key)>;
using NotifyHandler = std::function<void()>;

// Scroll codes a scroll bar delivers with its scroll notification.
enum class ScrollCode {
    LineUp,
    LineDown,
    PageUp,
    PageDown,
    ThumbReleased, // the thumb was let go at a new position
    ThumbDragged,  // the thumb is being dragged
    Top,
    Bottom,
    EndScroll,
};

// Handler of a scroll notification; it may change the position the bar takes.
using ScrollHandler = std::function<void(ScrollCode code, int& position)>;

// The texts of one row of the virtual report list: the caption and four sub-items (Len,
// Start Code, NAL Type, Info).
struct TReportRow {
    std::string Caption;
    std::string SubItems[4];
};

// The window message of a drop of files from the shell (WM_DROPFILES).
inline constexpr unsigned kWmDropFiles = 0x0233;

// One drop of files from the shell, asked for its paths in the order the shell reports
// them and released once handled.
class IDroppedFiles {
  public:
    virtual ~IDroppedFiles() = default;
    virtual int Count() = 0;
    virtual std::string Path(int index) = 0;
    virtual void Finish() = 0;
};

// A window message as it passes through a widget's message routine.
struct TMessage {
    unsigned Msg = 0;
    IDroppedFiles* Drop = nullptr; // with kWmDropFiles
};
using TWindowProc = std::function<void(TMessage& message)>;

// ListView1: a report list in virtual mode. It stores no rows, only their count, and asks
// for the texts of the rows it draws.
class IReportList {
  public:
    virtual ~IReportList() = default;
    virtual void SetRowCount(int count) = 0;
    virtual int RowCount() const = 0;
    // Rows that are fully visible at the list's present size.
    virtual int RowsPerPage() const = 0;
    // Index of the selected row, -1 when none.
    virtual int SelectedIndex() const = 0;
    virtual std::string SelectedCaption() const = 0;
    virtual void Select(int index) = 0;
    virtual void ClearSelection() = 0;
    virtual void SetFocus() = 0;
    virtual void Invalidate() = 0;
    // A hidden column keeps its width: ColumnWidth answers the width it shows again with.
    virtual int ColumnWidth(int column) const = 0;
    virtual void SetColumnWidth(int column, int width) = 0;
    virtual void SetColumnVisible(int column, bool visible) = 0;
    // The routine every message of the list passes through; a wrapper put in front of it
    // hands the messages on to the one it replaced.
    virtual TWindowProc WindowProc() const = 0;
    virtual void SetWindowProc(TWindowProc proc) = 0;
    // Registers the list as a target for files dropped from the shell, or unregisters it.
    virtual void SetAcceptDrops(bool accept) = 0;
};

// Characters FirstChar to LastChar (inclusive) of line Line, drawn marked.
struct TLineMark {
    int Line = 0;
    int FirstChar = 0;
    int LastChar = 0;
    bool operator==(const TLineMark&) const = default;
};

// What extends the hex view's range selection.
struct TRangeInput {
    enum class TKind { Key, Press, Drag };
    TKind Kind = TKind::Key;
    int Key = 0;        // Key: the virtual key pressed with Shift
    int Line = 0;       // Press, Drag: the line under the pointer (clamped to the lines)
    int Char = 0;       // and the character of it, from the line's first
    bool Shift = false; // Press: Shift was held
};
using TRangeHandler = std::function<void(const TRangeInput& input)>;

// ListBox1: a list of text lines (the hex view's list).
class ILineList {
  public:
    virtual ~ILineList() = default;
    virtual void Clear() = 0;
    virtual void Append(const std::string& text) = 0;
    virtual int Count() const = 0;
    virtual std::string Line(int index) const = 0;
    virtual void SetLine(int index, const std::string& text) = 0;
    // Index of the selected line, -1 when none.
    virtual int SelectedIndex() const = 0;
    virtual void SetSelectedIndex(int index) = 0;
    // Height of the area that shows lines, and of one line, in pixels.
    virtual int InnerHeight() const = 0;
    virtual int LineHeight() const = 0;
    virtual void SetFont(const std::string& family, int pointSize) = 0;
    virtual void SetFocus() = 0;
    // Delivered before the list's own key handling, which runs afterwards as usual.
    // An empty handler detaches the previous one.
    virtual void SetKeyDownHandler(KeyDownHandler handler) = 0;
    // Marks exactly these characters; an empty list clears every mark. A list that
    // cannot mark ignores it.
    virtual void SetMarks(const std::vector<TLineMark>& marks) { (void)marks; }
    // The range selection's input: arrows, pages, Home and End pressed with Shift (the
    // list's own handling and the key-down handler do not see them), and the left button
    // pressed (with or without Shift) or dragged over a line's character. A list without a
    // handler keeps its own behaviour.
    virtual void SetRangeHandler(TRangeHandler handler) { (void)handler; }
};

// ScrollBar1, ScrollBar2. Every position given is clamped to the range.
class IScrollBar {
  public:
    virtual ~IScrollBar() = default;
    virtual int Position() const = 0;
    virtual void SetPosition(int position) = 0;
    virtual int Minimum() const = 0;
    virtual void SetMinimum(int minimum) = 0;
    virtual int Maximum() const = 0;
    virtual void SetMaximum(int maximum) = 0;
    virtual void SetPageSize(int pageSize) = 0;
    virtual void SetSmallChange(int change) = 0;
    virtual void SetLargeChange(int change) = 0;
    // Scroll codes with a changeable position. An empty handler detaches.
    virtual void SetScrollHandler(ScrollHandler handler) = 0;
    // Delivered after the bar's own tracking of a press has ended. An empty handler detaches.
    virtual void SetMouseDownHandler(NotifyHandler handler) = 0;
};

// An opaque handle on one line of a syntax tree.
struct TTreeLineTag;
using TTreeLine = TTreeLineTag*;
class IElementLines;

// TreeView1: an ordered tree of text lines. Children keep the order they were added in;
// a new line starts collapsed.
class ITreeLines {
  public:
    virtual ~ITreeLines() = default;
    virtual void ClearLines() = 0;
    // Inserts a top-level line before all existing top-level lines.
    virtual TTreeLine AddRootLine(const std::string& text) = 0;
    // Appends a line as the last child of parent.
    virtual TTreeLine AddChildLine(TTreeLine parent, const std::string& text) = 0;
    // Shows the line's direct children; the children's own state is not changed.
    virtual void ExpandLine(TTreeLine line) = 0;
    // The side that takes element lines as their parts, for a tree that has one.
    virtual IElementLines* ElementSide() { return nullptr; }
};

enum class TWindowState { Normal, Minimized, Maximized };

// Form1: the main window's geometry and caption.
class IMainWindow {
  public:
    virtual ~IMainWindow() = default;
    virtual std::string Caption() const = 0;
    virtual void SetCaption(const std::string& caption) = 0;
    virtual int Left() const = 0;
    virtual int Top() const = 0;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual void SetBounds(int left, int top, int width, int height) = 0;
    virtual TWindowState State() const = 0;
    virtual void SetState(TWindowState state) = 0;
    virtual int Panel2Width() const = 0;
    virtual void SetPanel2Width(int width) = 0;
    virtual void Close() = 0;
    // The height of the hex pane Panel1, which a splitter above it lets the user drag; a
    // window without that splitter keeps the design height.
    virtual int HexPaneHeight() const { return kDesignHexPaneHeight; }
    virtual void SetHexPaneHeight(int height) { (void)height; }
    static constexpr int kDesignHexPaneHeight = 210;
};

// A menu item with a check mark (Help > Check For Updates).
class IMenuCheck {
  public:
    virtual ~IMenuCheck() = default;
    virtual bool Checked() const = 0;
    virtual void SetChecked(bool checked) = 0;
};

// tmUpdate: fires on the user-interface thread while enabled.
class ITimer {
  public:
    virtual ~ITimer() = default;
    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool enabled) = 0;
};

// What the open-file dialog starts with.
struct TOpenFileRequest {
    std::string Folder;     // the folder it shows first; empty: the toolkit's choice
    std::string FilterName; // the first filter, selected when it opens: its name
    std::string Patterns;   // and its patterns, blank-separated ("*.264 *.h264"); the second
                            // filter shows all files
};

// Modal dialogs and message boxes.
class IDialogs {
  public:
    virtual ~IDialogs() = default;
    // Runs the open-file dialog; no value when the user cancels.
    virtual std::optional<std::string> OpenFileName() = 0;
    // The same, starting where the request says. A dialog that cannot be told runs as
    // OpenFileName does.
    virtual std::optional<std::string> OpenFileNameFor(const TOpenFileRequest& request) {
        (void)request;
        return OpenFileName();
    }
    virtual void ShowMessage(const std::string& text) = 0;
    virtual void ShowInformation(const std::string& title, const std::string& text) = 0;
    // A box with the warning icon; one that has none shows the information box.
    virtual void ShowWarning(const std::string& title, const std::string& text) {
        ShowInformation(title, text);
    }
    // A Yes/No question; true for Yes.
    virtual bool Confirm(const std::string& title, const std::string& text) = 0;
    // A line of text to type; no value when the user cancels.
    virtual std::optional<std::string> AskText(const std::string& title, const std::string& label,
                                               const std::string& text) = 0;
    // One of items, or a text typed in its place; no value when the user cancels.
    virtual std::optional<std::string> ChooseItem(const std::string& title,
                                                  const std::string& label,
                                                  const std::vector<std::string>& items,
                                                  int current) = 0;
};

// Shows how far a long task has come, with a Cancel button that Esc also presses.
class IProgressBar {
  public:
    virtual ~IProgressBar() = default;
    // Shown with a caption (what runs) and the progress, in thousandths, with its text.
    virtual void Show(const std::string& caption) = 0;
    virtual void SetProgress(int permille, const std::string& text) = 0;
    virtual void Hide() = 0;
    virtual bool Visible() const = 0;
    // Called when the user cancels. An empty handler detaches.
    virtual void SetCancelHandler(NotifyHandler handler) = 0;
};

// The screen cursor, for the whole application.
class ICursor {
  public:
    virtual ~ICursor() = default;
    virtual void SetBusy() = 0;
    virtual void SetDefault() = 0;
};

// Shows the busy cursor for its lifetime and always restores the normal one.
class TBusyCursor {
  public:
    explicit TBusyCursor(ICursor* cursor) : FCursor(cursor) {
        if (FCursor) {
            FCursor->SetBusy();
        }
    }
    ~TBusyCursor() {
        if (FCursor) {
            FCursor->SetDefault();
        }
    }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

  private:
    ICursor* FCursor;
};

// One open key of the per-user settings, closed when released.
class ISettingsKey {
  public:
    virtual ~ISettingsKey() = default;
    // The value as a 32-bit integer; none when it is absent or of another type.
    virtual std::optional<std::int32_t> ReadDword(const std::string& name) = 0;
    // Throws when the value cannot be written.
    virtual void WriteDword(const std::string& name, std::int32_t value) = 0;
    // Text values (paths): REG_SZ in the registry. A store that keeps only numbers reads
    // none and writes nothing.
    virtual std::optional<std::string> ReadString(const std::string& name) {
        (void)name;
        return std::nullopt;
    }
    virtual void WriteString(const std::string& name, const std::string& value) {
        (void)name;
        (void)value;
    }
};

// Per-user settings of 32-bit values (the registry's REG_DWORD values on Windows).
class ISettingsStore {
  public:
    virtual ~ISettingsStore() = default;
    // Opens the key at path, a registry path below the per-user root such as
    // "Software\Maker\Program". With create, a missing key (and any missing key above
    // it) is created; without, none is returned when the key does not exist. None also
    // when it cannot be opened.
    virtual std::unique_ptr<ISettingsKey> OpenKey(const std::string& path, bool create) = 0;
};

// One blocking HTTP GET.
struct THttpRequest {
    std::string Url;
    std::string UserAgent;
    // Bytes of the body kept at most; the rest is never read.
    std::int32_t MaxBytes = 0;
};

// A blocking HTTP GET; false when no answer came. Any answer counts, whatever its status:
// an error page is a body like any other.
class IHttpClient {
  public:
    virtual ~IHttpClient() = default;
    virtual bool Get(const THttpRequest& request, std::string& body) = 0;
};

// Opens a URL in the default browser.
class IBrowser {
  public:
    virtual ~IBrowser() = default;
    virtual void OpenUrl(const std::string& url) = 0;
};

// The fields of the status bar under the window, left to right.
enum class TStatusField {
    File,      // the file's size
    Page,      // where the page lies in the file
    Selection, // the selected unit's offset and length
    Note,      // what the last navigation step has to say (nothing found, the thumb's place)
};

// The window's status bar: one text a field, each readable by a screen reader.
class IStatusBar {
  public:
    virtual ~IStatusBar() = default;
    virtual void SetText(TStatusField field, const std::string& text) = 0;
    virtual std::string Text(TStatusField field) const = 0;
};

// A rectangle in screen pixels.
struct TScreenRect {
    int Left = 0;
    int Top = 0;
    int Width = 0;
    int Height = 0;
    bool operator==(const TScreenRect&) const = default;
};

// The screens the window can be placed on.
class IMonitors {
  public:
    virtual ~IMonitors() = default;
    // Each screen's area available to windows (without task bars), the primary first.
    virtual std::vector<TScreenRect> WorkAreas() const = 0;
};

// One bar of the stream summary's plot: the access units that begin in one stretch of the
// file, and the largest of them, which the bar stands for.
struct TSummaryBar {
    std::int64_t FirstOffset = 0;
    std::int64_t Pictures = 0;
    std::int64_t Bytes = 0;
    std::int64_t Largest = 0; // the largest access unit's bytes
    std::int64_t LargestOffset = 0;
    std::int64_t LargestSlice = -1; // its picture's first slice
    std::int64_t LargestSliceLength = 0;
    std::uint32_t LargestType = 0; // slice_type modulo 5
    bool LargestIdr = false;
    std::int64_t I = 0;
    std::int64_t P = 0;
    std::int64_t B = 0;
    std::int64_t Idr = 0;
};

// Picture sizes over the file, and where the current page lies in it.
struct TSummaryPlot {
    std::int64_t FileSize = 0;
    // The bars' buckets: BucketWidth bytes each from RangeFirst (0 for the whole file).
    std::int64_t RangeFirst = 0;
    std::int64_t BucketWidth = 1;
    std::vector<TSummaryBar> Bars;
    // Access units a second, from the VUI's timing of a stream of frames; 0 without it.
    double PicturesPerSecond = 0;
    std::int64_t PageFirst = -1; // -1: no page
    std::int64_t PageEnd = -1;
};

// The Stream Summary pane: the figures as text lines, the plot, the walk's progress with a
// Cancel button, and clicks on the plot (as file offsets).
class ISummaryView {
  public:
    virtual ~ISummaryView() = default;
    virtual void SetPaneVisible(bool visible) = 0;
    virtual bool PaneVisible() const = 0;
    virtual void SetFigures(const std::vector<std::string>& lines) = 0;
    virtual void SetPlot(const TSummaryPlot& plot) = 0;
    virtual void SetPage(std::int64_t first, std::int64_t end) = 0;
    // running: the walk goes on (the bar and its Cancel button show).
    virtual void SetProgress(bool running, int permille, const std::string& text) = 0;
    // Empty handlers detach.
    virtual void SetCancelHandler(NotifyHandler handler) = 0;
    virtual void SetClickHandler(std::function<void(std::int64_t offset)> handler) = 0;
    // What the plot's tooltip says of a unit (the Info text of the unit at offset, length
    // bytes long).
    virtual void SetUnitTextHandler(
        std::function<std::string(std::int64_t offset, std::int64_t length)> handler) = 0;
    // Told the range [first, end) the plot now shows after a drag zoomed into it, or the
    // whole file after a zoom out. A pane without zoom never tells.
    virtual void SetZoomHandler(std::function<void(std::int64_t first, std::int64_t end)> handler) {
        (void)handler;
    }
};

// The system clipboard. Texts are in the views' encoding (Windows-1252, as the hex view
// shows bytes).
class IClipboard {
  public:
    virtual ~IClipboard() = default;
    virtual void SetText(const std::string& text) = 0;
};

// One line of the detail tree as read back: its depth below the top level (0 for "NAL")
// and its text.
struct TBranchLine {
    int Depth = 0;
    std::string Text;
    bool operator==(const TBranchLine&) const = default;
};

// The detail tree's selection, read back for copying.
class ITreeSelection {
  public:
    virtual ~ITreeSelection() = default;
    // The selected line and every line below it, in the tree's order, expanded or not;
    // empty when no line is selected.
    virtual std::vector<TBranchLine> SelectedBranch() const = 0;
};

// The recent files in the File menu, most recent first; each item opens its file.
class IRecentFilesMenu {
  public:
    virtual ~IRecentFilesMenu() = default;
    virtual void SetRecentFiles(const std::vector<std::string>& paths) = 0;
};
