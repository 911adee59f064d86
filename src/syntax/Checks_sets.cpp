// The checks of the parameter sets: each element's range, what the profile allows, and
// the VUI and HRD with them.

#include "syntax/Checks.h"

#include <algorithm>

namespace {

// The profiles with their own constraints.
constexpr std::uint32_t kBaseline = 66;
constexpr std::uint32_t kMain = 77;
constexpr std::uint32_t kExtended = 88;
constexpr std::uint32_t kHigh = 100;
constexpr std::uint32_t kHigh10 = 110;
constexpr std::uint32_t kHigh422 = 122;
constexpr std::uint32_t kHigh444 = 244;
constexpr std::uint32_t kCavlc444 = 44;

const TRule kProfile("profile-idc-unknown", TSeverity::Warning, "profile_idc",
                     "profile_idc names no profile", "A.2");
const TRule kReservedZero("reserved-zero-2bits", TSeverity::Warning, "reserved_zero_2bits",
                          "reserved_zero_2bits must be 0", "7.4.2.1.1");
const TRule kSpsId("sps-id-range", TSeverity::Error, "seq_parameter_set_id",
                   "seq_parameter_set_id must be at most 31", "7.4.2.1.1");
const TRule kChromaFormat("chroma-format-idc-range", TSeverity::Error, "chroma_format_idc",
                          "chroma_format_idc must be at most 3", "7.4.2.1.1");
const TRule kLumaDepth("bit-depth-luma-range", TSeverity::Error, "bit_depth_luma_minus8",
                       "bit_depth_luma_minus8 must be at most 6", "7.4.2.1.1");
const TRule kChromaDepth("bit-depth-chroma-range", TSeverity::Error, "bit_depth_chroma_minus8",
                         "bit_depth_chroma_minus8 must be at most 6", "7.4.2.1.1");
const TRule kFrameNumBits("log2-max-frame-num-range", TSeverity::Error,
                          "log2_max_frame_num_minus4",
                          "log2_max_frame_num_minus4 must be at most 12", "7.4.2.1.1");
const TRule kPocType("pic-order-cnt-type-range", TSeverity::Error, "pic_order_cnt_type",
                     "pic_order_cnt_type must be at most 2", "7.4.2.1.1");
const TRule kPocLsbBits("log2-max-poc-lsb-range", TSeverity::Error,
                        "log2_max_pic_order_cnt_lsb_minus4",
                        "log2_max_pic_order_cnt_lsb_minus4 must be at most 12", "7.4.2.1.1");
const TRule kPocCycle("poc-cycle-range", TSeverity::Error,
                      "num_ref_frames_in_pic_order_cnt_cycle",
                      "num_ref_frames_in_pic_order_cnt_cycle must be at most 255", "7.4.2.1.1");
const TRule kDirect8x8("direct-8x8-inference-fields", TSeverity::Error,
                       "direct_8x8_inference_flag",
                       "direct_8x8_inference_flag must be 1 when frame_mbs_only_flag is 0",
                       "7.4.2.1.1");
const TRule kCrop("frame-crop-range", TSeverity::Error, "frame_cropping_flag",
                  "the cropping offsets leave no picture", "7.4.2.1.1");
const TRule kAspectRatio("aspect-ratio-idc-reserved", TSeverity::Warning, "aspect_ratio_idc",
                         "aspect_ratio_idc 17 to 254 is reserved", "E.2.1");
const TRule kVideoFormat("video-format-reserved", TSeverity::Warning, "video_format",
                         "video_format 6 and 7 are reserved", "E.2.1");
const TRule kChromaLocation("chroma-sample-loc-range", TSeverity::Error,
                            "chroma_sample_loc_type_top_field",
                            "chroma_sample_loc_type_top_field and _bottom_field must be at most 5",
                            "E.2.1");
const TRule kTiming("timing-zero", TSeverity::Error, "num_units_in_tick",
                    "num_units_in_tick and time_scale must be greater than 0", "E.2.1");
const TRule kDenominators("max-bytes-bits-denom-range", TSeverity::Error,
                          "max_bytes_per_pic_denom",
                          "max_bytes_per_pic_denom and max_bits_per_mb_denom must be at most 16",
                          "E.2.1");
const TRule kMvLength("log2-max-mv-length-range", TSeverity::Error,
                      "log2_max_mv_length_horizontal",
                      "log2_max_mv_length_horizontal and _vertical must be at most 16", "E.2.1");
const TRule kReorder("num-reorder-frames-range", TSeverity::Error, "num_reorder_frames",
                     "num_reorder_frames must be at most max_dec_frame_buffering", "E.2.1");
const TRule kDecBuffering("max-dec-frame-buffering-range", TSeverity::Error,
                          "max_dec_frame_buffering",
                          "max_dec_frame_buffering must be at least max_num_ref_frames", "E.2.1");
const TRule kCpbCount("cpb-cnt-range", TSeverity::Error, "cpb_cnt_minus1",
                      "cpb_cnt_minus1 must be at most 31", "E.2.2");
const TRule kBitRateOrder("bit-rate-value-order", TSeverity::Error, "bit_rate_value_minus1",
                          "each bit_rate_value_minus1 must be greater than the one before",
                          "E.2.2");
const TRule kCpbSizeOrder("cpb-size-value-order", TSeverity::Error, "cpb_size_value_minus1",
                          "each cpb_size_value_minus1 must be at most the one before", "E.2.2");
const TRule kValueMax("hrd-value-range", TSeverity::Error, "bit_rate_value_minus1",
                      "bit_rate_value_minus1 and cpb_size_value_minus1 must be below 2^32 - 1",
                      "E.2.2");
const TRule kInterlaceProfile("profile-no-interlace", TSeverity::Error, "frame_mbs_only_flag",
                              "the Baseline profile has no interlaced coding", "A.2.1");
const TRule kChromaProfile("profile-chroma-format", TSeverity::Error, "chroma_format_idc",
                           "the profile does not allow this chroma_format_idc", "A.2.4");
const TRule kDepthProfile("profile-bit-depth", TSeverity::Error, "bit_depth_luma_minus8",
                          "the profile does not allow this bit depth", "A.2.4");
const TRule kBypassProfile("profile-transform-bypass", TSeverity::Error,
                           "qpprime_y_zero_transform_bypass_flag",
                           "only the High 4:4:4 Predictive profile has the transform bypass",
                           "A.2.7");
const TRule kExtendedDirect("profile-direct-8x8-inference", TSeverity::Error,
                            "direct_8x8_inference_flag",
                            "the Extended profile needs direct_8x8_inference_flag 1", "A.2.3");

const TRule kPpsId("pps-id-range", TSeverity::Error, "pic_parameter_set_id",
                   "pic_parameter_set_id must be at most 255", "7.4.2.2");
const TRule kPpsSpsId("pps-sps-id-range", TSeverity::Error, "seq_parameter_set_id",
                      "seq_parameter_set_id must be at most 31", "7.4.2.2");
const TRule kSliceGroups("num-slice-groups-range", TSeverity::Error, "num_slice_groups_minus1",
                         "num_slice_groups_minus1 must be at most 7", "7.4.2.2");
const TRule kMapType("slice-group-map-type-range", TSeverity::Error, "slice_group_map_type",
                     "slice_group_map_type must be at most 6", "7.4.2.2");
const TRule kRefIdxDefault("num-ref-idx-default-range", TSeverity::Error,
                           "num_ref_idx_l0_default_active_minus1",
                           "num_ref_idx_l0/l1_default_active_minus1 must be at most 31",
                           "7.4.2.2");
const TRule kBipredIdc("weighted-bipred-idc-range", TSeverity::Error, "weighted_bipred_idc",
                       "weighted_bipred_idc must be at most 2", "7.4.2.2");
const TRule kInitQp("pic-init-qp-range", TSeverity::Error, "pic_init_qp_minus26",
                    "pic_init_qp_minus26 must be within -(26 + QpBdOffsetY) to 25", "7.4.2.2");
const TRule kInitQs("pic-init-qs-range", TSeverity::Error, "pic_init_qs_minus26",
                    "pic_init_qs_minus26 must be within -26 to 25", "7.4.2.2");
const TRule kChromaQpOffset("chroma-qp-index-offset-range", TSeverity::Error,
                            "chroma_qp_index_offset",
                            "chroma_qp_index_offset and second_chroma_qp_index_offset must be "
                            "within -12 to 12",
                            "7.4.2.2");
const TRule kCabacProfile("profile-no-cabac", TSeverity::Error, "entropy_coding_mode_flag",
                          "the profile has no CABAC", "A.2.1");
const TRule kWeightedProfile("profile-no-weighted-prediction", TSeverity::Error,
                             "weighted_pred_flag",
                             "the Baseline profile has no weighted prediction", "A.2.1");
const TRule kSliceGroupProfile("profile-no-slice-groups", TSeverity::Error,
                               "num_slice_groups_minus1", "the profile has no slice groups",
                               "A.2.2");
const TRule kRedundantProfile("profile-no-redundant-pictures", TSeverity::Error,
                              "redundant_pic_cnt_present_flag",
                              "the profile has no redundant pictures", "A.2.2");
const TRule kTailProfile("profile-no-8x8-transform", TSeverity::Error, "transform_8x8_mode_flag",
                         "the profile has no 8x8 transform or picture scaling matrix", "A.2.2");

bool IsHighFamily(std::uint32_t profile) {
    return profile == kHigh || profile == kHigh10 || profile == kHigh422 ||
           profile == kHigh444 || profile == kCavlc444;
}

void CheckHrd(const THrdParameters& hrd, TUnitProblems& problems) {
    problems.Expect(hrd.cpb_cnt_minus1 <= 31, kCpbCount, hrd.cpb_cnt_minus1);
    const std::int32_t held = HrdCpbEntriesHeld(hrd);
    for (std::int32_t i = 0; i < held; ++i) {
        if (!problems.Expect(hrd.bit_rate_value_minus1[i] != 0xFFFFFFFFu &&
                                 hrd.cpb_size_value_minus1[i] != 0xFFFFFFFFu,
                             kValueMax)) {
            return;
        }
        if (i > 0 &&
            (!problems.Expect(hrd.bit_rate_value_minus1[i] > hrd.bit_rate_value_minus1[i - 1],
                              kBitRateOrder, hrd.bit_rate_value_minus1[i]) ||
             !problems.Expect(hrd.cpb_size_value_minus1[i] <= hrd.cpb_size_value_minus1[i - 1],
                              kCpbSizeOrder, hrd.cpb_size_value_minus1[i]))) {
            return;
        }
    }
}

void CheckVui(const TSeqParameterSet& sps, TUnitProblems& problems) {
    const TVuiParameters& vui = sps.vui_parameters;
    if (VuiPresence::AspectRatioIdc(vui)) {
        problems.Expect(vui.aspect_ratio_idc <= 16 || vui.aspect_ratio_idc == 255, kAspectRatio,
                        vui.aspect_ratio_idc);
    }
    if (VuiPresence::VideoSignalType(vui)) {
        problems.Expect(vui.video_format <= 5, kVideoFormat, vui.video_format);
    }
    if (VuiPresence::ChromaLocation(vui)) {
        problems.Expect(std::max(vui.chroma_sample_loc_type_top_field,
                                 vui.chroma_sample_loc_type_bottom_field) <= 5,
                        kChromaLocation,
                        std::max(vui.chroma_sample_loc_type_top_field,
                                 vui.chroma_sample_loc_type_bottom_field));
    }
    if (VuiPresence::Timing(vui)) {
        problems.Expect(vui.num_units_in_tick != 0 && vui.time_scale != 0, kTiming);
    }
    if (VuiPresence::NalHrd(vui)) {
        CheckHrd(vui.nal_hrd_parameters, problems);
    }
    if (VuiPresence::VclHrd(vui)) {
        CheckHrd(vui.vcl_hrd_parameters, problems);
    }
    if (VuiPresence::BitstreamRestriction(vui)) {
        problems.Expect(std::max(vui.max_bytes_per_pic_denom, vui.max_bits_per_mb_denom) <= 16,
                        kDenominators);
        problems.Expect(
            std::max(vui.log2_max_mv_length_horizontal, vui.log2_max_mv_length_vertical) <= 16,
            kMvLength);
        problems.Expect(vui.num_reorder_frames <= vui.max_dec_frame_buffering, kReorder,
                        vui.num_reorder_frames);
        problems.Expect(vui.max_dec_frame_buffering >= sps.num_ref_frames, kDecBuffering,
                        vui.max_dec_frame_buffering);
    }
}

void CheckSpsProfile(const TSeqParameterSet& sps, TUnitProblems& problems) {
    const std::uint32_t profile = sps.profile_idc;
    if (!problems.Expect(KnownProfile(profile), kProfile, profile)) {
        return;
    }
    if (profile == kBaseline) {
        problems.Expect(sps.frame_mbs_only_flag == 1, kInterlaceProfile);
    }
    if (profile == kExtended) {
        problems.Expect(sps.direct_8x8_inference_flag == 1, kExtendedDirect);
    }
    if (!IsHighFamily(profile)) {
        return;
    }
    const std::uint32_t maxChroma = profile == kHigh || profile == kHigh10  ? 1
                                    : profile == kHigh422                 ? 2
                                                                          : 3;
    const std::uint32_t maxDepth = profile == kHigh ? 0 : profile == kHigh10 || profile == kHigh422 ? 2 : 6;
    // A value out of every profile's range is told once, by its own rule.
    problems.Expect(sps.chroma_format_idc > 3 || sps.chroma_format_idc <= maxChroma,
                    kChromaProfile, sps.chroma_format_idc);
    const std::uint32_t depth = std::max(sps.bit_depth_luma_minus8, sps.bit_depth_chroma_minus8);
    problems.Expect(depth > 6 || depth <= maxDepth, kDepthProfile, depth);
    problems.Expect(sps.qpprime_y_zero_transform_bypass_flag == 0 || profile == kHigh444,
                    kBypassProfile);
}

} // namespace

