#include "syntax/BitStream4.h"

#include "support/TestSupport.h"
#include "syntax/SyntaxTestSupport.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

// The bit at index i of bytes, counted from the first byte's most significant bit.
int BitAt(const std::vector<std::uint8_t>& bytes, std::size_t i) {
    return (bytes[i / 8] >> (7 - i % 8)) & 1;
}

TEST(TBitStream4, ReadsEveryWidthAtEveryBitPosition) {
    // Irregular bytes so that a shifted or reversed read cannot pass by accident.
    const auto bytes = Hex("A5 3C F0 0F 96 69 C3 5A E7 18 81 7E 24 DB");
    for (int position = 0; position < 8; ++position) {
        for (int n = 0; n <= 32; ++n) {
            TBitStream4 reader;
            ASSERT_EQ(reader.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size())),
                      kStatusOk);
            reader.ReadBits(position);
            std::uint32_t expected = 0;
            for (int i = 0; i < n; ++i) {
                expected = (expected << 1) | static_cast<std::uint32_t>(BitAt(
                                                 bytes, static_cast<std::size_t>(position + i)));
            }
            EXPECT_EQ(reader.ReadBits(n), expected) << "n=" << n << " at bit " << position;
            EXPECT_EQ(reader.Error(), 0);
            const int consumed = position + n;
            EXPECT_EQ(reader.BytePos(), consumed / 8);
            EXPECT_EQ(reader.BitPos(), consumed % 8);
            EXPECT_EQ(reader.BitsLeft(), 8 * static_cast<std::int64_t>(bytes.size()) - consumed);
        }
    }
}

TEST(TBitStream4, ReadBits32IsTwoHalves) {
    const auto bytes = Hex("FF FF FF FF 12 34 56 78 9A");
    TBitStream4 reader;
    reader.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size()));
    EXPECT_EQ(reader.ReadBits32(), 4294967295u);
    reader.ReadBits(4);
    EXPECT_EQ(reader.ReadBits32(), 0x23456789u);
    // 4 bits left: both halves refused.
    EXPECT_EQ(reader.ReadBits32(), 0u);
    EXPECT_EQ(reader.Error(), -1);
    EXPECT_EQ(reader.BitsLeft(), 4);
}

TEST(TBitStream4, ReadBits32WithSixteenToThirtyOneBitsLeftKeepsTheFirstHalf) {
    const auto bytes = Hex("AB CD EF");
    TBitStream4 reader;
    reader.SetData(bytes.data(), 3);
    EXPECT_EQ(reader.ReadBits32(), 0xABCDu * 65536u);
    EXPECT_EQ(reader.Error(), -1);
    EXPECT_EQ(reader.BitsLeft(), 8);
}

struct CodeCase {
    const char* bits; // the code as 0/1 characters, followed by filler 1 bits
    std::uint32_t ue;
    std::int32_t se;
};

TEST(TBitStream4, DecodesExpGolombCodes) {
    const CodeCase cases[] = {
        {"1", 0, 0},
        {"010", 1, 1},
        {"011", 2, -1},
        {"00100", 3, 2},
        {"00101", 4, -2},
        {"00110", 5, 3},
        {"00111", 6, -3},
        {"0001000", 7, 4},
        {"000011111", 30, -15},
        {"00000000100000000", 255, 128},
        // 31 leading zeros: the largest values a 32-bit code holds.
        {"00000000000000000000000000000001"
         "1111111111111111111111111111111",
         4294967294u, -2147483647},
        {"00000000000000000000000000000001"
         "1111111111111111111111111111110",
         4294967293u, 2147483647},
    };
    for (const auto& c : cases) {
        BitWriter w;
        for (const char* p = c.bits; *p; ++p) {
            w.Bit(*p == '1');
        }
        const std::size_t codeBits = w.BitCount();
        w.U(8, 0xFF);
        for (int signedCode = 0; signedCode < 2; ++signedCode) {
            TBitStream4 reader;
            reader.SetData(w.Bytes().data(), static_cast<std::int32_t>(w.Bytes().size()));
            if (signedCode) {
                EXPECT_EQ(reader.ReadSE(), c.se) << c.bits;
            } else {
                EXPECT_EQ(reader.ReadUE(), c.ue) << c.bits;
            }
            EXPECT_EQ(reader.BitsLeft(), static_cast<std::int64_t>(w.Bytes().size() * 8 - codeBits))
                << c.bits;
            EXPECT_EQ(reader.Error(), 0);
        }
    }
}

