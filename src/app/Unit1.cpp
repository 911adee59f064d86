#include "app/Unit1.h"

#include "app/PictureView.h"

#include "core/Guard.h"
#include "stream/NalScan.h"
#include "syntax/ParameterSetFinder.h"
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

std::int32_t TForm1::RowsPerPage() const {
    const int rows = Widgets.ListView1 ? Widgets.ListView1->RowsPerPage() : 0;
    return std::clamp(rows, 0, kMaxLocators);
}

std::int32_t TForm1::ReadBlock(std::int64_t position, std::int32_t count) {
    // Charged before the read, so that even a failing read brings the step to its end.
    FStepBytes += count;
    Stream->Seek(position);
    return Stream->Read(ScanBuffer.data(), count);
}

// Opens a navigation step for the reads of a handler, unless one is open already: its
// reads beyond the first windows share one bound.
class TForm1::TStepScope {
  public:
    explicit TStepScope(TForm1& form) : FForm(form), FOwner(!form.FStepOpen) {
        if (FOwner) {
            FForm.FStepOpen = true;
            FForm.FStepBytes = 0;
        }
    }
    ~TStepScope() {
        if (FOwner) {
            FForm.FStepOpen = false;
        }
    }
    TStepScope(const TStepScope&) = delete;
    TStepScope& operator=(const TStepScope&) = delete;

  private:
    TForm1& FForm;
    bool FOwner;
};

bool TForm1::StepBudgetLeft() const {
    return FStepBytes < kNavigationReadBound;
}

std::int32_t TForm1::StepReadSize(std::int32_t window) const {
    // Never so small that a read cannot make progress past the bytes it shares with the
    // one before.
    constexpr std::int64_t kLeast = 4096;
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(kNavigationReadBound - FStepBytes, kLeast, window));
}

