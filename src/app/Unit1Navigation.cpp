// The NAL list's page and every way of moving it: keys, the window bar, the wheel, a
// resize. A page holds consecutive units of the file; each step reads at most the
// navigation bound (holes of sparse files cost nothing), and what it could not find within
// it is said in the status bar instead of being guessed.

#include "app/Unit1.h"

#include "app/Need.h"
#include "core/DebugOutput.h"
#include "core/Guard.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <limits>
#include <stdexcept>

namespace {

std::int64_t StartCodeBytes(const TNalUnitLocator& locator) {
    return locator.StartCodeWord == 1 ? 4 : 3;
}

// Where the next start code may begin after the one at locator: not inside its own start
// code, as the length rule has it.
std::int64_t AfterStartCode(const TNalUnitLocator& locator) {
    return locator.Offset + (locator.StartCodeWord == 1 ? 2 : 1);
}

std::string Hex(std::int64_t offset) {
    return NalOffsetText(offset);
}

std::string MiBText(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%" PRId64 " MiB", (bytes + (1 << 19)) >> 20);
    return text;
}

// 12,345,678
std::string Grouped(std::int64_t value) {
    std::string digits = std::to_string(value);
    for (auto i = static_cast<std::ptrdiff_t>(digits.size()) - 3; i > 0; i -= 3) {
        digits.insert(static_cast<std::size_t>(i), 1, ',');
    }
    return digits;
}

std::string Percent(std::int64_t offset, std::int64_t size) {
    char text[16];
    const double share =
        size > 0 ? 100.0 * static_cast<double>(offset) / static_cast<double>(size) : 0.0;
    std::snprintf(text, sizeof text, "%.1f %%", share);
    return text;
}

} // namespace

std::int32_t TForm1::RowsPerPage() const {
    const int rows = Widgets.ListView1 ? Widgets.ListView1->RowsPerPage() : 0;
    return std::clamp(rows, 0, kMaxLocators);
}

std::int32_t TForm1::PageCapacity() const {
    // A list too short for one row still has a unit to show when asked.
    return std::max(RowCapacity, 1);
}

TUnitCursor TForm1::NewCursor() {
    return TUnitCursor(*Stream, ScanBuffer.data(), kDetailRegionOffset, kNavigationReadBound);
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
    TUnitCursor cursor = NewCursor();
    std::int64_t first = 0;
    // A list too short for a row still holds the unit that begins right at Start.
    if (!cursor.NextStart(std::max<std::int64_t>(Start, 0), first) ||
        (RowCapacity == 0 && first != Start)) {
        SetEmptyPage(Start, cursor.Reached());
        if (cursor.Exhausted()) {
            NoteNothingFound(Start, cursor.Reached(), cursor.Spent(), true);
        } else if (RowCapacity > 0) {
            NoteNothingFound(Start, cursor.Reached(), -1, false);
        }
        return;
    }
    // Finding the page's first unit and measuring the page are bounded each on their own,
    // so that a unit's length does not depend on how far its start was searched for.
    StartPageAt(cursor, first);
}

void TForm1::SetEmptyPage(std::int64_t from, std::int64_t to) {
    LocatorCount = 0;
    LastLenOpen = false;
    FLastMeasured = true;
    FEmptyFrom = std::max<std::int64_t>(from, 0);
    FEmptyTo = std::max(to, FEmptyFrom);
    PageReachesEnd = Stream == nullptr || FEmptyTo >= Stream->Size();
    FBackReached = -1;
}

void TForm1::SetRows(TUnitCursor& cursor, const std::int64_t* offsets, std::int32_t count,
                     std::int64_t end) {
    LocatorCount = 0;
    for (std::int32_t i = 0; i < count && i < kMaxLocators; ++i) {
        TNalUnitLocator locator = cursor.Describe(offsets[i]);
        const std::int64_t next = i + 1 < count ? offsets[i + 1] : end;
        locator.Len = next >= 0 ? next - locator.Offset : StartCodeBytes(locator);
        Locators[static_cast<std::size_t>(LocatorCount++)] = locator;
    }
    LastLenOpen = false;
    FLastMeasured = end >= 0;
    PageReachesEnd = end >= 0 && end >= cursor.FileSize();
    FBackReached = -1;
}

void TForm1::StartPageAt(TUnitCursor& cursor, std::int64_t first) {
    cursor.SetBudget(kNavigationReadBound);
    SetRows(cursor, &first, 1, -1);
    FillPage(cursor, 1);
}

