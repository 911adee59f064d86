#include "syntax/sei_rbsp.h"

#include "syntax/ParameterSetFinder.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <string>
#include <utility>

namespace {

constexpr std::uint32_t kBufferingPeriod = 0;
constexpr std::uint32_t kPicTiming = 1;
constexpr std::uint32_t kUserDataUnregistered = 5;
constexpr std::uint32_t kRecoveryPoint = 6;

constexpr std::array<std::pair<std::uint32_t, const char*>, 62> kPayloadNames = {{
    {0, "buffering_period"},
    {1, "pic_timing"},
    {2, "pan_scan_rect"},
    {3, "filler_payload"},
    {4, "user_data_registered_itu_t_t35"},
    {5, "user_data_unregistered"},
    {6, "recovery_point"},
    {7, "dec_ref_pic_marking_repetition"},
    {8, "spare_pic"},
    {9, "scene_info"},
    {10, "sub_seq_info"},
    {11, "sub_seq_layer_characteristics"},
    {12, "sub_seq_characteristics"},
    {13, "full_frame_freeze"},
    {14, "full_frame_freeze_release"},
    {15, "full_frame_snapshot"},
    {16, "progressive_refinement_segment_start"},
    {17, "progressive_refinement_segment_end"},
    {18, "motion_constrained_slice_group_set"},
    {19, "film_grain_characteristics"},
    {20, "deblocking_filter_display_preference"},
    {21, "stereo_video_info"},
    {22, "post_filter_hint"},
    {23, "tone_mapping_info"},
    {24, "scalability_info"},
    {25, "sub_pic_scalable_layer"},
    {26, "non_required_layer_rep"},
    {27, "priority_layer_info"},
    {28, "layers_not_present"},
    {29, "layer_dependency_change"},
    {30, "scalable_nesting"},
    {31, "base_layer_temporal_hrd"},
    {32, "quality_layer_integrity_check"},
    {33, "redundant_pic_property"},
    {34, "tl0_dep_rep_index"},
    {35, "tl_switching_point"},
    {36, "parallel_decoding_info"},
    {37, "mvc_scalable_nesting"},
    {38, "view_scalability_info"},
    {39, "multiview_scene_info"},
    {40, "multiview_acquisition_info"},
    {41, "non_required_view_component"},
    {42, "view_dependency_change"},
    {43, "operation_points_not_present"},
    {44, "base_view_temporal_hrd"},
    {45, "frame_packing_arrangement"},
    {46, "multiview_view_position"},
    {47, "display_orientation"},
    {48, "mvcd_scalable_nesting"},
    {49, "mvcd_view_scalability_info"},
    {50, "depth_representation_info"},
    {51, "three_dimensional_reference_displays_info"},
    {52, "depth_timing"},
    {53, "depth_sampling_info"},
    {54, "constrained_depth_parameter_set_identifier"},
    {56, "green_metadata"},
    {137, "mastering_display_colour_volume"},
    {142, "colour_remapping_info"},
    {144, "content_light_level_info"},
    {147, "alternative_transfer_characteristics"},
    {148, "ambient_viewing_environment"},
    {181, "alternative_depth_info"},
}};

std::string NoSequenceParameterSetLine() {
    return "no seq_parameter_set_rbsp( ) found within " +
           std::to_string(kParameterSetSearchBound / 1048576) + " MiB before this unit";
}

// Labels are built only for a reading that shows them.
std::string Label(const TFieldLines& lines, const char* name, std::int32_t i) {
    return lines.Shows() ? IndexedLabel(name, i) : std::string();
}

void HrdDelays(TFieldLines& lines, const THrdParameters& hrd, TSeiTiming* timing, int which) {
    const int bits = static_cast<int>(hrd.initial_cpb_removal_delay_length_minus1 + 1);
    const std::int32_t held = HrdCpbEntriesHeld(hrd);
    for (std::int32_t i = 0; i < held && !lines.Failed(); ++i) {
        const std::uint32_t delay = lines.U(Label(lines, "initial_cpb_removal_delay", i), bits);
        const std::uint32_t offset =
            lines.U(Label(lines, "initial_cpb_removal_delay_offset", i), bits);
        if (timing != nullptr && !lines.Failed()) {
            timing->InitialDelay[which][i] = delay;
            timing->InitialOffset[which][i] = offset;
            timing->Entries[which] = i + 1;
        }
    }
}

void BufferingPeriod(TFieldLines& lines, IGoverningSets& sets, TSeiTiming* timing) {
    const std::uint32_t id = lines.Ue("seq_parameter_set_id");
    if (lines.Failed()) {
        return;
    }
    if (timing != nullptr) {
        timing->BufferingPeriod = true;
        timing->BufferingPeriodSpsId = id;
    }
    const TSeqParameterSet* sps = sets.Sps(id);
    if (sps == nullptr) {
        lines.Note(sets.MissingLine("seq_parameter_set_id", id));
        return;
    }
    if (timing != nullptr) {
        timing->BufferingPeriodSpsFound = true;
    }
    const TVuiParameters& vui = sps->vui_parameters;
    if (SpsPresence::Vui(*sps) && VuiPresence::NalHrd(vui)) {
        HrdDelays(lines, vui.nal_hrd_parameters, timing, 0);
    }
    if (SpsPresence::Vui(*sps) && VuiPresence::VclHrd(vui)) {
        HrdDelays(lines, vui.vcl_hrd_parameters, timing, 1);
    }
}

// Clock timestamps per pic_struct; 0 for the reserved values.
int NumClockTS(std::uint32_t pic_struct) {
    constexpr std::array<int, 9> kCounts = {1, 1, 1, 2, 2, 3, 3, 2, 3};
    return pic_struct < kCounts.size() ? kCounts[pic_struct] : 0;
}

void ClockTimestamp(TFieldLines& lines, std::uint32_t time_offset_length) {
    lines.U("ct_type", 2);
    lines.Flag("nuit_field_based_flag");
    lines.U("counting_type", 5);
    const std::uint32_t full = lines.Flag("full_timestamp_flag");
    lines.Flag("discontinuity_flag");
    lines.Flag("cnt_dropped_flag");
    lines.U("n_frames", 8);
    if (full != 0) {
        lines.U("seconds_value", 6);
        lines.U("minutes_value", 6);
        lines.U("hours_value", 5);
    } else if (lines.Flag("seconds_flag") != 0) {
        lines.U("seconds_value", 6);
        if (lines.Flag("minutes_flag") != 0) {
            lines.U("minutes_value", 6);
            if (lines.Flag("hours_flag") != 0) {
                lines.U("hours_value", 5);
            }
        }
    }
    if (time_offset_length > 0) {
        lines.I("time_offset", static_cast<int>(time_offset_length));
    }
}

void PicTiming(TFieldLines& lines, IGoverningSets& sets, TSeiTiming* timing) {
    const TSeqParameterSet* sps = sets.Sps(std::nullopt);
    if (sps == nullptr) {
        lines.Note(NoSequenceParameterSetLine());
        return;
    }
    const TVuiParameters& vui = sps->vui_parameters;
    const bool hasVui = SpsPresence::Vui(*sps);
    const THrdParameters* hrd = nullptr;
    if (hasVui && VuiPresence::NalHrd(vui)) {
        hrd = &vui.nal_hrd_parameters;
    } else if (hasVui && VuiPresence::VclHrd(vui)) {
        hrd = &vui.vcl_hrd_parameters;
    }
    if (hrd != nullptr) { // CpbDpbDelaysPresentFlag
        const std::uint32_t removal = lines.U(
            "cpb_removal_delay", static_cast<int>(hrd->cpb_removal_delay_length_minus1 + 1));
        const std::uint32_t output =
            lines.U("dpb_output_delay", static_cast<int>(hrd->dpb_output_delay_length_minus1 + 1));
        if (timing != nullptr && !lines.Failed()) {
            timing->PicTiming = true;
            timing->PicTimingDelays = true;
            timing->CpbRemovalDelay = removal;
            timing->DpbOutputDelay = output;
        }
    } else if (timing != nullptr) {
        timing->PicTiming = true;
    }
    if (!hasVui || vui.pic_struct_present_flag == 0) {
        return;
    }
    const int clocks = NumClockTS(lines.U("pic_struct", 4));
    // Without an HRD the time offset takes its inferred length.
    const std::uint32_t time_offset_length = hrd != nullptr ? hrd->time_offset_length : 24;
    for (int i = 0; i < clocks && !lines.Failed(); ++i) {
        if (lines.Flag(IndexedLabel("clock_timestamp_flag", i)) != 0) {
            ClockTimestamp(lines, time_offset_length);
        }
    }
}

std::string HexByte(std::uint8_t b) {
    std::array<char, 3> text{};
    std::snprintf(text.data(), text.size(), "%02x", static_cast<unsigned>(b));
    return text.data();
}

// Printable ASCII, with NUL bytes allowed at the end (an encoder's C string).
bool Printable(const std::uint8_t* data, std::int32_t n) {
    while (n > 0 && data[n - 1] == 0) {
        --n;
    }
    return n > 0 && std::all_of(data, data + n, [](std::uint8_t c) { return c >= 32 && c < 127; });
}

// Bytes already checked to lie in the payload are read through the reader, so that the
// lines keep their positions.
void UserDataUnregistered(TFieldLines& lines, const std::uint8_t* data, std::int32_t size) {
    if (size < 16) {
        lines.Note("payload shorter than the 16 bytes of uuid_iso_iec_11578");
        return;
    }
    std::string uuid;
    for (int i = 0; i < 16; ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) {
            uuid += '-';
        }
        uuid += HexByte(static_cast<std::uint8_t>(lines.Reader().ReadBits(8)));
    }
    lines.Shown("uuid_iso_iec_11578", uuid, 128);
    const std::uint8_t* user = data + 16;
    const std::int32_t n = size - 16;
    if (n == 0) {
        return;
    }
    std::string text;
    if (Printable(user, n)) {
        std::int32_t shown = n;
        while (shown > 0 && user[shown - 1] == 0) {
            --shown;
        }
        text.assign(1, '"');
        text.append(reinterpret_cast<const char*>(user), static_cast<std::size_t>(shown));
        text.append(1, '"');
    } else {
        constexpr std::int32_t kHexShown = 32;
        for (std::int32_t i = 0; i < std::min(n, kHexShown); ++i) {
            if (i > 0) {
                text += ' ';
            }
            text += HexByte(user[i]);
        }
        if (n > kHexShown) {
            text += " ...";
        }
    }
    for (std::int32_t i = 0; i < n; ++i) {
        lines.Reader().ReadBits(8);
    }
    lines.Shown("user_data_payload_byte", text, 8 * static_cast<std::int64_t>(n));
}

