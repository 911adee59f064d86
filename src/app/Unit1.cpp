#include "app/Unit1.h"

#include "core/Guard.h"
#include "stream/NalScan.h"
#include "syntax/nal_unit.h"

#include <algorithm>
#include <limits>
#include <stdexcept>

TForm1::TForm1(const TForm1Widgets& widgets)
    : ScanBuffer(static_cast<std::size_t>(kScanBufferSize)), Widgets(widgets),
      FSpsLookupBuffer(static_cast<std::size_t>(kGoverningSpsSearchSize)) {
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::FormCreate() {
    GuardVoid("TForm1.FormCreate", [&] {
        RowCapacity = 0;
        TableLock = std::make_unique<std::recursive_mutex>();
    });
}

std::int32_t TForm1::RowsPerPage() const {
    const int rows = Widgets.ListView1 ? Widgets.ListView1->RowsPerPage() : 0;
    return std::clamp(rows, 0, kMaxLocators);
}

std::int32_t TForm1::ReadBlock(std::int64_t position, std::int32_t count) {
    Stream->Seek(position);
    return Stream->Read(ScanBuffer.data(), count);
}

void TForm1::RefreshPosition(std::int64_t Start) {
    if (!TableLock) {
        return;
    }
    std::lock_guard lock(*TableLock);
    // Whatever happens in the scan, the list ends up agreeing with the table.
    const auto finish = [this] {
        RowCapacity = RowsPerPage();
        if (Widgets.ListView1) {
            Widgets.ListView1->SetRowCount(LocatorCount);
        }
    };
    GuardVoid("TForm1.RefreshPosition", [&] {
        try {
            ScanWindow(Start);
        } catch (...) {
            finish();
            throw;
        }
        finish();
    });
}

void TForm1::ScanWindow(std::int64_t Start) {
    RowCapacity = RowsPerPage();
    if (Widgets.ListView1) {
        Widgets.ListView1->SetRowCount(RowCapacity);
    }
    if (!Stream) {
        return;
    }
    LocatorCount = 0;
    const std::int32_t n = ReadBlock(Start, kWindowScanSize);
    LocatorCount = ScanNalUnits(ScanBuffer.data(), n, Start, RowCapacity, Locators.data());
    if (LocatorCount > 0) {
        // A start code that ends the block takes its header byte from the file.
        TNalUnitLocator& last = Locators[static_cast<std::size_t>(LocatorCount - 1)];
        if (HeaderOutsideBlock(last, Start, n)) {
            std::uint8_t header = 0;
            Stream->Seek(last.Offset + (last.StartCodeWord == 1 ? 4 : 3));
            if (Stream->Read(&header, 1) == 1) {
                SetLocatorHeader(last, header);
            }
        }
    }
}

bool TForm1::SearchNextPackPositionFromPos(std::int64_t& Found, std::int64_t Position) {
    return Guard("TForm1.SearchNextPackPositionFromPos", false, [&] {
        if (FileName.empty() || !Stream || Position < 0 || Position >= Stream->Size()) {
            return false;
        }
        const std::int32_t n = ReadBlock(Position, kForwardSearchSize);
        std::int32_t index = 0;
        if (n <= 0 || !FindFirstStartCode(ScanBuffer.data(), n, index)) {
            return false;
        }
        Found = Position + index;
        return true;
    });
}

bool TForm1::SearchBackward(const char* routine, std::int64_t& Found, std::int32_t Count,
                            std::int64_t Position, std::int32_t blockSize) {
    return Guard(routine, false, [&] {
        if (FileName.empty() || !Stream || Position < 0 || Position >= Stream->Size()) {
            return false;
        }
        const std::int64_t blockStart = std::max<std::int64_t>(Position - blockSize, 0);
        const auto want = static_cast<std::int32_t>(Position - blockStart + 4);
        const std::int32_t n = ReadBlock(blockStart, want);
        std::int32_t index = 0;
        if (n <= 0 || !FindStartCodeBackward(ScanBuffer.data(), n, Count, index)) {
            return false;
        }
        Found = blockStart + index;
        return true;
    });
}

bool TForm1::SearchPreviousPackPositionFromPos(std::int64_t& Found, std::int64_t Position) {
    return SearchBackward("TForm1.SearchPreviousPackPositionFromPos", Found, 1, Position,
                          kPreviousSearchSize);
}

bool TForm1::SearchBackPackPositionFromPos(std::int64_t& Found, std::int32_t Count,
                                           std::int64_t Position) {
    return SearchBackward("TForm1.SearchBackPackPositionFromPos", Found, Count, Position,
                          kBackCountSearchSize);
}

// --- The window shell -------------------------------------------------------------------

namespace {

template <class Widget> Widget& Need(Widget* widget) {
    if (widget == nullptr) {
        throw std::logic_error("widget missing");
    }
    return *widget;
}

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
        RefreshCaption();
        LoadRegistrySettings();
        BitStream = std::make_unique<TBitStream4>();
        Need(Widgets.ScrollBar1).SetMouseDownHandler([this] { MyScrollMouseDown(); });
        IReportList& list = Need(Widgets.ListView1);
        SavedListWindowProc = list.WindowProc();
        list.SetWindowProc([this](TMessage& message) { ListView1WindowProc(message); });
        list.SetAcceptDrops(true);
        RefreshCaption();
        Need(Widgets.CheckForUpdates1).SetChecked(CheckForUpdates);
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
        Stream.reset();
        TableLock.reset();
        SaveRegistrySettings();
        BitStream.reset();
        HexView.reset();
    });
}