void TForm1::FillPage(TUnitCursor& cursor, std::int32_t keep) {
    const std::int32_t capacity = PageCapacity();
    while (LocatorCount > 0) {
        TNalUnitLocator& last = Locators[static_cast<std::size_t>(LocatorCount - 1)];
        if (!FLastMeasured) {
            std::int64_t from = AfterStartCode(last);
            if (LastLenOpen) {
                from = std::max(from, FLastSearchedTo);
            }
            std::int64_t next = 0;
            FLastMeasured = true;
            // A row that did not have the whole bound to itself may be shorter than it.
            const bool hadWholeBound = cursor.Spent() == 0;
            if (cursor.NextStart(from, next)) {
                last.Len = next - last.Offset;
                LastLenOpen = false;
                PageReachesEnd = false;
            } else if (!cursor.Exhausted()) {
                last.Len = std::max(cursor.FileSize() - last.Offset, StartCodeBytes(last));
                LastLenOpen = false;
                PageReachesEnd = true;
                return;
            } else if (LocatorCount > keep && LocatorCount > 1 && !hadWholeBound) {
                // Its start ends the row before it; it leads the next page.
                --LocatorCount;
                LastLenOpen = false;
                PageReachesEnd = false;
                return;
            } else {
                FLastSearchedTo = std::max(cursor.Reached(), from);
                last.Len = std::max(FLastSearchedTo - last.Offset, StartCodeBytes(last));
                LastLenOpen = true;
                PageReachesEnd = false;
                return;
            }
        }
        if (LastLenOpen || PageReachesEnd || LocatorCount >= capacity) {
            return;
        }
        const TNalUnitLocator next = cursor.Describe(last.Offset + last.Len);
        Locators[static_cast<std::size_t>(LocatorCount++)] = next;
        FLastMeasured = false;
    }
}

bool TForm1::SearchPastLastRow(TUnitCursor& cursor, std::int64_t& next) {
    TNalUnitLocator& last = Locators[static_cast<std::size_t>(LocatorCount - 1)];
    const std::int64_t from = std::max(FLastSearchedTo, AfterStartCode(last));
    if (cursor.NextStart(from, next)) {
        cursor.SetBudget(kNavigationReadBound);
        return true;
    }
    if (cursor.Exhausted()) {
        FLastSearchedTo = cursor.Reached();
        last.Len = FLastSearchedTo - last.Offset;
        NoteNothingFound(from, FLastSearchedTo, cursor.Spent(), true);
    } else {
        last.Len = cursor.FileSize() - last.Offset;
        LastLenOpen = false;
        PageReachesEnd = true;
    }
    return false;
}

bool TForm1::StepForward(bool page) {
    if (!Stream) {
        return false;
    }
    TUnitCursor cursor = NewCursor();
    if (LocatorCount == 0) {
        // Nothing on the page: search on from where the last search stopped.
        if (PageReachesEnd) {
            return false;
        }
        ScanWindow(FEmptyTo);
        return true;
    }
    const TNalUnitLocator last = Locators[static_cast<std::size_t>(LocatorCount - 1)];
    if (PageReachesEnd) {
        // A full page at the end still gives up its first row to one step, as ever.
        if (page || LocatorCount < RowCapacity || LocatorCount < 2) {
            return false;
        }
        std::copy(Locators.begin() + 1, Locators.begin() + LocatorCount, Locators.begin());
        --LocatorCount;
        FBackReached = -1;
        return true;
    }
    std::int64_t next = last.Offset + last.Len;
    if (page || (LastLenOpen && LocatorCount == 1)) {
        // The unit after the page, whose start a page with an open last row still has to
        // find.
        if (LastLenOpen && !SearchPastLastRow(cursor, next)) {
            return false;
        }
        StartPageAt(cursor, next);
        return true;
    }
    std::copy(Locators.begin() + 1, Locators.begin() + LocatorCount, Locators.begin());
    FBackReached = -1;
    if (LastLenOpen) {
        // The last row stays, and its end is searched for on.
        --LocatorCount;
        const std::int64_t from = FLastSearchedTo;
        FLastMeasured = false;
        FillPage(cursor, LocatorCount);
        if (LastLenOpen) {
            NoteNothingFound(from, FLastSearchedTo, cursor.Spent(), true);
        }
        return true;
    }
    Locators[static_cast<std::size_t>(LocatorCount - 1)] = cursor.Describe(next);
    FLastMeasured = false;
    FillPage(cursor, LocatorCount);
    return true;
}

