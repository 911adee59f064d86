#pragma once

// What the enumerated syntax elements stand for, in the words the standard's tables use,
// and the picture facts a sequence parameter set implies. Shared by the detail tree (the
// bracketed meaning after an element line) and the one-line summary of a unit.

#include "syntax/seq_parameter_set_rbsp.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

// The name of a profile_idc ("High"); empty for a value no profile uses.
std::string_view ProfileName(std::uint32_t profile_idc);

// The level as the standard writes it ("4.0", "1b"): level_idc 9, or 11 with
// constraint_set3_flag in the Baseline, Main and Extended profiles, is level 1b.
std::string LevelText(std::uint32_t profile_idc, std::uint32_t constraint_set3_flag,
                      std::uint32_t level_idc);
// True for the level_idc values of the standard's level table.
bool IsNamedLevel(std::uint32_t level_idc);

// "P", "B", "I", "SP", "SI" from slice_type modulo 5.
std::string_view SliceTypeLetter(std::uint32_t slice_type);

// The slice types an access unit delimiter's primary_pic_type allows ("I, P"); empty above 7.
std::string_view PrimaryPicTypeSlices(std::uint32_t primary_pic_type);

// The meaning shown after an element line of these names, or empty for another name or a
// value without one. level_idc needs the profile and constraint_set3_flag read before it.
struct TMeaningContext {
    std::uint32_t profile_idc = 0;
    std::uint32_t constraint_set3_flag = 0;
};
// A table's text, or one written over room (which a caller keeps from line to line): valid
// while room is unchanged.
std::string_view ElementMeaning(std::string_view label, std::uint32_t value,
                                const TMeaningContext& context, std::string& room);
// The labels of the elements whose lines may have a meaning, and constraint_set3_flag,
// whose value the meaning of level_idc needs.
inline constexpr std::array<std::string_view, 12> kMeaningLabels = {
    "profile_idc",         "level_idc",
    "slice_type",          "primary_pic_type",
    "nal_unit_type",       "chroma_format_idc",
    "aspect_ratio_idc",    "video_format",
    "colour_primaries",    "transfer_characteristics",
    "matrix_coefficients", "constraint_set3_flag"};

// Those labels by size (all below 32), each size with the first and the last letters its
// labels have, one bit for each letter's five low bits: most other labels differ in one.
struct TMeaningLabelsOfSize {
    std::uint32_t First = 0;
    std::uint32_t Last = 0;
    std::array<std::string_view, 3> Labels{};
};
inline constexpr std::size_t kMeaningLabelSizes = 32;
inline constexpr std::array<TMeaningLabelsOfSize, kMeaningLabelSizes> kMeaningLabelsBySize = [] {
    std::array<TMeaningLabelsOfSize, kMeaningLabelSizes> sizes{};
    for (const std::string_view label : kMeaningLabels) {
        TMeaningLabelsOfSize& size = sizes[label.size()];
        size.First |= std::uint32_t{1} << (label.front() & 31);
        size.Last |= std::uint32_t{1} << (label.back() & 31);
        std::size_t free = 0;
        while (!size.Labels[free].empty()) {
            ++free;
        }
        size.Labels[free] = label;
    }
    return sizes;
}();

// True for a label of kMeaningLabels, whose line may have a meaning or whose value another
// line's meaning needs. Nearly every line names another element, which its size and two
// letters tell here with no call.
inline bool ElementTellsMeaning(std::string_view label) {
    if (label.empty() || label.size() >= kMeaningLabelSizes) {
        return false;
    }
    const TMeaningLabelsOfSize& size = kMeaningLabelsBySize[label.size()];
    if ((size.First >> (label.front() & 31) & 1) == 0 ||
        (size.Last >> (label.back() & 31) & 1) == 0) {
        return false;
    }
    for (const std::string_view known : size.Labels) {
        if (!known.empty() && std::memcmp(known.data(), label.data(), label.size()) == 0) {
            return true;
        }
    }
    return false;
}

// The picture size after the frame cropping, in luma samples.
struct TPictureSize {
    std::int64_t Width = 0;
    std::int64_t Height = 0;
};
TPictureSize CroppedSize(const TSeqParameterSet& sps);

// Frames per second from the VUI timing (time_scale / (2 * num_units_in_tick)), written
// with up to three decimals ("25", "29.97"); empty without timing.
std::string FrameRateText(const TSeqParameterSet& sps);

// The tree's line after the elements of a sequence parameter set: "cropped size WxH",
// with ", frame rate F fps" when the VUI has timing.
std::string SequenceSummaryLine(const TSeqParameterSet& sps);
