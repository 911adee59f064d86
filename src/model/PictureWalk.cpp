#include "model/PictureWalk.h"

#include "model/WalkContext.h"
#include "stream/UnitCursor.h"

void TPictureFeed::Tell(const TWalkUnit& unit) {
    const TNalUnitSpan& span = unit.Span;
    const std::int64_t bytes = span.PayloadEnd - span.Offset;
    if (!span.HasHeader) {
        FModel.Unit(bytes, false);
        return;
    }
    if (unit.HeldBack) {
        FHeldOffset = span.Offset;
        FHeldBytes = bytes;
        return;
    }
    if (unit.BeginsAccessUnit) {
        FAccessUnit = unit.BeganBefore ? FHeldOffset : span.Offset;
        FModel.BeginAccessUnit(FAccessUnit);
    }
    if (FHeldOffset >= 0) {
        FModel.Unit(FHeldBytes, false);
        FHeldOffset = -1;
    }
    const bool slice =
        unit.Type == kNalNonIdrSlice || unit.Type == kNalIdrSlice || unit.Type == kNalPartitionA;
    FModel.Unit(bytes, slice);
    if (unit.Type == kNalSei) {
        if (const auto count = RecoveryFrameCount(unit.Rbsp, unit.RbspSize)) {
            FModel.RecoveryPoint(*count);
        }
    }
    if (unit.Head != nullptr) {
        FModel.Slice(*unit.Head, *unit.Sps, unit.Pps);
    } else if (slice) {
        FModel.UnreadableSlice();
    }
}

void WalkPictures(FileStream& stream, TPictureModel& model) {
    TUnitCursor cursor(stream, 4 << 20, !stream.IsPipe());
    // From the file's first byte every set a slice uses has been met: nothing to look back for.
    TWalkContext walk(cursor, nullptr);
    walk.Begin(0);
    TWalkUnit unit;
    TPictureFeed feed(model);
    while (walk.Next(unit, WalkHeadsWithSei)) {
        feed.Tell(unit);
    }
    model.Finish();
}
