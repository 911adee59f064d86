#include "syntax/pic_parameter_set_rbsp.h"

#include "syntax/ElementReader.h"

#include <algorithm>

namespace {

// Entries for a loop "for i = 0 to last", the last index taken as signed.
std::int64_t EntriesUpTo(std::uint32_t last) {
    return last >= 0x80000000u ? 0 : static_cast<std::int64_t>(last) + 1;
}

std::int32_t Held(std::int64_t entries, std::int32_t capacity) {
    return static_cast<std::int32_t>(std::min<std::int64_t>(entries, capacity));
}

} // namespace

std::int64_t PpsPresence::RunLengthsInStream(const TPicParameterSet& pps) {
    if (!SliceGroupMapType(pps) || pps.slice_group_map_type != 0) {
        return 0;
    }
    return EntriesUpTo(pps.num_slice_groups_minus1);
}

std::int32_t PpsPresence::RunLengthsHeld(const TPicParameterSet& pps) {
    return Held(RunLengthsInStream(pps), TPicParameterSet::kSliceGroupCapacity);
}

std::int64_t PpsPresence::RectanglesInStream(const TPicParameterSet& pps) {
    if (!SliceGroupMapType(pps) || pps.slice_group_map_type != 2) {
        return 0;
    }
    return EntriesUpTo(pps.num_slice_groups_minus1 - 1);
}

std::int32_t PpsPresence::RectanglesHeld(const TPicParameterSet& pps) {
    return Held(RectanglesInStream(pps), TPicParameterSet::kSliceGroupCapacity);
}

std::int64_t PpsPresence::SliceGroupIdsInStream(const TPicParameterSet& pps) {
    return PicSizeInMapUnits(pps) ? EntriesUpTo(pps.pic_size_in_map_units_minus1) : 0;
}

std::int32_t PpsPresence::SliceGroupIdsHeld(const TPicParameterSet& pps) {
    return Held(SliceGroupIdsInStream(pps), TPicParameterSet::kSliceGroupIdCapacity);
}

int PpsPresence::SliceGroupIdBits(const TPicParameterSet& pps) {
    const std::uint64_t groups = std::uint64_t{pps.num_slice_groups_minus1} + 1;
    int bits = 0;
    while ((std::uint64_t{1} << bits) < groups) {
        ++bits;
    }
    return bits;
}

std::int32_t PpsPresence::ScalingListFlags(const TPicParameterSet& pps,
                                           std::uint32_t chroma_format_idc) {
    if (!Tail(pps) || pps.pic_scaling_matrix_present_flag == 0) {
        return 0;
    }
    const std::int32_t lists8x8 = chroma_format_idc != 3 ? 2 : 6;
    return 6 + lists8x8 * static_cast<std::int32_t>(pps.transform_8x8_mode_flag != 0);
}

bool Parse_pic_parameter_set_rbsp(TBitStream4& reader, TPicParameterSet& pps,
                                  std::uint32_t chroma_format_idc) {
    return Guard("Parse_pic_parameter_set_rbsp", false, [&] {
        TElementReader in(reader);
        pps.pic_parameter_set_id = in.Ue();
        pps.seq_parameter_set_id = in.Ue();
        pps.entropy_coding_mode_flag = in.Bit();
        pps.pic_order_present_flag = in.Bit();
        pps.num_slice_groups_minus1 = in.Ue();
        if (PpsPresence::SliceGroupMapType(pps)) {
            pps.slice_group_map_type = in.Ue();
            // Surplus entries beyond the record's capacity are read and dropped; each
            // consumes bits, so those loops end with the payload.
            const std::int32_t runs = PpsPresence::RunLengthsHeld(pps);
            for (std::int32_t i = 0; i < runs; ++i) {
                pps.run_length_minus1[i] = in.Ue();
            }
            for (std::int64_t i = runs;
                 i < PpsPresence::RunLengthsInStream(pps) && reader.BitsLeft() > 0; ++i) {
                reader.ReadUE();
            }
            const std::int32_t rectangles = PpsPresence::RectanglesHeld(pps);
            for (std::int32_t i = 0; i < rectangles; ++i) {
                pps.top_left[i] = in.Ue();
                pps.bottom_right[i] = in.Ue();
            }
            for (std::int64_t i = rectangles;
                 i < PpsPresence::RectanglesInStream(pps) && reader.BitsLeft() > 0; ++i) {
                reader.ReadUE();
                reader.ReadUE();
            }
            if (PpsPresence::SliceGroupChange(pps)) {
                pps.slice_group_change_direction_flag = in.Bit();
                pps.slice_group_change_rate_minus1 = in.Ue();
            }
            if (PpsPresence::PicSizeInMapUnits(pps)) {
                pps.pic_size_in_map_units_minus1 = in.Ue();
                const int bits = PpsPresence::SliceGroupIdBits(pps);
                const std::int32_t ids = PpsPresence::SliceGroupIdsHeld(pps);
                for (std::int32_t i = 0; i < ids; ++i) {
                    pps.slice_group_id[i] = in.Bits(bits);
                }
                // A surplus id that no longer fits is refused without consuming; stop there.
                for (std::int64_t i = ids;
                     i < PpsPresence::SliceGroupIdsInStream(pps) && reader.BitsLeft() >= bits;
                     ++i) {
                    reader.ReadBits(bits);
                }
            }
        }
        pps.num_ref_idx_l0_active_minus1 = in.Ue();
        pps.num_ref_idx_l1_active_minus1 = in.Ue();
        pps.weighted_pred_flag = in.Bit();
        pps.weighted_bipred_idc = in.Bits(2);
        pps.pic_init_qp_minus26 = in.Se();
        pps.pic_init_qs_minus26 = in.Se();
        pps.chroma_qp_index_offset = in.Se();
        pps.deblocking_filter_control_present_flag = in.Bit();
        pps.constrained_intra_pred_flag = in.Bit();
        pps.redundant_pic_cnt_present_flag = in.Bit();
        pps.more_data = reader.MoreRbspData() ? 1u : 0u;
        if (PpsPresence::Tail(pps)) {
            pps.transform_8x8_mode_flag = in.Bit();
            pps.pic_scaling_matrix_present_flag = in.Bit();
            const std::int32_t flags = PpsPresence::ScalingListFlags(pps, chroma_format_idc);
            for (std::int32_t i = 0; i < flags; ++i) {
                pps.pic_scaling_list_present_flag[i] = in.Bit();
                // The tree shows no line for the list itself.
                if (PpsPresence::ScalingList(pps, i)) {
                    Skip_scaling_list(reader, ScalingListSize(i));
                }
            }
            pps.second_chroma_qp_index_offset = in.Se();
        }
        // rbsp_trailing_bits( ) is skipped here; the stream check looks at it.
        pps.trailing_bits_at = reader.BitsRead();
        reader.ByteAlign();
        return true;
    });
}

