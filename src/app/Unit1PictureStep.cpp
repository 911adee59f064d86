// TForm1: Left and Right in the picture pane select the previous or next picture's first
// unit in the list, turning pages as needed.

#include "app/Unit1.h"
#include "core/Guard.h"
#include "stream/FileStream.h"
#include "stream/H264Utils.h"
#include "syntax/AccessUnit.h"
#include "syntax/ParameterSetFinder.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace {

// Pages turned looking for a picture before giving up: far enough for any GOP's units.
constexpr int kPictureStepPages = 16;

bool IsSlice(std::uint32_t type) {
    return type == kNalNonIdrSlice || type == kNalIdrSlice || type == kNalPartitionA;
}

bool OpensAccessUnit(std::uint32_t type) {
    return (type >= kNalSei && type <= kNalDelimiter) || (type >= kNalPrefix && type <= 18);
}

} // namespace

// The payload of the unit in row index, without emulation prevention: as much as a slice
// header needs.
std::vector<std::uint8_t> TForm1::SliceHeaderBytes(int index) {
    const TNalUnitLocator& unit = Locators[static_cast<std::size_t>(index)];
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kSliceHeaderBytes));
    const std::int32_t n = ReadWithinSize(
        *Stream, unit.Offset, bytes.data(),
        static_cast<std::int32_t>(std::min<std::int64_t>(unit.Len, kSliceHeaderBytes)),
        Stream->Size());
    const std::int32_t skip = (unit.StartCodeWord == 1 ? 4 : 3) + 1;
    std::vector<std::uint8_t> rbsp(bytes.size());
    std::int32_t written = 0;
    if (n > skip) {
        Remove_emulation_prevention_three_bytes(bytes.data() + skip, n - skip, rbsp.data(),
                                                written);
    }
    rbsp.resize(static_cast<std::size_t>(written));
    return rbsp;
}

// The access-unit rule on the row and the slice before it on the page: a slice after a unit
// that opens an access unit, or one whose header differs from the slice before it as the
// rule compares them. With no slice before it on the page, or headers that cannot be read,
// the first macroblock tells.
bool TForm1::BeginsPicture(int index) {
    const std::uint32_t type = NalUnitType(Locators[static_cast<std::size_t>(index)].NalHeader);
    if (!IsSlice(type)) {
        return false;
    }
    int previous = index - 1;
    while (previous >= 0 &&
           !IsSlice(NalUnitType(Locators[static_cast<std::size_t>(previous)].NalHeader))) {
        if (OpensAccessUnit(NalUnitType(Locators[static_cast<std::size_t>(previous)].NalHeader))) {
            return true;
        }
        --previous;
    }
    if (!FParameterSets) {
        FParameterSets = std::make_unique<TParameterSetFinder>(*Stream);
    }
    const std::vector<std::uint8_t> rbsp = SliceHeaderBytes(index);
    const auto size = static_cast<std::int32_t>(rbsp.size());
    const std::uint8_t header = Locators[static_cast<std::size_t>(index)].NalHeader;
    TSliceHead head;
    TSliceHead before;
    const TSeqParameterSet* sps = nullptr;
    const TSeqParameterSet* spsBefore = nullptr;
    if (previous >= 0) {
        const std::vector<std::uint8_t> earlier = SliceHeaderBytes(previous);
        TGoverningSets setsBefore(*FParameterSets,
                                  Locators[static_cast<std::size_t>(previous)].Offset);
        if (ReadSliceHead(earlier.data(), static_cast<std::int32_t>(earlier.size()),
                          Locators[static_cast<std::size_t>(previous)].NalHeader, setsBefore,
                          before, spsBefore)) {
            TGoverningSets sets(*FParameterSets, Locators[static_cast<std::size_t>(index)].Offset);
            if (ReadSliceHead(rbsp.data(), size, header, sets, head, sps)) {
                return head.redundant_pic_cnt == 0 && BeginsNewPicture(before, head, *sps);
            }
        }
    }
    const std::optional<std::uint32_t> firstMb = ReadFirstMbInSlice(rbsp.data(), size);
    return firstMb && *firstMb == 0;
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