TEST(TBitStream4, WriterAndReaderAgreeOnEveryCodeLength) {
    // Values at the edges of every prefix length, read back one after another.
    std::vector<std::uint32_t> values;
    for (int z = 0; z < 32; ++z) {
        const std::uint64_t first = (std::uint64_t{1} << z) - 1;
        values.push_back(static_cast<std::uint32_t>(first));
        values.push_back(static_cast<std::uint32_t>(2 * first)); // last of this length
    }
    BitWriter w;
    for (auto v : values) {
        w.Ue(v);
    }
    TBitStream4 reader;
    reader.SetData(w.Bytes().data(), static_cast<std::int32_t>(w.Bytes().size()));
    for (auto v : values) {
        EXPECT_EQ(reader.ReadUE(), v);
    }
    EXPECT_EQ(reader.Error(), 0);
}

TEST(TBitStream4, ThirtyTwoOrMoreLeadingZerosAreConsumedAndSaturate) {
    struct Case {
        int zeros;
        std::uint64_t info;
        std::uint32_t ue;
    };
    const Case cases[] = {
        {32, 0, 4294967295u}, // exactly 2^32 - 1
        {32, 5, 4294967295u}, // would not fit
        {40, 123, 4294967295u},
    };
    for (const auto& c : cases) {
        BitWriter w;
        w.U(c.zeros, 0).Bit(1).U(c.zeros, c.info);
        const std::size_t codeBits = w.BitCount();
        w.Ue(9); // the next element must come from the right bits
        w.Trailing();
        TBitStream4 reader;
        reader.SetData(w.Bytes().data(), static_cast<std::int32_t>(w.Bytes().size()));
        EXPECT_EQ(reader.ReadUE(), c.ue) << c.zeros;
        EXPECT_EQ(reader.BitsRead(), static_cast<std::int64_t>(codeBits)) << c.zeros;
        EXPECT_EQ(reader.ReadUE(), 9u) << c.zeros;
        EXPECT_EQ(reader.Error(), 0);
    }
    // Signed: the saturated code stays at the largest positive value.
    BitWriter w;
    w.U(32, 0).Bit(1).U(32, 0);
    TBitStream4 reader;
    reader.SetData(w.Bytes().data(), static_cast<std::int32_t>(w.Bytes().size()));
    EXPECT_EQ(reader.ReadSE(), std::numeric_limits<std::int32_t>::max());
}

TEST(TBitStream4, RefusedReads) {
    // Each case reads the given steps and checks the last result and the state after it.
    struct Step {
        char op; // 'b' ReadBits(n), 'u' ReadUE, 's' ReadSE
        int n;
    };
    struct Case {
        const char* name;
        const char* payload;
        std::vector<Step> steps;
        std::int64_t lastValue;
        std::int32_t error;
        std::int64_t bitsLeft;
    };
    const Case cases[] = {
        {"last bit succeeds", "80", {{'b', 7}, {'b', 1}}, 0, 0, 0},
        {"one past the last bit", "FF", {{'b', 8}, {'b', 1}}, 0, -1, 0},
        {"too wide leaves the position", "FF", {{'b', 3}, {'b', 6}}, 0, -1, 5},
        {"later read that fits succeeds", "FF", {{'b', 3}, {'b', 6}, {'b', 5}}, 31, -1, 0},
        {"width above 32 refused", "FF FF FF FF FF", {{'b', 33}}, 0, -1, 40},
        {"negative width refused", "FF", {{'b', -1}}, 0, -1, 8},
        {"ue without its 1 keeps the zeros consumed", "00 00", {{'b', 3}, {'u', 0}}, 0, -1, 0},
        {"se without its 1", "00", {{'s', 0}}, 0, -1, 0},
        {"ue cut inside its info bits", "01", {{'b', 4}, {'u', 0}}, 7, -1, 0},
        {"ue in the single byte 80", "80", {{'u', 0}}, 0, 0, 7},
    };
    for (const auto& c : cases) {
        const auto bytes = Hex(c.payload);
        TBitStream4 reader;
        reader.SetData(bytes.data(), static_cast<std::int32_t>(bytes.size()));
        std::int64_t last = -99;
        for (const auto& s : c.steps) {
            if (s.op == 'b') {
                last = reader.ReadBits(s.n);
            } else if (s.op == 'u') {
                last = reader.ReadUE();
            } else {
                last = reader.ReadSE();
            }
        }
        EXPECT_EQ(last, c.lastValue) << c.name;
        EXPECT_EQ(reader.Error(), c.error) << c.name;
        EXPECT_EQ(reader.BitsLeft(), c.bitsLeft) << c.name;
    }
}

TEST(TBitStream4, UnboundReaderRefusesEveryBit) {
    TBitStream4 reader;
    EXPECT_EQ(reader.ReadBits(0), 0u);
    EXPECT_EQ(reader.Error(), 0);
    EXPECT_EQ(reader.ReadBit(), 0u);
    EXPECT_EQ(reader.Error(), -1);
    EXPECT_EQ(reader.ReadUE(), 0u);
    EXPECT_FALSE(reader.MoreRbspData());
    reader.ByteAlign();
    EXPECT_EQ(reader.BitsLeft(), 0);
}

