#pragma once

// TForm1: the main window's state and handlers, free of any widget toolkit. It reaches its
// widgets only through the interfaces of toolkit/Toolkit.h; the Qt layer builds the
// widgets, hands them over at construction and forwards their notifications to the
// handlers below.

#include "decode/Overlay.h"
#include "hexview/HexViewUtils.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "stream/UnitCursor.h"
#include "syntax/BitStream4.h"
#include "syntax/SyntaxTree.h"
#include "syntax/UnitInfo.h"
#include "model/UnitSearch.h"
#include "toolkit/PicturePane.h"
#include "toolkit/Toolkit.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

inline constexpr std::int32_t kScanBufferSize = 10485760; // 10 MiB
inline constexpr std::int32_t kMaxLocators = 256;
// The detail read of the selected unit lands here in ScanBuffer, clear of the scan window
// that also receives the unit's bytes without emulation prevention.
inline constexpr std::int32_t kDetailRegionOffset = 5242880; // 5 MiB
// Bytes of file per unit of the window scroll bar, unless the file is too large for it.
inline constexpr std::int64_t kScrollBytesPerUnit = 100;

// What one navigation step may read beyond its first windows, so that it passes units
// larger than a window at a bounded cost.
inline constexpr std::int32_t kNavigationReadBound = 67108864; // 64 MiB

inline constexpr const char* kProductName = "Quillet";

// The NAL list's fifth column, the unit's summary.
inline constexpr int kInfoColumn = 4;
// How often a running search is looked at, in milliseconds.
inline constexpr int kFindPollInterval = 100;

// The widgets and services the window logic works on; each may be absent in a test that
// does not need it.
struct TForm1Widgets {
    IReportList* ListView1 = nullptr;
    IScrollBar* ScrollBar1 = nullptr;
    ITreeLines* TreeView1 = nullptr;
    ILineList* ListBox1 = nullptr;
    IScrollBar* ScrollBar2 = nullptr;
    IMainWindow* Form1 = nullptr;
    IMenuCheck* CheckForUpdates1 = nullptr;
    ITimer* tmUpdate = nullptr;
    IDialogs* Dialogs = nullptr;
    ICursor* Screen = nullptr;
    ISettingsStore* Registry = nullptr;
    IHttpClient* Http = nullptr;
    IBrowser* Browser = nullptr;
    // The screens, to bring back a window whose stored place is on none of them.
    IMonitors* Monitors = nullptr;
    // View > Decode Slice Headers and SEI.
    IMenuCheck* DecodeSliceHeaders1 = nullptr;
    // Told where the bits of each detail tree line lie (the tree widget itself).
    ILineBits* TreeView1Bits = nullptr;
    // The status bar: file size, the page's place, the selected unit, navigation notes.
    IStatusBar* StatusBar = nullptr;
    // View > Unit Summary Column.
    IMenuCheck* UnitSummaryColumn1 = nullptr;
    // The progress of a search, with its Cancel button, and the timer that looks at it.
    IProgressBar* FindProgress = nullptr;
    ITimer* tmFind = nullptr;
    // View > Stream Summary, its pane, and the timer that looks at the walk.
    IMenuCheck* StreamSummary1 = nullptr;
    ISummaryView* SummaryPane = nullptr;
    ITimer* tmSummary = nullptr;
    // Where Copy puts its text, the tree's selection it copies, and File's recent files.
    IClipboard* Clipboard = nullptr;
    ITreeSelection* TreeView1Selection = nullptr;
    IRecentFilesMenu* RecentFiles1 = nullptr;
    // View > Picture, the picture pane, and the way back to this thread for its results.
    IMenuCheck* Picture1 = nullptr;
    IPicturePane* PicturePane = nullptr;
    IUiThread* UiThread = nullptr;
    // View > Overlay's items, in the order of kOverlayItems.
    std::array<IMenuCheck*, kOverlayItemCount> OverlayItems{};
    // View > Zoom's items: Fit, 1:1, 2:1.
    std::array<IMenuCheck*, 3> ZoomItems{};
};

// How many files File keeps as recent.
inline constexpr std::size_t kRecentFileCount = 8;
// The open dialog's first filter.
inline constexpr const char* kStreamFilterName = "H264 ES Files";
inline constexpr const char* kStreamFilePatterns = "*.264 *.h264 *.h26l *.avc *.jsv *.jvt";

class TSetStore;
class TFindWorker;
class TSummaryWorker;
class TPictureView;

// The folder part of a path, without its last separator; empty when there is none.
std::string FolderOf(const std::string& path);

class TForm1 {
  public:
    // Runs FormCreate as the last step of construction.
    explicit TForm1(const TForm1Widgets& widgets);
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Window life.
    void FormCreate();
    void FormShow();
    void FormClose();
    void FormResize();
    void RefreshCaption();

