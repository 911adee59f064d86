#pragma once

#include "syntax/BitStream4.h"
#include "syntax/SyntaxTree.h"
#include "syntax/vui_parameters.h"

#include <cstdint>

// seq_parameter_set_rbsp( ), one field per syntax element in stream order.
struct TSeqParameterSet {
    // Twelve list flags when chroma_format_idc is 3, eight otherwise.
    static constexpr std::int32_t kScalingListCapacity = 12;
    static constexpr std::int32_t kOffsetForRefFrameCapacity = 256;

    std::uint32_t profile_idc;
    std::uint32_t constraint_set0_flag;
    std::uint32_t constraint_set1_flag;
    std::uint32_t constraint_set2_flag;
    std::uint32_t constraint_set3_flag;
    std::uint32_t reserved_zero_4bits;
    std::uint32_t level_idc;
    std::uint32_t seq_parameter_set_id;
    std::uint32_t chroma_format_idc;
    std::uint32_t residual_colour_transform_flag;
    std::uint32_t bit_depth_luma_minus8;
    std::uint32_t bit_depth_chroma_minus8;
    std::uint32_t qpprime_y_zero_transform_bypass_flag;
    std::uint32_t seq_scaling_matrix_present_flag;
    std::uint32_t seq_scaling_list_present_flag[kScalingListCapacity];
    std::uint32_t log2_max_frame_num_minus4;
    std::uint32_t pic_order_cnt_type;
    std::uint32_t log2_max_pic_order_cnt_lsb_minus4;
    std::uint32_t delta_pic_order_always_zero_flag;
    std::int32_t offset_for_non_ref_pic;
    std::int32_t offset_for_top_to_bottom_field;
    std::uint32_t num_ref_frames_in_pic_order_cnt_cycle;
    std::int32_t offset_for_ref_frame[kOffsetForRefFrameCapacity];
    std::uint32_t num_ref_frames;
    std::uint32_t gaps_in_frame_num_value_allowed_flag;
    std::uint32_t pic_width_in_mbs_minus1;
    std::uint32_t pic_height_in_map_units_minus1;
    std::uint32_t frame_mbs_only_flag;
    std::uint32_t mb_adaptive_frame_field_flag;
    std::uint32_t direct_8x8_inference_flag;
    std::uint32_t frame_cropping_flag;
    std::uint32_t frame_crop_left_offset;
    std::uint32_t frame_crop_right_offset;
    std::uint32_t frame_crop_top_offset;
    std::uint32_t frame_crop_bottom_offset;
    std::uint32_t vui_parameters_present_flag;
    TVuiParameters vui_parameters;
    // Not an element: the bit after the last element, where rbsp_trailing_bits( ) begins,
    // counted from the payload's first bit, for the check of those bits.
    std::int64_t trailing_bits_at;
};

// The profiles whose sequence parameter sets carry chroma_format_idc, the bit depths and
// the scaling matrix: every High and scalable/multiview profile of the standard.
bool ProfileHasChromaBlock(std::uint32_t profile_idc);

// Which optional elements the stream carries, for the parse and the tree alike. Each
// asks only fields that come earlier in the stream.
struct SpsPresence {
    static bool ChromaBlock(const TSeqParameterSet& sps) {
        return ProfileHasChromaBlock(sps.profile_idc);
    }
    static bool ResidualColourTransform(const TSeqParameterSet& sps) {
        return ChromaBlock(sps) && sps.chroma_format_idc == 3;
    }
    static std::int32_t ScalingListFlags(const TSeqParameterSet& sps) {
        if (!ChromaBlock(sps) || sps.seq_scaling_matrix_present_flag == 0) {
            return 0;
        }
        return sps.chroma_format_idc != 3 ? 8 : 12;
    }
    static bool ScalingList(const TSeqParameterSet& sps, std::int32_t i) {
        return sps.seq_scaling_list_present_flag[i] != 0;
    }
    // Announced for profile 83 with nothing read for it.
    static bool SvcExtension(const TSeqParameterSet& sps) { return sps.profile_idc == 83; }
    static bool PicOrderCntLsb(const TSeqParameterSet& sps) { return sps.pic_order_cnt_type == 0; }
    static bool PicOrderCntCycle(const TSeqParameterSet& sps) {
        return sps.pic_order_cnt_type == 1;
    }
    // Entries of offset_for_ref_frame in the stream (the count is taken as signed, so
    // 2^31 or more gives none) and the first of them that the record holds.
    static std::int64_t OffsetForRefFrameInStream(const TSeqParameterSet& sps) {
        const auto count = static_cast<std::int32_t>(sps.num_ref_frames_in_pic_order_cnt_cycle);
        return PicOrderCntCycle(sps) && count > 0 ? count : 0;
    }
    static std::int32_t OffsetForRefFrameHeld(const TSeqParameterSet& sps) {
        const std::int64_t n = OffsetForRefFrameInStream(sps);
        return static_cast<std::int32_t>(n < TSeqParameterSet::kOffsetForRefFrameCapacity
                                             ? n
                                             : TSeqParameterSet::kOffsetForRefFrameCapacity);
    }
    static bool MbAdaptiveFrameField(const TSeqParameterSet& sps) {
        return sps.frame_mbs_only_flag == 0;
    }
    static bool FrameCropOffsets(const TSeqParameterSet& sps) {
        return sps.frame_cropping_flag != 0;
    }
    static bool Vui(const TSeqParameterSet& sps) { return sps.vui_parameters_present_flag != 0; }
};

// Reads seq_parameter_set_rbsp( ) into sps, which it zeroes first. Counts beyond an
// array's capacity are read and dropped. False when an error ended the parse.
bool Parse_seq_parameter_set_rbsp(TBitStream4& reader, TSeqParameterSet& sps);

// Adds "seq_parameter_set_rbsp( )" under parent with the element lines of sps, and
// expands it. False when an error ended it.
bool Update_TreeView_seq_parameter_set_rbsp(ITreeLines& tree, TTreeLine parent,
                                            const TSeqParameterSet& sps);
