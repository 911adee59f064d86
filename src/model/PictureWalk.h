#pragma once

// Feeds the picture model from a walk over a whole stream, file or standard input, in
// fixed memory.

#include "model/PictureModel.h"
#include "stream/FileStream.h"

struct TWalkUnit;

// Tells a picture model the units of a walk one by one, each as the walk gives it.
class TPictureFeed {
  public:
    explicit TPictureFeed(TPictureModel& model) : FModel(model) {}
    void Tell(const TWalkUnit& unit);
    // The access unit the last unit told belongs to begins there (-1: none yet).
    std::int64_t AccessUnit() const { return FAccessUnit; }

  private:
    TPictureModel& FModel;
    // A prefix unit held back is told with the unit after it, which says where it goes.
    std::int64_t FHeldOffset = -1;
    std::int64_t FHeldBytes = 0;
    std::int64_t FAccessUnit = -1;
};

// Every access unit of stream, from its first byte, told to model, which is then finished.
void WalkPictures(FileStream& stream, TPictureModel& model);