bool TForm1::StepBack(bool page) {
    if (!Stream) {
        return false;
    }
    const std::int32_t capacity = PageCapacity();
    const std::int32_t count = page ? capacity : 1;
    const bool empty = LocatorCount == 0;
    std::int64_t below = empty ? FEmptyFrom : Locators[0].Offset;
    if (FBackReached >= 0) {
        below = std::min(below, FBackReached);
    }
    if (below <= 0) {
        return false;
    }
    TUnitCursor cursor = NewCursor();
    std::array<std::int64_t, kMaxLocators> found{};
    const std::int32_t met = cursor.Previous(below - 1, count, found.data());
    if (met == 0) {
        if (cursor.Exhausted()) {
            const std::int64_t reached = cursor.Reached();
            NoteNothingFound(reached, empty ? FEmptyFrom : Locators[0].Offset, cursor.Spent(),
                             false);
            FBackReached = reached;
        }
        return false;
    }
    const bool fileStart = met < count && !cursor.Exhausted();
    std::reverse(found.begin(), found.begin() + met);
    if (empty) {
        SetRows(cursor, found.data(), met, -1);
        cursor.SetBudget(kNavigationReadBound);
        FillPage(cursor, met);
        return true;
    }
    // The new units end where the page began; the page's own rows follow them when one
    // unit was asked for, or when the file's start came first.
    const std::array<TNalUnitLocator, kMaxLocators> old = Locators;
    const std::int32_t oldCount = LocatorCount;
    const bool oldOpen = LastLenOpen;
    const bool oldEnd = PageReachesEnd;
    const bool oldMeasured = FLastMeasured;
    SetRows(cursor, found.data(), met, old[0].Offset);
    if (!page || fileStart) {
        const std::int32_t room = std::max(capacity - LocatorCount, 0);
        const std::int32_t taken = std::min(room, oldCount);
        std::copy(old.begin(), old.begin() + taken, Locators.begin() + LocatorCount);
        LocatorCount += taken;
        if (taken == oldCount) {
            LastLenOpen = oldOpen;
            PageReachesEnd = oldEnd;
            FLastMeasured = oldMeasured;
            cursor.SetBudget(kNavigationReadBound);
            FillPage(cursor, LocatorCount);
        } else {
            LastLenOpen = false;
            PageReachesEnd = false;
            FLastMeasured = true;
        }
    }
    return true;
}

bool TForm1::StepHome() {
    if (!Stream) {
        return false;
    }
    ScanWindow(0);
    return true;
}

bool TForm1::StepEnd() {
    if (!Stream) {
        return false;
    }
    TUnitCursor cursor = NewCursor();
    const std::int64_t size = cursor.FileSize();
    std::array<std::int64_t, kMaxLocators> found{};
    const std::int32_t met = cursor.Previous(size - 1, PageCapacity(), found.data());
    if (met == 0) {
        SetEmptyPage(cursor.Reached(), size);
        if (cursor.Exhausted()) {
            NoteNothingFound(cursor.Reached(), size, cursor.Spent(), false);
        }
        return true;
    }
    std::reverse(found.begin(), found.begin() + met);
    SetRows(cursor, found.data(), met, size);
    return true;
}

bool TForm1::StepToThumb(std::int64_t at) {
    if (!Stream) {
        return false;
    }
    at = std::clamp<std::int64_t>(at, 0, Stream->Size());
    TUnitCursor cursor = NewCursor();
    std::int64_t first = 0;
    if (cursor.NextStart(at, first)) {
        StartPageAt(cursor, first);
        return true;
    }
    if (cursor.Exhausted()) {
        SetEmptyPage(at, cursor.Reached());
        NoteNothingFound(at, cursor.Reached(), cursor.Spent(), true);
        return true;
    }
    // Nothing after the thumb before the file ends: the last unit that begins before it.
    cursor.SetBudget(kNavigationReadBound);
    std::int64_t previous = 0;
    if (cursor.Previous(at, 1, &previous) == 1) {
        StartPageAt(cursor, previous);
        return true;
    }
    SetEmptyPage(cursor.Reached(), cursor.FileSize());
    if (cursor.Exhausted()) {
        NoteNothingFound(cursor.Reached(), at, cursor.Spent(), false);
    }
    return true;
}

