#include "model/PictureWalk.h"

#include "stream/UnitCursor.h"

#include <vector>

namespace {

// A slice's head and the parameter sets, as the rule keeps them; an SEI's first messages,
// where a recovery point comes.
TUnitWants PictureHeads(std::uint8_t header) {
    return NalUnitType(header) == kNalSei ? TUnitWants{kSliceHeaderBytes, false}
                                          : AccessUnitHeads(header);
}

} // namespace

void WalkPictures(FileStream& stream, TPictureModel& model) {
    TUnitCursor cursor(stream, 4 << 20, !stream.IsPipe());
    TAccessUnitRule rule;
    std::vector<std::uint8_t> rbsp(kParameterSetBytes);
    TNalUnitSpan span;
    // A prefix unit held back is told with the unit after it, which says where it goes.
    std::int64_t heldOffset = -1;
    std::int64_t heldBytes = 0;
    while (cursor.Next(span, PictureHeads, nullptr, 0)) {
        const std::int64_t bytes = span.PayloadEnd - span.Offset;
        if (!span.HasHeader) {
            model.Unit(bytes, false);
            continue;
        }
        const std::vector<std::uint8_t>& head = cursor.Head();
        std::int32_t n = 0;
        if (!head.empty()) {
            Remove_emulation_prevention_three_bytes(head.data(), static_cast<std::int32_t>(head.size()),
                                                    rbsp.data(), n);
        }
        const bool begins = rule.Next(span.Header, rbsp.data(), n);
        if (rule.HeldBack()) {
            heldOffset = span.Offset;
            heldBytes = bytes;
            continue;
        }
        if (begins) {
            model.BeginAccessUnit(rule.BeganBefore() ? heldOffset : span.Offset);
        }
        if (heldOffset >= 0) {
            model.Unit(heldBytes, false);
            heldOffset = -1;
        }
        const std::uint32_t type = NalUnitType(span.Header);
        const bool slice = type == kNalNonIdrSlice || type == kNalIdrSlice || type == kNalPartitionA;
        model.Unit(bytes, slice);
        if (type == kNalSei) {
            if (const auto count = RecoveryFrameCount(rbsp.data(), n)) {
                model.RecoveryPoint(*count);
            }
        }
        if (rule.HeadRead()) {
            model.Slice(rule.Head(), *rule.Sps(), rule.Sets().Pps(rule.Head().pic_parameter_set_id));
        } else if (slice) {
            model.UnreadableSlice();
        }
    }
    model.Finish();
}