void TForm1::RefreshPosition(std::int64_t Start) {
    if (!TableLock) {
        return;
    }
    const TStepScope step(*this);
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

void TForm1::ScanBlock(std::int64_t base, std::int32_t n, std::int32_t capacity) {
    TNalUnitLocator* const into = Locators.data() + LocatorCount;
    const std::int32_t count = ScanNalUnits(ScanBuffer.data(), n, base, capacity, into);
    if (count > 0) {
        // A start code that ends the block takes its header byte from the file.
        TNalUnitLocator& last = into[count - 1];
        if (HeaderOutsideBlock(last, base, n)) {
            std::uint8_t header = 0;
            Stream->Seek(last.Offset + (last.StartCodeWord == 1 ? 4 : 3));
            if (Stream->Read(&header, 1) == 1) {
                SetLocatorHeader(last, header);
            }
        }
    }
    LocatorCount += count;
}

bool TForm1::FindNextStartCode(std::int64_t from, std::int64_t fileSize, std::int64_t& found,
                               std::int64_t& readEnd) {
    std::int64_t position = from;
    readEnd = from;
    while (position < fileSize && StepBudgetLeft()) {
        const std::int32_t n = ReadBlock(position, StepReadSize(kWindowScanSize));
        std::int32_t index = 0;
        if (n > 0 && FindFirstStartCode(ScanBuffer.data(), n, index)) {
            found = position + index;
            return true;
        }
        if (n <= 3) {
            return false; // the file ended sooner than its size said
        }
        readEnd = position + n;
        // The last three bytes were not examined: a start code may begin there.
        position = readEnd - 3;
        if (readEnd >= fileSize) {
            return false;
        }
    }
    return false;
}

void TForm1::ScanWindow(std::int64_t Start) {
    RowCapacity = RowsPerPage();
    if (Widgets.ListView1) {
        Widgets.ListView1->SetRowCount(RowCapacity);
    }
    if (!Stream) {
        return;
    }
    const std::int64_t fileSize = Stream->Size();
    // The table is emptied only once the window has been read: a failed read keeps the
    // page that was there.
    const std::int32_t n = ReadBlock(Start, kWindowScanSize);
    LocatorCount = 0;
    LastLenOpen = false;
    ScanBlock(Start, n, RowCapacity);
    std::int64_t blockEnd = Start + std::max(n, 0);
    // Units larger than the window: read on until the page is full and its last unit has
    // its true length, the file ends, or the step has read its bound.
    // A start code in the file's last three bytes is listed too, as the command line
    // lists it: a unit with no header byte.
    while (n > 0) {
        TNalUnitLocator* const last =
            LocatorCount > 0 ? &Locators[static_cast<std::size_t>(LocatorCount - 1)] : nullptr;
        const std::int64_t lastEnd = last ? last->Offset + last->Len : Start;
        const bool full = LocatorCount >= RowCapacity;
        if (full && (last == nullptr || lastEnd < blockEnd)) {
            break;
        }
        if (blockEnd >= fileSize && (full || last == nullptr || lastEnd >= blockEnd)) {
            break;
        }
        if (!StepBudgetLeft()) {
            LastLenOpen = last != nullptr && lastEnd == blockEnd;
            break;
        }
        // Where the next start code may begin: not inside the last one's own start code
        // (as the length rule has it), and not before the bytes left unexamined.
        const std::int64_t from = last ? std::max(std::min(lastEnd, blockEnd - 3),
                                                  last->Offset + (last->StartCodeWord == 1 ? 2 : 1))
                                       : std::max(Start, blockEnd - 3);
        std::int64_t found = 0;
        std::int64_t readEnd = 0;
        const bool hit = FindNextStartCode(from, fileSize, found, readEnd);
        const std::int64_t unitEnd = hit ? found : std::max(readEnd, blockEnd);
        if (last != nullptr) {
            last->Len = static_cast<std::int32_t>(std::min<std::int64_t>(
                unitEnd - last->Offset, std::numeric_limits<std::int32_t>::max()));
        }
        if (!hit) {
            blockEnd = unitEnd;
            LastLenOpen = last != nullptr && unitEnd < fileSize;
            break;
        }
        if (full) {
            break;
        }
        const std::int32_t m = ReadBlock(found, StepReadSize(kWindowScanSize));
        ScanBlock(found, m, RowCapacity - LocatorCount);
        if (m <= 0) {
            break;
        }
        blockEnd = found + m;
    }
    PageReachesEnd = blockEnd >= fileSize;
}

bool TForm1::SearchNextPackPositionFromPos(std::int64_t& Found, std::int64_t Position) {
    const TStepScope step(*this);
    return SearchForward(Found, Position, kForwardSearchSize);
}

bool TForm1::SearchForward(std::int64_t& Found, std::int64_t Position, std::int32_t blockSize) {
    return Guard("TForm1.SearchNextPackPositionFromPos", false, [&] {
        if (FileName.empty() || !Stream || Position < 0 || Position >= Stream->Size()) {
            return false;
        }
        const std::int32_t n = ReadBlock(Position, blockSize);
        std::int32_t index = 0;
        if (n <= 0 || !FindFirstStartCode(ScanBuffer.data(), n, index)) {
            return false;
        }
        Found = Position + index;
        return true;
    });
}

bool TForm1::SearchBackward(const char* routine, std::int64_t& Found, std::int32_t Count,
                            std::int64_t Position, std::int32_t blockSize, std::int32_t* met) {
    return Guard(routine, false, [&] {
        if (FileName.empty() || !Stream || Position < 0 || Position >= Stream->Size()) {
            return false;
        }
        const std::int64_t blockStart = std::max<std::int64_t>(Position - blockSize, 0);
        const auto want = static_cast<std::int32_t>(Position - blockStart + 4);
        const std::int32_t n = ReadBlock(blockStart, want);
        std::int32_t index = 0;
        if (n <= 0 || !FindStartCodeBackward(ScanBuffer.data(), n, Count, index, met)) {
            return false;
        }
        Found = blockStart + index;
        return true;
    });
}

bool TForm1::SearchNextStep(std::int64_t& found, std::int64_t p) {
    if (SearchForward(found, p, kForwardSearchSize)) {
        return true;
    }
    // Nothing in the first window: go on past a unit larger than it, window by window.
    const std::int64_t size = FileSize();
    std::int64_t position = p + kForwardSearchSize - 3;
    if (p < 0 || p + kForwardSearchSize >= size) {
        return false;
    }
    while (StepBudgetLeft() && position < size) {
        const std::int32_t window = StepReadSize(kForwardSearchSize);
        if (SearchForward(found, position, window)) {
            return true;
        }
        if (position + window >= size) {
            return false;
        }
        position += window - 3;
    }
    return false;
}

bool TForm1::SearchBackStep(std::int64_t& found, std::int32_t count, std::int64_t p,
                            std::int32_t window) {
    const char* routine = count == 1 ? "TForm1.SearchPreviousPackPositionFromPos"
                                     : "TForm1.SearchBackPackPositionFromPos";
    std::int32_t met = 0;
    bool any = SearchBackward(routine, found, count, p, window, &met);
    if (count < 1 || met >= count) {
        return any;
    }
    // Fewer than count in the first window, and the file goes on before it: count on back
    // past units larger than the window.
    std::int32_t left = count - met;
    std::int64_t position = p - window - 1;
    while (left > 0 && StepBudgetLeft() && position >= 0) {
        const std::int32_t size = StepReadSize(window);
        std::int64_t earlier = 0;
        if (SearchBackward(routine, earlier, left, position, size, &met)) {
            found = earlier;
            any = true;
            left -= met;
        }
        position -= size + 1;
    }
    return any;
}

bool TForm1::SearchPreviousPackPositionFromPos(std::int64_t& Found, std::int64_t Position) {
    const TStepScope step(*this);
    return SearchBackward("TForm1.SearchPreviousPackPositionFromPos", Found, 1, Position,
                          kPreviousSearchSize);
}

bool TForm1::SearchBackPackPositionFromPos(std::int64_t& Found, std::int32_t Count,
                                           std::int64_t Position) {
    const TStepScope step(*this);
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
        DecodeSliceHeaders = false;
        ShowPicture = false;
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
        FPictureView.reset();
        FParameterSets.reset();
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
        // an hourglass. A file that could not be opened says why.
        if (!loaded) {
            Widgets.Dialogs->ShowMessage(LoadFailure.empty() ? kNotValidStreamMessage
                                                             : LoadFailure);
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
        ShowPictureOf(-1);
        FParameterSets.reset(); // it reads the stream that goes now
        Stream.reset();
        LoadFailure.clear();
        auto stream = std::make_unique<FileStream>();
        if (!stream->Open(fileName)) {
            LoadFailure = stream->OpenError();
            throw std::runtime_error(LoadFailure);
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
        FDetailOffset = -1;
        ShowPictureOf(-1);
        FParameterSets.reset();
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
        if (LastLenOpen && index == LocatorCount - 1) {
            row.SubItems[0] += '+'; // the unit goes on past what the step read
        }
        row.SubItems[1] = NalStartCodeText(locator.StartCodeWord == 1, locator.NalHeader);
        // A start code with nothing of its own after it has no header byte to name, as
        // the command line lists it; the last row's unit may only have been cut by the read.
        const std::int32_t startCode = locator.StartCodeWord == 1 ? 4 : 3;
        const bool cut = LastLenOpen && index == LocatorCount - 1;
        row.SubItems[2] = locator.Len <= startCode && !cut ? std::string(kNoHeaderText)
                                                           : NalTypeText(locator.NalHeader);
    });
}

void TForm1::ListView1KeyDown(int key) {
    GuardVoid("TForm1.ListView1KeyDown", [&] {
        IReportList& list = Need(Widgets.ListView1);
        if (list.SelectedIndex() < 0) {
            return;
        }
        const TStepScope step(*this);
        FollowShrunkFile();
        const int selected = list.SelectedIndex();
        if (selected < 0) {
            return;
        }
        std::int64_t found = 0;
        switch (key) {
        case Key::Up:
            if (selected == 0 && SearchBackStep(found, 1, BeforeFirstRow(), kPreviousSearchSize)) {
                MoveWindow(found);
                list.Invalidate();
            }
            break;
        case Key::Down:
            // When the first row is a bare start code and header (found = its offset + 4),
            // found is still the next unit: the window moves on by one unit as always.
            if (selected == list.RowCount() - 1 && PageIsFull() &&
                !list.SelectedCaption().empty() && SearchNextStep(found, AfterFirstRow())) {
                MoveWindow(found);
                list.Invalidate();
            }
            break;
        case Key::PageUp:
            if (SearchBackStep(found, RowCapacity, BeforeFirstRow(), kBackCountSearchSize)) {
                MoveWindow(found);
                list.Invalidate();
            }
            break;
        case Key::PageDown:
            if (PageIsFull()) {
                // As with Down, a bare last row (found = its offset + 4) is passed over
                // like any other unit.
                if (SearchNextStep(found, AfterLastRow())) {
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
                if (SearchNextStep(found, 0)) {
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
                if (SearchBackStep(found, RowCapacity, p, kBackCountSearchSize)) {
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
        const TStepScope step(*this);
        FollowShrunkFile();
        list.ClearSelection();
        ClearHexLines();
        const std::int32_t last = LastScrollPosition;
        const std::int32_t pos = bar.Position();
        std::int64_t p = 0;
        switch (static_cast<std::int64_t>(last) - pos) {
        case 1:
            p = BeforeFirstRow();
            SearchBackStep(p, 1, p, kPreviousSearchSize);
            MoveWindow(p);
            DebugOutput("one up");
            break;
        case -1:
            if (PageIsFull()) {
                p = AfterFirstRow();
                SearchNextStep(p, p);
                MoveWindow(p);
                DebugOutput("one down");
            } else {
                bar.SetPosition(last);
            }
            break;
        case 10:
            p = BeforeFirstRow();
            SearchBackStep(p, RowCapacity, p, kBackCountSearchSize);
            MoveWindow(p);
            DebugOutput("page up");
            break;
        case -10:
            if (PageIsFull()) {
                p = AfterLastRow();
                SearchNextStep(p, p);
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

void TForm1::FollowShrunkFile() {
    if (!Stream || LocatorCount <= 0) {
        return;
    }
    const std::int64_t size = Stream->Size();
    const TNalUnitLocator& first = Locators[0];
    const TNalUnitLocator& last = Locators[static_cast<std::size_t>(LocatorCount - 1)];
    if (last.Offset + last.Len <= size) {
        return;
    }
    // Another program cut the file under the page: list what is still there from the
    // page's start, else the last page, else nothing.
    std::int64_t found = 0;
    if (first.Offset < size) {
        RefreshPosition(first.Offset);
    } else if (SearchBackPackPositionFromPos(found, RowCapacity,
                                             std::max<std::int64_t>(size - 4, 0))) {
        MoveWindow(found);
    } else {
        RefreshPosition(size);
    }
    if (Widgets.ListView1) {
        Widgets.ListView1->Invalidate();
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
    // A page cut short by the step's read bound is not the end of the file.
    return LocatorCount == RowCapacity || !PageReachesEnd;
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
            HexView->MarkBytes(-1, -1);
            HexView->RefreshFileData(offset);
        }
        FDetailOffset = offset;
        if (!FParameterSets) {
            FParameterSets = std::make_unique<TParameterSetFinder>(*Stream);
        }
        const TChromaFormatLookup lookup = [this, offset](std::uint32_t id) {
            return FParameterSets->GoverningChromaFormat(id, offset);
        };
        if (!BitStream) {
            throw std::logic_error("no bit reader");
        }
        TGoverningSets sets(*FParameterSets, offset);
        const TFullDecoding full{DecodeSliceHeaders ? &sets : nullptr, Widgets.TreeView1Bits};
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
