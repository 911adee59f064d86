#include "app/Unit1.h"

#include "app/FindWorker.h"
#include "app/Need.h"
#include "app/PictureView.h"
#include "app/SummaryWorker.h"
#include "core/Guard.h"
#include "model/PictureAt.h"
#include "model/SetStore.h"
#include "syntax/nal_unit.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

TForm1::TForm1(const TForm1Widgets& widgets)
    : ScanBuffer(static_cast<std::size_t>(kScanBufferSize)), Widgets(widgets) {
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
    GuardVoid("TForm1.FormCreate", [&] {
        RowCapacity = 0;
        TableLock = std::make_unique<std::recursive_mutex>();
    });
}

// --- The window shell -------------------------------------------------------------------

namespace {

// The About text: lines separated by a lone carriage return.
constexpr const char* kAboutText = "Quillet\r"
                                   "Version 2.0\r"
                                   "Copyright (c) Marvane. All rights reserved.\r"
                                   "Web: www.marvane.com\r"
                                   "E-mail: support@marvane.com";

} // namespace

void TForm1::FormShow() {
    GuardVoid("TForm1.FormShow", [&] {
        CheckForUpdates = true;
        DecodeSliceHeaders = false;
        ShowInfoColumn = true;
        ShowPicture = false;
        PictureOverlay = 0;
        RefreshCaption();
        LoadRegistrySettings();
        ApplyInfoColumn();
        BitStream = std::make_unique<TBitStream4>();
        IScrollBar& bar = Need(Widgets.ScrollBar1);
        bar.SetMouseDownHandler([this] { MyScrollMouseDown(); });
        // While the thumb is dragged the status bar says where the page would start.
        bar.SetScrollHandler([this](ScrollCode code, int& position) {
            if (code == ScrollCode::ThumbDragged) {
                ScrollBar1Tracking(position);
            }
        });
        IReportList& list = Need(Widgets.ListView1);
        SavedListWindowProc = list.WindowProc();
        list.SetWindowProc([this](TMessage& message) { ListView1WindowProc(message); });
        list.SetAcceptDrops(true);
        RefreshCaption();
        Need(Widgets.CheckForUpdates1).SetChecked(CheckForUpdates);
        if (Widgets.DecodeSliceHeaders1) {
            Widgets.DecodeSliceHeaders1->SetChecked(DecodeSliceHeaders);
        }
        ApplyPictureSetting();
        if (CheckForUpdates) {
            Need(Widgets.tmUpdate).SetEnabled(true);
        }
    });
}

void TForm1::FormClose() {
    GuardVoid("TForm1.FormClose", [&] {
        IReportList& list = Need(Widgets.ListView1);
        list.SetWindowProc(SavedListWindowProc);
        list.SetAcceptDrops(false);
        EndFind();
        EndSummary();
        FPictureView.reset();
        FSets.reset();
        Stream.reset();
        TableLock.reset();
        SaveRegistrySettings();
        BitStream.reset();
        HexView.reset();
    });
}

void TForm1::RefreshCaption() {
    GuardVoid("TForm1.RefreshCaption", [&] {
        const std::string caption =
            FileName.empty() ? std::string(kProductName) : kProductName + ("(" + FileName + ")");
        Need(Widgets.Form1).SetCaption(caption);
    });
}

void TForm1::Open1Click() {
    GuardVoid("TForm1.Open1Click", [&] {
        TOpenFileRequest request;
        request.Folder = FileName.empty() ? OpenFolder : FolderOf(FileName);
        request.FilterName = kStreamFilterName;
        request.Patterns = kStreamFilePatterns;
        const std::optional<std::string> path = Need(Widgets.Dialogs).OpenFileNameFor(request);
        if (!path || !FileExists(*path)) {
            return;
        }
        OpenFolder = FolderOf(*path);
        std::string reason;
        bool opened = false;
        {
            const TBusyCursor busy(Widgets.Screen);
            opened = OpenStreamFile(*path, false, reason);
        }
        // The normal cursor is back before the message, so the box is not answered under
        // an hourglass.
        if (!opened) {
            ShowRefusals({{*path, reason}});
        }
    });
}

