#include "syntax/slice_header.h"

#include "stream/H264Utils.h"
#include "syntax/ParameterSetFinder.h"

#include <string>

namespace {

// Entries of a loop "for i = 0 to last", the count bounded as the standard bounds it (32
// references in a field list).
std::uint32_t RefEntries(std::uint32_t last) {
    return last < 32 ? last + 1 : 32;
}

// Ceil(Log2(PicSizeInMapUnits / SliceGroupChangeRate + 1)), without rounding the quotient.
int SliceGroupChangeCycleBits(const TSeqParameterSet& sps, std::uint32_t changeRateMinus1) {
    const std::uint64_t size = (std::uint64_t{sps.pic_width_in_mbs_minus1} + 1) *
                               (std::uint64_t{sps.pic_height_in_map_units_minus1} + 1);
    const std::uint64_t rate = std::uint64_t{changeRateMinus1} + 1;
    int bits = 0;
    while (bits < 32 && (std::uint64_t{1} << bits) * rate < size + rate) {
        ++bits;
    }
    return bits;
}

// The flag's name comes whole, its length known where it is written.
bool ModificationList(TFieldLines& lines, TElementName flagName) {
    if (lines.Flag(flagName) == 0) {
        return true;
    }
    for (int i = 0; i < kMaxModifications; ++i) {
        if (lines.Failed()) {
            return true; // the caller tells that the payload ended
        }
        const std::uint32_t idc =
            lines.Ue({"modification_of_pic_nums_idc", TElementId::modification_of_pic_nums_idc});
        if (idc == 3) {
            return true;
        }
        if (idc == 0 || idc == 1) {
            lines.Ue({"abs_diff_pic_num_minus1", TElementId::abs_diff_pic_num_minus1});
        } else if (idc == 2) {
            lines.Ue({"long_term_pic_num", TElementId::long_term_pic_num});
        }
    }
    lines.Note("no end of the list within " + std::to_string(kMaxModifications) + " entries");
    return false;
}

// "name_lN" with the given subscripts.
std::string WeightLabel(const char* name, int list, std::uint32_t i, int j = -1) {
    std::string label = name;
    label.append("_l").append(std::to_string(list)).append("[").append(std::to_string(i));
    label.append("]");
    if (j >= 0) {
        label.append("[").append(std::to_string(j)).append("]");
    }
    return label;
}

void WeightList(TFieldLines& lines, int list, std::uint32_t entries, bool chroma) {
    // A reading without lines keeps none of these values: it needs no labels.
    const bool shows = lines.Shows();
    const auto label = [shows, list](const char* name, std::uint32_t i, int j = -1) {
        return shows ? WeightLabel(name, list, i, j) : std::string();
    };
    const auto flagLabel = [&label](const char* name, std::uint32_t i) {
        std::string flag = label(name, i);
        if (!flag.empty()) {
            flag.insert(flag.find('['), "_flag");
        }
        return flag;
    };
    for (std::uint32_t i = 0; i < entries && !lines.Failed(); ++i) {
        if (lines.Flag(flagLabel("luma_weight", i)) != 0) {
            lines.Se(label("luma_weight", i));
            lines.Se(label("luma_offset", i));
        }
        if (chroma && lines.Flag(flagLabel("chroma_weight", i)) != 0) {
            for (int j = 0; j < 2; ++j) {
                lines.Se(label("chroma_weight", i, j));
                lines.Se(label("chroma_offset", i, j));
            }
        }
    }
}

// What the slice header asks of its picture parameter set: a copy of these few values is
// all it keeps, where a copy of the whole set would cost every slice a few kilobytes.
struct TSlicePps {
    explicit TSlicePps(const TPicParameterSet& pps)
        : seq_parameter_set_id(pps.seq_parameter_set_id),
          entropy_coding_mode_flag(pps.entropy_coding_mode_flag),
          pic_order_present_flag(pps.pic_order_present_flag),
          slice_group_change_rate_minus1(pps.slice_group_change_rate_minus1),
          num_ref_idx_l0_active_minus1(pps.num_ref_idx_l0_active_minus1),
          num_ref_idx_l1_active_minus1(pps.num_ref_idx_l1_active_minus1),
          weighted_pred_flag(pps.weighted_pred_flag), weighted_bipred_idc(pps.weighted_bipred_idc),
          deblocking_filter_control_present_flag(pps.deblocking_filter_control_present_flag),
          redundant_pic_cnt_present_flag(pps.redundant_pic_cnt_present_flag),
          sliceGroupChange(PpsPresence::SliceGroupChange(pps)) {}
    std::uint32_t seq_parameter_set_id;
    std::uint32_t entropy_coding_mode_flag;
    std::uint32_t pic_order_present_flag;
    std::uint32_t slice_group_change_rate_minus1;
    std::uint32_t num_ref_idx_l0_active_minus1;
    std::uint32_t num_ref_idx_l1_active_minus1;
    std::uint32_t weighted_pred_flag;
    std::uint32_t weighted_bipred_idc;
    std::uint32_t deblocking_filter_control_present_flag;
    std::uint32_t redundant_pic_cnt_present_flag;
    bool sliceGroupChange;
};

} // namespace

