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
class TLineListView;
class TQtPicturePane;
class TReportListView;
class TScrollBar;
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

class TMainWindow : public QMainWindow, public IMainWindow {
    Q_OBJECT
  public:
    explicit TMainWindow(const TMainWindowServices& services = {});
    ~TMainWindow() override;

    TForm1& Form() { return *FForm; }
    // Opens files as if they had been dropped on the NAL list; the command line uses it.
    void OpenDropped(const QStringList& paths);

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

    // The components, named as the logic names them.
    QWidget* Panel1 = nullptr;
    QWidget* Panel2 = nullptr;
    QWidget* Panel3 = nullptr;
    QSplitter* Splitter1 = nullptr;
    TReportListView* ListView1 = nullptr;
    TScrollBar* ScrollBar1 = nullptr;
    TTreeLinesView* TreeView1 = nullptr;
    QLabel* lbPacket = nullptr;
    TLineListView* ListBox1 = nullptr;
    TScrollBar* ScrollBar2 = nullptr;
    QMenu* File1 = nullptr;
    QAction* Open1 = nullptr;
    QAction* Close1 = nullptr;
    QAction* Exit1 = nullptr;
    QMenu* Help1 = nullptr;
    QAction* CheckForUpdates1 = nullptr;
    QMenu* View1 = nullptr;
    QAction* DecodeSliceHeaders1 = nullptr;
    QAction* Picture1 = nullptr;
    TQtPicturePane* PicturePane = nullptr;
    QAction* About1 = nullptr;
    QTimer* tmUpdate = nullptr;

  protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildPanes();
    void BuildMenu();
    void ConnectHandlers();
    void ApplyPanel2Width();

    int FPanel2Width = 700;
    bool FShown = false;
    bool FClosed = false;
    // Declared before the logic, which uses them until it is gone.
    std::unique_ptr<TQtDialogs> FQtDialogs;
    TQtCursor FScreen;
    std::unique_ptr<TQtTimer> FTimer;
    std::unique_ptr<TQtMenuCheck> FMenuCheck;
    std::unique_ptr<TQtMenuCheck> FViewCheck;
    std::unique_ptr<TQtMenuCheck> FPictureCheck;
    std::unique_ptr<TForm1> FForm;
};