void TForm1::Close1Click() {
    GuardVoid("TForm1.Close1Click", [&] { UnloadFile(); });
}

void TForm1::Exit1Click() {
    Need(Widgets.Form1).Close();
}

void TForm1::About1Click() {
    Need(Widgets.Dialogs).ShowInformation(kProductName, kAboutText);
}

void TForm1::WMDROPFILES(TMessage& message) {
    GuardVoid("TForm1.WMDROPFILES", [&] {
        std::vector<std::string> paths;
        {
            IDroppedFiles& drop = Need(message.Drop);
            // The drop is released on every way out, so the shell's handle never leaks.
            struct Finisher {
                IDroppedFiles& Drop;
                ~Finisher() {
                    try {
                        Drop.Finish();
                    } catch (...) {
                    }
                }
            } finisher{drop};
            const int count = drop.Count();
            for (int i = 0; i < count; ++i) {
                paths.push_back(drop.Path(i));
            }
        }
        OpenFiles(paths, true);
    });
}

// --- Loading ----------------------------------------------------------------------------

bool TForm1::LoadFile(const std::string& fileName) {
    const bool loaded = Guard("TForm1.LoadFile", false, [&] {
        ClearHexLines();
        Need(Widgets.TreeView1).ClearLines();
        FDetailOffset = -1;
        FileName = fileName;
        EndFind(); // it searched the file that goes now
        EndSummary();
        ForgetInfo();
        ShowPictureOf(-1);
        FSets.reset(); // it reads the stream that goes now
        Stream.reset();
        LoadFailure.clear();
        auto stream = std::make_unique<FileStream>();
        if (!stream->Open(fileName)) {
            LoadFailure = stream->OpenReason();
            throw std::runtime_error(stream->OpenError());
        }
        Stream = std::move(stream);
        SetBarPosition(0);
        if (!IsH264VideoES(*Stream, &LoadFailure)) {
            UnloadFile();
            return false;
        }
        RefreshCaption();
        WindowPosition = 0;
        RefreshPosition(0);

        LastScrollPosition = 0;
        const std::int64_t size = Stream->Size();
        // 100 bytes a unit, or the smallest larger unit that keeps the last position
        // within the bar's 32-bit range (files beyond about 214 GB).
        constexpr std::int64_t kPositions =
            std::int64_t{std::numeric_limits<std::int32_t>::max()} + 2;
        ScrollUnit = std::max(kScrollBytesPerUnit, size / kPositions + 1);
        IScrollBar& bar = Need(Widgets.ScrollBar1);
        bar.SetMinimum(0);
        bar.SetMaximum(static_cast<std::int32_t>(std::max<std::int64_t>(size / ScrollUnit - 1, 0)));
        bar.SetLargeChange(10);

        IReportList& list = Need(Widgets.ListView1);
        if (list.RowCount() >= 1) {
            list.SetFocus();
            list.Select(0);
            ShowSelectedRow();
        }
        HexView.reset();
        HexView = std::make_unique<THexView>();
        HexView->Init(Widgets.ListBox1, Widgets.ScrollBar2);
        HexView->OpenFile(fileName);
        // The views agree from the start: the hex view shows the selected row, as after
        // any other step, not the file's first byte before it.
        if (FDetailOffset > 0) {
            HexView->RefreshFileData(FDetailOffset);
        }
        StartSummary(); // when its pane shows
        list.Invalidate();
        NavigationNote.clear();
        RefreshStatus();
        return true;
    });
    // A load that failed half-way (the file could not be opened, say) leaves no file
    // loaded, as a rejected one does.
    if (!loaded && (Stream || !FileName.empty())) {
        UnloadFile();
    }
    return loaded;
}

bool TForm1::UnloadFile() {
    return Guard("TForm1.UnloadFile", false, [&] {
        FileName.clear();
        FDetailOffset = -1;
        EndFind();
        EndSummary();
        ShowPictureOf(-1);
        FSets.reset();
        Stream.reset();
        RefreshCaption();
        LocatorCount = 0;
        RefreshPosition(0);
        if (Widgets.ListView1) {
            Widgets.ListView1->Invalidate();
        }
        // The hex view lets go of the closed file too, so nothing holds it open.
        if (HexView) {
            HexView->CloseFile();
        }
        ClearHexLines();
        Need(Widgets.TreeView1).ClearLines();
        NavigationNote.clear();
        RefreshStatus();
        return true;
    });
}

