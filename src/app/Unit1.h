#pragma once

// TForm1: the main window's state and handlers, free of any widget toolkit. It reaches its
// widgets only through the interfaces of toolkit/Toolkit.h; the Qt layer builds the
// widgets, hands them over at construction and forwards their notifications to the
// handlers below.

#include "hexview/HexViewUtils.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "syntax/BitStream4.h"
#include "syntax/SyntaxTree.h"
#include "toolkit/PicturePane.h"
#include "toolkit/Toolkit.h"

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
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
inline constexpr const char* kNotValidStreamMessage = "Not valid H.264 video elementary stream";

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
    // View > Picture, the picture pane, and the way back to this thread for its results.
    IMenuCheck* Picture1 = nullptr;
    IPicturePane* PicturePane = nullptr;
    IUiThread* UiThread = nullptr;
};

class TParameterSetFinder;
class TPictureView;

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
    // Shows or hides the picture pane (Unit1Picture.cpp).
    void Picture1Click();
    void tmUpdateTimer();

    // Loading.
    bool LoadFile(const std::string& fileName);
    bool UnloadFile();
    void WMDROPFILES(TMessage& message);

    // The window settings, read at startup and written at shutdown.
    void LoadRegistrySettings();
    void SaveRegistrySettings();

    // The NAL list and its scroll bar.
    void ListView1Data(int index, TReportRow& row);
    void ListView1KeyDown(int key);
    void ListView1KeyUp(int key);
    void ListView1MouseDown();
    void MyScrollMouseDown();
    void ListView1WindowProc(TMessage& message);

    // Shows the NAL unit whose start code begins at offset in the tree and the hex view.
    void UpdatePack(std::int64_t offset);
    // A detail tree line was selected: the bytes that hold its bits (firstBit counts from
    // the shown unit's first byte) are marked in the hex view. No bits (a negative
    // firstBit) clears the marks.
    void TreeView1Change(std::int64_t firstBit, std::int64_t bits);

    // Scans the window that begins at Start into Locators and brings the NAL list's row
    // count to the number found.
    void RefreshPosition(std::int64_t Start);
    // The first start code at or after Position, within 2 MiB.
    bool SearchNextPackPositionFromPos(std::int64_t& Found, std::int64_t Position);
    // The last start code at or before Position, no further back than 2 MiB.
    bool SearchPreviousPackPositionFromPos(std::int64_t& Found, std::int64_t Position);
    // The Count-th start code counting backward from Position, within 4 MiB; the earliest
    // one met when fewer are there.
    bool SearchBackPackPositionFromPos(std::int64_t& Found, std::int32_t Count,
                                       std::int64_t Position);

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
    // The scan of the page went on to the end of the file.
    bool PageReachesEnd = false;

    // Why the last LoadFile could not open its file; empty when it could.
    std::string LoadFailure;

    // The update-check flag: whether the program looks for a newer version after start.
    bool CheckForUpdates = true;
    // Whether the detail tree decodes slice headers and SEI messages; off unless asked.
    bool DecodeSliceHeaders = false;
    // Whether the picture pane is shown; off unless asked.
    bool ShowPicture = false;
    // Created when the window is shown, released when it closes.
    std::unique_ptr<TBitStream4> BitStream;
    // The hex view of the loaded file; absent before the first file was loaded.
    std::unique_ptr<THexView> HexView;
    // The list's message routine that ListView1WindowProc stands in front of.
    TWindowProc SavedListWindowProc;

    TForm1Widgets Widgets;

  private:
    class TStepScope;
    std::int32_t RowsPerPage() const;
    void ScanWindow(std::int64_t Start);
    // Appends the units of the n bytes read into ScanBuffer from base, at most capacity.
    void ScanBlock(std::int64_t base, std::int32_t n, std::int32_t capacity);
    // The first start code at or after from, read window by window within the step's
    // bound; readEnd is where the bytes read ended when none was found.
    bool FindNextStartCode(std::int64_t from, std::int64_t fileSize, std::int64_t& found,
                           std::int64_t& readEnd);
    bool StepBudgetLeft() const;
    std::int32_t StepReadSize(std::int32_t window) const;
    bool SearchForward(std::int64_t& Found, std::int64_t Position, std::int32_t blockSize);
    // The searches of key and bar steps: the first window as always, then further windows
    // while the step's bound allows, past units larger than a window.
    bool SearchNextStep(std::int64_t& found, std::int64_t p);
    bool SearchBackStep(std::int64_t& found, std::int32_t count, std::int64_t p,
                        std::int32_t window);
    // Reads up to count bytes at position into the start of ScanBuffer.
    std::int32_t ReadBlock(std::int64_t position, std::int32_t count);
    bool SearchBackward(const char* routine, std::int64_t& Found, std::int32_t Count,
                        std::int64_t Position, std::int32_t blockSize, std::int32_t* met = nullptr);

    // Navigation: scan at p and put the bar where p lies.
    void MoveWindow(std::int64_t p);
    void SetBarPosition(std::int32_t position);
    // Brings a page that reaches past the file's present end back into the file.
    void FollowShrunkFile();
    std::int32_t ScrollPositionOf(std::int64_t offset) const;
    // The offsets navigation steps from: the first row's start code - 4 (not below 0),
    // first + 4, last + 4; 0 with an empty page.
    std::int64_t BeforeFirstRow() const;
    std::int64_t AfterFirstRow() const;
    std::int64_t AfterLastRow() const;
    bool PageIsFull() const;
    // The selection display rule.
    void ShowSelectedRow();
    void ClearDetail();
    void ClearHexLines();
    std::int64_t FileSize() const;

    // The picture pane's logic, made when first needed; the selected unit's picture goes
    // there (offset -1: the file is gone), and the pane follows ShowPicture.
    TPictureView* PictureView();
    void ShowPictureOf(std::int64_t offset);
    void ApplyPictureSetting();
    std::unique_ptr<TPictureView> FPictureView;

    // Finds the sequence parameter set that governs a picture parameter set being shown;
    // made for the loaded stream when first needed.
    std::unique_ptr<TParameterSetFinder> FParameterSets;
    // The offset of the unit the detail shows; -1 for none.
    std::int64_t FDetailOffset = -1;
    // Bytes the open navigation step has asked to read.
    std::int64_t FStepBytes = 0;
    bool FStepOpen = false;
};