    // Menu commands.
    void Open1Click();
    void Close1Click();
    void Exit1Click();
    void About1Click();
    void CheckForUpdates1Click();
    // Turns the deeper decoding of slices and SEI messages on or off and shows the
    // selected unit again.
    void DecodeSliceHeaders1Click();
    // Shows or hides the Info column.
    void UnitSummaryColumn1Click();
    // Shows or hides the picture pane (Unit1Picture.cpp).
    void Picture1Click();
    // Turns an item of View > Overlay (a TOverlayItem) on or off.
    void OverlayClick(unsigned item);
    // View > Zoom: the picture fitted to the pane (0), or at 1:1 (1) or 2:1 (2).
    void ZoomClick(int zoom);
    // The picture pane's Left (-1) and Right (+1): the previous or next picture's first unit
    // selected in the list (Unit1PictureStep.cpp).
    void PictureStep(int direction);
    void tmUpdateTimer();

    // Go > Go to Offset: asks for an offset and shows the unit that holds it.
    void GoToOffset1Click();
    // The page starts at the unit that holds offset (the last start code at or before it
    // within a step's bound, else the first after it), that unit is selected and the hex
    // view shows offset's line. False, with a message, for an offset past the file's end.
    bool GoToOffset(std::int64_t offset);

    // Go > Find: asks for a kind of unit and finds the next one. Find Next and Find
    // Previous go on from the selected row with the last kind asked for.
    void Find1Click();
    void FindNext1Click();
    void FindPrevious1Click();
    void CancelFind();
    void tmFindTimer();
    bool Finding() const { return FFind != nullptr; }

    // View > Stream Summary: shows the pane and walks the loaded file in the background,
    // or hides it and ends the walk.
    void StreamSummary1Click();
    void CancelSummary();
    void tmSummaryTimer();
    // A click on the plot: the page goes to that offset.
    void SummaryPlotClick(std::int64_t offset);
    // The plot now shows [first, end): a range of the file is walked again for buckets of its
    // own access units; the whole file brings back the whole walk's plot.
    void SummaryZoom(std::int64_t first, std::int64_t end);
    // At the first run: the list pane and its columns for a window windowWidth wide.
    void FitListPane(int windowWidth);
    // The Info text of the unit at offset, for the plot's tooltip.
    std::string SummaryUnitText(std::int64_t offset, std::int64_t length);
    bool Summarising() const { return FSummary != nullptr; }

    // Loading.
    bool LoadFile(const std::string& fileName);
    bool UnloadFile();
    void WMDROPFILES(TMessage& message);
    // Files named on the command line, opened in turn as dropped ones are; those refused
    // (missing ones too) are reported.
    void OpenCommandLine(const std::vector<std::string>& paths);
    // File > the recent file at index (0 the most recent).
    void RecentFileClick(int index);
    // The hex pane's height changed: the hex view shows as many lines as now fit.
    void HexPaneResize();

    // Copy: the texts of the selected NAL list row (as quillet-dump lists it, with --info
    // while the Info column shows), of the
    // selected tree line and the lines below it (as quillet-dump --at prints them), of the
    // hex view's selected range (as its lines) or else its selected line; and the selected
    // unit's offset. Nothing is put on the clipboard
    // when nothing is selected.
    void ListView1Copy();
    void TreeView1Copy();
    void ListBox1Copy();
    void CopyOffset1Click();
    std::string ListView1CopyText(const std::vector<int>& rows);

    // The window settings, read at startup and written at shutdown.
    void LoadRegistrySettings();
    void SaveRegistrySettings();
    // Shows RecentFiles in the File menu.
    void ShowRecentFiles();

    // The NAL list and its scroll bar.
    void ListView1Data(int index, TReportRow& row);
    void ListView1KeyDown(int key);
    void ListView1KeyUp(int key);
    void ListView1MouseDown();
    void MyScrollMouseDown();
    void ListView1WindowProc(TMessage& message);
    // The mouse wheel over the NAL list or its bar: notches away from the user (up) are
    // positive. Each notch moves the page by three units, as three presses of an arrow.
    void ListView1MouseWheel(int notches);
    // The mouse wheel over the hex view: three lines a notch.
    void ListBox1MouseWheel(int notches);
    // The window bar's thumb is being dragged: says where the page would start.
    void ScrollBar1Tracking(int position);

    // Shows the NAL unit whose start code begins at offset in the tree and the hex view.
    void UpdatePack(std::int64_t offset);
    // A detail tree line was selected: the bytes that hold its bits (firstBit counts from
    // the shown unit's first byte) are marked in the hex view. No bits (a negative
    // firstBit) clears the marks.
    void TreeView1Change(std::int64_t firstBit, std::int64_t bits);