// --- The NAL list -----------------------------------------------------------------------

void TForm1::ListView1WindowProc(TMessage& message) {
    GuardVoid("TForm1.ListView1WindowProc", [&] {
        if (message.Msg == kWmDropFiles) {
            WMDROPFILES(message);
        }
        if (SavedListWindowProc) {
            SavedListWindowProc(message);
        }
    });
}

void TForm1::ShowSelectedRow() {
    IReportList& list = Need(Widgets.ListView1);
    if (list.SelectedIndex() < 0) {
        return;
    }
    const std::string caption = list.SelectedCaption();
    if (caption.empty()) {
        // A row with no unit: the tree and the hex view show nothing of another one.
        Need(Widgets.TreeView1).ClearLines();
        ClearHexLines();
        FDetailOffset = -1;
        return;
    }
    if (caption.size() <= 2 || caption.compare(0, 2, "0x") != 0) {
        throw std::invalid_argument("not an offset: " + caption);
    }
    std::size_t used = 0;
    const std::int64_t offset = std::stoll(caption.substr(2), &used, 16);
    if (used != caption.size() - 2) {
        throw std::invalid_argument("not an offset: " + caption);
    }
    UpdatePack(offset);
}

void TForm1::ClearHexLines() {
    if (Widgets.ListBox1) {
        Widgets.ListBox1->Clear();
    }
}

std::int64_t TForm1::FileSize() const {
    return Stream ? Stream->Size() : 0;
}

// --- One NAL unit in detail -------------------------------------------------------------

void TForm1::UpdatePack(std::int64_t offset) {
    GuardVoid("TForm1.UpdatePack", [&] {
        const TBusyCursor busy(Widgets.Screen);
        ClearHexLines();
        if (!Stream) {
            throw std::logic_error("no file loaded");
        }
        std::uint8_t* const raw = ScanBuffer.data() + kDetailRegionOffset;
        Stream->Seek(offset);
        const std::int32_t n = Stream->Read(raw, kDetailReadSize);
        if (n <= 0) {
            return;
        }
        if (HexView && offset == FSoughtUnit) {
            HexView->ShowByte(FSoughtByte);
        } else if (HexView) {
            FSoughtUnit = -1;
            HexView->MarkBytes(-1, -1);
            HexView->RefreshFileData(offset);
        }
        FDetailOffset = offset;
        if (!BitStream) {
            throw std::logic_error("no bit reader");
        }
        TSetStore& sets = SetsAt(offset);
        const TChromaFormatLookup lookup = [&sets](std::uint32_t id) {
            return GoverningChromaFormat(sets, id);
        };
        TFullDecoding full{DecodeSliceHeaders ? &sets : nullptr, Widgets.TreeView1Bits};
        full.SliceLines = [this, offset](ITreeLines& tree, TTreeLine nal) {
            // The walk runs on the user's selection: a short bound keeps the window
            // responsive, and the nodes say when it was reached.
            constexpr std::int64_t kSelectionMilliseconds = 300;
            AddPictureLines(PictureLinesAt(*Stream, offset, kPictureAtBytes, kSelectionMilliseconds),
                            tree, nal);
        };
        DecodeNalUnit(raw, n, ScanBuffer.data(), *BitStream, Need(Widgets.TreeView1), lookup,
                      nullptr, &full);
        ShowPictureOf(offset);
    });
}

void TForm1::TreeView1Change(std::int64_t firstBit, std::int64_t bits) {
    GuardVoid("TForm1.TreeView1Change", [&] {
        if (!HexView || FDetailOffset < 0) {
            return;
        }
        if (firstBit < 0 || bits <= 0) {
            HexView->MarkBytes(-1, -1);
            return;
        }
        HexView->MarkBytes(FDetailOffset + firstBit / 8, FDetailOffset + (firstBit + bits - 1) / 8);
    });
}
