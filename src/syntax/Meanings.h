#pragma once

// What the enumerated syntax elements stand for, in the words the standard's tables use,
// and the picture facts a sequence parameter set implies. Shared by the detail tree (the
// bracketed meaning after an element line) and the one-line summary of a unit.

#include "syntax/seq_parameter_set_rbsp.h"

#include <cstdint>
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
// False for a label whose lines never have a meaning.
bool ElementHasMeaning(std::string_view label);

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
