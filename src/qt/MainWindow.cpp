#include "qt/MainWindow.h"

#include "app/PictureView.h"
#include "qt/DroppedFiles.h"
#include "qt/FindProgress.h"
#include "qt/FocusFrame.h"
#include "qt/Fonts.h"
#include "qt/LineListView.h"
#include "qt/PicturePane.h"
#include "qt/ReportListView.h"
#include "qt/ScrollBar.h"
#include "qt/StatusBar.h"
#include "qt/SummaryPane.h"
#include "qt/TreeLinesView.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QResizeEvent>
#include <QShowEvent>
#include <QSplitter>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace {

// Design sizes, in pixels.
constexpr int kDesignLeft = 111;
constexpr int kDesignTop = 77;
constexpr int kClientWidth = 958;
constexpr int kClientHeight = 653;
constexpr int kScrollBarWidth = 16;
// Wider than the design's 3 pixels, so that the splitters are easy to take hold of.
constexpr int kSplitterWidth = 7;
constexpr int kHexListTop = 16;
constexpr int kHexListBottomMargin = 2;
// The hex pane never gets so low that its label and a line or two would not fit.
constexpr int kHexPaneMinimum = 60;
constexpr int kUpdateInterval = 10000; // ms

QBoxLayout* BareLayout(QBoxLayout* layout) {
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return layout;
}

} // namespace

TMainWindow::TMainWindow(const TMainWindowServices& services) {
    setFont(PreferredFont(QStringLiteral("MS Sans Serif"), 8, QApplication::font()));
    BuildPanes();
    BuildMenu();
    StatusBar1 = new TStatusBar(this);
    setStatusBar(StatusBar1);
    // A search's progress shows at the status bar's end while it runs.
    FindProgress = new TFindProgress(StatusBar1);
    StatusBar1->addPermanentWidget(FindProgress);
    FindProgress->hide();
    SummaryPane = new TSummaryPane(this);
    addDockWidget(Qt::BottomDockWidgetArea, SummaryPane);
    SummaryPane->hide();
    tmUpdate = new QTimer(this);
    tmUpdate->setInterval(kUpdateInterval);
    tmFind = new QTimer(this);
    tmFind->setInterval(kFindPollInterval);
    tmSummary = new QTimer(this);
    tmSummary->setInterval(kFindPollInterval);

    FQtDialogs = std::make_unique<TQtDialogs>(this);
    FTimer = std::make_unique<TQtTimer>(tmUpdate);
    FMenuCheck = std::make_unique<TQtMenuCheck>(CheckForUpdates1);
    FViewCheck = std::make_unique<TQtMenuCheck>(DecodeSliceHeaders1);
    FInfoCheck = std::make_unique<TQtMenuCheck>(UnitSummaryColumn1);
    FFindTimer = std::make_unique<TQtTimer>(tmFind);
    FSummaryCheck = std::make_unique<TQtMenuCheck>(StreamSummary1);
    FSummaryTimer = std::make_unique<TQtTimer>(tmSummary);
    FPictureCheck = std::make_unique<TQtMenuCheck>(Picture1);
    TForm1Widgets widgets;
    for (std::size_t i = 0; i < kOverlayItemCount; ++i) {
        FOverlayChecks[i] = std::make_unique<TQtMenuCheck>(OverlayItems[i]);
        widgets.OverlayItems[i] = FOverlayChecks[i].get();
    }
    for (std::size_t i = 0; i < ZoomItems.size(); ++i) {
        FZoomChecks[i] = std::make_unique<TQtMenuCheck>(ZoomItems[i]);
        widgets.ZoomItems[i] = FZoomChecks[i].get();
    }
    widgets.ListView1 = ListView1;
    widgets.ScrollBar1 = ScrollBar1;
    widgets.TreeView1 = TreeView1;
    widgets.ListBox1 = ListBox1;
    widgets.ScrollBar2 = ScrollBar2;
    widgets.Form1 = this;
    widgets.CheckForUpdates1 = FMenuCheck.get();
    widgets.DecodeSliceHeaders1 = FViewCheck.get();
    widgets.Picture1 = FPictureCheck.get();
    widgets.PicturePane = PicturePane;
    widgets.UiThread = PicturePane;
    widgets.TreeView1Bits = TreeView1;
    widgets.tmUpdate = FTimer.get();
    widgets.UnitSummaryColumn1 = FInfoCheck.get();
    widgets.tmFind = FFindTimer.get();
    widgets.FindProgress = FindProgress;
    widgets.StreamSummary1 = FSummaryCheck.get();
    widgets.SummaryPane = SummaryPane;
    widgets.tmSummary = FSummaryTimer.get();
    widgets.Dialogs = services.Dialogs ? services.Dialogs : FQtDialogs.get();
    widgets.Screen = &FScreen;
    widgets.Registry = services.Registry;
    widgets.Http = services.Http;
    widgets.Browser = services.Browser;
    widgets.Monitors = services.Monitors;
    widgets.Clipboard = &FClipboard;
    widgets.TreeView1Selection = TreeView1;
    widgets.RecentFiles1 = this;
    widgets.StatusBar = StatusBar1;
    FForm = std::make_unique<TForm1>(widgets);
    ConnectHandlers();
    BuildContextMenus();

    move(kDesignLeft, kDesignTop);
    resize(kClientWidth,
           kClientHeight + menuBar()->sizeHint().height() + StatusBar1->sizeHint().height());
}

