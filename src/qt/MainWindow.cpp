#include "qt/MainWindow.h"

#include "qt/DroppedFiles.h"
#include "qt/Fonts.h"
#include "qt/LineListView.h"
#include "qt/PicturePane.h"
#include "qt/ReportListView.h"
#include "qt/ScrollBar.h"
#include "qt/TreeLinesView.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenuBar>
#include <QShowEvent>
#include <QSplitter>
#include <QTimer>

#include <algorithm>

namespace {

// Design sizes, in pixels.
constexpr int kDesignLeft = 111;
constexpr int kDesignTop = 77;
constexpr int kClientWidth = 958;
constexpr int kClientHeight = 653;
constexpr int kScrollBarWidth = 16;
constexpr int kSplitterWidth = 3;
constexpr int kHexPaneHeight = 210;
constexpr int kHexLabelHeight = 14;
constexpr int kHexListHeight = 192;
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
    tmUpdate = new QTimer(this);
    tmUpdate->setInterval(kUpdateInterval);

    FQtDialogs = std::make_unique<TQtDialogs>(this);
    FTimer = std::make_unique<TQtTimer>(tmUpdate);
    FMenuCheck = std::make_unique<TQtMenuCheck>(CheckForUpdates1);
    FViewCheck = std::make_unique<TQtMenuCheck>(DecodeSliceHeaders1);
    FPictureCheck = std::make_unique<TQtMenuCheck>(Picture1);
    TForm1Widgets widgets;
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
    widgets.Dialogs = services.Dialogs ? services.Dialogs : FQtDialogs.get();
    widgets.Screen = &FScreen;
    widgets.Registry = services.Registry;
    widgets.Http = services.Http;
    widgets.Browser = services.Browser;
    widgets.Monitors = services.Monitors;
    FForm = std::make_unique<TForm1>(widgets);
    ConnectHandlers();

    move(kDesignLeft, kDesignTop);
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
}

TMainWindow::~TMainWindow() {
    // The logic goes first: the hex view detaches from widgets that must still exist.
    FForm.reset();
}

void TMainWindow::BuildPanes() {
    auto* client = new QWidget(this);
    auto* column = BareLayout(new QVBoxLayout(client));

    Splitter1 = new QSplitter(Qt::Horizontal, client);
    Splitter1->setHandleWidth(kSplitterWidth);
    Splitter1->setChildrenCollapsible(false);

    Panel2 = new QWidget(Splitter1);
    auto* listRow = BareLayout(new QHBoxLayout(Panel2));
    ListView1 = new TReportListView(Panel2);
    ListView1->setAccessibleName(QStringLiteral("NAL list"));
    ScrollBar1 = new TScrollBar(Panel2);
    ScrollBar1->setFixedWidth(kScrollBarWidth);
    ScrollBar1->setAccessibleName(QStringLiteral("Window scroll bar"));
    listRow->addWidget(ListView1, 1);
    listRow->addWidget(ScrollBar1);

    Panel3 = new QWidget(Splitter1);
    auto* treeBox = BareLayout(new QVBoxLayout(Panel3));
    TreeView1 = new TTreeLinesView(Panel3);
    TreeView1->setAccessibleName(QStringLiteral("Detail tree"));
    treeBox->addWidget(TreeView1, 1);
    PicturePane = new TQtPicturePane(Panel3);
    PicturePane->hide();
    treeBox->addWidget(PicturePane, 1);

    Splitter1->addWidget(Panel2);
    Splitter1->addWidget(Panel3);
    // Panel2 keeps its width when the window changes size; Panel3 takes the rest.
    Splitter1->setStretchFactor(0, 0);
    Splitter1->setStretchFactor(1, 1);

    Panel1 = new QWidget(client);
    Panel1->setFixedHeight(kHexPaneHeight);
    auto* hexPane = BareLayout(new QVBoxLayout(Panel1));
    hexPane->setContentsMargins(4, 2, 0, kHexPaneHeight - 2 - kHexLabelHeight - kHexListHeight);
    lbPacket = new QLabel(QStringLiteral("Hex View"), Panel1);
    lbPacket->setFixedHeight(kHexLabelHeight);
    auto* hexRow = BareLayout(new QHBoxLayout);
    ListBox1 = new TLineListView(Panel1);
    ListBox1->setFixedHeight(kHexListHeight);
    ListBox1->setAccessibleName(QStringLiteral("Hex view"));
    ScrollBar2 = new TScrollBar(Panel1);
    ScrollBar2->setFixedSize(kScrollBarWidth, kHexListHeight);
    ScrollBar2->setAccessibleName(QStringLiteral("Hex scroll bar"));
    hexRow->addWidget(ListBox1, 1);
    hexRow->addWidget(ScrollBar2);
    hexPane->addWidget(lbPacket);
    hexPane->addLayout(hexRow);

    column->addWidget(Splitter1, 1);
    column->addWidget(Panel1);
    setCentralWidget(client);
}

