#pragma once

#include "app/Unit1.h"
#include "qt/QtServices.h"

#include <QMainWindow>
#include <QStringList>

#include <memory>

class QAction;
class QLabel;
class QMenu;
class QSplitter;
class QTimer;
class TFindProgress;
class TFocusFrame;
class TLineListView;
class TSummaryPane;
class TQtPicturePane;
class TReportListView;
class TScrollBar;
class TStatusBar;
class TTreeLinesView;

// Form1: the main window. It builds the window's components, hands them to the window
// logic TForm1 and forwards their notifications to its handlers, in the order the logic
// expects them.
// The services the window uses beyond its widgets. The program passes the real ones; a
// service left out is absent (no settings are read or kept, no update check is made),
// except the dialogs, which default to Qt's.
struct TMainWindowServices {
    IDialogs* Dialogs = nullptr;
    ISettingsStore* Registry = nullptr;
    IHttpClient* Http = nullptr;
    IBrowser* Browser = nullptr;
    IMonitors* Monitors = nullptr;
};

class TMainWindow : public QMainWindow, public IMainWindow, public IRecentFilesMenu {
    Q_OBJECT
  public:
    explicit TMainWindow(const TMainWindowServices& services = {});
    ~TMainWindow() override;

    TForm1& Form() { return *FForm; }
    // Opens files as if they had been dropped on the NAL list.
    void OpenDropped(const QStringList& paths);
    // Opens the files named on the command line; those refused are reported.
    void OpenCommandLine(const QStringList& paths);

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
    int Panel2Width() const override;
    void SetPanel2Width(int width) override;
    void Close() override;
    int HexPaneHeight() const override;
    void SetHexPaneHeight(int height) override;

    // IRecentFilesMenu
    void SetRecentFiles(const std::vector<std::string>& paths) override;

    // The components, named as the logic names them.
    QWidget* Panel1 = nullptr;
    QWidget* Panel2 = nullptr;
    QWidget* Panel3 = nullptr;
    QSplitter* Splitter1 = nullptr;
    // Between the panes above and the hex pane Panel1 below.
    QSplitter* Splitter2 = nullptr;
    TReportListView* ListView1 = nullptr;
    TScrollBar* ScrollBar1 = nullptr;
    TTreeLinesView* TreeView1 = nullptr;
    QLabel* lbPacket = nullptr;
    TLineListView* ListBox1 = nullptr;
    TScrollBar* ScrollBar2 = nullptr;
    TStatusBar* StatusBar1 = nullptr;
    QMenu* File1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Close1 = nullptr;
    QAction* Exit1 = nullptr;
    // File's recent files, kRecentFileCount items shown as many as there are files.
    QList<QAction*> RecentFile1;
    QAction* RecentSeparator1 = nullptr;
    // The views' context menus; Copy also answers Ctrl+C in its view.
    QAction* ListCopy1 = nullptr;
    QAction* CopyOffset1 = nullptr;
    QAction* TreeCopy1 = nullptr;
    QAction* HexCopy1 = nullptr;
    // The frames that show which view has the keyboard focus.
    TFocusFrame* ListFrame = nullptr;
    TFocusFrame* TreeFrame = nullptr;
    TFocusFrame* HexFrame = nullptr;
    QMenu* Help1 = nullptr;
    QAction* CheckForUpdates1 = nullptr;
    QMenu* View1 = nullptr;
    QAction* DecodeSliceHeaders1 = nullptr;
    QAction* UnitSummaryColumn1 = nullptr;
    QAction* StreamSummary1 = nullptr;
    QMenu* Go1 = nullptr;
    QAction* GoToOffset1 = nullptr;
    QAction* Find1 = nullptr;
    QAction* FindNext1 = nullptr;
    QAction* FindPrevious1 = nullptr;
    QAction* Picture1 = nullptr;
    // View > Overlay, its items in the order of kOverlayItems.
    QMenu* Overlay1 = nullptr;
    std::array<QAction*, kOverlayItemCount> OverlayItems{};
    // View > Zoom: Fit, 1:1, 2:1.
    QMenu* Zoom1 = nullptr;
    std::array<QAction*, 3> ZoomItems{};
    TQtPicturePane* PicturePane = nullptr;
    QAction* About1 = nullptr;
    QTimer* tmUpdate = nullptr;
    QTimer* tmFind = nullptr;
    QTimer* tmSummary = nullptr;
    TSummaryPane* SummaryPane = nullptr;
    TFindProgress* FindProgress = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void BuildPanes();
    void BuildMenu();
    void ConnectHandlers();
    void BuildContextMenus();
    void ApplyPanel2Width();
    void ApplyHexPaneHeight();
    // The frame's share of the outer size, once the window system has told it.
    QSize FrameExtra() const;

    int FPanel2Width = 700;
    int FHexPaneHeight = kDesignHexPaneHeight;
    // The caption as the logic gave it; the title Qt shows has its "[*]" escaped.
    std::string FCaption;
    bool FShown = false;
    bool FClosed = false;
    // Declared before the logic, which uses them until it is gone.
    std::unique_ptr<TQtDialogs> FQtDialogs;
    TQtCursor FScreen;
    std::unique_ptr<TQtTimer> FTimer;
    std::unique_ptr<TQtMenuCheck> FMenuCheck;
    std::unique_ptr<TQtMenuCheck> FViewCheck;
    std::unique_ptr<TQtMenuCheck> FInfoCheck;
    std::unique_ptr<TQtTimer> FFindTimer;
    std::unique_ptr<TQtMenuCheck> FSummaryCheck;
    std::unique_ptr<TQtTimer> FSummaryTimer;
    std::unique_ptr<TQtMenuCheck> FPictureCheck;
    std::array<std::unique_ptr<TQtMenuCheck>, kOverlayItemCount> FOverlayChecks;
    std::array<std::unique_ptr<TQtMenuCheck>, 3> FZoomChecks;
    TQtClipboard FClipboard;
    std::unique_ptr<TForm1> FForm;
};
