#include "syntax/hrd_parameters.h"

#include "syntax/ElementReader.h"

#include <algorithm>

std::int64_t HrdCpbEntriesInStream(const THrdParameters& hrd) {
    if (hrd.cpb_cnt_minus1 >= 0x80000000u) {
        return 0;
    }
    return static_cast<std::int64_t>(hrd.cpb_cnt_minus1) + 1;
}

std::int32_t HrdCpbEntriesHeld(const THrdParameters& hrd) {
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(HrdCpbEntriesInStream(hrd), THrdParameters::kCpbCapacity));
}

bool Parse_hrd_parameters(TBitStream4& reader, THrdParameters& hrd) {
    return Guard("Parse_hrd_parameters", false, [&] {
        TElementReader in(reader);
        in.StructureLine(); // "hrd_parameters( )"
        hrd.cpb_cnt_minus1 = in.Ue();
        hrd.bit_rate_scale = in.Bits(4);
        hrd.cpb_size_scale = in.Bits(4);
        const std::int64_t inStream = HrdCpbEntriesInStream(hrd);
        const std::int32_t held = HrdCpbEntriesHeld(hrd);
        for (std::int32_t i = 0; i < held; ++i) {
            hrd.bit_rate_value_minus1[i] = in.Ue();
            hrd.cpb_size_value_minus1[i] = in.Ue();
            hrd.cbr_flag[i] = in.Bit();
        }
        // Surplus entries: every one consumes bits, so the loop ends with the payload.
        for (std::int64_t i = held; i < inStream && reader.BitsLeft() > 0; ++i) {
            reader.ReadUE();
            reader.ReadUE();
            reader.ReadBit();
        }
        hrd.initial_cpb_removal_delay_length_minus1 = in.Bits(5);
        hrd.cpb_removal_delay_length_minus1 = in.Bits(5);
        hrd.dpb_output_delay_length_minus1 = in.Bits(5);
        hrd.time_offset_length = in.Bits(5);
        return true;
    });
}

void Update_TreeView_hrd_parameters(ITreeLines& tree, TTreeLine parent, const THrdParameters& hrd) {
    TElementLines lines(tree, tree.AddChildLine(parent, "hrd_parameters( )"),
                        kParameterSetLabelWidth);
    lines.Ue("cpb_cnt_minus1", hrd.cpb_cnt_minus1);
    lines.Unsigned("bit_rate_scale", hrd.bit_rate_scale, 4);
    lines.Unsigned("cpb_size_scale", hrd.cpb_size_scale, 4);
    const std::int32_t held = HrdCpbEntriesHeld(hrd);
    for (std::int32_t i = 0; i < held; ++i) {
        lines.Ue(IndexedLabel("bit_rate_value_minus1", i), hrd.bit_rate_value_minus1[i]);
        lines.Ue(IndexedLabel("cpb_size_value_minus1", i), hrd.cpb_size_value_minus1[i]);
        lines.Unsigned(IndexedLabel("cbr_flag", i), hrd.cbr_flag[i], 1);
    }
    lines.Unsigned("initial_cpb_removal_delay_length_minus1",
                   hrd.initial_cpb_removal_delay_length_minus1, 5);
    lines.Unsigned("cpb_removal_delay_length_minus1", hrd.cpb_removal_delay_length_minus1, 5);
    lines.Unsigned("dpb_output_delay_length_minus1", hrd.dpb_output_delay_length_minus1, 5);
    lines.Unsigned("time_offset_length", hrd.time_offset_length, 5);
}
