#include "model/PictureWalk.h"

#include "model/WalkContext.h"
#include "stream/UnitCursor.h"

void WalkPictures(FileStream& stream, TPictureModel& model) {
    TUnitCursor cursor(stream, 4 << 20, !stream.IsPipe());
    // From the file's first byte every set a slice uses has been met: nothing to look back for.
    TWalkContext walk(cursor, nullptr);
    walk.Begin(0);
    TWalkUnit unit;
    // A prefix unit held back is told with the unit after it, which says where it goes.
    std::int64_t heldOffset = -1;
    std::int64_t heldBytes = 0;
    while (walk.Next(unit, WalkHeadsWithSei)) {
        const TNalUnitSpan& span = unit.Span;
        const std::int64_t bytes = span.PayloadEnd - span.Offset;
        if (!span.HasHeader) {
            model.Unit(bytes, false);
            continue;
        }
        if (unit.HeldBack) {
            heldOffset = span.Offset;
            heldBytes = bytes;
            continue;
        }
        if (unit.BeginsAccessUnit) {
            model.BeginAccessUnit(unit.BeganBefore ? heldOffset : span.Offset);
        }
        if (heldOffset >= 0) {
            model.Unit(heldBytes, false);
            heldOffset = -1;
        }
        const bool slice =
            unit.Type == kNalNonIdrSlice || unit.Type == kNalIdrSlice || unit.Type == kNalPartitionA;
        model.Unit(bytes, slice);
        if (unit.Type == kNalSei) {
            if (const auto count = RecoveryFrameCount(unit.Rbsp, unit.RbspSize)) {
                model.RecoveryPoint(*count);
            }
        }
        if (unit.Head != nullptr) {
            model.Slice(*unit.Head, *unit.Sps, unit.Pps);
        } else if (slice) {
            model.UnreadableSlice();
        }
    }
    model.Finish();
}
