// TForm1: Left and Right in the picture pane select the previous or next picture's first
// unit in the list, turning pages as needed.

#include "app/Unit1.h"
#include "core/Guard.h"
#include "decode/AccessUnitRules.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"

#include <algorithm>
#include <array>

namespace {

// Pages turned looking for a picture before giving up: far enough for any GOP's units.
constexpr int kPictureStepPages = 16;
// A slice's header byte, start code and first two Exp-Golomb codes, with room for the
// emulation-prevention bytes among them.
constexpr std::int32_t kSliceIdsBytes = 32;

} // namespace

bool TForm1::BeginsPicture(int index) {
    const TNalUnitLocator& unit = Locators[static_cast<std::size_t>(index)];
    const std::uint32_t type = NalUnitType(unit.NalHeader);
    if (type != kNonIdrSliceType && type != kIdrSliceType && type != kPartitionAType) {
        return false;
    }
    std::array<std::uint8_t, kSliceIdsBytes> bytes{};
    std::array<std::uint8_t, kSliceIdsBytes> rbsp{};
    const std::int32_t n =
        ReadWithinSize(*Stream, unit.Offset, bytes.data(),
                       static_cast<std::int32_t>(std::min<std::int64_t>(unit.Len, kSliceIdsBytes)),
                       Stream->Size());
    const std::int32_t skip = (unit.StartCodeWord == 1 ? 4 : 3) + 1;
    std::int32_t written = 0;
    if (n > skip) {
        Remove_emulation_prevention_three_bytes(bytes.data() + skip, n - skip, rbsp.data(),
                                                written);
    }
    std::uint32_t firstMb = 0;
    std::uint32_t pps = 0;
    return ReadSliceIds(rbsp.data(), written, firstMb, pps) && firstMb == 0;
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