TEST(TBitStream4, SetDataRefusesNoDataAndKeepsThePreviousBinding) {
    const auto first = Hex("C0");
    const auto second = Hex("00");
    TBitStream4 reader;
    ASSERT_EQ(reader.SetData(first.data(), 1), kStatusOk);
    reader.ReadBit();
    reader.ReadBits(8); // refused: the error flag is set
    EXPECT_EQ(reader.SetData(second.data(), 0), kStatusFail);
    EXPECT_EQ(reader.SetData(nullptr, 1), kStatusFail);
    EXPECT_EQ(reader.SetData(second.data(), -5), kStatusFail);
    EXPECT_EQ(reader.Error(), -1);
    EXPECT_EQ(reader.ReadBit(), 1u); // still the second bit of C0
    ASSERT_EQ(reader.SetData(second.data(), 1), kStatusOk);
    EXPECT_EQ(reader.Error(), 0);
    EXPECT_EQ(reader.BitsLeft(), 8);
}

TEST(TBitStream4, ByteAlign) {
    const auto bytes = Hex("FF 0F");
    TBitStream4 reader;
    reader.SetData(bytes.data(), 2);
    reader.ByteAlign();
    EXPECT_EQ(reader.BitsLeft(), 16);
    reader.ReadBits(3);
    reader.ByteAlign();
    EXPECT_EQ(reader.BitsLeft(), 8);
    EXPECT_EQ(reader.BytePos(), 1);
    EXPECT_EQ(reader.BitPos(), 0);
    EXPECT_EQ(reader.ReadBits(8), 0x0Fu);
    reader.ByteAlign();
    EXPECT_EQ(reader.BitsLeft(), 0);
    EXPECT_EQ(reader.Error(), 0);
}

TEST(TBitStream4, MoreRbspDataLooksForAOneBitBeforeTheStopBit) {
    struct Case {
        const char* payload;
        int skip; // bits read before the test
        bool more;
    };
    const Case cases[] = {
        {"80", 0, false},                            // only the stop bit
        {"A4", 5, false},                            // 3 bits left reading 100
        {"A5", 5, true},                             // 101
        {"A0", 5, false},                            // 000: no 1 bit left at all
        {"A4 00", 5, false},                         // stop bit then a zero byte: trailing zeros
        {"A1 80", 5, true},                          // a 1 here, the stop bit in the next byte
        {"E0", 1, true},                             // the 1 at bit 1 is not the last one
        {"E0", 2, false},                            // at the stop bit itself
        {"00 80", 0, false},                         // zeros up to the stop bit: nothing before it
        {"00", 0, false},                            // no 1 bit at all
        {"00 00 00", 3, false},    {"FF", 8, false}, // nothing left
        {"40 00 00 00", 1, false},                   // the stop bit, then 3 trailing zero bytes
        {"C0 00 00 00", 0, true}, // a 1 before the stop bit, trailing zeros after
        {"C0 00 00 00", 1, false}, {"01 01 00", 0, true},   // a 1 in an earlier byte
        {"01 01 00", 8, false},    {"01 01 00", 15, false}, // exactly at the stop bit
        {"01 01 00", 16, false},                            // past everything
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

TEST(TBitStream4, NeverReadsOutsideItsPayload) {
    // The payload sits inside a larger buffer whose neighbours would change the results
    // if they were read.
    for (int size = 1; size <= 6; ++size) {
        for (std::uint8_t fill : {std::uint8_t{0x00}, std::uint8_t{0xFF}}) {
            std::vector<std::uint8_t> buffer(16, static_cast<std::uint8_t>(~fill));
            for (int i = 0; i < size; ++i) {
                buffer[static_cast<std::size_t>(4 + i)] = fill;
            }
            TBitStream4 reader;
            reader.SetData(buffer.data() + 4, size);
            std::int64_t guard = 0;
            while (reader.BitsLeft() > 0 && guard++ < 100) {
                const std::uint32_t v = reader.ReadUE();
                if (fill == 0xFF) {
                    EXPECT_EQ(v, 0u);
                }
            }
            EXPECT_EQ(reader.BitsLeft(), 0);
            EXPECT_FALSE(reader.MoreRbspData());
            reader.SetData(buffer.data() + 4, size);
            reader.ReadBits(3);
            EXPECT_EQ(reader.ReadBits(32), fill == 0xFF && size >= 5 ? 0xFFFFFFFFu : 0u);
        }
    }
}

} // namespace