TMainWindow::~TMainWindow() {
    // The logic goes first: the hex view detaches from widgets that must still exist.
    FForm.reset();
}

void TMainWindow::BuildPanes() {
    Splitter2 = new QSplitter(Qt::Vertical, this);
    Splitter2->setHandleWidth(kSplitterWidth);
    Splitter2->setChildrenCollapsible(false);

    Splitter1 = new QSplitter(Qt::Horizontal, Splitter2);
    Splitter1->setHandleWidth(kSplitterWidth);
    Splitter1->setChildrenCollapsible(false);

    Panel2 = new QWidget(Splitter1);
    auto* listRow = BareLayout(new QHBoxLayout(Panel2));
    ListFrame = new TFocusFrame(Panel2);
    ListView1 = new TReportListView(ListFrame);
    ListView1->setAccessibleName(QStringLiteral("NAL list"));
    ListFrame->SetView(ListView1);
    ScrollBar1 = new TScrollBar(Panel2);
    ScrollBar1->setFixedWidth(kScrollBarWidth);
    ScrollBar1->setAccessibleName(QStringLiteral("Window scroll bar"));
    listRow->addWidget(ListFrame, 1);
    listRow->addWidget(ScrollBar1);

    Panel3 = new QWidget(Splitter1);
    auto* treeBox = BareLayout(new QVBoxLayout(Panel3));
    TreeFrame = new TFocusFrame(Panel3);
    TreeView1 = new TTreeLinesView(TreeFrame);
    TreeView1->setAccessibleName(QStringLiteral("Detail tree"));
    TreeFrame->SetView(TreeView1);
    treeBox->addWidget(TreeFrame, 1);
    PicturePane = new TQtPicturePane(Panel3);
    PicturePane->hide();
    treeBox->addWidget(PicturePane, 1);

    Splitter1->addWidget(Panel2);
    Splitter1->addWidget(Panel3);
    // Panel2 keeps its width when the window changes size; Panel3 takes the rest.
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);

    Panel1 = new QWidget(Splitter2);
    Panel1->setMinimumHeight(kHexPaneMinimum);
    auto* hexPane = BareLayout(new QVBoxLayout(Panel1));
    hexPane->setContentsMargins(4, 2, 0, kHexListBottomMargin);
    lbPacket = new QLabel(QStringLiteral("Hex View"), Panel1);
    lbPacket->setFixedHeight(kHexListTop - 2);
    auto* hexRow = BareLayout(new QHBoxLayout);
    HexFrame = new TFocusFrame(Panel1);
    ListBox1 = new TLineListView(HexFrame);
    ListBox1->setAccessibleName(QStringLiteral("Hex view"));
    HexFrame->SetView(ListBox1);
    ScrollBar2 = new TScrollBar(Panel1);
    ScrollBar2->setFixedWidth(kScrollBarWidth);
    ScrollBar2->setAccessibleName(QStringLiteral("Hex scroll bar"));
    hexRow->addWidget(HexFrame, 1);
    hexRow->addWidget(ScrollBar2);
    hexPane->addWidget(lbPacket);
    hexPane->addLayout(hexRow, 1);

    Splitter2->addWidget(Splitter1);
    Splitter2->addWidget(Panel1);
    // The panes above take what the window gains; the hex pane keeps its height.
    Splitter2->setStretchFactor(0, 1);
    Splitter2->setStretchFactor(1, 0);
    setCentralWidget(Splitter2);
}