void RecoveryPoint(TFieldLines& lines) {
    lines.Ue("recovery_frame_cnt");
    lines.Flag("exact_match_flag");
    lines.Flag("broken_link_flag");
    lines.U("changing_slice_group_idc", 2);
}

// Reads one 0xFF-extended value (payloadType, payloadSize); its width in bits goes to bits.
std::uint32_t ExtendedValue(TBitStream4& reader, std::int64_t& bits) {
    const std::int64_t before = reader.BitsRead();
    std::uint32_t value = 0;
    std::uint32_t byte = 0xFF;
    while (byte == 0xFF && reader.Error() == 0) {
        byte = reader.ReadBits(8);
        value += byte;
    }
    bits = reader.BitsRead() - before;
    return value;
}

} // namespace

const char* SeiPayloadTypeName(std::uint32_t payloadType) {
    for (const auto& [type, name] : kPayloadNames) {
        if (type == payloadType) {
            return name;
        }
    }
    return nullptr;
}

TSeiWalkEnd WalkSeiPayloadTypesWith(const std::uint8_t* payload, std::int32_t size,
                                    bool (*visit)(void* context, std::uint32_t payloadType),
                                    void* context) {
    TBitStream4 message;
    std::int32_t at = 0;
    for (;;) {
        if (at >= size || message.SetData(payload + at, size - at) != kStatusOk ||
            !message.MoreRbspData()) {
            return TSeiWalkEnd::Complete;
        }
        std::int64_t bits = 0;
        const std::uint32_t type = ExtendedValue(message, bits);
        const std::uint32_t payloadSize = ExtendedValue(message, bits);
        if (message.Error() != 0) {
            return TSeiWalkEnd::EndsEarly;
        }
        if (!visit(context, type)) {
            return TSeiWalkEnd::Stopped;
        }
        const std::int32_t bodyAt = at + message.BytePos();
        if (payloadSize > static_cast<std::uint32_t>(size - bodyAt)) {
            return TSeiWalkEnd::EndsEarly;
        }
        at = bodyAt + static_cast<std::int32_t>(payloadSize);
    }
}