    // Scans the window that begins at Start into Locators and brings the NAL list's row
    // count to the number found.
    void RefreshPosition(std::int64_t Start);

    // The loaded-file state.
    std::string FileName;
    std::unique_ptr<FileStream> Stream;
    std::vector<std::uint8_t> ScanBuffer;
    std::array<TNalUnitLocator, kMaxLocators> Locators{};
    std::int32_t LocatorCount = 0;
    std::int32_t RowCapacity = 0;
    std::int64_t WindowPosition = 0;
    std::int32_t LastScrollPosition = 0;
    std::unique_ptr<std::recursive_mutex> TableLock;
    // Bytes of file per window scroll bar unit for the loaded file: 100, or more for a
    // file so large that its last position would not fit the bar's 32-bit range.
    std::int64_t ScrollUnit = kScrollBytesPerUnit;

    // The page's last unit goes on past what was read: its Len is a lower bound.
    bool LastLenOpen = false;
    // The page's last unit ends the file: nothing follows it.
    bool PageReachesEnd = false;
    // What the last navigation step has to tell the user (nothing found within the bound,
    // where the thumb would land); empty when all went as asked.
    std::string NavigationNote;

    // Why the last LoadFile refused its file, in a few words; empty when it took it.
    std::string LoadFailure;
    // The recent files, most recent first, at most kRecentFileCount.
    std::vector<std::string> RecentFiles;
    // The folder the open dialog last chose a file in.
    std::string OpenFolder;

    // The update-check flag: whether the program looks for a newer version after start.
    bool CheckForUpdates = true;
    // Whether the detail tree decodes slice headers and SEI messages; off unless asked.
    bool DecodeSliceHeaders = false;
    // Whether the NAL list shows its Info column; on unless the user hid it.
    bool ShowInfoColumn = true;
    // The kind the last Find asked for.
    std::optional<TFindKind> FindKind;
    // Whether the picture pane is shown; off unless asked.
    bool ShowPicture = false;
    // What View > Overlay draws over the picture (TOverlayItem bits); nothing unless asked.
    unsigned PictureOverlay = 0;
    // View > Zoom's choice; fitted unless asked.
    int PictureZoom = 0;
    // Created when the window is shown, released when it closes.
    std::unique_ptr<TBitStream4> BitStream;
    // The hex view of the loaded file; absent before the first file was loaded.
    std::unique_ptr<THexView> HexView;
    // The list's message routine that ListView1WindowProc stands in front of.
    TWindowProc SavedListWindowProc;

    TForm1Widgets Widgets;

  private:
    // Whether path holds a stream, by the check LoadFile makes, without touching the
    // loaded file; reason says why not.
    static bool StreamFileAccepted(const std::string& path, std::string& reason);
    // Makes path the loaded file when it is a stream (after UnloadFile, with unloadFirst)
    // and puts it first among the recent files; otherwise keeps the loaded file and says
    // why in reason.
    bool OpenStreamFile(const std::string& path, bool unloadFirst, std::string& reason);
    // Opens each path in turn as a drop does, then names those refused in one warning.
    // skipMissing: a path with no file is passed over silently.
    void OpenFiles(const std::vector<std::string>& paths, bool skipMissing);
    void ShowRefusals(const std::vector<std::pair<std::string, std::string>>& refusals);
    void RememberRecentFile(const std::string& path);
    void CopyText(const std::string& text);
    std::int32_t RowsPerPage() const;
    std::int32_t PageCapacity() const;
    // The page: finds the first unit at or after Start and fills the page from it.
    void ScanWindow(std::int64_t Start);
    // Measures the page's last unit and adds the units after it until the page is full,
    // the file ends or the step's bound is spent. Of the rows, the first keep stay even
    // when the bound runs out before their end is found (the last one then shows its
    // length so far); a later one goes, to lead the next page.
    void FillPage(TUnitCursor& cursor, std::int32_t keep);
    // A page that begins with the unit at first, measured within a fresh bound.
    void StartPageAt(TUnitCursor& cursor, std::int64_t first);
    // A page with no rows: no start code begins in [from, to).
    void SetEmptyPage(std::int64_t from, std::int64_t to);
    // Puts the units at offsets (ascending) on the page, each measured up to the next;
    // the last one's end is end, or unknown when end is negative.
    void SetRows(TUnitCursor& cursor, const std::int64_t* offsets, std::int32_t count,
                 std::int64_t end);
    // A cursor on the scan buffer with a step's bound.
    TUnitCursor NewCursor();
    // The steps of the keys, the bar and the wheel; true when the page moved.
    bool StepForward(bool page);
    // Searches on for the end of the page's open last row within a fresh bound; false,
    // with the row's length so far and a note, when it is not found.
    bool SearchPastLastRow(TUnitCursor& cursor, std::int64_t& next);
    bool StepBack(bool page);
    bool StepHome();
    bool StepEnd();
    bool StepToThumb(std::int64_t at);
    // Runs a step on the table and records where the page now lies.
    bool RunStep(const std::function<bool()>& step);
    // After a bar or wheel step: the first row after a forward move, the last after a
    // backward one, shown in the tree and the hex view; both empty without rows.
    void SelectAfterStep(bool forward);
    // After a step that moved nothing: the selected row, shown unless it is already.
    void ShowSelectedRowAgain();
    void NoteNothingFound(std::int64_t from, std::int64_t to, std::int64_t searched, bool forward);
    // The status bar's texts for the file, the page and the selection.
    void RefreshStatus();

