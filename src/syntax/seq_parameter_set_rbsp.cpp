#include "syntax/seq_parameter_set_rbsp.h"

#include "core/DebugOutput.h"
#include "syntax/ElementReader.h"

namespace {

constexpr const char* kWarning = "kvo: WARNING - to check";

} // namespace

bool ProfileHasChromaBlock(std::uint32_t profile_idc) {
    switch (profile_idc) {
    case 100: // High
    case 110: // High 10
    case 122: // High 4:2:2
    case 244: // High 4:4:4 Predictive
    case 44:  // CAVLC 4:4:4 Intra
    case 83:  // Scalable Baseline
    case 86:  // Scalable High
    case 118: // Multiview High
    case 128: // Stereo High
    case 138: // Multiview Depth High
    case 139: // Enhanced Multiview Depth High
    case 134: // MFC High
    case 135: // MFC Depth High
    case 144: // the former High 4:4:4, still met in old streams
        return true;
    default:
        return false;
    }
}

bool Parse_seq_parameter_set_rbsp(TBitStream4& reader, TSeqParameterSet& sps) {
    return Guard("Parse_seq_parameter_set_rbsp", false, [&] {
        sps = TSeqParameterSet{};
        TElementReader in(reader);
        sps.profile_idc = in.Bits(8);
        sps.constraint_set0_flag = in.Bit();
        sps.constraint_set1_flag = in.Bit();
        sps.constraint_set2_flag = in.Bit();
        sps.constraint_set3_flag = in.Bit();
        sps.reserved_zero_4bits = in.Bits(4);
        sps.level_idc = in.Bits(8);
        sps.seq_parameter_set_id = in.Ue();
        if (SpsPresence::ChromaBlock(sps)) {
            DebugOutput(kWarning);
            sps.chroma_format_idc = in.Ue();
            if (SpsPresence::ResidualColourTransform(sps)) {
                sps.residual_colour_transform_flag = in.Bit();
            }
            sps.bit_depth_luma_minus8 = in.Ue();
            sps.bit_depth_chroma_minus8 = in.Ue();
            sps.qpprime_y_zero_transform_bypass_flag = in.Bit();
            sps.seq_scaling_matrix_present_flag = in.Bit();
            const std::int32_t flags = SpsPresence::ScalingListFlags(sps);
            for (std::int32_t i = 0; i < flags; ++i) {
                sps.seq_scaling_list_present_flag[i] = in.Bit();
                if (SpsPresence::ScalingList(sps, i)) {
                    in.ScalingListLine(ScalingListSize(i));
                }
            }
        } else {
            sps.chroma_format_idc = 1;
        }
        if (SpsPresence::SvcExtension(sps)) {
            in.StructureLine();
        }
        sps.log2_max_frame_num_minus4 = in.Ue();
        sps.pic_order_cnt_type = in.Ue();
        if (SpsPresence::PicOrderCntLsb(sps)) {
            sps.log2_max_pic_order_cnt_lsb_minus4 = in.Ue();
        } else if (SpsPresence::PicOrderCntCycle(sps)) {
            sps.delta_pic_order_always_zero_flag = in.Bit();
            sps.offset_for_non_ref_pic = in.Se();
            sps.offset_for_top_to_bottom_field = in.Se();
            sps.num_ref_frames_in_pic_order_cnt_cycle = in.Ue();
            const std::int64_t inStream = SpsPresence::OffsetForRefFrameInStream(sps);
            const std::int32_t held = SpsPresence::OffsetForRefFrameHeld(sps);
            for (std::int32_t i = 0; i < held; ++i) {
                sps.offset_for_ref_frame[i] = in.Se();
            }
            // Surplus entries: each consumes bits, so the loop ends with the payload.
            for (std::int64_t i = held; i < inStream && reader.BitsLeft() > 0; ++i) {
                reader.ReadSE();
            }
        }
        sps.num_ref_frames = in.Ue();
        sps.gaps_in_frame_num_value_allowed_flag = in.Bit();
        sps.pic_width_in_mbs_minus1 = in.Ue();
        sps.pic_height_in_map_units_minus1 = in.Ue();
        sps.frame_mbs_only_flag = in.Bit();
        if (SpsPresence::MbAdaptiveFrameField(sps)) {
            sps.mb_adaptive_frame_field_flag = in.Bit();
        }
        sps.direct_8x8_inference_flag = in.Bit();
        sps.frame_cropping_flag = in.Bit();
        if (SpsPresence::FrameCropOffsets(sps)) {
            sps.frame_crop_left_offset = in.Ue();
            sps.frame_crop_right_offset = in.Ue();
            sps.frame_crop_top_offset = in.Ue();
            sps.frame_crop_bottom_offset = in.Ue();
        }
        sps.vui_parameters_present_flag = in.Bit();
        if (SpsPresence::Vui(sps)) {
            Parse_vui_parameters(reader, sps.vui_parameters);
        }
        // rbsp_trailing_bits( ) is skipped here; the stream check looks at it.
        sps.trailing_bits_at = reader.BitsRead();
        reader.ByteAlign();
        return true;
    });
}