void Decode_sei_rbsp(TFieldContext& context, TTreeLine parent, const std::uint8_t* payload,
                     std::int32_t size, IGoverningSets& sets, TSeiTiming* timing) {
    TBitStream4 message;
    TBitStream4 body;
    std::int32_t at = 0; // byte of the next sei_message( )
    for (;;) {
        if (at >= size || message.SetData(payload + at, size - at) != kStatusOk ||
            !message.MoreRbspData()) {
            return;
        }
        // Positions count from the header byte's first bit.
        TFieldLines outer(context, message, parent, 8 + 8 * static_cast<std::int64_t>(at));
        TFieldLines lines = outer.Structure("sei_message( )");
        std::int64_t bits = 0;
        const std::uint32_t type = ExtendedValue(message, bits);
        lines.Shown("payloadType", std::to_string(type), bits);
        const std::uint32_t payloadSize = ExtendedValue(message, bits);
        lines.Shown("payloadSize", std::to_string(payloadSize), bits);
        if (lines.Failed()) {
            lines.Note("sei_message( ) ends early: data ends after " +
                       std::to_string(message.BitsRead()) + " bits");
            return;
        }
        const std::int32_t bodyAt = at + message.BytePos();
        const std::int64_t left = size - bodyAt;
        const char* name = SeiPayloadTypeName(type);
        const std::string structure =
            name != nullptr ? std::string(name) + "( )" : "sei_payload( ) of an unknown type";
        if (payloadSize > left) {
            lines.Note(structure);
            lines.Note("payloadSize " + std::to_string(payloadSize) +
                       " runs past the end of the unit (" + std::to_string(left) +
                       " bytes left): the list ends here");
            return;
        }
        const auto bodySize = static_cast<std::int32_t>(payloadSize);
        const bool decoded = type == kBufferingPeriod || type == kPicTiming ||
                             type == kUserDataUnregistered || type == kRecoveryPoint;
        if (!decoded || bodySize == 0 || body.SetData(payload + bodyAt, bodySize) != kStatusOk) {
            lines.Note(structure);
        } else {
            TFieldLines in =
                lines.Structure(structure, body, 8 + 8 * static_cast<std::int64_t>(bodyAt));
            switch (type) {
            case kBufferingPeriod:
                BufferingPeriod(in, sets, timing);
                break;
            case kPicTiming:
                PicTiming(in, sets, timing);
                break;
            case kUserDataUnregistered:
                UserDataUnregistered(in, payload + bodyAt, bodySize);
                break;
            default:
                RecoveryPoint(in);
                break;
            }
            if (in.Failed()) {
                lines.Note(structure + " ends early: its " + std::to_string(bodySize) +
                           " bytes end before its last element");
            }
        }
        at = bodyAt + bodySize;
    }
}
