// The program's own memchr against a plain byte loop: every start and length within a
// buffer, the byte wanted nowhere, once, or at every position, found first where the loop
// finds it and never past the end.

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

TEST(WindowsMemchr, FindsWhatAByteLoopFinds) {
    // Long enough for the steps of four blocks, from every alignment.
    alignas(16) unsigned char buffer[160];
    for (const int place : {-1, 0, 5, 15, 16, 17, 31, 47, 63, 64, 79, 95, 111, 127, 130, 159}) {
        std::memset(buffer, 0, sizeof buffer);
        if (place >= 0) {
            buffer[place] = 1;
            buffer[159] = 1; // a second one, which only a search past the first may find
        }
        for (std::size_t from = 0; from < sizeof buffer; ++from) {
            for (std::size_t n = 0; from + n <= sizeof buffer; ++n) {
                const unsigned char* expected = nullptr;
                for (std::size_t i = from; i < from + n && !expected; ++i) {
                    expected = buffer[i] == 1 ? buffer + i : nullptr;
                }
                EXPECT_EQ(std::memchr(buffer + from, 1, n), expected) << from << " " << n;
            }
        }
    }
}

} // namespace