void TMainWindow::BuildMenu() {
    File1 = menuBar()->addMenu(QStringLiteral("&File"));
    Open1 = File1->addAction(QStringLiteral("&Open"));
    Open1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    Close1 = File1->addAction(QStringLiteral("&Close"));
    RecentSeparator1 = File1->addSeparator();
    for (std::size_t i = 0; i < kRecentFileCount; ++i) {
        RecentFile1.append(File1->addAction(QString()));
    }
    SetRecentFiles({});
    File1->addSeparator();
    Exit1 = File1->addAction(QStringLiteral("E&xit"));
    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    View1 = menuBar()->addMenu(QStringLiteral("&View"));
    DecodeSliceHeaders1 = View1->addAction(QStringLiteral("&Decode Slice Headers and SEI"));
    DecodeSliceHeaders1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    DecodeSliceHeaders1->setCheckable(true);
    UnitSummaryColumn1 = View1->addAction(QStringLiteral("&Unit Summary Column"));
    UnitSummaryColumn1->setCheckable(true);
    StreamSummary1 = View1->addAction(QStringLiteral("Stream &Summary"));
    StreamSummary1->setCheckable(true);

    Go1 = menuBar()->addMenu(QStringLiteral("&Go"));
    GoToOffset1 = Go1->addAction(QStringLiteral("Go to &Offset\u2026"));
    GoToOffset1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    Go1->addSeparator();
    Find1 = Go1->addAction(QStringLiteral("&Find\u2026"));
    Find1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    FindNext1 = Go1->addAction(QStringLiteral("Find &Next"));
    FindNext1->setShortcut(QKeySequence(Qt::Key_F3));
    FindPrevious1 = Go1->addAction(QStringLiteral("Find &Previous"));
    FindPrevious1->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3));
    Picture1 = View1->addAction(QStringLiteral("&Picture"));
    Picture1->setCheckable(true);
    Overlay1 = View1->addMenu(QStringLiteral("&Overlay"));
    for (std::size_t i = 0; i < kOverlayItemCount; ++i) {
        OverlayItems[i] = Overlay1->addAction(QString::fromUtf8(kOverlayItems[i].Menu));
        OverlayItems[i]->setCheckable(true);
    }
    Zoom1 = View1->addMenu(QStringLiteral("&Zoom"));
    for (std::size_t i = 0; i < ZoomItems.size(); ++i) {
        ZoomItems[i] = Zoom1->addAction(QString::fromUtf8(kZoomItems[i]));
        ZoomItems[i]->setCheckable(true);
        ZoomItems[i]->setShortcut(QKeySequence(Qt::CTRL | (Qt::Key_0 + static_cast<int>(i))));
    }

    Help1 = menuBar()->addMenu(QStringLiteral("&Help"));
    CheckForUpdates1 = Help1->addAction(QStringLiteral("Check For &Updates"));
    CheckForUpdates1->setCheckable(true);
    About1 = Help1->addAction(QStringLiteral("&About"));
}

void TMainWindow::BuildContextMenus() {
    TForm1* form = FForm.get();
    // Copy in a view's context menu, and Ctrl+C while the view has the focus.
    const auto copyAction = [this](QWidget* view, std::function<void()> handler) {
        auto* action = new QAction(QStringLiteral("&Copy"), view);
        action->setShortcut(QKeySequence::Copy);
        action->setShortcutContext(Qt::WidgetShortcut);
        connect(action, &QAction::triggered, this, std::move(handler));
        view->addAction(action);
        view->setContextMenuPolicy(Qt::ActionsContextMenu);
        return action;
    };
    ListCopy1 = copyAction(ListView1, [form] { form->ListView1Copy(); });
    CopyOffset1 = new QAction(QStringLiteral("Copy &Offset"), ListView1);
    connect(CopyOffset1, &QAction::triggered, this, [form] { form->CopyOffset1Click(); });
    ListView1->addAction(CopyOffset1);
    TreeCopy1 = copyAction(TreeView1, [form] { form->TreeView1Copy(); });
    HexCopy1 = copyAction(ListBox1, [form] { form->ListBox1Copy(); });
}

void TMainWindow::SetRecentFiles(const std::vector<std::string>& paths) {
    for (int i = 0; i < RecentFile1.size(); ++i) {
        QAction* item = RecentFile1[i];
        const bool shown = static_cast<std::size_t>(i) < paths.size();
        item->setVisible(shown);
        if (shown) {
            QString path =
                QFile::decodeName(QByteArray::fromStdString(paths[static_cast<std::size_t>(i)]));
            // An ampersand in the path is text, not a mnemonic.
            path.replace(QLatin1Char('&'), QStringLiteral("&&"));
            item->setText(QStringLiteral("&%1 %2").arg(i + 1).arg(path));
        }
    }
    RecentSeparator1->setVisible(!paths.empty());
}