void TForm1::FormResize() {
    GuardVoid("TForm1.FormResize", [&] { RefreshPosition(WindowPosition); });
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
        const std::optional<std::string> path = Need(Widgets.Dialogs).OpenFileName();
        if (!path || !FileExists(*path)) {
            return;
        }
        bool loaded = false;
        {
            const TBusyCursor busy(Widgets.Screen);
            loaded = LoadFile(*path);
        }
        // The normal cursor is back before the message, so the box is not answered under
        // an hourglass.
        if (!loaded) {
            Widgets.Dialogs->ShowMessage(kNotValidStreamMessage);
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
        const TBusyCursor busy(Widgets.Screen);
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
            const std::string path = drop.Path(i);
            if (FileExists(path)) {
                UnloadFile();
                LoadFile(path);
            }
        }
    });
}

// --- Loading ----------------------------------------------------------------------------

bool TForm1::LoadFile(const std::string& fileName) {
    const bool loaded = Guard("TForm1.LoadFile", false, [&] {
        ClearHexLines();
        Need(Widgets.TreeView1).ClearLines();
        FileName = fileName;
        Stream.reset();
        auto stream = std::make_unique<FileStream>();
        if (!stream->Open(fileName)) {
            throw std::runtime_error("cannot open " + fileName);
        }
        Stream = std::move(stream);
        SetBarPosition(0);
        if (!IsH264VideoES(*Stream)) {
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
        list.Invalidate();
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
        return true;
    });
}

// --- The NAL list -----------------------------------------------------------------------

void TForm1::ListView1Data(int index, TReportRow& row) {
    GuardVoid("TForm1.ListView1Data", [&] {
        if (!TableLock) {
            return;
        }
        std::lock_guard lock(*TableLock);
        if (index < 0 || index >= RowCapacity || index >= LocatorCount) {
            return;
        }
        const TNalUnitLocator& locator = Locators[static_cast<std::size_t>(index)];
        row.Caption = NalOffsetText(locator.Offset);
        row.SubItems[0] = std::to_string(locator.Len);
        row.SubItems[1] = NalStartCodeText(locator.StartCodeWord == 1, locator.NalHeader);
        row.SubItems[2] = NalTypeText(locator.NalHeader);
    });
}

void TForm1::ListView1KeyDown(int key) {
    GuardVoid("TForm1.ListView1KeyDown", [&] {
        IReportList& list = Need(Widgets.ListView1);
        const int selected = list.SelectedIndex();
        if (selected < 0) {
            return;
        }
        std::int64_t found = 0;
        switch (key) {
        case Key::Up:
            if (selected == 0 && SearchPreviousPackPositionFromPos(found, BeforeFirstRow())) {
                MoveWindow(found);
                list.Invalidate();
            }
            break;
        case Key::Down:
            // When the first row is a bare start code and header (found = its offset + 4),
            // found is still the next unit: the window moves on by one unit as always.
            if (selected == list.RowCount() - 1 && list.RowCount() == RowCapacity &&
                !list.SelectedCaption().empty() &&
                SearchNextPackPositionFromPos(found, AfterFirstRow())) {
                MoveWindow(found);
                list.Invalidate();
            }
            break;
        case Key::PageUp:
            if (SearchBackPackPositionFromPos(found, RowCapacity, BeforeFirstRow())) {
                MoveWindow(found);
                list.Invalidate();
            }
            break;
        case Key::PageDown:
            if (PageIsFull()) {
                // As with Down, a bare last row (found = its offset + 4) is passed over
                // like any other unit.
                if (SearchNextPackPositionFromPos(found, AfterLastRow())) {
                    MoveWindow(found);
                }
            } else {
                SetBarPosition(LastScrollPosition);
            }
            list.Invalidate();
            break;
        case Key::Home: {
            SetBarPosition(0);
            {
                const TBusyCursor busy(Widgets.Screen);
                if (SearchNextPackPositionFromPos(found, 0)) {
                    MoveWindow(found);
                }
            }
            list.Invalidate();
            break;
        }
        case Key::End: {
            if (Widgets.ScrollBar1) {
                Widgets.ScrollBar1->SetPosition(Widgets.ScrollBar1->Maximum());
            }
            {
                const TBusyCursor busy(Widgets.Screen);
                const std::int64_t p = std::max<std::int64_t>(FileSize() - 4, 0);
                if (SearchBackPackPositionFromPos(found, RowCapacity, p)) {
                    MoveWindow(found);
                }
            }
            list.Invalidate();
            break;
        }
        default:
            break;
        }
    });
}

void TForm1::ListView1KeyUp(int /*key*/) {
    GuardVoid("TForm1.ListView1KeyUp", [&] { ShowSelectedRow(); });
}

void TForm1::ListView1MouseDown() {
    GuardVoid("TForm1.ListView1MouseDown", [&] { ShowSelectedRow(); });
}

void TForm1::MyScrollMouseDown() {
    GuardVoid("TForm1.MyScrollMouseDown", [&] {
        IReportList& list = Need(Widgets.ListView1);
        IScrollBar& bar = Need(Widgets.ScrollBar1);
        list.ClearSelection();
        ClearHexLines();
        const std::int32_t last = LastScrollPosition;
        const std::int32_t pos = bar.Position();
        std::int64_t p = 0;
        switch (static_cast<std::int64_t>(last) - pos) {
        case 1:
            p = BeforeFirstRow();
            SearchPreviousPackPositionFromPos(p, p);
            MoveWindow(p);
            DebugOutput("one up");
            break;
        case -1:
            if (PageIsFull()) {
                p = AfterFirstRow();
                SearchNextPackPositionFromPos(p, p);
                MoveWindow(p);
                DebugOutput("one down");
            } else {
                bar.SetPosition(last);
            }
            break;
        case 10:
            p = BeforeFirstRow();
            SearchBackPackPositionFromPos(p, RowCapacity, p);
            MoveWindow(p);
            DebugOutput("page up");
            break;
        case -10:
            if (PageIsFull()) {
                p = AfterLastRow();
                SearchNextPackPositionFromPos(p, p);
                MoveWindow(p);
                DebugOutput("page down");
            } else {
                bar.SetPosition(last);
            }
            break;
        default: {
            // The thumb was dragged, or one press moved the bar several steps.
            LastScrollPosition = pos;
            const TBusyCursor busy(Widgets.Screen);
            const std::int64_t at = static_cast<std::int64_t>(pos) * ScrollUnit;
            p = at;
            if (!SearchNextPackPositionFromPos(p, at)) {
                SearchPreviousPackPositionFromPos(p, at);
            }
            RefreshPosition(p);
            WindowPosition = p;
            bar.SetPosition(ScrollPositionOf(p));
            LastScrollPosition = bar.Position();
            break;
        }
        }
        list.Invalidate();
    });
}

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

void TForm1::MoveWindow(std::int64_t p) {
    RefreshPosition(p);
    // Every move is recorded, so a resize lists the page the user is looking at.
    WindowPosition = p;
    LastScrollPosition = ScrollPositionOf(p);
    if (Widgets.ScrollBar1) {
        // The bar holds the position within its range; what it holds is what the next
        // press is compared with, or a press at the end would read as a step back.
        Widgets.ScrollBar1->SetPosition(LastScrollPosition);
        LastScrollPosition = Widgets.ScrollBar1->Position();
    }
}

void TForm1::SetBarPosition(std::int32_t position) {
    if (Widgets.ScrollBar1) {
        Widgets.ScrollBar1->SetPosition(position);
    }
}

std::int32_t TForm1::ScrollPositionOf(std::int64_t offset) const {
    const std::int64_t position = offset / ScrollUnit;
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(position, std::numeric_limits<std::int32_t>::max()));
}

