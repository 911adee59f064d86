#include "hexview/StringUtils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Dump(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::string> lines;
    EXPECT_TRUE(MemToStrLines2(bytes.data(), static_cast<std::int32_t>(bytes.size()), &lines));
    return lines;
}

TEST(StringUtils, PadStrRightPadsToWidthAndAddsAtMost200Spaces) {
    const struct {
        std::string text;
        int width;
        std::size_t length;
    } cases[] = {
        {"ab", 5, 5},  {"abc", 3, 3},    {"abcdef", 3, 6}, {"", 0, 0},
        {"ab", -7, 2}, {"x", 1000, 201}, {"", 200, 200},
    };
    for (const auto& c : cases) {
        const std::string padded = PadStrRight(c.text, c.width);
        EXPECT_EQ(padded.size(), c.length) << c.text << " to " << c.width;
        EXPECT_EQ(padded.substr(0, c.text.size()), c.text);
        EXPECT_EQ(padded.find_first_not_of(' ', c.text.size()), std::string::npos);
    }
}

TEST(StringUtils, TextColumnShowsDotsForControlAndUnassignedBytes) {
    std::vector<std::uint8_t> all(256);
    for (int b = 0; b < 256; ++b) {
        all[static_cast<std::size_t>(b)] = static_cast<std::uint8_t>(b);
    }
    const auto lines = Dump(all);
    ASSERT_EQ(lines.size(), 16u);
    for (int b = 0; b < 256; ++b) {
        const bool dotted =
            b < 0x20 || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
        const char shown = lines[static_cast<std::size_t>(b / 16)].at(50 + b % 16);
        EXPECT_EQ(static_cast<std::uint8_t>(shown), dotted ? '.' : b) << "byte " << b;
    }
}

TEST(StringUtils, MemToStrLines2RejectsMissingOrEmptyInput) {
    const std::uint8_t bytes[] = {1, 2, 3};
    std::vector<std::string> lines{"kept"};
    EXPECT_FALSE(MemToStrLines2(nullptr, 3, &lines));
    EXPECT_FALSE(MemToStrLines2(bytes, 0, &lines));
    EXPECT_FALSE(MemToStrLines2(bytes, -5, &lines));
    EXPECT_FALSE(MemToStrLines2(bytes, 3, nullptr));
    EXPECT_EQ(lines, std::vector<std::string>{"kept"});
    EXPECT_TRUE(MemToStrLines2(bytes, 3, &lines));
    EXPECT_EQ(lines.size(), 2u);
}

} // namespace
