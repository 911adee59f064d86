#include "syntax/vui_parameters.h"

#include "syntax/ElementReader.h"

bool Parse_vui_parameters(TBitStream4& reader, TVuiParameters& vui) {
    return Guard("Parse_vui_parameters", false, [&] {
        TElementReader in(reader);
        in.StructureLine(); // "vui_parameters ( )"
        vui.aspect_ratio_info_present_flag = in.Bit();
        if (VuiPresence::AspectRatioIdc(vui)) {
            vui.aspect_ratio_idc = in.Bits(8);
            if (VuiPresence::SampleAspectRatio(vui)) {
                vui.sar_width = in.Bits(16);
                vui.sar_height = in.Bits(16);
            }
        }
        vui.overscan_info_present_flag = in.Bit();
        if (VuiPresence::OverscanAppropriate(vui)) {
            vui.overscan_appropriate_flag = in.Bit();
        }
        vui.video_signal_type_present_flag = in.Bit();
        if (VuiPresence::VideoSignalType(vui)) {
            vui.video_format = in.Bits(3);
            vui.video_full_range_flag = in.Bit();
            vui.colour_description_present_flag = in.Bit();
            if (VuiPresence::ColourDescription(vui)) {
                vui.colour_primaries = in.Bits(8);
                vui.transfer_characteristics = in.Bits(8);
                vui.matrix_coefficients = in.Bits(8);
            }
        }
        vui.chroma_loc_info_present_flag = in.Bit();
        if (VuiPresence::ChromaLocation(vui)) {
            vui.chroma_sample_loc_type_top_field = in.Ue();
            vui.chroma_sample_loc_type_bottom_field = in.Ue();
        }
        vui.timing_info_present_flag = in.Bit();
        if (VuiPresence::Timing(vui)) {
            vui.num_units_in_tick = in.Bits32();
            vui.time_scale = in.Bits32();
            vui.fixed_frame_rate_flag = in.Bit();
        }
        vui.nal_hrd_parameters_present_flag = in.Bit();
        if (VuiPresence::NalHrd(vui)) {
            Parse_hrd_parameters(reader, vui.nal_hrd_parameters);
        }
        vui.vcl_hrd_parameters_present_flag = in.Bit();
        if (VuiPresence::VclHrd(vui)) {
            Parse_hrd_parameters(reader, vui.vcl_hrd_parameters);
        }
        if (VuiPresence::LowDelayHrd(vui)) {
            vui.low_delay_hrd_flag = in.Bit();
        }
        vui.pic_struct_present_flag = in.Bit();
        vui.bitstream_restriction_flag = in.Bit();
        if (VuiPresence::BitstreamRestriction(vui)) {
            vui.motion_vectors_over_pic_boundaries_flag = in.Bit();
            vui.max_bytes_per_pic_denom = in.Ue();
            vui.max_bits_per_mb_denom = in.Ue();
            vui.log2_max_mv_length_horizontal = in.Ue();
            vui.log2_max_mv_length_vertical = in.Ue();
            vui.num_reorder_frames = in.Ue();
            vui.max_dec_frame_buffering = in.Ue();
        }
        return true;
    });
}

void Update_TreeView_vui_parameters(ITreeLines& tree, TTreeLine parent, const TVuiParameters& vui) {
    TElementLines lines(tree, tree.AddChildLine(parent, "vui_parameters ( )"),
                        kParameterSetLabelWidth);
    lines.Unsigned("aspect_ratio_info_present_flag", vui.aspect_ratio_info_present_flag, 1);
    if (VuiPresence::AspectRatioIdc(vui)) {
        lines.Unsigned("aspect_ratio_idc", vui.aspect_ratio_idc, 8);
        if (VuiPresence::SampleAspectRatio(vui)) {
            lines.Unsigned("sar_width", vui.sar_width, 16);
            lines.Unsigned("sar_height", vui.sar_height, 16);
        }
    }
    lines.Unsigned("overscan_info_present_flag", vui.overscan_info_present_flag, 1);
    if (VuiPresence::OverscanAppropriate(vui)) {
        lines.Unsigned("overscan_appropriate_flag", vui.overscan_appropriate_flag, 1);
    }
    lines.Unsigned("video_signal_type_present_flag", vui.video_signal_type_present_flag, 1);
    if (VuiPresence::VideoSignalType(vui)) {
        lines.Unsigned("video_format", vui.video_format, 3);
        lines.Unsigned("video_full_range_flag", vui.video_full_range_flag, 1);
        lines.Unsigned("colour_description_present_flag", vui.colour_description_present_flag, 1);
        if (VuiPresence::ColourDescription(vui)) {
            lines.Unsigned("colour_primaries", vui.colour_primaries, 8);
            lines.Unsigned("transfer_characteristics", vui.transfer_characteristics, 8);
            lines.Unsigned("matrix_coefficients", vui.matrix_coefficients, 8);
        }
    }
    lines.Unsigned("chroma_loc_info_present_flag", vui.chroma_loc_info_present_flag, 1);
    if (VuiPresence::ChromaLocation(vui)) {
        lines.Ue("chroma_sample_loc_type_top_field", vui.chroma_sample_loc_type_top_field);
        lines.Ue("chroma_sample_loc_type_bottom_field", vui.chroma_sample_loc_type_bottom_field);
    }
    lines.Unsigned("timing_info_present_flag", vui.timing_info_present_flag, 1);
    if (VuiPresence::Timing(vui)) {
        lines.Unsigned("num_units_in_tick", vui.num_units_in_tick, 32);
        lines.Unsigned("time_scale", vui.time_scale, 32);
        lines.Unsigned("fixed_frame_rate_flag", vui.fixed_frame_rate_flag, 1);
    }
    lines.Unsigned("nal_hrd_parameters_present_flag", vui.nal_hrd_parameters_present_flag, 1);
    if (VuiPresence::NalHrd(vui)) {
        Update_TreeView_hrd_parameters(tree, lines.Parent(), vui.nal_hrd_parameters);
    }
    lines.Unsigned("vcl_hrd_parameters_present_flag", vui.vcl_hrd_parameters_present_flag, 1);
    if (VuiPresence::VclHrd(vui)) {
        Update_TreeView_hrd_parameters(tree, lines.Parent(), vui.vcl_hrd_parameters);
    }
    if (VuiPresence::LowDelayHrd(vui)) {
        lines.Unsigned("low_delay_hrd_flag", vui.low_delay_hrd_flag, 1);
    }
    lines.Unsigned("pic_struct_present_flag", vui.pic_struct_present_flag, 1);
    lines.Unsigned("bitstream_restriction_flag", vui.bitstream_restriction_flag, 1);
    if (VuiPresence::BitstreamRestriction(vui)) {
        lines.Unsigned("motion_vectors_over_pic_boundaries_flag",
                       vui.motion_vectors_over_pic_boundaries_flag, 1);
        lines.Ue("max_bytes_per_pic_denom", vui.max_bytes_per_pic_denom);
        lines.Ue("max_bits_per_mb_denom", vui.max_bits_per_mb_denom);
        lines.Ue("log2_max_mv_length_horizontal", vui.log2_max_mv_length_horizontal);
        lines.Ue("log2_max_mv_length_vertical", vui.log2_max_mv_length_vertical);
        lines.Ue("num_reorder_frames", vui.num_reorder_frames);
        lines.Ue("max_dec_frame_buffering", vui.max_dec_frame_buffering);
    }
}