bool Update_TreeView_seq_parameter_set_rbsp(ITreeLines& tree, TTreeLine parent,
                                            const TSeqParameterSet& sps) {
    return Guard("Update_TreeView_seq_parameter_set_rbsp", false, [&] {
        const TTreeLine spsLine = tree.AddChildLine(parent, "seq_parameter_set_rbsp( )");
        TElementLines lines(tree, spsLine, kParameterSetLabelWidth);
        lines.Unsigned("profile_idc", sps.profile_idc, 8);
        lines.Unsigned("constraint_set0_flag", sps.constraint_set0_flag, 1);
        lines.Unsigned("constraint_set1_flag", sps.constraint_set1_flag, 1);
        lines.Unsigned("constraint_set2_flag", sps.constraint_set2_flag, 1);
        lines.Unsigned("constraint_set3_flag", sps.constraint_set3_flag, 1);
        lines.Unsigned("reserved_zero_4bits", sps.reserved_zero_4bits, 4);
        lines.Unsigned("level_idc", sps.level_idc, 8);
        lines.Ue("seq_parameter_set_id", sps.seq_parameter_set_id);
        if (SpsPresence::ChromaBlock(sps)) {
            DebugOutput(kWarning);
            lines.Ue("chroma_format_idc", sps.chroma_format_idc);
            if (SpsPresence::ResidualColourTransform(sps)) {
                lines.Unsigned("residual_colour_transform_flag", sps.residual_colour_transform_flag,
                               1);
            }
            lines.Ue("bit_depth_luma_minus8", sps.bit_depth_luma_minus8);
            lines.Ue("bit_depth_chroma_minus8", sps.bit_depth_chroma_minus8);
            lines.Unsigned("qpprime_y_zero_transform_bypass_flag",
                           sps.qpprime_y_zero_transform_bypass_flag, 1);
            lines.Unsigned("seq_scaling_matrix_present_flag", sps.seq_scaling_matrix_present_flag,
                           1);
            const std::int32_t flags = SpsPresence::ScalingListFlags(sps);
            for (std::int32_t i = 0; i < flags; ++i) {
                lines.Unsigned(IndexedLabel("seq_scaling_list_present_flag", i),
                               sps.seq_scaling_list_present_flag[i], 1);
                if (SpsPresence::ScalingList(sps, i)) {
                    lines.Structure("scaling_list ( )");
                }
            }
        }
        if (SpsPresence::SvcExtension(sps)) {
            lines.Structure("seq_parameter_set_svc_extension( )");
        }
        lines.Ue("log2_max_frame_num_minus4", sps.log2_max_frame_num_minus4);
        lines.Ue("pic_order_cnt_type", sps.pic_order_cnt_type);
        if (SpsPresence::PicOrderCntLsb(sps)) {
            lines.Ue("log2_max_pic_order_cnt_lsb_minus4", sps.log2_max_pic_order_cnt_lsb_minus4);
        } else if (SpsPresence::PicOrderCntCycle(sps)) {
            lines.Unsigned("delta_pic_order_always_zero_flag", sps.delta_pic_order_always_zero_flag,
                           1);
            lines.Se("offset_for_non_ref_pic", sps.offset_for_non_ref_pic);
            lines.Se("offset_for_top_to_bottom_field", sps.offset_for_top_to_bottom_field);
            lines.Ue("num_ref_frames_in_pic_order_cnt_cycle",
                     sps.num_ref_frames_in_pic_order_cnt_cycle);
            const std::int32_t held = SpsPresence::OffsetForRefFrameHeld(sps);
            for (std::int32_t i = 0; i < held; ++i) {
                lines.Se(IndexedLabel("offset_for_ref_frame", i), sps.offset_for_ref_frame[i]);
            }
        }
        lines.Ue("num_ref_frames", sps.num_ref_frames);
        lines.Unsigned("gaps_in_frame_num_value_allowed_flag",
                       sps.gaps_in_frame_num_value_allowed_flag, 1);
        lines.Ue("pic_width_in_mbs_minus1", sps.pic_width_in_mbs_minus1);
        lines.Ue("pic_height_in_map_units_minus1", sps.pic_height_in_map_units_minus1);
        lines.Unsigned("frame_mbs_only_flag", sps.frame_mbs_only_flag, 1);
        if (SpsPresence::MbAdaptiveFrameField(sps)) {
            lines.Unsigned("mb_adaptive_frame_field_flag", sps.mb_adaptive_frame_field_flag, 1);
        }
        lines.Unsigned("direct_8x8_inference_flag", sps.direct_8x8_inference_flag, 1);
        lines.Unsigned("frame_cropping_flag", sps.frame_cropping_flag, 1);
        if (SpsPresence::FrameCropOffsets(sps)) {
            lines.Ue("frame_crop_left_offset", sps.frame_crop_left_offset);
            lines.Ue("frame_crop_right_offset", sps.frame_crop_right_offset);
            lines.Ue("frame_crop_top_offset", sps.frame_crop_top_offset);
            lines.Ue("frame_crop_bottom_offset", sps.frame_crop_bottom_offset);
        }
        lines.Unsigned("vui_parameters_present_flag", sps.vui_parameters_present_flag, 1);
        if (SpsPresence::Vui(sps)) {
            Update_TreeView_vui_parameters(tree, spsLine, sps.vui_parameters);
        }
        tree.ExpandLine(spsLine);
        return true;
    });
}
