#pragma once

#include "syntax/BitStream4.h"
#include "syntax/SyntaxTree.h"

#include <cstdint>

// pic_parameter_set_rbsp( ), one field per syntax element in stream order.
struct TPicParameterSet {
    static constexpr std::int32_t kSliceGroupCapacity = 8;
    static constexpr std::int32_t kSliceGroupIdCapacity = 256;
    static constexpr std::int32_t kScalingListCapacity = 256;

    std::uint32_t pic_parameter_set_id;
    std::uint32_t seq_parameter_set_id;
    std::uint32_t entropy_coding_mode_flag;
    std::uint32_t pic_order_present_flag;
    std::uint32_t num_slice_groups_minus1;
    std::uint32_t slice_group_map_type;
    std::uint32_t run_length_minus1[kSliceGroupCapacity];
    std::uint32_t top_left[kSliceGroupCapacity];
    std::uint32_t bottom_right[kSliceGroupCapacity];
    std::uint32_t slice_group_change_direction_flag;
    std::uint32_t slice_group_change_rate_minus1;
    std::uint32_t pic_size_in_map_units_minus1;
    std::uint32_t slice_group_id[kSliceGroupIdCapacity];
    std::uint32_t num_ref_idx_l0_active_minus1;
    std::uint32_t num_ref_idx_l1_active_minus1;
    std::uint32_t weighted_pred_flag;
    std::uint32_t weighted_bipred_idc;
    std::int32_t pic_init_qp_minus26;
    std::int32_t pic_init_qs_minus26;
    std::int32_t chroma_qp_index_offset;
    std::uint32_t deblocking_filter_control_present_flag;
    std::uint32_t constrained_intra_pred_flag;
    std::uint32_t redundant_pic_cnt_present_flag;
    std::uint32_t more_data; // 1 when the optional tail follows
    std::uint32_t transform_8x8_mode_flag;
    std::uint32_t pic_scaling_matrix_present_flag;
    std::uint32_t pic_scaling_list_present_flag[kScalingListCapacity];
    std::int32_t second_chroma_qp_index_offset;
    // Not an element: where rbsp_trailing_bits( ) begins, as for the sequence set.
    std::int64_t trailing_bits_at;
};

// Which optional elements the stream carries, for the parse and the tree alike. Each
// asks only fields that come earlier in the stream. Entry counts of 2^31 or more give
// no entries; "Held" counts are the entries the record keeps.
struct PpsPresence {
    static bool SliceGroupMapType(const TPicParameterSet& pps) {
        return pps.num_slice_groups_minus1 != 0;
    }
    static std::int64_t RunLengthsInStream(const TPicParameterSet& pps);
    static std::int32_t RunLengthsHeld(const TPicParameterSet& pps);
    static std::int64_t RectanglesInStream(const TPicParameterSet& pps);
    static std::int32_t RectanglesHeld(const TPicParameterSet& pps);
    static bool SliceGroupChange(const TPicParameterSet& pps) {
        return SliceGroupMapType(pps) && pps.slice_group_map_type >= 3 &&
               pps.slice_group_map_type <= 5;
    }
    static bool PicSizeInMapUnits(const TPicParameterSet& pps) {
        return SliceGroupMapType(pps) && pps.slice_group_map_type == 6;
    }
    static std::int64_t SliceGroupIdsInStream(const TPicParameterSet& pps);
    static std::int32_t SliceGroupIdsHeld(const TPicParameterSet& pps);
    // Width of each slice_group_id: Ceil(Log2(num_slice_groups_minus1 + 1)).
    static int SliceGroupIdBits(const TPicParameterSet& pps);
    static bool Tail(const TPicParameterSet& pps) { return pps.more_data != 0; }
    // 6 list flags, plus 2 for the 8x8 lists, or 6 when the governing sequence parameter
    // set has chroma_format_idc 3 (4:4:4 has 8x8 lists for each colour component).
    static std::int32_t ScalingListFlags(const TPicParameterSet& pps,
                                         std::uint32_t chroma_format_idc);
    static bool ScalingList(const TPicParameterSet& pps, std::int32_t i) {
        return pps.pic_scaling_list_present_flag[i] != 0;
    }
};

// Reads pic_parameter_set_rbsp( ) into pps; fields of elements the stream does not carry
// keep what they held. chroma_format_idc is that of the governing sequence parameter set
// (it sets the number of scaling list flags). Counts beyond an array's capacity are read
// and dropped. False when an error ended the parse.
bool Parse_pic_parameter_set_rbsp(TBitStream4& reader, TPicParameterSet& pps,
                                  std::uint32_t chroma_format_idc = 1);

// Adds "pic_parameter_set_rbsp( )" under parent with the element lines of pps, and
// expands it. chroma_format_idc must be the one the parse was given. False when an error
// ended it.
bool Update_TreeView_pic_parameter_set_rbsp(ITreeLines& tree, TTreeLine parent,
                                            const TPicParameterSet& pps,
                                            std::uint32_t chroma_format_idc = 1);