void TMainWindow::ConnectHandlers() {
    TForm1* form = FForm.get();
    ListView1->SetDataHandler([this](int index, TReportRow& row) {
        // Once closed, the logic has released the table.
        if (!FClosed) {
            FForm->ListView1Data(index, row);
        }
    });
    ListView1->SetKeyDownHandler([form](int key) { form->ListView1KeyDown(key); });
    ListView1->SetKeyUpHandler([form](int key) { form->ListView1KeyUp(key); });
    ListView1->SetMouseDownHandler([form] { form->ListView1MouseDown(); });
    // A taller or shorter list holds another number of rows: scan again.
    ListView1->SetPageHeightHandler([this] {
        if (FShown && !FClosed) {
            FForm->FormResize();
        }
    });
    // The wheel over the list or its bar moves the page; over the hex view, its lines.
    ListView1->SetWheelHandler([form](int notches) { form->ListView1MouseWheel(notches); });
    ScrollBar1->SetWheelHandler([form](int notches) { form->ListView1MouseWheel(notches); });
    ListBox1->SetWheelHandler([form](int notches) { form->ListBox1MouseWheel(notches); });

    connect(Open1, &QAction::triggered, this, [form] { form->Open1Click(); });
    connect(Close1, &QAction::triggered, this, [form] { form->Close1Click(); });
    connect(Exit1, &QAction::triggered, this, [form] { form->Exit1Click(); });
    connect(About1, &QAction::triggered, this, [form] { form->About1Click(); });
    connect(CheckForUpdates1, &QAction::triggered, this, [this, form](bool checked) {
        // The mark shows the update-check flag, which the handler keeps: Qt's own toggle
        // is taken back first.
        CheckForUpdates1->setChecked(!checked);
        form->CheckForUpdates1Click();
    });
    TreeView1->SetSelectHandler([form](std::int64_t firstBit, std::int64_t bits) {
        form->TreeView1Change(firstBit, bits);
    });
    connect(DecodeSliceHeaders1, &QAction::triggered, this, [this, form](bool checked) {
        // As with the update check, the handler keeps the flag the mark shows.
        DecodeSliceHeaders1->setChecked(!checked);
        form->DecodeSliceHeaders1Click();
    });
    connect(UnitSummaryColumn1, &QAction::triggered, this, [this, form](bool checked) {
        UnitSummaryColumn1->setChecked(!checked);
        form->UnitSummaryColumn1Click();
    });
    connect(StreamSummary1, &QAction::triggered, this, [this, form](bool checked) {
        StreamSummary1->setChecked(!checked);
        form->StreamSummary1Click();
    });
    connect(tmSummary, &QTimer::timeout, this, [form] { form->tmSummaryTimer(); });
    connect(GoToOffset1, &QAction::triggered, this, [form] { form->GoToOffset1Click(); });
    connect(Find1, &QAction::triggered, this, [form] { form->Find1Click(); });
    connect(FindNext1, &QAction::triggered, this, [form] { form->FindNext1Click(); });
    connect(FindPrevious1, &QAction::triggered, this, [form] { form->FindPrevious1Click(); });
    connect(Picture1, &QAction::triggered, this, [this, form](bool checked) {
        Picture1->setChecked(!checked);
        form->Picture1Click();
    });
    for (std::size_t i = 0; i < kOverlayItemCount; ++i) {
        QAction* item = OverlayItems[i];
        connect(item, &QAction::triggered, this, [item, form, i](bool checked) {
            item->setChecked(!checked); // the logic says what it is
            form->OverlayClick(kOverlayItems[i].Item);
        });
    }
    for (std::size_t i = 0; i < ZoomItems.size(); ++i) {
        QAction* item = ZoomItems[i];
        connect(item, &QAction::triggered, this, [item, form, i](bool checked) {
            item->setChecked(!checked); // the logic says what it is
            form->ZoomClick(static_cast<int>(i));
        });
    }
    connect(tmUpdate, &QTimer::timeout, this, [form] { form->tmUpdateTimer(); });
    connect(tmFind, &QTimer::timeout, this, [form] { form->tmFindTimer(); });
    for (int i = 0; i < RecentFile1.size(); ++i) {
        connect(RecentFile1[i], &QAction::triggered, this, [form, i] { form->RecentFileClick(i); });
    }
    // A taller or shorter hex pane holds another number of lines.
    connect(Splitter2, &QSplitter::splitterMoved, this, [form] { form->HexPaneResize(); });
}