    // Records where the page lies (WindowPosition) and puts the bar there.
    void RecordPosition();
    void SetBarPosition(std::int32_t position);
    // Brings a page that reaches past the file's present end back into the file.
    void FollowShrunkFile();
    std::int32_t ScrollPositionOf(std::int64_t offset) const;
    // The selection display rule.
    void ShowSelectedRow();
    // The unit of row index is the first slice of a picture.
    bool BeginsPicture(int index);
    void ClearDetail();
    void ClearHexLines();
    std::int64_t FileSize() const;
    // The Info text of locator index, read when first asked for on this page.
    const std::string& InfoText(std::int32_t index);
    void ForgetInfo();
    void ApplyInfoColumn();
    // The unit that holds offset: the last start code at or before it within one step's
    // bound, else the first after it.
    bool FindUnitHolding(std::int64_t offset, std::int64_t& found);
    // Lists the page that starts at the unit at offset, selects it and shows it.
    void ShowUnitAt(std::int64_t offset);
    void FindFrom(bool forward);
    void SetNote(const std::string& text);
    void EndFind();
    void StartSummary();
    void EndSummary();
    // The pane's mark of the current page.
    void RefreshSummaryPage();

    // The picture pane's logic, made when first needed; the selected unit's picture goes
    // there (offset -1: the file is gone), and the pane follows ShowPicture.
    TPictureView* PictureView();
    void ShowPictureOf(std::int64_t offset);
    void ApplyPictureSetting();
    void ApplyOverlaySetting();
    void ApplyZoomSetting();
    std::unique_ptr<TPictureView> FPictureView;

    // Finds the sequence parameter set that governs a picture parameter set being shown;
    // made for the loaded stream when first needed.
    // The one parameter-set store of the window's views, looking back from the unit asked
    // about; made when first needed, gone with the file.
    std::unique_ptr<TSetStore> FSets;
    TSetStore& SetsAt(std::int64_t offset);
    // The offset of the unit the detail shows; -1 for none.
    std::int64_t FDetailOffset = -1;
    // Go to Offset's byte and the unit that holds it: while that unit is shown in detail,
    // the hex view shows and marks that byte (-1: none).
    std::int64_t FSoughtByte = -1;
    std::int64_t FSoughtUnit = -1;
    // The page's last unit has been measured (exactly, or as far as the bound allowed,
    // which FLastSearchedTo then tells).
    bool FLastMeasured = true;
    std::int64_t FLastSearchedTo = 0;
    // An empty page: no start code begins in [FEmptyFrom, FEmptyTo).
    std::int64_t FEmptyFrom = 0;
    std::int64_t FEmptyTo = 0;
    // How far back a backward step from the page's first row searched in vain; the next
    // one searches on from there. -1 when none did.
    std::int64_t FBackReached = -1;
    // The direction of the last page move by a key, for the row to select when the list
    // chose none.
    bool FLastStepForward = true;

    // The Info texts of the page, each read when its row is first drawn and kept with the
    // unit it belongs to: a step that keeps rows keeps their texts.
    struct TInfoEntry {
        bool Known = false;
        std::int64_t Offset = 0;
        std::int64_t Len = 0;
        std::string Text;
    };
    TUnitInfo FUnitInfo;
    std::array<TInfoEntry, kMaxLocators> FInfo;
    // The search under way, if any, and the unit it went on from.
    std::unique_ptr<TFindWorker> FFind;
    std::int64_t FFindReference = 0;
    // The stream summary's walk, while it runs; the walk of the range the plot is zoomed
    // into, while it runs; the whole walk's plot, shown again when zoomed out.
    std::unique_ptr<TSummaryWorker> FSummary;
    std::unique_ptr<TSummaryWorker> FRefine;
    TSummaryPlot FWholePlot;
    bool FPlotZoomed = false;
};