bool KnownProfile(std::uint32_t profile) {
    return profile == kBaseline || profile == kMain || profile == kExtended ||
           ProfileHasChromaBlock(profile);
}

void CheckSps(const TSeqParameterSet& sps, TUnitProblems& problems) {
    problems.Expect((sps.reserved_zero_4bits & 3u) == 0, kReservedZero, sps.reserved_zero_4bits & 3u);
    problems.Expect(sps.seq_parameter_set_id <= 31, kSpsId, sps.seq_parameter_set_id);
    const bool chromaInRange =
        problems.Expect(sps.chroma_format_idc <= 3, kChromaFormat, sps.chroma_format_idc);
    problems.Expect(sps.bit_depth_luma_minus8 <= 6, kLumaDepth, sps.bit_depth_luma_minus8);
    problems.Expect(sps.bit_depth_chroma_minus8 <= 6, kChromaDepth, sps.bit_depth_chroma_minus8);
    problems.Expect(sps.log2_max_frame_num_minus4 <= 12, kFrameNumBits,
                    sps.log2_max_frame_num_minus4);
    problems.Expect(sps.pic_order_cnt_type <= 2, kPocType, sps.pic_order_cnt_type);
    if (SpsPresence::PicOrderCntLsb(sps)) {
        problems.Expect(sps.log2_max_pic_order_cnt_lsb_minus4 <= 12, kPocLsbBits,
                        sps.log2_max_pic_order_cnt_lsb_minus4);
    }
    if (SpsPresence::PicOrderCntCycle(sps)) {
        problems.Expect(sps.num_ref_frames_in_pic_order_cnt_cycle <= 255, kPocCycle,
                        sps.num_ref_frames_in_pic_order_cnt_cycle);
    }
    problems.Expect(sps.frame_mbs_only_flag != 0 || sps.direct_8x8_inference_flag != 0,
                    kDirect8x8);
    if (SpsPresence::FrameCropOffsets(sps) && chromaInRange) {
        // CropUnitX and CropUnitY as the chroma format and the frame coding set them.
        const bool separate = sps.residual_colour_transform_flag != 0;
        const std::uint32_t chroma = separate ? 0 : sps.chroma_format_idc;
        const std::uint64_t unitX = chroma == 1 || chroma == 2 ? 2 : 1;
        const std::uint64_t unitY =
            (chroma == 1 ? 2 : 1) * (2 - std::uint64_t{sps.frame_mbs_only_flag != 0});
        const std::uint64_t width = 16 * (std::uint64_t{sps.pic_width_in_mbs_minus1} + 1);
        const std::uint64_t height = 16 * (std::uint64_t{sps.pic_height_in_map_units_minus1} + 1) *
                                     (2 - std::uint64_t{sps.frame_mbs_only_flag != 0});
        problems.Expect(
            unitX * (std::uint64_t{sps.frame_crop_left_offset} + sps.frame_crop_right_offset) <
                    width &&
                unitY * (std::uint64_t{sps.frame_crop_top_offset} + sps.frame_crop_bottom_offset) <
                    height,
            kCrop);
    }
    if (SpsPresence::Vui(sps)) {
        CheckVui(sps, problems);
    }
    CheckSpsProfile(sps, problems);
}