namespace {

std::vector<std::string> AbsolutePaths(const QStringList& paths) {
    std::vector<std::string> files;
    for (const QString& path : paths) {
        files.push_back(QFile::encodeName(QFileInfo(path).absoluteFilePath()).toStdString());
    }
    return files;
}

} // namespace

void TMainWindow::OpenDropped(const QStringList& paths) {
    TDroppedFiles drop(AbsolutePaths(paths));
    TMessage message{kWmDropFiles, &drop};
    FForm->WMDROPFILES(message);
}

void TMainWindow::OpenCommandLine(const QStringList& paths) {
    FForm->OpenCommandLine(AbsolutePaths(paths));
}

void TMainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (FShown) {
        return;
    }
    // Set first, so that a resize by the startup steps reaches FormResize.
    FShown = true;
    ApplyPanel2Width();
    ApplyHexPaneHeight();
    FForm->FormShow();
}

// Any change of size, the width's too, reaches the logic, as on Windows.
void TMainWindow::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    if (FShown && !FClosed) {
        FForm->FormResize();
    }
}

void TMainWindow::closeEvent(QCloseEvent* event) {
    if (FShown && !FClosed) {
        FClosed = true;
        FForm->FormClose();
    }
    event->accept();
}

std::string TMainWindow::Caption() const {
    return FCaption;
}

void TMainWindow::SetCaption(const std::string& caption) {
    FCaption = caption;
    // Qt takes "[*]" in a title for the modified-document mark; doubled, it stays text.
    QString title = QString::fromStdString(caption);
    title.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    setWindowTitle(title);
}

// The bounds are the frame's, as on Windows: Left and Top place the frame, Width and
// Height take it in. Until the window system has decorated the window its frame counts
// nothing.
QSize TMainWindow::FrameExtra() const {
    return frameGeometry().size() - size();
}

int TMainWindow::Left() const {
    return x();
}

int TMainWindow::Top() const {
    return y();
}

int TMainWindow::Width() const {
    return frameGeometry().width();
}

int TMainWindow::Height() const {
    return frameGeometry().height();
}

void TMainWindow::SetBounds(int left, int top, int width, int height) {
    const QSize extra = FrameExtra();
    move(left, top);
    resize(width - extra.width(), height - extra.height());
}

TWindowState TMainWindow::State() const {
    if (isMinimized()) {
        return TWindowState::Minimized;
    }
    return isMaximized() ? TWindowState::Maximized : TWindowState::Normal;
}

void TMainWindow::SetState(TWindowState state) {
    Qt::WindowStates states =
        windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen);
    if (state == TWindowState::Minimized) {
        states |= Qt::WindowMinimized;
    } else if (state == TWindowState::Maximized) {
        states |= Qt::WindowMaximized;
    }
    setWindowState(states);
}

int TMainWindow::Panel2Width() const {
    return FShown ? Splitter1->sizes().value(0) : FPanel2Width;
}

void TMainWindow::SetPanel2Width(int width) {
    FPanel2Width = width;
    if (FShown) {
        ApplyPanel2Width();
    }
}

// The splitter learns its own width only once shown; until then the width waits.
void TMainWindow::ApplyPanel2Width() {
    const int available = Splitter1->width() - Splitter1->handleWidth();
    Splitter1->setSizes({FPanel2Width, std::max(available - FPanel2Width, 0)});
}

int TMainWindow::HexPaneHeight() const {
    return FShown ? Splitter2->sizes().value(1) : FHexPaneHeight;
}

void TMainWindow::SetHexPaneHeight(int height) {
    FHexPaneHeight = height;
    if (FShown) {
        ApplyHexPaneHeight();
    }
}

// As with Panel2, the splitter takes the height once it knows its own.
void TMainWindow::ApplyHexPaneHeight() {
    const int available = Splitter2->height() - Splitter2->handleWidth();
    const int height =
        std::clamp(FHexPaneHeight, kHexPaneMinimum, std::max(available, kHexPaneMinimum));
    Splitter2->setSizes({std::max(available - height, 0), height});
    FForm->HexPaneResize();
}

void TMainWindow::Close() {
    close();
}
