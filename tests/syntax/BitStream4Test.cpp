#include "syntax/BitStream4.h"

#include "support/TestSupport.h"
#include "syntax/SyntaxTestSupport.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

namespace {

TEST(TBitStream4, ReadsEveryWidthAtEveryBitPosition) {
    // Irregular bytes so that a shifted or reversed read cannot pass by accident.
    const auto bytes = Hex("A5 3C F0 0F 96 69 C3 5A E7 18 81 7E 24 DB");
    const auto size = static_cast<std::int32_t>(bytes.size());
    for (int position = 0; position < 8; ++position) {
        for (int n = 0; n <= 32; ++n) {
            TBitStream4 reader;
            ASSERT_EQ(reader.SetData(bytes.data(), size), kStatusOk);
            reader.ReadBits(position);
            std::uint32_t expected = 0;
            for (int i = position; i < position + n; ++i) {
                expected = (expected << 1) |
                           ((bytes[static_cast<std::size_t>(i / 8)] >> (7 - i % 8)) & 1u);
            }
            EXPECT_EQ(reader.ReadBits(n), expected) << "n=" << n << " at bit " << position;
            EXPECT_EQ(reader.Error(), 0);
            EXPECT_EQ(reader.BytePos(), (position + n) / 8);
            EXPECT_EQ(reader.BitPos(), (position + n) % 8);
            EXPECT_EQ(reader.BitsLeft(), 8 * size - position - n);
        }
    }
}

TEST(TBitStream4, DecodesExpGolombCodes) {
    struct Case {
        int zeros; // leading zero bits; as many info bits follow the 1
        std::uint64_t info;
        std::uint32_t ue;
        std::int32_t se;
    };
    const Case cases[] = {
        {0, 0, 0, 0},
        {1, 0, 1, 1},
        {1, 1, 2, -1},
        {2, 0, 3, 2},
        {2, 3, 6, -3},
        {4, 15, 30, -15},
        {8, 0, 255, 128},
        // 31 leading zeros: the largest values a 32-bit code holds.
        {31, 0x7FFFFFFF, 4294967294u, -2147483647},
        {31, 0x7FFFFFFE, 4294967293u, 2147483647},
        // 32 or more: consumed whole, the value saturates (exact for 32 zeros, info 0).
        {32, 0, 4294967295u, 2147483647},
        {32, 5, 4294967295u, 2147483647},
        {40, 123, 4294967295u, 2147483647},
    };
    for (const auto& c : cases) {
        BitWriter w;
        w.U(c.zeros, 0).Bit(1).U(c.zeros, c.info);
        const auto codeBits = static_cast<std::int64_t>(w.BitCount());
        w.Ue(9).U(8, 0xFF); // the next code must come from the right bits
        for (int signedCode = 0; signedCode < 2; ++signedCode) {
            TBitStream4 reader;
            reader.SetData(w.Bytes().data(), static_cast<std::int32_t>(w.Bytes().size()));
            if (signedCode) {
                EXPECT_EQ(reader.ReadSE(), c.se) << c.zeros << "/" << c.info;
            } else {
                EXPECT_EQ(reader.ReadUE(), c.ue) << c.zeros << "/" << c.info;
            }
            EXPECT_EQ(reader.BitsRead(), codeBits);
            EXPECT_EQ(reader.ReadUE(), 9u);
            EXPECT_EQ(reader.Error(), 0);
        }
    }
}

// Every read, whether the bits lie well inside the payload or at its end, against a reading
// of one bit at a time: random widths and codes over random bytes, where runs of zero bytes
// make long codes.
TEST(TBitStream4, ReadsAsOneBitAtATimeWould) {
    std::mt19937 random(27);
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> bytes(1 + random() % 24);
        for (auto& byte : bytes) {
            byte = random() % 3 == 0 ? 0 : static_cast<std::uint8_t>(random());
        }
        const auto size = static_cast<std::int32_t>(bytes.size());
        const auto bit = [&](std::int64_t i) {
            return (bytes[static_cast<std::size_t>(i / 8)] >> (7 - i % 8)) & 1u;
        };
        TBitStream4 reader;
        ASSERT_EQ(reader.SetData(bytes.data(), size), kStatusOk);
        for (std::int64_t at = 0;;) {
            // A code's bits read as a number are its value plus one.
            const bool code = random() % 2 == 0;
            int width = static_cast<int>(random() % 33);
            for (int zeros = 0; code; ++zeros) {
                width = 2 * zeros + 1;
                if (at + zeros >= 8 * size || bit(at + zeros) != 0) {
                    break;
                }
            }
            if (at + width > 8 * size || width > 63) {
                break; // refused and saturated reads: RefusedReads
            }
            std::uint64_t expected = 0;
            for (int i = 0; i < width; ++i) {
                expected = expected << 1 | bit(at + i);
            }
            EXPECT_EQ(code ? reader.ReadUE() + std::uint64_t{1} : reader.ReadBits(width), expected)
                << round;
            at += width;
            EXPECT_EQ(reader.BitsRead(), at) << round;
            EXPECT_EQ(reader.Error(), 0) << round;
        }
    }
}