bool TForm1::RunStep(const std::function<bool()>& step) {
    if (!TableLock) {
        return false;
    }
    std::lock_guard lock(*TableLock);
    const std::string note = std::move(NavigationNote);
    NavigationNote.clear();
    RowCapacity = RowsPerPage();
    bool moved = false;
    try {
        moved = step();
    } catch (...) {
        if (Widgets.ListView1) {
            Widgets.ListView1->SetRowCount(LocatorCount);
        }
        throw;
    }
    if (Widgets.ListView1) {
        Widgets.ListView1->SetRowCount(LocatorCount);
    }
    if (moved) {
        RecordPosition();
    } else if (NavigationNote.empty() && LocatorCount == 0) {
        NavigationNote = note; // still nothing listed, for the same reason
    }
    return moved;
}

void TForm1::RecordPosition() {
    WindowPosition = LocatorCount > 0 ? Locators[0].Offset : FEmptyFrom;
    LastScrollPosition = ScrollPositionOf(WindowPosition);
    if (Widgets.ScrollBar1) {
        // The bar holds the position within its range; what it holds is what the next
        // press is compared with, or a press at the end would read as a step back.
        Widgets.ScrollBar1->SetPosition(LastScrollPosition);
        LastScrollPosition = Widgets.ScrollBar1->Position();
    }
}

void TForm1::NoteNothingFound(std::int64_t from, std::int64_t to, std::int64_t searched,
                              bool forward) {
    // searched < 0: the search ran into the file's end.
    NavigationNote =
        "No NAL unit starts between " + Hex(from) + " and " + Hex(to) + " (" +
        (searched < 0 ? std::string("the file's end") : "searched " + MiBText(searched)) + "); " +
        (forward ? "Page Down" : "Page Up") + " searches on";
}

// --- Handlers ---------------------------------------------------------------------------

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
        const bool cut = LastLenOpen && index == LocatorCount - 1;
        row.Caption = NalOffsetText(locator.Offset);
        row.SubItems[0] = std::to_string(locator.Len);
        if (cut) {
            row.SubItems[0] += '+'; // the unit goes on past what the step read
        }
        row.SubItems[1] = NalStartCodeText(locator.StartCodeWord == 1, locator.NalHeader);
        // A start code with nothing of its own after it has no header byte to name, as
        // the command line lists it; the last row's unit may only have been cut by the read.
        row.SubItems[2] = locator.Len <= StartCodeBytes(locator) && !cut
                              ? std::string(kNoHeaderText)
                              : NalTypeText(locator.NalHeader);
        if (ShowInfoColumn) {
            row.SubItems[3] = InfoText(index);
        }
    });
}

void TForm1::ListView1KeyDown(int key) {
    GuardVoid("TForm1.ListView1KeyDown", [&] {
        IReportList& list = Need(Widgets.ListView1);
        // An empty page has no row to select; its keys search from where it lies.
        const bool empty = Stream && LocatorCount == 0;
        if (list.SelectedIndex() < 0 && !empty) {
            return;
        }
        FollowShrunkFile();
        const int selected = list.SelectedIndex();
        if (selected < 0 && !(Stream && LocatorCount == 0)) {
            return;
        }
        bool moved = false;
        switch (key) {
        case Key::Up:
            if (selected <= 0) {
                moved = RunStep([this] { return StepBack(false); });
                FLastStepForward = false;
            }
            break;
        case Key::Down:
            if (selected < 0 ||
                (selected == list.RowCount() - 1 && !list.SelectedCaption().empty())) {
                moved = RunStep([this] { return StepForward(false); });
                FLastStepForward = true;
            }
            break;
        case Key::PageUp:
            moved = RunStep([this] { return StepBack(true); });
            FLastStepForward = false;
            break;
        case Key::PageDown:
            moved = RunStep([this] { return StepForward(true); });
            FLastStepForward = true;
            if (!moved) {
                SetBarPosition(LastScrollPosition);
            }
            break;
        case Key::Home: {
            SetBarPosition(0);
            const TBusyCursor busy(Widgets.Screen);
            moved = RunStep([this] { return StepHome(); });
            FLastStepForward = true;
            break;
        }
        case Key::End: {
            if (Widgets.ScrollBar1) {
                Widgets.ScrollBar1->SetPosition(Widgets.ScrollBar1->Maximum());
            }
            const TBusyCursor busy(Widgets.Screen);
            moved = RunStep([this] { return StepEnd(); });
            FLastStepForward = false;
            break;
        }
        default:
            return;
        }
        if (moved || !NavigationNote.empty()) {
            list.Invalidate();
        }
        RefreshStatus();
    });
}

