#pragma once

#include "app/Unit1.h"
#include "win32/Controls.h"
#include "win32/PicturePane.h"
#include "win32/SummaryPane.h"

#include <memory>
#include <string>
#include <vector>

// The services the window uses beyond its widgets. The program passes the real ones; a
// service left out is absent (no settings are read or kept, no update check is made),
// except the dialogs, which default to the Win32 ones.
struct TWin32WindowServices {
    IDialogs* Dialogs = nullptr;
    ISettingsStore* Registry = nullptr;
    IHttpClient* Http = nullptr;
    IBrowser* Browser = nullptr;
    IMonitors* Monitors = nullptr;
};

// Menu commands and control identifiers.
enum : int {
    kIdOpen = 101,
    kIdClose,
    kIdExit,
    kIdDecodeSliceHeaders,
    kIdCheckForUpdates,
    kIdAbout,
    kIdCopy,
    kIdCopyOffset,
    kIdUnitSummaryColumn,
    kIdGoToOffset,
    kIdFind,
    kIdFindNext,
    kIdFindPrevious,
    kIdStreamSummary,
    kIdCancelSummary,
    kIdPicture,
    kIdZoomFit,           // and 1:1, 2:1
    kIdRecentFile1 = 151, // and the next ones, one a recent file
    kIdListView1 = 201,
    kIdScrollBar1,
    kIdTreeView1,
    kIdListBox1,
    kIdScrollBar2,
    kIdLabel,
    kIdStatusBar,
};

// Form1: the main window with plain Win32 controls. It builds the window's components,
// hands them to the window logic TForm1 and forwards their notifications to its
// handlers, in the order the logic expects them.
class TWin32Window : public IMainWindow, public IRecentFilesMenu {
  public:
    explicit TWin32Window(const TWin32WindowServices& services = {});
    ~TWin32Window() override;
    TWin32Window(const TWin32Window&) = delete;
    TWin32Window& operator=(const TWin32Window&) = delete;

    HWND Handle() const { return FHandle; }
    // What the message loop asks of every message before it dispatches it: the menu's
    // shortcuts, and Tab and Shift+Tab from one control to the next. True when the
    // message was handled here.
    bool PreTranslate(MSG& message);
    TForm1& Form() { return *FForm; }
    // Runs the startup steps, then shows the window in the state they left it in; a normal
    // state takes showCommand (the one WinMain was given).
    void Show(int showCommand = SW_SHOWNORMAL);
    // Opens files as if they had been dropped on the NAL list.
    void OpenDropped(const std::vector<std::string>& paths);
    // Copy for the view that has the keys or was clicked: the list, the tree or the hex
    // view; false for any other window.
    bool CopyFrom(HWND view);
    // Ends the message loop once the window is gone (the program's window does).
    void SetQuitOnDestroy(bool quit) { FQuitOnDestroy = quit; }
    // The width of the gaps between the two upper panes and above the hex pane, which drag
    // like splitters.
    static constexpr int kSplitterWidth = 3;

    // IMainWindow
    std::string Caption() const override;
    void SetCaption(const std::string& caption) override;
    int Left() const override;
    int Top() const override;
    int Width() const override;
    int Height() const override;
    void SetBounds(int left, int top, int width, int height) override;
    TWindowState State() const override;
    void SetState(TWindowState state) override;
    int Panel2Width() const override { return FPanel2Width; }
    void SetPanel2Width(int width) override;
    int HexPaneHeight() const override { return FHexPaneHeight; }
    void SetHexPaneHeight(int height) override;
    void Close() override;

    // IRecentFilesMenu: the File menu's items between Close and Exit.
    void SetRecentFiles(const std::vector<std::string>& paths) override;

    // The components, named as the logic names them.
    std::unique_ptr<TWin32ReportList> ListView1;
    std::unique_ptr<TWin32ScrollBar> ScrollBar1;
    std::unique_ptr<TWin32TreeLines> TreeView1;
    std::unique_ptr<TWin32LineList> ListBox1;
    std::unique_ptr<TWin32ScrollBar> ScrollBar2;
    std::unique_ptr<TWin32StatusBar> StatusBar;
    std::unique_ptr<TWin32ProgressBar> FindProgress;
    std::unique_ptr<TWin32SummaryPane> SummaryPane;
    std::unique_ptr<TWin32PicturePane> PicturePane;
    HWND lbPacket = nullptr;
    HMENU MainMenu1 = nullptr;
    HMENU File1 = nullptr;

  private:
    static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam,
                                            LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    HFONT MakeFont() const;
    void ApplyDpi(int dpi, const RECT* suggested);
    // A length of the design, at 96 dots per inch, at the window's density.
    int Px(int design) const { return MulDiv(design, FDpi, 96); }
    void BuildMenu();
    void BuildControls();
    void ConnectHandlers();
    void Layout();
    // Where the views end: above the status bar and the summary pane, when it shows.
    int ViewsBottom() const;
    void OnCommand(int id);
    void ShowContextMenu(HWND view, POINT at);
    // Which splitter, if any, lies at a point of the client area.
    enum class TSplitter { None, Panes, HexPane };
    TSplitter SplitterAt(int x, int y) const;
    RECT NormalRect() const;

    HWND FHandle = nullptr;
    HACCEL FAccelerators = nullptr;
    HFONT FFont = nullptr;
    int FDpi = 96;
    int FPanel2Width = 700;
    int FHexPaneHeight = kDesignHexPaneHeight;
    std::size_t FRecentCount = 0;
    int FPanesHeight = 0;
    bool FShown = false;
    bool FClosed = false;
    bool FQuitOnDestroy = false;
    TSplitter FSplitterDrag = TSplitter::None;
    int FDragOffset = 0; // where in the splitter it was taken hold of
    TWindowState FPendingState = TWindowState::Normal;
    HWND FFocus = nullptr;
    // Declared before the logic, which uses them until it is gone.
    std::unique_ptr<TWin32Dialogs> FDialogs;
    TWin32Cursor FScreen;
    std::unique_ptr<TWin32Timer> FTimer;
    std::unique_ptr<TWin32Timer> FFindTimer;
    std::unique_ptr<TWin32Timer> FSummaryTimer;
    std::unique_ptr<TWin32MenuCheck> FSummaryCheck;
    std::unique_ptr<TWin32MenuCheck> FColumnCheck;
    std::unique_ptr<TWin32MenuCheck> FMenuCheck;
    std::unique_ptr<TWin32MenuCheck> FViewCheck;
    std::unique_ptr<TWin32MenuCheck> FPictureCheck;
    std::array<std::unique_ptr<TWin32MenuCheck>, 3> FZoomChecks;
    std::unique_ptr<TWin32Clipboard> FClipboard;
    std::unique_ptr<TForm1> FForm;
};
