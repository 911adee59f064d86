#pragma once

// The picture order count of each picture in decoding order: the one count the picture
// model, the decoder's picture numbering and the views share.

#include "syntax/AccessUnit.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <cstdint>

struct TPictureCount {
    std::int64_t Top = 0;    // TopFieldOrderCnt (a bottom field: none, as Bottom)
    std::int64_t Bottom = 0; // BottomFieldOrderCnt (a top field: as Top)
    // The picture's own count: the smaller of a frame's two, a field's own.
    std::int64_t Poc = 0;
};

// Carries from one picture to the next what the three counting methods need,
// memory_management_control_operation 5 included. Starts as after an IDR picture.
class TPictureOrder {
  public:
    // The counts of the picture whose first slice is head. With an operation 5 in head, the
    // counts are those after it (relative to the picture itself), as later pictures see them.
    TPictureCount Next(const TSliceHead& head, const TSeqParameterSet& sps);
    // A frame the process for gaps in frame_num inserts: it moves frame_num on for the
    // counting methods that derive the count from it, and counts nothing itself.
    void Skipped(std::uint32_t frame_num, const TSeqParameterSet& sps);

  private:
    std::int64_t FrameNumOffset(const TSliceHead& head, const TSeqParameterSet& sps) const;

    std::int64_t FPrevMsb = 0;
    std::int64_t FPrevLsb = 0;
    std::int64_t FPrevFrameNumOffset = 0;
    std::uint32_t FPrevFrameNum = 0;
    bool FPrevMmco5 = false;
    bool FPrevMmco5Bottom = false;
    std::int64_t FPrevMmco5Top = 0;
};