void TForm1::ListView1KeyUp(int /*key*/) {
    GuardVoid("TForm1.ListView1KeyUp", [&] {
        IReportList& list = Need(Widgets.ListView1);
        // A page reached from an empty one has no selection the list could move: take the
        // row the step leads to.
        if (list.SelectedIndex() < 0 && LocatorCount > 0 && list.RowCount() > 0) {
            list.Select(FLastStepForward ? 0 : std::min(LocatorCount, list.RowCount()) - 1);
        }
        if (list.SelectedIndex() < 0 && Stream) {
            // No row: the tree and the hex view show nothing either.
            ClearHexLines();
            Need(Widgets.TreeView1).ClearLines();
            FDetailOffset = -1;
        }
        ShowSelectedRow();
        RefreshStatus();
    });
}

void TForm1::ListView1MouseDown() {
    GuardVoid("TForm1.ListView1MouseDown", [&] {
        ShowSelectedRow();
        RefreshStatus();
    });
}

void TForm1::MyScrollMouseDown() {
    GuardVoid("TForm1.MyScrollMouseDown", [&] {
        IReportList& list = Need(Widgets.ListView1);
        IScrollBar& bar = Need(Widgets.ScrollBar1);
        FollowShrunkFile();
        const std::int32_t last = LastScrollPosition;
        const std::int32_t pos = bar.Position();
        bool moved = false;
        bool forward = true;
        // The forward steps have nothing to do once the page ends the file (but for a
        // full page's first row); they then leave no trace.
        const bool more = !PageReachesEnd;
        const bool oneMore = more || (LocatorCount == RowCapacity && LocatorCount >= 2);
        switch (static_cast<std::int64_t>(last) - pos) {
        case 1:
            moved = RunStep([this] { return StepBack(false); });
            forward = false;
            DebugOutput("one up");
            break;
        case -1:
            if (oneMore) {
                moved = RunStep([this] { return StepForward(false); });
                DebugOutput("one down");
            }
            break;
        case 10:
            moved = RunStep([this] { return StepBack(true); });
            forward = false;
            DebugOutput("page up");
            break;
        case -10:
            if (more) {
                moved = RunStep([this] { return StepForward(true); });
                DebugOutput("page down");
            }
            break;
        default: {
            // The thumb was dragged, or one press moved the bar several steps.
            const TBusyCursor busy(Widgets.Screen);
            const std::int64_t at = static_cast<std::int64_t>(pos) * ScrollUnit;
            if (!Stream) {
                // No file: the bar stays where it was dragged.
                LastScrollPosition = pos;
                moved = true;
                break;
            }
            moved = RunStep([this, at] { return StepToThumb(at); });
            break;
        }
        }
        if (!moved) {
            bar.SetPosition(last);
        }
        // A press that moved nothing keeps the row the user had.
        if (moved || list.SelectedIndex() < 0) {
            SelectAfterStep(forward);
        } else {
            ShowSelectedRowAgain();
        }
        list.Invalidate();
        RefreshStatus();
    });
}

void TForm1::ListView1MouseWheel(int notches) {
    GuardVoid("TForm1.ListView1MouseWheel", [&] {
        if (!Stream || notches == 0) {
            return;
        }
        FollowShrunkFile();
        const bool forward = notches < 0;
        const int steps = 3 * std::min(std::abs(notches), 100);
        bool any = false;
        for (int i = 0; i < steps; ++i) {
            const bool moved =
                RunStep([this, forward] { return forward ? StepForward(false) : StepBack(false); });
            DebugOutput(forward ? "one down" : "one up");
            if (!moved) {
                break; // the file's edge, or nothing found within the bound
            }
            any = true;
        }
        if (any) {
            SelectAfterStep(forward);
            Need(Widgets.ListView1).Invalidate();
        } else {
            ShowSelectedRowAgain();
        }
        RefreshStatus();
    });
}

void TForm1::ListBox1MouseWheel(int notches) {
    GuardVoid("TForm1.ListBox1MouseWheel", [&] {
        if (!HexView || notches == 0) {
            return;
        }
        const int position = HexView->ScrollLines(-3 * std::clamp(notches, -1000, 1000));
        if (Widgets.ScrollBar2) {
            Widgets.ScrollBar2->SetPosition(position);
        }
    });
}

