#pragma once

#include "syntax/BitStream4.h"
#include "syntax/SyntaxTree.h"
#include "syntax/hrd_parameters.h"

#include <cstdint>

// vui_parameters( ), one field per syntax element in stream order.
struct TVuiParameters {
    std::uint32_t aspect_ratio_info_present_flag;
    std::uint32_t aspect_ratio_idc;
    std::uint32_t sar_width;
    std::uint32_t sar_height;
    std::uint32_t overscan_info_present_flag;
    std::uint32_t overscan_appropriate_flag;
    std::uint32_t video_signal_type_present_flag;
    std::uint32_t video_format;
    std::uint32_t video_full_range_flag;
    std::uint32_t colour_description_present_flag;
    std::uint32_t colour_primaries;
    std::uint32_t transfer_characteristics;
    std::uint32_t matrix_coefficients;
    std::uint32_t chroma_loc_info_present_flag;
    std::uint32_t chroma_sample_loc_type_top_field;
    std::uint32_t chroma_sample_loc_type_bottom_field;
    std::uint32_t timing_info_present_flag;
    std::uint32_t num_units_in_tick;
    std::uint32_t time_scale;
    std::uint32_t fixed_frame_rate_flag;
    std::uint32_t nal_hrd_parameters_present_flag;
    THrdParameters nal_hrd_parameters;
    std::uint32_t vcl_hrd_parameters_present_flag;
    THrdParameters vcl_hrd_parameters;
    std::uint32_t low_delay_hrd_flag;
    std::uint32_t pic_struct_present_flag;
    std::uint32_t bitstream_restriction_flag;
    std::uint32_t motion_vectors_over_pic_boundaries_flag;
    std::uint32_t max_bytes_per_pic_denom;
    std::uint32_t max_bits_per_mb_denom;
    std::uint32_t log2_max_mv_length_horizontal;
    std::uint32_t log2_max_mv_length_vertical;
    std::uint32_t num_reorder_frames;
    std::uint32_t max_dec_frame_buffering;
};

// Which optional elements the stream carries, for the parse and the tree alike. Each
// asks only fields that come earlier in the stream.
struct VuiPresence {
    static bool AspectRatioIdc(const TVuiParameters& vui) {
        return vui.aspect_ratio_info_present_flag != 0;
    }
    static bool SampleAspectRatio(const TVuiParameters& vui) {
        return AspectRatioIdc(vui) && vui.aspect_ratio_idc == 255; // Extended_SAR
    }
    static bool OverscanAppropriate(const TVuiParameters& vui) {
        return vui.overscan_info_present_flag != 0;
    }
    static bool VideoSignalType(const TVuiParameters& vui) {
        return vui.video_signal_type_present_flag != 0;
    }
    static bool ColourDescription(const TVuiParameters& vui) {
        return VideoSignalType(vui) && vui.colour_description_present_flag != 0;
    }
    static bool ChromaLocation(const TVuiParameters& vui) {
        return vui.chroma_loc_info_present_flag != 0;
    }
    static bool Timing(const TVuiParameters& vui) { return vui.timing_info_present_flag != 0; }
    static bool NalHrd(const TVuiParameters& vui) {
        return vui.nal_hrd_parameters_present_flag != 0;
    }
    static bool VclHrd(const TVuiParameters& vui) {
        return vui.vcl_hrd_parameters_present_flag != 0;
    }
    static bool LowDelayHrd(const TVuiParameters& vui) { return NalHrd(vui) || VclHrd(vui); }
    static bool BitstreamRestriction(const TVuiParameters& vui) {
        return vui.bitstream_restriction_flag != 0;
    }
};

// Reads vui_parameters( ) into vui (which the caller has zeroed). False when an error
// ended the parse.
bool Parse_vui_parameters(TBitStream4& reader, TVuiParameters& vui);

// The "vui_parameters ( )" line under parent and its element lines, HRD lines included.
// Errors pass to the caller (the sequence parameter set tree reports them).
void Update_TreeView_vui_parameters(ITreeLines& tree, TTreeLine parent, const TVuiParameters& vui);