void CheckPps(const TPicParameterSet& pps, const TSeqParameterSet* sps, TUnitProblems& problems) {
    problems.Expect(pps.pic_parameter_set_id <= 255, kPpsId, pps.pic_parameter_set_id);
    problems.Expect(pps.seq_parameter_set_id <= 31, kPpsSpsId, pps.seq_parameter_set_id);
    problems.Expect(pps.num_slice_groups_minus1 <= 7, kSliceGroups, pps.num_slice_groups_minus1);
    if (PpsPresence::SliceGroupMapType(pps)) {
        problems.Expect(pps.slice_group_map_type <= 6, kMapType, pps.slice_group_map_type);
    }
    problems.Expect(std::max(pps.num_ref_idx_l0_active_minus1, pps.num_ref_idx_l1_active_minus1) <=
                        31,
                    kRefIdxDefault,
                    std::max(pps.num_ref_idx_l0_active_minus1, pps.num_ref_idx_l1_active_minus1));
    problems.Expect(pps.weighted_bipred_idc <= 2, kBipredIdc, pps.weighted_bipred_idc);
    // Without its sequence set, the widest range any bit depth allows.
    const std::uint32_t depth = sps != nullptr ? std::min<std::uint32_t>(sps->bit_depth_luma_minus8, 6) : 6;
    const auto depthOffset = static_cast<std::int32_t>(6 * depth);
    problems.Expect(pps.pic_init_qp_minus26 >= -(26 + depthOffset) && pps.pic_init_qp_minus26 <= 25,
                    kInitQp, pps.pic_init_qp_minus26);
    problems.Expect(pps.pic_init_qs_minus26 >= -26 && pps.pic_init_qs_minus26 <= 25, kInitQs,
                    pps.pic_init_qs_minus26);
    const auto inOffsetRange = [](std::int32_t offset) { return offset >= -12 && offset <= 12; };
    problems.Expect(inOffsetRange(pps.chroma_qp_index_offset) &&
                        (!PpsPresence::Tail(pps) || inOffsetRange(pps.second_chroma_qp_index_offset)),
                    kChromaQpOffset,
                    inOffsetRange(pps.chroma_qp_index_offset) ? pps.second_chroma_qp_index_offset
                                                              : pps.chroma_qp_index_offset);
    if (sps == nullptr) {
        return;
    }
    const std::uint32_t profile = sps->profile_idc;
    if (profile == kBaseline || profile == kExtended || profile == kCavlc444) {
        problems.Expect(pps.entropy_coding_mode_flag == 0, kCabacProfile);
    }
    if (profile == kBaseline) {
        problems.Expect(pps.weighted_pred_flag == 0 && pps.weighted_bipred_idc == 0,
                        kWeightedProfile);
    }
    if (profile == kMain || IsHighFamily(profile)) {
        problems.Expect(pps.num_slice_groups_minus1 == 0, kSliceGroupProfile,
                        pps.num_slice_groups_minus1);
        problems.Expect(pps.redundant_pic_cnt_present_flag == 0, kRedundantProfile);
    }
    if (profile == kMain) {
        problems.Expect(pps.transform_8x8_mode_flag == 0 && pps.pic_scaling_matrix_present_flag == 0,
                        kTailProfile);
    }
}