std::int64_t TForm1::BeforeFirstRow() const {
    return LocatorCount == 0 ? 0 : std::max<std::int64_t>(Locators[0].Offset - 4, 0);
}

std::int64_t TForm1::AfterFirstRow() const {
    return LocatorCount == 0 ? 0 : Locators[0].Offset + 4;
}

std::int64_t TForm1::AfterLastRow() const {
    return LocatorCount == 0 ? 0 : Locators[static_cast<std::size_t>(LocatorCount - 1)].Offset + 4;
}

bool TForm1::PageIsFull() const {
    return LocatorCount == RowCapacity;
}

void TForm1::ShowSelectedRow() {
    IReportList& list = Need(Widgets.ListView1);
    if (list.SelectedIndex() < 0) {
        return;
    }
    const std::string caption = list.SelectedCaption();
    if (caption.empty()) {
        Need(Widgets.TreeView1).ClearLines();
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
        if (HexView) {
            HexView->RefreshFileData(offset);
        }
        const TChromaFormatLookup lookup =
            [this, offset](std::uint32_t id) -> std::optional<std::uint32_t> {
            std::uint32_t chroma_format_idc = 0;
            if (FindGoverningSpsChromaFormat(*Stream, offset, id, FSpsLookupBuffer.data(),
                                             chroma_format_idc)) {
                return chroma_format_idc;
            }
            return std::nullopt;
        };
        if (!BitStream) {
            throw std::logic_error("no bit reader");
        }
        DecodeNalUnit(raw, n, ScanBuffer.data(), *BitStream, Need(Widgets.TreeView1), lookup);
    });
}
