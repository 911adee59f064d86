#include "decode/AccessUnitRules.h"

#include "syntax/BitStream4.h"

#include <algorithm>

namespace {

constexpr std::uint32_t kRecoveryPointPayload = 6;

bool IsIdr(const TSliceHead& head) {
    return head.nal_unit_type == kIdrSliceType;
}

// The old name of separate_colour_plane_flag is what the record keeps.
bool SeparateColourPlanes(const TSeqParameterSet& sps) {
    return SpsPresence::ResidualColourTransform(sps) && sps.residual_colour_transform_flag != 0;
}

std::int64_t MaxFrameNum(const TSeqParameterSet& sps) {
    return std::int64_t{1} << ((sps.log2_max_frame_num_minus4 + 4) & 31);
}

} // namespace

TUnitRole RoleOf(std::uint32_t nal_unit_type) {
    switch (nal_unit_type) {
    case kNonIdrSliceType:
    case kPartitionAType:
    case kIdrSliceType:
        return TUnitRole::Slice;
    case 3:
    case 4:
        return TUnitRole::SlicePart;
    default:
        break;
    }
    if ((nal_unit_type >= 6 && nal_unit_type <= 9) ||
        (nal_unit_type >= 13 && nal_unit_type <= 18)) {
        return TUnitRole::BeforePicture;
    }
    return TUnitRole::AfterPicture;
}

bool ReadSliceIds(const std::uint8_t* rbsp, std::int32_t size, std::uint32_t& first_mb_in_slice,
                  std::uint32_t& pic_parameter_set_id) {
    TBitStream4 reader;
    if (reader.SetData(rbsp, size) != kStatusOk) {
        return false;
    }
    const std::uint32_t first = reader.ReadUE();
    reader.ReadUE(); // slice_type
    const std::uint32_t pps = reader.ReadUE();
    if (reader.Error() != 0) {
        return false;
    }
    first_mb_in_slice = first;
    pic_parameter_set_id = pps;
    return true;
}

bool ReadSliceHead(const std::uint8_t* rbsp, std::int32_t size, std::uint8_t header,
                   const TSeqParameterSet& sps, const TPicParameterSet& pps, TSliceHead& head) {
    TBitStream4 reader;
    if (reader.SetData(rbsp, size) != kStatusOk) {
        return false;
    }
    TSliceHead h;
    h.nal_unit_type = header & 31u;
    h.nal_ref_idc = (header >> 5) & 3u;
    h.first_mb_in_slice = reader.ReadUE();
    h.slice_type = reader.ReadUE();
    h.pic_parameter_set_id = reader.ReadUE();
    if (SeparateColourPlanes(sps)) {
        reader.ReadBits(2); // colour_plane_id
    }
    h.frame_num = reader.ReadBits(static_cast<int>((sps.log2_max_frame_num_minus4 + 4) & 31));
    if (sps.frame_mbs_only_flag == 0) {
        h.field_pic_flag = reader.ReadBit();
        if (h.field_pic_flag != 0) {
            h.bottom_field_flag = reader.ReadBit();
        }
    }
    if (IsIdr(h)) {
        h.idr_pic_id = reader.ReadUE();
    }
    const bool bottomInFrame = pps.pic_order_present_flag != 0 && h.field_pic_flag == 0;
    if (sps.pic_order_cnt_type == 0) {
        h.pic_order_cnt_lsb =
            reader.ReadBits(static_cast<int>((sps.log2_max_pic_order_cnt_lsb_minus4 + 4) & 31));
        if (bottomInFrame) {
            h.delta_pic_order_cnt_bottom = reader.ReadSE();
        }
    }
    if (sps.pic_order_cnt_type == 1 && sps.delta_pic_order_always_zero_flag == 0) {
        h.delta_pic_order_cnt[0] = reader.ReadSE();
        if (bottomInFrame) {
            h.delta_pic_order_cnt[1] = reader.ReadSE();
        }
    }
    if (pps.redundant_pic_cnt_present_flag != 0) {
        h.redundant_pic_cnt = reader.ReadUE();
    }
    if (reader.Error() != 0) {
        return false;
    }
    head = h;
    return true;
}

