// Any sequence parameter set through the reference-frame bound: a set it rewrites reads back
// with max_num_ref_frames within the bound, a VUI bitstream restriction whose reorder and
// buffering counts are within it too, and every other element as before, carries no start code
// pattern the emulation prevention should have broken, and is not rewritten again.

#include "FuzzSupport.h"
#include "decode/DpbBound.h"
#include "stream/H264Utils.h"
#include "syntax/BitStream4.h"
#include "syntax/seq_parameter_set_rbsp.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace {

std::unique_ptr<TSeqParameterSet> Parse(const std::uint8_t* unit, std::size_t size) {
    std::vector<std::uint8_t> rbsp(size);
    std::int32_t length = 0;
    Remove_emulation_prevention_three_bytes(unit + 1, static_cast<std::int32_t>(size - 1),
                                            rbsp.data(), length);
    auto sps = std::make_unique<TSeqParameterSet>();
    TBitStream4 reader;
    if (length <= 0 || reader.SetData(rbsp.data(), length) != kStatusOk ||
        !Parse_seq_parameter_set_rbsp(reader, *sps) || reader.Error() != 0) {
        return nullptr;
    }
    return sps;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2 || size > 4096) {
        return 0;
    }
    std::vector<std::uint8_t> out;
    if (!BoundSequenceSet(data, size, out)) {
        return 0;
    }
    const auto before = Parse(data, size);
    const auto after = Parse(out.data(), out.size());
    FuzzCheck(before != nullptr && after != nullptr, "a rewritten set reads back");
    const std::uint32_t bound = BoundedReferenceFrames(*before);
    const TSeqParameterSet& a = *before;
    const TSeqParameterSet& b = *after;
    FuzzCheck(b.num_ref_frames == std::min(a.num_ref_frames, bound), "the bound taken");
    FuzzCheck(a.profile_idc == b.profile_idc && a.level_idc == b.level_idc &&
                  a.seq_parameter_set_id == b.seq_parameter_set_id &&
                  a.chroma_format_idc == b.chroma_format_idc &&
                  a.bit_depth_luma_minus8 == b.bit_depth_luma_minus8 &&
                  a.log2_max_frame_num_minus4 == b.log2_max_frame_num_minus4 &&
                  a.pic_order_cnt_type == b.pic_order_cnt_type &&
                  a.gaps_in_frame_num_value_allowed_flag ==
                      b.gaps_in_frame_num_value_allowed_flag &&
                  a.pic_width_in_mbs_minus1 == b.pic_width_in_mbs_minus1 &&
                  a.pic_height_in_map_units_minus1 == b.pic_height_in_map_units_minus1 &&
                  a.frame_mbs_only_flag == b.frame_mbs_only_flag &&
                  a.frame_cropping_flag == b.frame_cropping_flag &&
                  a.frame_crop_bottom_offset == b.frame_crop_bottom_offset &&
                  a.vui_parameters.timing_info_present_flag ==
                      b.vui_parameters.timing_info_present_flag &&
                  a.vui_parameters.aspect_ratio_idc == b.vui_parameters.aspect_ratio_idc,
              "every other element as it was");
    FuzzCheck(b.vui_parameters_present_flag != 0 &&
                  b.vui_parameters.bitstream_restriction_flag != 0 &&
                  b.vui_parameters.num_reorder_frames <= bound &&
                  b.vui_parameters.max_dec_frame_buffering <= bound &&
                  (b.vui_parameters.num_reorder_frames >= 1 ||
                   (a.vui_parameters_present_flag != 0 &&
                    a.vui_parameters.bitstream_restriction_flag != 0)),
              "a restriction within the bound, one added saying the buffer's frames");
    for (std::size_t i = 3; i < out.size(); ++i) {
        FuzzCheck(!(out[i - 2] == 0 && out[i - 1] == 0 && out[i] <= 2),
                  "no 00 00 00, 00 00 01 or 00 00 02 left unbroken");
    }
    std::vector<std::uint8_t> again;
    FuzzCheck(!BoundSequenceSet(out.data(), out.size(), again), "a bounded set stays as it is");
    return 0;
}
