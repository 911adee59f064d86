#include "model/Levels.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array<TLevelLimits, 20> kLevels{{
    {10, "1", 1485, 99, 396, 64, 175, 64, 2, 0, 0},
    {9, "1b", 1485, 99, 396, 128, 350, 64, 2, 0, 0},
    {11, "1.1", 3000, 396, 900, 192, 500, 128, 2, 0, 0},
    {12, "1.2", 6000, 396, 2376, 384, 1000, 128, 2, 0, 0},
    {13, "1.3", 11880, 396, 2376, 768, 2000, 128, 2, 0, 0},
    {20, "2", 11880, 396, 2376, 2000, 2000, 128, 2, 0, 0},
    {21, "2.1", 19800, 792, 4752, 4000, 4000, 256, 2, 0, 0},
    {22, "2.2", 20250, 1620, 8100, 4000, 4000, 256, 2, 0, 0},
    {30, "3", 40500, 1620, 8100, 10000, 10000, 256, 2, 32, 22},
    {31, "3.1", 108000, 3600, 18000, 14000, 14000, 512, 4, 16, 60},
    {32, "3.2", 216000, 5120, 20480, 20000, 20000, 512, 4, 16, 60},
    {40, "4", 245760, 8192, 32768, 20000, 25000, 512, 4, 16, 60},
    {41, "4.1", 245760, 8192, 32768, 50000, 62500, 512, 2, 16, 24},
    {42, "4.2", 522240, 8704, 34816, 50000, 62500, 512, 2, 16, 24},
    {50, "5", 589824, 22080, 110400, 135000, 135000, 512, 2, 16, 24},
    {51, "5.1", 983040, 36864, 184320, 240000, 240000, 512, 2, 16, 24},
    {52, "5.2", 2073600, 36864, 184320, 240000, 240000, 512, 2, 16, 24},
    {60, "6", 4177920, 139264, 696320, 240000, 240000, 8192, 2, 16, 24},
    {61, "6.1", 8355840, 139264, 696320, 480000, 480000, 8192, 2, 16, 24},
    {62, "6.2", 16711680, 139264, 696320, 800000, 800000, 8192, 2, 16, 24},
}};

} // namespace

std::optional<TLevelLimits> LevelOf(std::uint32_t profile_idc, std::uint32_t constraint_set3_flag,
                                    std::uint32_t level_idc) {
    const bool oneB = level_idc == 11 && constraint_set3_flag != 0 &&
                      (profile_idc == 66 || profile_idc == 77 || profile_idc == 88);
    const std::uint32_t wanted = oneB ? 9 : level_idc;
    for (const TLevelLimits& level : kLevels) {
        if (level.LevelIdc == wanted) {
            return level;
        }
    }
    return std::nullopt;
}

const TLevelLimits& HighestLevel() {
    return kLevels.back();
}

std::uint32_t MaxDpbFrames(const TLevelLimits& level, std::uint64_t frameSizeInMbs) {
    if (frameSizeInMbs == 0) {
        return 16;
    }
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(level.MaxDpbMbs / frameSizeInMbs, 16));
}

TBitRateFactors BitRateFactors(std::uint32_t profile_idc) {
    switch (profile_idc) {
    case 100:
        return {1250, 1500};
    case 110:
        return {3000, 3600};
    case 122:
    case 244:
    case 44:
        return {4000, 4800};
    default:
        return {1000, 1200};
    }
}
