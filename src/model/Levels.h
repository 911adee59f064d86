#pragma once

// The limits each level sets (the standard's Table A-1) and the profile's bit-rate factors
// (Table A-2): one table, for the decoder's bound, the picture buffer's size, the buffer
// check and the stream check alike.

#include <cstdint>
#include <optional>

struct TLevelLimits {
    // level_idc as written, 9 for level 1b (whichever way the stream writes it).
    std::uint32_t LevelIdc = 0;
    const char* Name = "";
    std::uint32_t MaxMBPS = 0;   // macroblocks per second
    std::uint32_t MaxFS = 0;     // macroblocks per frame
    std::uint32_t MaxDpbMbs = 0; // macroblocks in the decoded picture buffer
    std::uint32_t MaxBR = 0;     // in cpbBrVclFactor or cpbBrNalFactor bits per second
    std::uint32_t MaxCPB = 0;    // in the same factor's bits
    std::uint32_t MaxVmvR = 0;   // vertical vector range: [-MaxVmvR, MaxVmvR - 0.25] luma samples
    std::uint32_t MinCR = 0;
    std::uint32_t MaxMvsPer2Mb = 0; // 0 where the level sets none
    // Slices per picture for the Main and High profiles (Table A-4): at most MaxMBPS times
    // the time between removals over SliceRate; 0 where the level sets none.
    std::uint32_t SliceRate = 0;
};

// The level a sequence parameter set declares: level_idc 11 with constraint_set3_flag in
// the Baseline, Main and Extended profiles is level 1b, as level_idc 9 is. None for a
// level_idc no level has.
std::optional<TLevelLimits> LevelOf(std::uint32_t profile_idc, std::uint32_t constraint_set3_flag,
                                    std::uint32_t level_idc);

// The highest level there is (6.2): the bound for a stream whose own level is unknown.
const TLevelLimits& HighestLevel();

// MaxDpbFrames for a picture size at a level: Min(MaxDpbMbs / (PicWidthInMbs *
// FrameHeightInMbs), 16); 0 when a picture is larger than the whole buffer.
std::uint32_t MaxDpbFrames(const TLevelLimits& level, std::uint64_t frameSizeInMbs);

// cpbBrVclFactor and cpbBrNalFactor of a profile (Table A-2).
struct TBitRateFactors {
    std::uint32_t Vcl = 1000;
    std::uint32_t Nal = 1200;
};
TBitRateFactors BitRateFactors(std::uint32_t profile_idc);
