// The checks of a slice header's elements, with the parameter sets that govern it.

#include "stream/H264Utils.h"
#include "syntax/Checks.h"

#include <algorithm>

namespace {

const TRule kFirstMb("first-mb-in-slice-range", TSeverity::Error, "first_mb_in_slice",
                     "first_mb_in_slice must lie within the picture", "7.4.3");
const TRule kSliceType("slice-type-range", TSeverity::Error, "slice_type",
                       "slice_type must be at most 9", "7.4.3");
const TRule kIdrSliceType("idr-slice-type", TSeverity::Error, "slice_type",
                          "an IDR picture has only I or SI slices", "7.4.3");
const TRule kIdrFrameNum("idr-frame-num-zero", TSeverity::Error, "frame_num",
                         "frame_num must be 0 in an IDR picture", "7.4.3");
const TRule kIdrPicId("idr-pic-id-range", TSeverity::Error, "idr_pic_id",
                      "idr_pic_id must be at most 65535", "7.4.3");
const TRule kRedundantCount("redundant-pic-cnt-range", TSeverity::Error, "redundant_pic_cnt",
                            "redundant_pic_cnt must be at most 127", "7.4.3");
const TRule kSliceQp("slice-qp-range", TSeverity::Error, "slice_qp_delta",
                     "SliceQPY must be within -QpBdOffsetY to 51", "7.4.3");
const TRule kRefIdxActive("num-ref-idx-active-range", TSeverity::Error,
                          "num_ref_idx_l0_active_minus1",
                          "num_ref_idx_l0/l1_active_minus1 must be at most 15 in a frame, 31 in "
                          "a field",
                          "7.4.3");
const TRule kModificationIdc("modification-of-pic-nums-idc-range", TSeverity::Error,
                             "modification_of_pic_nums_idc",
                             "modification_of_pic_nums_idc must be at most 3", "7.4.3.1");
const TRule kMarkingOperation("memory-management-control-operation-range", TSeverity::Error,
                              "memory_management_control_operation",
                              "memory_management_control_operation must be at most 6",
                              "7.4.3.3");
const TRule kBProfile("profile-no-b-slices", TSeverity::Error, "slice_type",
                      "the Baseline profile has no B slices", "A.2.1");
const TRule kSwitchingProfile("profile-no-switching-slices", TSeverity::Error, "slice_type",
                              "only the Extended profile has SP and SI slices", "A.2.2");
const TRule kPartitionProfile("profile-no-data-partitioning", TSeverity::Error, "nal_unit_type",
                              "only the Extended profile has slice data partitions", "A.2.2");
const TRule kCavlcZeroWords("cabac-zero-words-cavlc", TSeverity::Error, "cabac_zero_word",
                            "zero words after the trailing bits are for CABAC slices only",
                            "7.4.2.10");

// The profiles that allow B slices, SP and SI slices, and data partitions, of those the
// check knows.
bool Baseline(const TSeqParameterSet& sps) {
    return sps.profile_idc == 66;
}
bool Extended(const TSeqParameterSet& sps) {
    return sps.profile_idc == 88;
}
bool Known(const TSeqParameterSet& sps) {
    return KnownProfile(sps.profile_idc);
}

} // namespace

void CheckSliceHead(const TSliceHead& head, const TPicParameterSet& pps,
                    const TSeqParameterSet& sps, TUnitProblems& problems) {
    const bool field = head.field_pic_flag != 0;
    const std::uint64_t frameHeight = (2 - std::uint64_t{sps.frame_mbs_only_flag != 0}) *
                                      (std::uint64_t{sps.pic_height_in_map_units_minus1} + 1);
    const std::uint64_t picSize =
        (std::uint64_t{sps.pic_width_in_mbs_minus1} + 1) * (frameHeight / (field ? 2 : 1));
    const std::uint64_t mbaff = sps.mb_adaptive_frame_field_flag != 0 && !field ? 2 : 1;
    problems.Expect(head.first_mb_in_slice * mbaff < picSize, kFirstMb, head.first_mb_in_slice);
    if (!problems.Expect(head.slice_type <= 9, kSliceType, head.slice_type)) {
        return;
    }
    const std::uint32_t kind = head.slice_type % 5; // P, B, I, SP, SI
    if (head.nal_unit_type == kNalIdrSlice) {
        problems.Expect(kind == 2 || kind == 4, kIdrSliceType, head.slice_type);
        problems.Expect(head.frame_num == 0, kIdrFrameNum, head.frame_num);
        problems.Expect(head.idr_pic_id <= 65535, kIdrPicId, head.idr_pic_id);
    }
    problems.Expect(head.redundant_pic_cnt <= 127, kRedundantCount, head.redundant_pic_cnt);
    // The lists' sizes count for the slices that have lists.
    const std::uint32_t maxIndex = field ? 31 : 15;
    if (kind != 2 && kind != 4) {
        const std::uint32_t l1 = kind == 1 ? head.num_ref_idx_l1_active_minus1 : 0;
        problems.Expect(std::max(head.num_ref_idx_l0_active_minus1, l1) <= maxIndex, kRefIdxActive,
                        std::max(head.num_ref_idx_l0_active_minus1, l1));
    }
    for (int list = 0; list < 2; ++list) {
        const std::uint32_t count = std::min<std::uint32_t>(head.modification_count[list], 32);
        for (std::uint32_t i = 0; i < count; ++i) {
            if (!problems.Expect(head.modifications[list][i].idc <= 3, kModificationIdc,
                                 head.modifications[list][i].idc)) {
                break;
            }
        }
    }
    const std::uint32_t markings = std::min<std::uint32_t>(head.marking_count, 66);
    for (std::uint32_t i = 0; i < markings; ++i) {
        if (!problems.Expect(head.markings[i].operation <= 6, kMarkingOperation,
                             head.markings[i].operation)) {
            break;
        }
    }
    const std::int64_t depthOffset = 6 * std::int64_t{sps.bit_depth_luma_minus8};
    const std::int64_t qp = 26 + std::int64_t{pps.pic_init_qp_minus26} + head.slice_qp_delta;
    problems.Expect(qp >= -depthOffset && qp <= 51, kSliceQp, head.slice_qp_delta);
    if (Baseline(sps)) {
        problems.Expect(kind != 1, kBProfile, head.slice_type);
    }
    if (Known(sps) && !Extended(sps)) {
        problems.Expect(kind != 3 && kind != 4, kSwitchingProfile, head.slice_type);
    }
}

void CheckUnitTypeForProfile(std::uint32_t nal_unit_type, const TSeqParameterSet& sps,
                             TUnitProblems& problems) {
    const bool partition = nal_unit_type >= kNalPartitionA && nal_unit_type <= kNalPartitionC;
    problems.Expect(!partition || !Known(sps) || Extended(sps), kPartitionProfile, nal_unit_type);
}

void CheckSliceTail(const std::uint8_t* payload, std::int32_t size, const TPicParameterSet& pps,
                    TUnitProblems& problems) {
    problems.Expect(pps.entropy_coding_mode_flag != 0 || TrailingZeroBytes(payload, size) == 0,
                    kCavlcZeroWords);
}