TEST(TBitStream4, RefusedReads) {
    struct Step {
        char op; // 'b' ReadBits(n), '3' ReadBits32, 'u' ReadUE, 's' ReadSE
        int n;
    };
    struct Case {
        const char* name;
        const char* payload;
        std::vector<Step> steps;
        std::int64_t lastValue; // of the last step
        std::int32_t error;
        std::int64_t bitsLeft;
    };
    const Case cases[] = {
        {"last bit succeeds", "80", {{'b', 7}, {'b', 1}}, 0, 0, 0},
        {"one past the last bit", "FF", {{'b', 8}, {'b', 1}}, 0, -1, 0},
        {"too wide leaves the position", "FF", {{'b', 3}, {'b', 6}}, 0, -1, 5},
        {"a later read that fits succeeds", "FF", {{'b', 3}, {'b', 6}, {'b', 5}}, 31, -1, 0},
        {"width above 32", "FF FF FF FF FF", {{'b', 33}}, 0, -1, 40},
        {"negative width", "FF", {{'b', -1}}, 0, -1, 8},
        {"32 bits as two halves", "12 34 56 78 9A", {{'b', 4}, {'3', 0}}, 0x23456789, 0, 4},
        {"32 bits with 24 left keeps the first half", "AB CD EF", {{'3', 0}}, 0xABCD0000, -1, 8},
        {"32 bits with 4 left", "AB", {{'b', 4}, {'3', 0}}, 0, -1, 4},
        {"ue without its 1 keeps the zeros consumed", "00 00", {{'b', 3}, {'u', 0}}, 0, -1, 0},
        {"se without its 1", "00", {{'s', 0}}, 0, -1, 0},
        {"ue cut inside its info bits", "01", {{'b', 4}, {'u', 0}}, 7, -1, 0},
        {"ue in the single byte 80", "80", {{'u', 0}}, 0, 0, 7},
        {"32 zeros and a 1 with no room for the info bits",
         "00 00 00 00 80 00",
         {{'u', 0}},
         4294967295u,
         -1,
         15},
    };
    for (const auto& c : cases) {
        const auto bytes = Hex(c.payload);
        TBitStream4 reader;
        reader.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        std::int64_t last = -99;
        for (const auto& s : c.steps) {
            last = s.op == 'b'   ? reader.ReadBits(s.n)
                   : s.op == '3' ? reader.ReadBits32()
                   : s.op == 'u' ? std::int64_t{reader.ReadUE()}
                                 : std::int64_t{reader.ReadSE()};
        }
        EXPECT_EQ(last, c.lastValue) << c.name;
        EXPECT_EQ(reader.Error(), c.error) << c.name;
        EXPECT_EQ(reader.BitsLeft(), c.bitsLeft) << c.name;
    }
}

TEST(TBitStream4, BindingAndAlignment) {
    TBitStream4 reader;
    // Unbound: a read of no bits is fine, anything else is refused.
    EXPECT_EQ(reader.ReadBits(0), 0u);
    EXPECT_EQ(reader.Error(), 0);
    EXPECT_EQ(reader.ReadBit(), 0u);
    EXPECT_EQ(reader.Error(), -1);
    EXPECT_FALSE(reader.MoreRbspData());

    const auto first = Hex("C3 0F");
    const auto second = Hex("00");
    ASSERT_EQ(reader.SetData(first.data(), 2), kStatusOk);
    EXPECT_EQ(reader.Error(), 0);
    reader.ByteAlign(); // at a boundary: nothing
    EXPECT_EQ(reader.BitsLeft(), 16);
    reader.ReadBits(3);
    reader.ReadBits(20); // refused
    // A refused binding keeps the previous one, error flag included.
    EXPECT_EQ(reader.SetData(second.data(), 0), kStatusFail);
    EXPECT_EQ(reader.SetData(nullptr, 1), kStatusFail);
    EXPECT_EQ(reader.SetData(second.data(), -5), kStatusFail);
    EXPECT_EQ(reader.SetData(second.data(), TBitStream4::kMaxLength), kStatusFail);
    EXPECT_EQ(reader.Error(), -1);
    reader.ByteAlign(); // skips 5 bits
    EXPECT_EQ(reader.BytePos(), 1);
    EXPECT_EQ(reader.BitPos(), 0);
    EXPECT_EQ(reader.ReadBits(8), 0x0Fu);
    reader.ByteAlign(); // at the end: nothing
    EXPECT_EQ(reader.BitsLeft(), 0);
}

TEST(TBitStream4, MoreRbspDataIsTrueBeforeTheStopBit) {
    struct Case {
        const char* payload;
        int skip; // bits read before the test
        bool more;
    };
    const Case cases[] = {
        {"80", 0, false},                                 // only the stop bit
        {"A4", 5, false},                                 // 3 bits left reading 100
        {"A5", 5, true},                                  // 101
        {"A0", 5, false},                                 // 000: no 1 bit left at all
        {"A4 00", 5, false},                              // stop bit, then a zero byte
        {"A1 80", 5, true},                               // a 1 here, the stop bit in the next byte
        {"E0", 1, true},                                  // the 1 at bit 1 is not the last one
        {"E0", 2, false},                                 // at the stop bit itself
        {"00 80", 0, true},                               // zeros before the stop bit are data
        {"00 00 00", 3, false},                           // no 1 bit at all
        {"FF", 8, false},                                 // nothing left
        {"40 00 00 00", 1, false},                        // the stop bit, then trailing zero bytes
        {"C0 00 00 00", 0, true},  {"01 01 00", 0, true}, // a 1 in an earlier byte
        {"01 01 00", 8, true},     {"01 01 00", 16, false}, // past everything
    };
    for (const auto& c : cases) {
        const auto bytes = Hex(c.payload);
        TBitStream4 reader;
        reader.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        reader.ReadBits(c.skip);
        EXPECT_EQ(reader.MoreRbspData(), c.more) << c.payload << " after " << c.skip;
        EXPECT_EQ(reader.BitsLeft(), 8 * static_cast<std::int64_t>(bytes.size()) - c.skip);
    }
}

} // namespace