void TMainWindow::BuildMenu() {
    File1 = menuBar()->addMenu(QStringLiteral("&File"));
    Open1 = File1->addAction(QStringLiteral("&Open"));
    Open1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    Close1 = File1->addAction(QStringLiteral("&Close"));
    File1->addSeparator();
    Exit1 = File1->addAction(QStringLiteral("E&xit"));
    Exit1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    View1 = menuBar()->addMenu(QStringLiteral("&View"));
    DecodeSliceHeaders1 = View1->addAction(QStringLiteral("Decode Slice Headers and SEI"));
    DecodeSliceHeaders1->setCheckable(true);
    Picture1 = View1->addAction(QStringLiteral("Picture"));
    Picture1->setCheckable(true);

    Help1 = menuBar()->addMenu(QStringLiteral("Help"));
    CheckForUpdates1 = Help1->addAction(QStringLiteral("Check For Updates"));
    CheckForUpdates1->setCheckable(true);
    About1 = Help1->addAction(QStringLiteral("About"));
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
    connect(Picture1, &QAction::triggered, this, [this, form](bool checked) {
        Picture1->setChecked(!checked);
        form->Picture1Click();
    });
    connect(tmUpdate, &QTimer::timeout, this, [form] { form->tmUpdateTimer(); });
}

void TMainWindow::OpenDropped(const QStringList& paths) {
    std::vector<std::string> files;
    for (const QString& path : paths) {
        files.push_back(QFile::encodeName(QFileInfo(path).absoluteFilePath()).toStdString());
    }
    TDroppedFiles drop(std::move(files));
    TMessage message{kWmDropFiles, &drop};
    FForm->WMDROPFILES(message);
}

void TMainWindow::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (FShown) {
        return;
    }
    // Set first, so that a resize by the startup steps reaches FormResize.
    FShown = true;
    ApplyPanel2Width();
    FForm->FormShow();
}

void TMainWindow::closeEvent(QCloseEvent* event) {
    if (FShown && !FClosed) {
        FClosed = true;
        FForm->FormClose();
    }
    event->accept();
}

std::string TMainWindow::Caption() const {
    return windowTitle().toStdString();
}

void TMainWindow::SetCaption(const std::string& caption) {
    setWindowTitle(QString::fromStdString(caption));
}

// Left and Top place the frame; Width and Height are the window's own, menu included and
// frame excluded, which Qt knows before the window manager has decorated the window.
int TMainWindow::Left() const {
    return x();
}

int TMainWindow::Top() const {
    return y();
}

int TMainWindow::Width() const {
    return width();
}

int TMainWindow::Height() const {
    return height();
}

void TMainWindow::SetBounds(int left, int top, int width, int height) {
    move(left, top);
    resize(width, height);
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

void TMainWindow::Close() {
    close();
}
