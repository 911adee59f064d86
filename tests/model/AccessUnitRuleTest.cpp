// The access-unit rule, told units one by one: where it opens an access unit, and a prefix
// unit that goes with the slice after it.

#include "model/WalkContext.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Slices without their parameter sets: only first_mb_in_slice tells a new picture.
constexpr std::uint8_t kSlice = 0x21, kPrefix = 0x6E, kSei = 0x06, kFiller = 0x0C;
const std::vector<std::uint8_t> kFirstMb0 = {0xE0}, kFirstMb1 = {0x58}, kNone = {};

struct TStep {
    std::uint8_t Header;
    const std::vector<std::uint8_t>* Rbsp;
    bool Begins, HeldBack, BeganBefore;
};

TEST(AccessUnitRule, APrefixUnitOpensAnAccessUnitOnlyBeforeANewPicture) {
    const std::vector<std::vector<TStep>> runs = {
        {{kSlice, &kFirstMb0, true, false, false},
         {kPrefix, &kNone, false, true, false}, // before the picture's second slice
         {kSlice, &kFirstMb1, false, false, false},
         {kPrefix, &kNone, false, true, false}, // before the next picture
         {kSlice, &kFirstMb0, true, false, true},
         {kPrefix, &kNone, false, true, false}, // before an SEI: it began the access unit
         {kSei, &kNone, true, false, true},
         {kSlice, &kFirstMb0, false, false, false},
         {kFiller, &kNone, false, false, false}},
        {{kPrefix, &kNone, true, false, false}, // first of all: opens at once
         {kSlice, &kFirstMb0, false, false, false},
         {kPrefix, &kNone, false, true, false},
         {kFiller, &kNone, true, false, true}}, // no slice followed
    };
    for (std::size_t r = 0; r < runs.size(); ++r) {
        TSetStore sets(nullptr);
        TAccessUnitRule rule(sets);
        for (std::size_t i = 0; i < runs[r].size(); ++i) {
            const TStep& step = runs[r][i];
            const bool begins = rule.Next(step.Header, step.Rbsp->data(),
                                          static_cast<std::int32_t>(step.Rbsp->size()), 0);
            EXPECT_EQ(begins, step.Begins) << "run " << r << " unit " << i;
            EXPECT_EQ(rule.HeldBack(), step.HeldBack) << "run " << r << " unit " << i;
            EXPECT_EQ(rule.BeganBefore(), step.BeganBefore) << "run " << r << " unit " << i;
        }
    }
}

} // namespace