void TForm1::ScrollBar1Tracking(int position) {
    GuardVoid("TForm1.ScrollBar1Tracking", [&] {
        if (!Stream) {
            return;
        }
        const std::int64_t size = Stream->Size();
        const std::int64_t at = std::min(static_cast<std::int64_t>(position) * ScrollUnit, size);
        NavigationNote = "Thumb at " + Hex(at) + " (" + Percent(at, size) +
                         "): the page starts at the first unit from there";
        RefreshStatus();
    });
}

void TForm1::ShowSelectedRowAgain() {
    const int selected = Need(Widgets.ListView1).SelectedIndex();
    if (selected < 0 || selected >= LocatorCount) {
        SelectAfterStep(true);
    } else if (Locators[static_cast<std::size_t>(selected)].Offset != FDetailOffset) {
        ShowSelectedRow();
    }
}

void TForm1::SelectAfterStep(bool forward) {
    IReportList& list = Need(Widgets.ListView1);
    const int rows = std::min(list.RowCount(), LocatorCount);
    if (rows <= 0) {
        list.ClearSelection();
        ClearHexLines();
        Need(Widgets.TreeView1).ClearLines();
        FDetailOffset = -1;
        return;
    }
    list.Select(forward ? 0 : rows - 1);
    ShowSelectedRow();
}

void TForm1::FormResize() {
    GuardVoid("TForm1.FormResize", [&] {
        if (!TableLock) {
            return;
        }
        std::lock_guard lock(*TableLock);
        const std::int32_t before = RowCapacity;
        RowCapacity = RowsPerPage();
        if (Stream && LocatorCount == 0 && before == 0 && RowCapacity > 0) {
            // The page was left empty only for want of room: the unit it missed shows now.
            ScanWindow(FEmptyFrom);
        } else if (Stream && LocatorCount > 0) {
            // The rows the page holds stay; a longer list measures more after them.
            if (LocatorCount > PageCapacity()) {
                LocatorCount = PageCapacity();
                LastLenOpen = false;
                PageReachesEnd = false;
                FLastMeasured = true;
            } else if (RowCapacity > before) {
                TUnitCursor cursor = NewCursor();
                FillPage(cursor, LocatorCount);
            }
        }
        if (Widgets.ListView1) {
            Widgets.ListView1->SetRowCount(LocatorCount);
        }
        RefreshStatus();
    });
}

// --- The fixed searches -----------------------------------------------------------------

// --- Helpers ------------------------------------------------------------------------------

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
    // page's start, else the last page.
    const std::int64_t from = first.Offset;
    RunStep([this, from, size] {
        if (from < size) {
            ScanWindow(from);
            return true;
        }
        return StepEnd();
    });
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

void TForm1::RefreshStatus() {
    IStatusBar* status = Widgets.StatusBar;
    if (status == nullptr) {
        return;
    }
    if (!Stream) {
        status->SetText(TStatusField::File, "");
        status->SetText(TStatusField::Page, "");
        status->SetText(TStatusField::Selection, "");
        status->SetText(TStatusField::Note, NavigationNote);
        return;
    }
    const std::int64_t size = Stream->Size();
    status->SetText(TStatusField::File, Grouped(size) + " bytes");
    if (LocatorCount > 0) {
        const TNalUnitLocator& first = Locators[0];
        const TNalUnitLocator& last = Locators[static_cast<std::size_t>(LocatorCount - 1)];
        const std::int64_t end = last.Offset + last.Len;
        status->SetText(TStatusField::Page, "Page " + Hex(first.Offset) + " to " +
                                                Hex(std::max(end - 1, first.Offset)) + " (" +
                                                Percent(first.Offset, size) + " to " +
                                                Percent(end, size) + ")");
    } else {
        status->SetText(TStatusField::Page, "No units listed from " + Hex(FEmptyFrom));
    }
    std::string selection;
    const int selected = Widgets.ListView1 ? Widgets.ListView1->SelectedIndex() : -1;
    if (selected >= 0 && selected < LocatorCount) {
        const TNalUnitLocator& unit = Locators[static_cast<std::size_t>(selected)];
        const bool cut = LastLenOpen && selected == LocatorCount - 1;
        selection =
            "Unit at " + Hex(unit.Offset) + ", " + Grouped(unit.Len) + (cut ? "+" : "") + " bytes";
    }
    status->SetText(TStatusField::Selection, selection);
    status->SetText(TStatusField::Note, NavigationNote);
    RefreshSummaryPage();
}
