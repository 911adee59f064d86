#include "decode/Macroblocks.h"

#include "stream/H264Utils.h"
#include "syntax/BitStream4.h"
#include "syntax/ParameterSetFinder.h"

#include <algorithm>

namespace {

bool IsField(TSliceLayout layout) {
    return layout == TSliceLayout::TopField || layout == TSliceLayout::BottomField;
}

// The frame macroblocks of unit `unit` of a slice layout: one for a frame, two for a pair,
// one frame row in two for a field.
template <typename TVisit>
void VisitUnit(const TMacroblockMap& map, TSliceLayout layout, std::uint32_t unit, TVisit visit) {
    const auto width = static_cast<std::uint32_t>(map.WidthMbs);
    const int x = static_cast<int>(unit % width);
    const auto row = static_cast<int>(unit / width);
    switch (layout) {
    case TSliceLayout::Frame:
        visit(x, row);
        break;
    case TSliceLayout::Pairs:
        visit(x, 2 * row);
        visit(x, 2 * row + 1);
        break;
    case TSliceLayout::TopField:
        visit(x, 2 * row);
        break;
    case TSliceLayout::BottomField:
        visit(x, 2 * row + 1);
        break;
    }
}

std::uint32_t UnitsOf(const TMacroblockMap& map, TSliceLayout layout) {
    const auto all = static_cast<std::uint32_t>(map.WidthMbs * map.HeightMbs);
    return layout == TSliceLayout::Frame ? all : all / 2;
}

} // namespace

void AssignSlices(const std::vector<TSliceStart>& starts, TMacroblockMap& map) {
    map.SliceCount = static_cast<int>(starts.size());
    if (map.WidthMbs <= 0) {
        return;
    }
    for (std::size_t i = 0; i < starts.size(); ++i) {
        const TSliceStart& start = starts[i];
        // The slice ends where the nearest later start of the same field begins: slices may
        // come in any order.
        std::uint32_t end = UnitsOf(map, start.Layout);
        for (const TSliceStart& other : starts) {
            if (other.Layout == start.Layout && other.FirstMb > start.FirstMb) {
                end = std::min(end, other.FirstMb);
            }
        }
        for (std::uint32_t unit = start.FirstMb; unit < end; ++unit) {
            VisitUnit(map, start.Layout, unit, [&](int x, int y) {
                if (y < map.HeightMbs) {
                    map.Mbs[static_cast<std::size_t>(y * map.WidthMbs + x)].Slice =
                        static_cast<std::int32_t>(i);
                }
            });
        }
    }
}

bool JoinFields(std::vector<TSliceStart>& first, const std::vector<TSliceStart>& second) {
    if (first.empty() || second.empty() || !IsField(first.front().Layout) ||
        !IsField(second.front().Layout) || first.front().Layout == second.front().Layout) {
        return false;
    }
    first.insert(first.end(), second.begin(), second.end());
    return true;
}

void TSliceStartReader::Reset() {
    FSets.LookBackFrom(0);
}

void TSliceStartReader::Read(const std::uint8_t* data, std::size_t size,
                             std::vector<TSliceStart>& starts) {
    starts.clear();
    const auto available = static_cast<std::int64_t>(size);
    std::int64_t at = FindStartCode(data, available, 0, available);
    while (at >= 0) {
        const int startCode = StartCodeLength(data + at, available - at);
        const std::int64_t next = FindStartCode(data, available, at + startCode, available);
        const std::int64_t end = next >= 0 ? next : available;
        ReadUnit(data + at + startCode, end - at - startCode, starts);
        at = next;
    }
}

void TSliceStartReader::ReadUnit(const std::uint8_t* unit, std::int64_t size,
                                 std::vector<TSliceStart>& starts) {
    if (size < 2) {
        return;
    }
    const std::uint8_t header = unit[0];
    const std::uint32_t type = NalUnitType(header);
    const bool slice = type == kNalNonIdrSlice || type == kNalIdrSlice || type == kNalPartitionA;
    if (!slice && type != kNalSps && type != kNalPps) {
        return;
    }
    // A slice's header lies in its first bytes; a parameter set is short.
    const auto length = static_cast<std::int32_t>(
        std::min<std::int64_t>(size - 1, slice ? kSliceHeaderBytes : 65536));
    FPayload.resize(static_cast<std::size_t>(length));
    std::int32_t written = 0;
    if (!Remove_emulation_prevention_three_bytes(unit + 1, length, FPayload.data(), written)) {
        return;
    }
    if (type == kNalSps || type == kNalPps) {
        FSets.Learn(header, FPayload.data(), written, 0);
        return;
    }
    TSliceHead head;
    const TSeqParameterSet* sps = nullptr;
    if (!ReadSliceHead(FPayload.data(), written, header, FSets, head, sps)) {
        return;
    }
    TSliceStart start{head.first_mb_in_slice, TSliceLayout::Frame};
    if (head.field_pic_flag != 0) {
        start.Layout =
            head.bottom_field_flag != 0 ? TSliceLayout::BottomField : TSliceLayout::TopField;
    } else if (sps->mb_adaptive_frame_field_flag != 0) {
        start.Layout = TSliceLayout::Pairs;
    }
    starts.push_back(start);
}