bool BeginsNewPicture(const TSliceHead& previous, const TSliceHead& next,
                      const TSeqParameterSet& sps) {
    if (next.redundant_pic_cnt != 0) {
        return false; // a redundant picture travels with its primary one
    }
    const bool refDiffers = (previous.nal_ref_idc == 0) != (next.nal_ref_idc == 0);
    const bool pocDiffers =
        (sps.pic_order_cnt_type == 0 &&
         (previous.pic_order_cnt_lsb != next.pic_order_cnt_lsb ||
          previous.delta_pic_order_cnt_bottom != next.delta_pic_order_cnt_bottom)) ||
        (sps.pic_order_cnt_type == 1 &&
         (previous.delta_pic_order_cnt[0] != next.delta_pic_order_cnt[0] ||
          previous.delta_pic_order_cnt[1] != next.delta_pic_order_cnt[1]));
    return previous.frame_num != next.frame_num ||
           previous.pic_parameter_set_id != next.pic_parameter_set_id ||
           previous.field_pic_flag != next.field_pic_flag ||
           previous.bottom_field_flag != next.bottom_field_flag || refDiffers || pocDiffers ||
           IsIdr(previous) != IsIdr(next) ||
           (IsIdr(previous) && IsIdr(next) && previous.idr_pic_id != next.idr_pic_id);
}

bool HoldsRecoveryPoint(const std::uint8_t* rbsp, std::int32_t size) {
    std::int32_t at = 0;
    // Each message: its type and size, each as a run of 0xFF bytes and a last byte, then
    // its payload. The trailing bits (0x80) end the list.
    while (at < size && !(at == size - 1 && rbsp[at] == 0x80)) {
        std::uint32_t values[2] = {0, 0};
        for (std::uint32_t& value : values) {
            while (at < size && rbsp[at] == 0xFF) {
                value += 255;
                ++at;
            }
            if (at >= size) {
                return false;
            }
            value += rbsp[at++];
        }
        if (values[0] == kRecoveryPointPayload) {
            return true;
        }
        if (values[1] > static_cast<std::uint32_t>(size - at)) {
            return false;
        }
        at += static_cast<std::int32_t>(values[1]);
    }
    return false;
}

std::int32_t TPictureOrder::Next(const TSliceHead& head, const TSeqParameterSet& sps) {
    // A picture after a memory_management_control_operation 5 counts as after an IDR
    // picture; that operation is not read here, so such a picture's count stays relative
    // to the counting before it (the decoded samples do not depend on it).
    const bool idr = IsIdr(head);
    const bool reference = head.nal_ref_idc != 0;
    const bool field = head.field_pic_flag != 0;
    const bool bottomField = field && head.bottom_field_flag != 0;
    std::int64_t top = 0;
    std::int64_t bottom = 0;
    if (sps.pic_order_cnt_type == 0) {
        if (idr) {
            FPrevMsb = 0;
            FPrevLsb = 0;
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
        std::int64_t frameNumOffset = 0;
        if (!idr) {
            frameNumOffset = FPrevFrameNum > head.frame_num ? FPrevFrameNumOffset + MaxFrameNum(sps)
                                                            : FPrevFrameNumOffset;
        }
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
            if (!field) {
                top = expected + head.delta_pic_order_cnt[0];
                bottom = top + sps.offset_for_top_to_bottom_field + head.delta_pic_order_cnt[1];
            } else {
                top = expected + head.delta_pic_order_cnt[0];
                bottom =
                    expected + sps.offset_for_top_to_bottom_field + head.delta_pic_order_cnt[0];
            }
        } else {
            std::int64_t count = 0;
            if (!idr) {
                count = 2 * (frameNumOffset + head.frame_num) - (reference ? 0 : 1);
            }
            top = count;
            bottom = count;
        }
        FPrevFrameNumOffset = frameNumOffset;
        FPrevFrameNum = head.frame_num;
    }
    const std::int64_t order = !field ? std::min(top, bottom) : (bottomField ? bottom : top);
    return static_cast<std::int32_t>(order);
}

const char* SliceTypeName(std::uint32_t slice_type) {
    static const char* const kNames[] = {"P", "B", "I", "SP", "SI"};
    return kNames[slice_type % 5];
}