bool Update_TreeView_pic_parameter_set_rbsp(ITreeLines& tree, TTreeLine parent,
                                            const TPicParameterSet& pps,
                                            std::uint32_t chroma_format_idc) {
    return Guard("Update_TreeView_pic_parameter_set_rbsp", false, [&] {
        const TTreeLine ppsLine = tree.AddChildLine(parent, "pic_parameter_set_rbsp( )");
        TElementLines lines(tree, ppsLine, kParameterSetLabelWidth);
        lines.Ue("pic_parameter_set_id", pps.pic_parameter_set_id);
        lines.Ue("seq_parameter_set_id", pps.seq_parameter_set_id);
        lines.Unsigned("entropy_coding_mode_flag", pps.entropy_coding_mode_flag, 1);
        lines.Unsigned("pic_order_present_flag", pps.pic_order_present_flag, 1);
        lines.Ue("num_slice_groups_minus1", pps.num_slice_groups_minus1);
        if (PpsPresence::SliceGroupMapType(pps)) {
            lines.Ue("slice_group_map_type", pps.slice_group_map_type);
            const std::int32_t runs = PpsPresence::RunLengthsHeld(pps);
            for (std::int32_t i = 0; i < runs; ++i) {
                lines.Ue(IndexedLabel("run_length_minus1", i), pps.run_length_minus1[i]);
            }
            const std::int32_t rectangles = PpsPresence::RectanglesHeld(pps);
            for (std::int32_t i = 0; i < rectangles; ++i) {
                lines.Ue(IndexedLabel("top_left", i), pps.top_left[i]);
                lines.Ue(IndexedLabel("bottom_right", i), pps.bottom_right[i]);
            }
            if (PpsPresence::SliceGroupChange(pps)) {
                lines.Unsigned("slice_group_change_direction_flag",
                               pps.slice_group_change_direction_flag, 1);
                lines.Ue("slice_group_change_rate_minus1", pps.slice_group_change_rate_minus1);
            }
            if (PpsPresence::PicSizeInMapUnits(pps)) {
                lines.Ue("pic_size_in_map_units_minus1", pps.pic_size_in_map_units_minus1);
                // Each id has the fixed width of SliceGroupIdBits, shown as v.
                const std::int32_t ids = PpsPresence::SliceGroupIdsHeld(pps);
                for (std::int32_t i = 0; i < ids; ++i) {
                    lines.Ue(IndexedLabel("slice_group_id", i), pps.slice_group_id[i]);
                }
            }
        }
        lines.Ue("num_ref_idx_l0_active_minus1", pps.num_ref_idx_l0_active_minus1);
        lines.Ue("num_ref_idx_l1_active_minus1", pps.num_ref_idx_l1_active_minus1);
        lines.Unsigned("weighted_pred_flag", pps.weighted_pred_flag, 1);
        lines.Unsigned("weighted_bipred_idc", pps.weighted_bipred_idc, 2);
        lines.Se("pic_init_qp_minus26", pps.pic_init_qp_minus26);
        lines.Se("pic_init_qs_minus26", pps.pic_init_qs_minus26);
        lines.Se("chroma_qp_index_offset", pps.chroma_qp_index_offset);
        lines.Unsigned("deblocking_filter_control_present_flag",
                       pps.deblocking_filter_control_present_flag, 1);
        lines.Unsigned("constrained_intra_pred_flag", pps.constrained_intra_pred_flag, 1);
        lines.Unsigned("redundant_pic_cnt_present_flag", pps.redundant_pic_cnt_present_flag, 1);
        if (PpsPresence::Tail(pps)) {
            lines.Unsigned("transform_8x8_mode_flag", pps.transform_8x8_mode_flag, 1);
            lines.Unsigned("pic_scaling_matrix_present_flag", pps.pic_scaling_matrix_present_flag,
                           1);
            const std::int32_t flags = PpsPresence::ScalingListFlags(pps, chroma_format_idc);
            for (std::int32_t i = 0; i < flags; ++i) {
                lines.Unsigned(IndexedLabel("pic_scaling_list_present_flag", i),
                               pps.pic_scaling_list_present_flag[i], 1);
            }
            lines.Se("second_chroma_qp_index_offset", pps.second_chroma_qp_index_offset);
        }
        tree.ExpandLine(ppsLine);
        return true;
    });
}
