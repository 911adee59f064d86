#include "syntax/Meanings.h"

#include "stream/H264Utils.h"

#include <array>
#include <cstdio>
#include <utility>

namespace {

using TNamed = std::pair<std::uint32_t, std::string_view>;

template <std::size_t N>
std::string_view Lookup(const std::array<TNamed, N>& table, std::uint32_t value) {
    for (const auto& [key, name] : table) {
        if (key == value) {
            return name;
        }
    }
    return {};
}

constexpr std::array<TNamed, 17> kProfiles = {{
    {44, "CAVLC 4:4:4 Intra"},
    {66, "Baseline"},
    {77, "Main"},
    {83, "Scalable Baseline"},
    {86, "Scalable High"},
    {88, "Extended"},
    {100, "High"},
    {110, "High 10"},
    {118, "Multiview High"},
    {122, "High 4:2:2"},
    {128, "Stereo High"},
    {134, "MFC High"},
    {135, "MFC Depth High"},
    {138, "Multiview Depth High"},
    {139, "Enhanced Multiview Depth High"},
    {144, "High 4:4:4"},
    {244, "High 4:4:4 Predictive"},
}};

constexpr std::array<std::uint32_t, 20> kLevels = {9,  10, 11, 12, 13, 20, 21, 22, 30, 31,
                                                   32, 40, 41, 42, 50, 51, 52, 60, 61, 62};

constexpr std::array<std::string_view, 5> kSliceLetters = {"P", "B", "I", "SP", "SI"};

constexpr std::array<std::string_view, 8> kPrimaryPicTypes = {
    "I", "I, P", "I, P, B", "SI", "SI, SP", "I, SI", "I, SI, P, SP", "I, SI, P, SP, B"};

constexpr std::array<std::string_view, 4> kChromaFormats = {"4:0:0", "4:2:0", "4:2:2", "4:4:4"};

constexpr std::array<TNamed, 18> kAspectRatios = {{
    {0, "Unspecified"},
    {1, "1:1"},
    {2, "12:11"},
    {3, "10:11"},
    {4, "16:11"},
    {5, "40:33"},
    {6, "24:11"},
    {7, "20:11"},
    {8, "32:11"},
    {9, "80:33"},
    {10, "18:11"},
    {11, "15:11"},
    {12, "64:33"},
    {13, "160:99"},
    {14, "4:3"},
    {15, "3:2"},
    {16, "2:1"},
    {255, "Extended_SAR"},
}};

constexpr std::array<std::string_view, 6> kVideoFormats = {"Component", "PAL", "NTSC",
                                                           "SECAM",     "MAC", "Unspecified"};

constexpr std::array<TNamed, 12> kColourPrimaries = {{
    {1, "BT.709"},
    {2, "Unspecified"},
    {4, "BT.470 System M"},
    {5, "BT.470 System B, G"},
    {6, "BT.601 525"},
    {7, "SMPTE 240M"},
    {8, "Generic film"},
    {9, "BT.2020"},
    {10, "SMPTE ST 428-1"},
    {11, "SMPTE RP 431-2"},
    {12, "SMPTE EG 432-1"},
    {22, "EBU Tech. 3213-E"},
}};

constexpr std::array<TNamed, 17> kTransferCharacteristics = {{
    {1, "BT.709"},
    {2, "Unspecified"},
    {4, "BT.470 System M"},
    {5, "BT.470 System B, G"},
    {6, "BT.601"},
    {7, "SMPTE 240M"},
    {8, "Linear"},
    {9, "Logarithmic 100:1"},
    {10, "Logarithmic 316.2:1"},
    {11, "IEC 61966-2-4"},
    {12, "BT.1361"},
    {13, "IEC 61966-2-1 sRGB"},
    {14, "BT.2020 10-bit"},
    {15, "BT.2020 12-bit"},
    {16, "SMPTE ST 2084 PQ"},
    {17, "SMPTE ST 428-1"},
    {18, "ARIB STD-B67 HLG"},
}};

constexpr std::array<TNamed, 14> kMatrixCoefficients = {{
    {0, "Identity"},
    {1, "BT.709"},
    {2, "Unspecified"},
    {4, "FCC"},
    {5, "BT.470 System B, G"},
    {6, "BT.601"},
    {7, "SMPTE 240M"},
    {8, "YCgCo"},
    {9, "BT.2020 non-constant luminance"},
    {10, "BT.2020 constant luminance"},
    {11, "SMPTE ST 2085"},
    {12, "Chromaticity-derived non-constant luminance"},
    {13, "Chromaticity-derived constant luminance"},
    {14, "ICtCp"},
}};

// The values a table of the standard leaves unnamed are reserved.
std::string_view OrReserved(std::string_view name) {
    return name.empty() ? std::string_view("Reserved") : name;
}

template <std::size_t N>
std::string_view Indexed(const std::array<std::string_view, N>& table, std::uint32_t value) {
    return value < N ? table[value] : std::string_view();
}

} // namespace

std::string_view ProfileName(std::uint32_t profile_idc) {
    return Lookup(kProfiles, profile_idc);
}

