#include "model/Levels.h"

#include <gtest/gtest.h>

// Picture buffer sizes the standard's own examples and the encoders' level tables give.
TEST(Levels, MaxDpbFramesOfKnownSizes) {
    struct Case {
        std::uint32_t profile, set3, level_idc;
        std::uint64_t widthMbs, heightMbs;
        std::uint32_t frames;
    } const cases[] = {
        {100, 0, 40, 120, 68, 4},   // 1920x1088 at 4
        {100, 0, 31, 80, 45, 5},    // 1280x720 at 3.1
        {77, 0, 30, 45, 36, 5},     // 720x576 at 3
        {100, 0, 62, 512, 270, 5},  // 8192x4320 at 6.2
        {66, 1, 11, 11, 9, 4},      // 176x144 at 1b, written as 11 with constraint_set3_flag
        {100, 0, 9, 11, 9, 4},      // 1b as High profiles write it
        {100, 0, 10, 4, 4, 16},     // small pictures: never more than 16
    };
    for (const Case& c : cases) {
        const auto level = LevelOf(c.profile, c.set3, c.level_idc);
        ASSERT_TRUE(level) << c.level_idc;
        EXPECT_EQ(MaxDpbFrames(*level, c.widthMbs * c.heightMbs), c.frames) << level->Name;
    }
    EXPECT_FALSE(LevelOf(100, 0, 14));
    EXPECT_EQ(LevelOf(100, 1, 11)->Name, std::string("1.1"));
}
