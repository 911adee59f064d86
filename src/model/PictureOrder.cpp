#include "model/PictureOrder.h"

#include "stream/H264Utils.h"

#include <algorithm>

namespace {

std::int64_t MaxFrameNum(const TSeqParameterSet& sps) {
    return std::int64_t{1} << ((sps.log2_max_frame_num_minus4 + 4) & 31);
}

} // namespace

std::int64_t TPictureOrder::FrameNumOffset(const TSliceHead& head,
                                           const TSeqParameterSet& sps) const {
    if (head.nal_unit_type == kNalIdrSlice) {
        return 0;
    }
    const std::int64_t prevOffset = FPrevMmco5 ? 0 : FPrevFrameNumOffset;
    return FPrevFrameNum > head.frame_num ? prevOffset + MaxFrameNum(sps) : prevOffset;
}

void TPictureOrder::Skipped(std::uint32_t frame_num, const TSeqParameterSet& sps) {
    if (sps.pic_order_cnt_type == 0) {
        return; // the count comes from the slices alone
    }
    TSliceHead head;
    head.frame_num = frame_num;
    FPrevFrameNumOffset = FrameNumOffset(head, sps);
    FPrevFrameNum = frame_num;
    FPrevMmco5 = false;
}

TPictureCount TPictureOrder::Next(const TSliceHead& head, const TSeqParameterSet& sps) {
    const bool idr = head.nal_unit_type == kNalIdrSlice;
    const bool reference = head.nal_ref_idc != 0;
    const bool field = head.field_pic_flag != 0;
    const bool bottomField = field && head.bottom_field_flag != 0;
    std::int64_t top = 0;
    std::int64_t bottom = 0;
    std::uint32_t frameNum = head.frame_num;
    if (sps.pic_order_cnt_type == 0) {
        if (idr) {
            FPrevMsb = 0;
            FPrevLsb = 0;
        } else if (FPrevMmco5) {
            // After memory_management_control_operation 5 counting begins again from the
            // top field's count of that picture, as it stood after the operation.
            FPrevMsb = 0;
            FPrevLsb = FPrevMmco5Bottom ? 0 : FPrevMmco5Top;
        }
        const std::int64_t maxLsb = std::int64_t{1}
                                    << ((sps.log2_max_pic_order_cnt_lsb_minus4 + 4) & 31);
        const std::int64_t lsb = head.pic_order_cnt_lsb;
        std::int64_t msb = FPrevMsb;
        if (lsb < FPrevLsb && FPrevLsb - lsb >= maxLsb / 2) {
            msb = FPrevMsb + maxLsb;
        } else if (lsb > FPrevLsb && lsb - FPrevLsb > maxLsb / 2) {
            msb = FPrevMsb - maxLsb;
        }
        top = msb + lsb;
        bottom = field ? msb + lsb : top + head.delta_pic_order_cnt_bottom;
        if (reference) {
            FPrevMsb = msb;
            FPrevLsb = lsb;
        }
    } else {
        const std::int64_t frameNumOffset = FrameNumOffset(head, sps);
        if (sps.pic_order_cnt_type == 1) {
            const std::int32_t cycle = SpsPresence::OffsetForRefFrameHeld(sps);
            std::int64_t absFrameNum = cycle != 0 ? frameNumOffset + head.frame_num : 0;
            if (!reference && absFrameNum > 0) {
                --absFrameNum;
            }
            std::int64_t expected = 0;
            if (absFrameNum > 0) {
                std::int64_t perCycle = 0;
                for (std::int32_t i = 0; i < cycle; ++i) {
                    perCycle += sps.offset_for_ref_frame[i];
                }
                const std::int64_t cycles = (absFrameNum - 1) / cycle;
                const std::int64_t inCycle = (absFrameNum - 1) % cycle;
                expected = cycles * perCycle;
                for (std::int64_t i = 0; i <= inCycle; ++i) {
                    expected += sps.offset_for_ref_frame[i];
                }
            }
            if (!reference) {
                expected += sps.offset_for_non_ref_pic;
            }
            top = expected + head.delta_pic_order_cnt[0];
            bottom =
                field ? expected + sps.offset_for_top_to_bottom_field + head.delta_pic_order_cnt[0]
                      : top + sps.offset_for_top_to_bottom_field + head.delta_pic_order_cnt[1];
        } else {
            std::int64_t count = 0;
            if (!idr) {
                count = 2 * (frameNumOffset + head.frame_num) - (reference ? 0 : 1);
            }
            top = count;
            bottom = count;
        }
        FPrevFrameNumOffset = frameNumOffset;
    }
    if (field) {
        // A field has one count: its own.
        (bottomField ? top : bottom) = bottomField ? bottom : top;
    }
    std::int64_t order = !field ? std::min(top, bottom) : (bottomField ? bottom : top);
    FPrevMmco5 = head.mmco5;
    if (head.mmco5) {
        // The picture's own counts become relative to themselves: a frame counts 0.
        top -= order;
        bottom -= order;
        FPrevMmco5Top = top;
        FPrevMmco5Bottom = bottomField;
        order = 0;
        frameNum = 0;
    }
    FPrevFrameNum = frameNum;
    return {top, bottom, order};
}