bool IsNamedLevel(std::uint32_t level_idc) {
    for (const std::uint32_t level : kLevels) {
        if (level == level_idc) {
            return true;
        }
    }
    return false;
}

std::string LevelText(std::uint32_t profile_idc, std::uint32_t constraint_set3_flag,
                      std::uint32_t level_idc) {
    const bool oneB =
        level_idc == 9 || (level_idc == 11 && constraint_set3_flag != 0 &&
                           (profile_idc == 66 || profile_idc == 77 || profile_idc == 88));
    if (oneB) {
        return "1b";
    }
    return std::to_string(level_idc / 10) + "." + std::to_string(level_idc % 10);
}

std::string_view SliceTypeLetter(std::uint32_t slice_type) {
    return kSliceLetters[slice_type % 5];
}

std::string_view PrimaryPicTypeSlices(std::uint32_t primary_pic_type) {
    return Indexed(kPrimaryPicTypes, primary_pic_type);
}

std::string_view ElementMeaning(std::string_view label, std::uint32_t value,
                                const TMeaningContext& context, std::string& room) {
    if (label == "profile_idc") {
        return ProfileName(value);
    }
    if (label == "level_idc") {
        if (!IsNamedLevel(value)) {
            return {};
        }
        room = LevelText(context.profile_idc, context.constraint_set3_flag, value);
        return room;
    }
    if (label == "slice_type") {
        return value <= 9 ? SliceTypeLetter(value) : std::string_view();
    }
    if (label == "primary_pic_type") {
        return PrimaryPicTypeSlices(value);
    }
    if (label == "nal_unit_type") {
        return value < 32 ? NalTypeName(static_cast<std::uint8_t>(value)) : std::string_view();
    }
    if (label == "chroma_format_idc") {
        return Indexed(kChromaFormats, value);
    }
    if (label == "aspect_ratio_idc") {
        return value <= 255 ? OrReserved(Lookup(kAspectRatios, value)) : std::string_view();
    }
    if (label == "video_format") {
        return value <= 7 ? OrReserved(Indexed(kVideoFormats, value)) : std::string_view();
    }
    if (label == "colour_primaries") {
        return value <= 255 ? OrReserved(Lookup(kColourPrimaries, value)) : std::string_view();
    }
    if (label == "transfer_characteristics") {
        return value <= 255 ? OrReserved(Lookup(kTransferCharacteristics, value))
                            : std::string_view();
    }
    if (label == "matrix_coefficients") {
        return value <= 255 ? OrReserved(Lookup(kMatrixCoefficients, value)) : std::string_view();
    }
    return {};
}

TPictureSize CroppedSize(const TSeqParameterSet& sps) {
    const bool separatePlanes =
        SpsPresence::ResidualColourTransform(sps) && sps.residual_colour_transform_flag != 0;
    const std::uint32_t chroma = SpsPresence::ChromaBlock(sps) ? sps.chroma_format_idc : 1;
    const std::uint32_t chromaArrayType = separatePlanes ? 0 : chroma;
    const std::int64_t subWidth = chromaArrayType == 1 || chromaArrayType == 2 ? 2 : 1;
    const std::int64_t subHeight = chromaArrayType == 1 ? 2 : 1;
    const std::int64_t frameFactor = 2 - std::int64_t{sps.frame_mbs_only_flag != 0 ? 1 : 0};
    TPictureSize size;
    size.Width = (std::int64_t{sps.pic_width_in_mbs_minus1} + 1) * 16;
    size.Height = frameFactor * (std::int64_t{sps.pic_height_in_map_units_minus1} + 1) * 16;
    if (SpsPresence::FrameCropOffsets(sps)) {
        const std::int64_t unitX = subWidth;
        const std::int64_t unitY = subHeight * frameFactor;
        size.Width -= unitX * (std::int64_t{sps.frame_crop_left_offset} +
                               std::int64_t{sps.frame_crop_right_offset});
        size.Height -= unitY * (std::int64_t{sps.frame_crop_top_offset} +
                                std::int64_t{sps.frame_crop_bottom_offset});
    }
    return size;
}

std::string FrameRateText(const TSeqParameterSet& sps) {
    const TVuiParameters& vui = sps.vui_parameters;
    if (!SpsPresence::Vui(sps) || vui.timing_info_present_flag == 0 || vui.num_units_in_tick == 0 ||
        vui.time_scale == 0) {
        return {};
    }
    const double rate = static_cast<double>(vui.time_scale) / (2.0 * vui.num_units_in_tick);
    std::array<char, 48> text{};
    std::snprintf(text.data(), text.size(), "%.3f", rate);
    std::string shown = text.data();
    shown.erase(shown.find_last_not_of('0') + 1);
    if (shown.back() == '.') {
        shown.pop_back();
    }
    return shown;
}

std::string SequenceSummaryLine(const TSeqParameterSet& sps) {
    const TPictureSize size = CroppedSize(sps);
    std::string line =
        "cropped size " + std::to_string(size.Width) + "x" + std::to_string(size.Height);
    const std::string rate = FrameRateText(sps);
    if (!rate.empty()) {
        line += ", frame rate " + rate + " fps";
    }
    return line;
}