bool Decode_ref_pic_list_modification(TFieldLines& outer, const TSliceHeader& header) {
    TFieldLines lines = outer.Structure("ref_pic_list_modification( )");
    if (!SliceKind::I(header) && !SliceKind::SI(header) &&
        !ModificationList(lines, "ref_pic_list_modification_flag_l0")) {
        return false;
    }
    return !SliceKind::B(header) || ModificationList(lines, {"ref_pic_list_modification_flag_l1",
                                                  TElementId::ref_pic_list_modification_flag_l1});
}

void Decode_pred_weight_table(TFieldLines& outer, const TSliceHeader& header,
                              std::uint32_t ChromaArrayType) {
    TFieldLines lines = outer.Structure("pred_weight_table( )");
    lines.Ue("luma_log2_weight_denom");
    const bool chroma = ChromaArrayType != 0;
    if (chroma) {
        lines.Ue("chroma_log2_weight_denom");
    }
    WeightList(lines, 0, RefEntries(header.num_ref_idx_l0_active_minus1), chroma);
    if (SliceKind::B(header)) {
        WeightList(lines, 1, RefEntries(header.num_ref_idx_l1_active_minus1), chroma);
    }
}

bool Decode_dec_ref_pic_marking(TFieldLines& outer, const TSliceHeader& header) {
    TFieldLines lines = outer.Structure("dec_ref_pic_marking( )");
    if (header.nal_unit_type == kNalIdrSlice) {
        lines.Flag({"no_output_of_prior_pics_flag", TElementId::no_output_of_prior_pics_flag});
        lines.Flag({"long_term_reference_flag", TElementId::long_term_reference_flag});
        return true;
    }
    if (lines.Flag({"adaptive_ref_pic_marking_mode_flag",
                    TElementId::adaptive_ref_pic_marking_mode_flag}) == 0) {
        return true;
    }
    for (int i = 0; i < kMaxMarkingOperations; ++i) {
        if (lines.Failed()) {
            return true;
        }
        const std::uint32_t operation = lines.Ue({"memory_management_control_operation",
                                                  TElementId::memory_management_control_operation});
        if (operation == 0) {
            return true;
        }
        if (operation == 1 || operation == 3) {
            lines.Ue({"difference_of_pic_nums_minus1", TElementId::difference_of_pic_nums_minus1});
        }
        if (operation == 2) {
            lines.Ue({"long_term_pic_num", TElementId::long_term_pic_num});
        }
        if (operation == 3 || operation == 6) {
            lines.Ue({"long_term_frame_idx", TElementId::long_term_frame_idx});
        }
        if (operation == 4) {
            lines.Ue({"max_long_term_frame_idx_plus1", TElementId::max_long_term_frame_idx_plus1});
        }
    }
    lines.Note("no end of the operations within " + std::to_string(kMaxMarkingOperations) +
               " entries");
    return false;
}

