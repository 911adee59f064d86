// TForm1: Left and Right in the picture pane select the previous or next picture's first
// unit in the list, turning pages as needed.

#include "app/Unit1.h"
#include "core/Guard.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "syntax/AccessUnit.h"
#include "model/WalkContext.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

// Pages turned looking for a picture before giving up: far enough for any GOP's units.
constexpr int kPictureStepPages = 16;

bool IsSlice(std::uint32_t type) {
    return type == kNalNonIdrSlice || type == kNalIdrSlice || type == kNalPartitionA;
}

} // namespace

TSetStore& TForm1::SetsAt(std::int64_t offset) {
    if (!FSets) {
        FSets = std::make_unique<TSetStore>(Stream.get());
    }
    FSets->LookBackFrom(offset);
    return *FSets;
}

// The walk's rule on the row: walked from the slice or the unit that opens an access unit
// nearest before it on the page, so that it is judged as a walk through the file judges it.
// With neither before it on the page, the first macroblock tells.
bool TForm1::BeginsPicture(int index) {
    const TNalUnitLocator& unit = Locators[static_cast<std::size_t>(index)];
    if (!IsSlice(NalUnitType(unit.NalHeader))) {
        return false;
    }
    int first = index;
    for (int i = index - 1; i >= 0; --i) {
        const std::uint32_t type = NalUnitType(Locators[static_cast<std::size_t>(i)].NalHeader);
        if (IsSlice(type) || OpensAccessUnit(type)) {
            first = i;
            break;
        }
    }
    const std::int64_t from = Locators[static_cast<std::size_t>(first)].Offset;
    TUnitCursor cursor = NewCursor(); // in the scan buffer: a step allocates no block
    cursor.SetBudget(unit.Offset - from + kSliceHeaderBytes + 8);
    TWalkContext walk(cursor, SetsAt(from));
    walk.Begin(from);
    TWalkUnit told;
    while (walk.Next(told) && told.Span.Offset <= unit.Offset) {
        if (told.Span.Offset == unit.Offset) {
            return told.BeginsPicture;
        }
    }
    return false;
}

void TForm1::PictureStep(int direction) {
    GuardVoid("TForm1.PictureStep", [&] {
        if (!Stream || !Widgets.ListView1 || direction == 0) {
            return;
        }
        IReportList& list = *Widgets.ListView1;
        const int step = direction > 0 ? 1 : -1;
        int from = list.SelectedIndex();
        const std::int64_t start =
            from >= 0 && from < LocatorCount ? Locators[static_cast<std::size_t>(from)].Offset : -1;
        for (int page = 0; page <= kPictureStepPages; ++page) {
            const int rows = std::min(list.RowCount(), LocatorCount);
            for (int i = from + step; i >= 0 && i < rows; i += step) {
                if (BeginsPicture(i)) {
                    list.Select(i);
                    ShowSelectedRow();
                    return;
                }
            }
            if (!RunStep([&] { return step > 0 ? StepForward(true) : StepBack(true); })) {
                break;
            }
            // The turned page is looked through from its edge.
            from = step > 0 ? -1 : std::min(list.RowCount(), LocatorCount);
        }
        // None within reach: the selection stays where it was.
        if (start >= 0) {
            ShowUnitAt(start);
        } else {
            SelectAfterStep(step < 0);
        }
        SetNote(std::string("No picture ") + (step > 0 ? "after" : "before") + " " +
                NalOffsetText(start) + " within " + std::to_string(kPictureStepPages) + " pages");
    });
}