void Decode_slice_header(TFieldLines& outer, TSliceHeader& header, IGoverningSets& sets) {
    TFieldLines lines = outer.Structure("slice_header( )");
    lines.Ue({"first_mb_in_slice", TElementId::first_mb_in_slice});
    header.slice_type = lines.Ue({"slice_type", TElementId::slice_type});
    const std::uint32_t ppsId =
        lines.Ue({"pic_parameter_set_id", TElementId::pic_parameter_set_id});
    if (lines.Failed()) {
        return;
    }
    const TPicParameterSet* found = sets.Pps(ppsId);
    if (found == nullptr) {
        lines.Note(sets.MissingLine("pic_parameter_set_id", ppsId));
        return;
    }
    // The next question may replace what the answer points to.
    const TSlicePps pps(*found);
    const TSeqParameterSet* sps = sets.Sps(pps.seq_parameter_set_id);
    if (sps == nullptr) {
        lines.Note(sets.MissingLine("seq_parameter_set_id", pps.seq_parameter_set_id));
        return;
    }
    const bool separateColourPlanes =
        SpsPresence::ResidualColourTransform(*sps) && sps->residual_colour_transform_flag != 0;
    if (separateColourPlanes) {
        lines.U("colour_plane_id", 2);
    }
    lines.U({"frame_num", TElementId::frame_num},
            static_cast<int>(sps->log2_max_frame_num_minus4 + 4));
    if (sps->frame_mbs_only_flag == 0) {
        header.field_pic_flag = lines.Flag({"field_pic_flag", TElementId::field_pic_flag});
        if (header.field_pic_flag != 0) {
            lines.Flag({"bottom_field_flag", TElementId::bottom_field_flag});
        }
    }
    if (header.nal_unit_type == kNalIdrSlice) {
        lines.Ue({"idr_pic_id", TElementId::idr_pic_id});
    }
    const bool bottomInFrame = pps.pic_order_present_flag != 0 && header.field_pic_flag == 0;
    if (sps->pic_order_cnt_type == 0) {
        lines.U({"pic_order_cnt_lsb", TElementId::pic_order_cnt_lsb},
                static_cast<int>(sps->log2_max_pic_order_cnt_lsb_minus4 + 4));
        if (bottomInFrame) {
            lines.Se({"delta_pic_order_cnt_bottom", TElementId::delta_pic_order_cnt_bottom});
        }
    }
    if (sps->pic_order_cnt_type == 1 && sps->delta_pic_order_always_zero_flag == 0) {
        lines.Se({"delta_pic_order_cnt[0]", TElementId::delta_pic_order_cnt_0});
        if (bottomInFrame) {
            lines.Se({"delta_pic_order_cnt[1]", TElementId::delta_pic_order_cnt_1});
        }
    }
    if (pps.redundant_pic_cnt_present_flag != 0) {
        lines.Ue({"redundant_pic_cnt", TElementId::redundant_pic_cnt});
    }
    if (SliceKind::B(header)) {
        lines.Flag("direct_spatial_mv_pred_flag");
    }
    header.num_ref_idx_l0_active_minus1 = pps.num_ref_idx_l0_active_minus1;
    header.num_ref_idx_l1_active_minus1 = pps.num_ref_idx_l1_active_minus1;
    if (SliceKind::P(header) || SliceKind::SP(header) || SliceKind::B(header)) {
        if (lines.Flag("num_ref_idx_active_override_flag") != 0) {
            header.num_ref_idx_l0_active_minus1 = lines.Ue(
                {"num_ref_idx_l0_active_minus1", TElementId::num_ref_idx_l0_active_minus1});
            if (SliceKind::B(header)) {
                header.num_ref_idx_l1_active_minus1 = lines.Ue(
                    {"num_ref_idx_l1_active_minus1", TElementId::num_ref_idx_l1_active_minus1});
            }
        }
    }
    // A list with no end leaves nothing after it to trust.
    if (!Decode_ref_pic_list_modification(lines, header)) {
        return;
    }
    if ((pps.weighted_pred_flag != 0 && (SliceKind::P(header) || SliceKind::SP(header))) ||
        (pps.weighted_bipred_idc == 1 && SliceKind::B(header))) {
        Decode_pred_weight_table(lines, header, separateColourPlanes ? 0 : sps->chroma_format_idc);
    }
    if (header.nal_ref_idc != 0 && !Decode_dec_ref_pic_marking(lines, header)) {
        return;
    }
    if (pps.entropy_coding_mode_flag != 0 && !SliceKind::I(header) && !SliceKind::SI(header)) {
        lines.Ue("cabac_init_idc");
    }
    lines.Se({"slice_qp_delta", TElementId::slice_qp_delta});
    if (SliceKind::SP(header) || SliceKind::SI(header)) {
        if (SliceKind::SP(header)) {
            lines.Flag("sp_for_switch_flag");
        }
        lines.Se("slice_qs_delta");
    }
    if (pps.deblocking_filter_control_present_flag != 0) {
        if (lines.Ue("disable_deblocking_filter_idc") != 1) {
            lines.Se("slice_alpha_c0_offset_div2");
            lines.Se("slice_beta_offset_div2");
        }
    }
    if (pps.sliceGroupChange) {
        lines.U("slice_group_change_cycle",
                SliceGroupChangeCycleBits(*sps, pps.slice_group_change_rate_minus1));
    }
}
