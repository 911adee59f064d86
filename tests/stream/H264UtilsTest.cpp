#include "stream/H264Utils.h"
#include "stream/FileStream.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

struct LengthCase {
    const char* bytes;
    std::int32_t available; // -1: all bytes
    bool result;
    std::int32_t length;
};

TEST(GetNalUnitLength, MeasuresToTheNextStartCodeOrTheEnd) {
    const LengthCase cases[] = {
        {"00 00 00 01 67 42 00 00 01 68", -1, true, 6},
        {"00 00 01 09 10", -1, true, 5},
        // One zero stays with the first unit; the four-byte code begins at the seventh byte.
        {"00 00 01 41 9A 00 00 00 00 01", -1, true, 6},
        // The three-byte tail of a four-byte start code is not the next start code.
        {"00 00 00 01 00 00 00 01 65", -1, true, 4},
        {"00 00 01 00 00 01 65", -1, true, 3},
        // A start code must lie wholly within the bytes available.
        {"00 00 01 41 00 00 01 65", 6, true, 6},
        {"00 00 01 41 00 00 01 65", 7, true, 4},
        {"00 00 01 41 00 00 00 01", 7, true, 7},
        {"00 00 01 41 00 00 00 01", 8, true, 4},
        // A start code alone.
        {"00 00 00 01", -1, true, 4},
        {"00 00 01", -1, true, 3},
        // 00 00 02 and 00 00 00 00 are not start codes.
        {"00 00 01 41 00 00 02 00 00 00 00 07", -1, true, 12},
        // No start code at Data: false, Length untouched.
        {"00 01 67", -1, false, -7},
        {"00 00 00 00 01", -1, false, -7},
        {"00 00", -1, false, -7},
        {"", -1, false, -7},
    };
    for (const auto& c : cases) {
        const auto bytes = Hex(c.bytes);
        const std::int32_t available =
            c.available < 0 ? static_cast<std::int32_t>(bytes.size()) : c.available;
        std::int32_t length = -7;
        EXPECT_EQ(GetNalUnitLength(bytes.data(), available, length), c.result) << c.bytes;
        EXPECT_EQ(length, c.length) << c.bytes << " / " << available;
    }
}

struct ValidationCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    bool accepted;
};

std::vector<std::uint8_t> Concat(std::initializer_list<std::vector<std::uint8_t>> parts) {
    std::vector<std::uint8_t> all;
    for (const auto& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

TEST(IsH264VideoES, AcceptsTwoCleanStartCodesInTheFirstTwoMiB) {
    const std::vector<std::uint8_t> garbage(1000, 0xAB);
    const std::vector<std::uint8_t> zeros(2097152, 0);
    const ValidationCase cases[] = {
        {"empty", {}, false},
        {"one start code", Hex("00 00 00 01 67 42 00 1E"), false},
        {"two start codes", Hex("00 00 00 01 67 42 00 00 01 68 CE"), true},
        {"garbage first", Concat({garbage, Hex("00 00 01 09 F0 00 00 00 01 67 64")}), true},
        {"first header has the top bit", Hex("00 00 00 01 E7 42 00 00 01 68 CE 00 00 01 65 88"),
         false},
        {"second header has the top bit", Hex("00 00 00 01 67 42 00 00 01 88 CE"), false},
        {"ends right after the second header", Hex("00 00 01 09 F0 00 00 01 09"), false},
        {"one more byte after it", Hex("00 00 01 09 F0 00 00 01 09 F0"), true},
        {"start codes only beyond 2 MiB", Concat({zeros, Hex("00 00 00 01 67 42 00 00 01 68 CE")}),
         false},
        {"no start code at all", garbage, false},
    };
    TempDir dir;
    for (const auto& c : cases) {
        FileStream stream;
        ASSERT_TRUE(stream.Open(dir.Write("v.264", c.bytes)));
        EXPECT_EQ(IsH264VideoES(stream), c.accepted) << c.name;
    }
}

TEST(IsH264VideoES, AReadFailureRejectsTheFileWithItsLine) {
    DebugCapture capture;
    FileStream closed;
    EXPECT_FALSE(IsH264VideoES(closed));
    EXPECT_EQ(capture.Lines(), std::vector<std::string>{"kvo: Error in IsH264VideoES call..."});
}

TEST(NalUnitHeader, FieldsAndNames) {
    struct Case {
        std::uint8_t header;
        std::uint32_t forbidden, refIdc, type;
        const char* name;
    };
    const Case cases[] = {
        {0x67, 0, 3, 7, "Sequence parameter set"},
        {0x09, 0, 0, 9, "Access UD"},
        {0x65, 0, 3, 5, "Coded slice of an IDR picture"},
        {0xE5, 1, 3, 5, "Coded slice of an IDR picture"},
        {0x68, 0, 3, 8, "Picture parameter set"},
        {0x41, 0, 2, 1, "Coded slice of a non-IDR picture"},
        {0x06, 0, 0, 6, "SEI"},
        {0x00, 0, 0, 0, "Unspecified"},
        {0x0D, 0, 0, 13, "Sequence parameter set extension"},
        {0x0E, 0, 0, 14, "Reserved"},
        {0x12, 0, 0, 18, "Reserved"},
        {0x13, 0, 0, 19, "Coded slice of an auxiliary coded picture without partitioning"},
        {0x14, 0, 0, 20, "Coded slice of a non-IDR picture in scalable extension"},
        {0x15, 0, 0, 21, "Coded slice of an IDR picture in scalable extension"},
        {0x16, 0, 0, 22, "Reserved"},
        {0x17, 0, 0, 23, "Reserved"},
        {0x18, 0, 0, 24, "Unspecified"},
        {0x1F, 0, 0, 31, "Unspecified"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ForbiddenZeroBit(c.header), c.forbidden);
        EXPECT_EQ(NalRefIdc(c.header), c.refIdc);
        EXPECT_EQ(NalUnitType(c.header), c.type);
        EXPECT_EQ(NalTypeText(c.header), c.name);
    }
    std::string name = "kept";
    GetNalUnitTypeName(32, name);
    EXPECT_EQ(name, "kept");
}

TEST(NalListTexts, OffsetAndStartCode) {
    EXPECT_EQ(NalOffsetText(0), "0x0000000000000000");
    EXPECT_EQ(NalOffsetText(1234), "0x00000000000004D2");
    EXPECT_EQ(NalOffsetText(500), "0x00000000000001F4");
    EXPECT_EQ(NalOffsetText(0x123456789ABCDEF0LL), "0x123456789ABCDEF0");
    EXPECT_EQ(NalOffsetText(0x0FEDCBA987654321LL), "0x0FEDCBA987654321");
    EXPECT_EQ(NalOffsetText(INT64_MAX), "0x7FFFFFFFFFFFFFFF");
    EXPECT_EQ(NalStartCodeText(true, 0x67), "0x0000000167");
    EXPECT_EQ(NalStartCodeText(false, 0x65), "0x00000165");
    EXPECT_EQ(NalStartCodeText(false, 0x0A), "0x0000010A");
}

TEST(PadRight, PadsButNeverCuts) {
    EXPECT_EQ(PadRight("abc", 6), "abc   ");
    EXPECT_EQ(PadRight("abcdef", 6), "abcdef");
    EXPECT_EQ(PadRight("abcdefg", 6), "abcdefg");
    EXPECT_EQ(PadRight("", 2), "  ");
}

TEST(RemoveEmulationPrevention, DropsThe03AfterTwoZeros) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"", ""},
        {"00 00 03 01", "00 00 01"},
        {"00 00 03 03", "00 00 03"},
        {"00 00 00 03", "00 00 00"},
        {"00 00 03 00 00 03 01", "00 00 00 00 01"},
        {"00 00 03", "00 00"},
        {"67 00 00", "67 00 00"},
        {"00 03 00 00 03 FF", "00 03 00 00 FF"},
        {"00 00 00 01 67 64 00 00 03 00 1E", "00 00 00 01 67 64 00 00 00 1E"},
    };
    for (const auto& c : cases) {
        const auto in = Hex(c.in);
        std::vector<std::uint8_t> out(in.size() + 1, 0xEE);
        std::int32_t written = -1;
        EXPECT_TRUE(Remove_emulation_prevention_three_bytes(
            in.data(), static_cast<std::int32_t>(in.size()), out.data(), written));
        out.resize(static_cast<std::size_t>(written));
        EXPECT_EQ(out, Hex(c.out)) << c.in;
    }
}

// Hand-made units: a 24-bit element of value 0 placed at every bit phase, ending just
// before or across an emulation-prevention byte. For each bit of the unescaped bytes, the
// stored position must hold the same bit and never an inserted 03, and the element's
// stored span grows by 8 bits exactly when a 03 lies inside it. A unit's map answers the same.
TEST(StoredBitOfRbspBit, MapsEveryBitPastTheRemovedBytes) {
    struct Escaped {
        std::vector<std::uint8_t> Bytes;
        std::vector<std::size_t> Inserted; // indices of the 03 bytes in Bytes
    };
    const auto escape = [](const std::vector<std::uint8_t>& rbsp) {
        Escaped e;
        int zeros = 0;
        for (const std::uint8_t b : rbsp) {
            if (zeros == 2 && b <= 3) {
                e.Inserted.push_back(e.Bytes.size());
                e.Bytes.push_back(3);
                zeros = 0;
            }
            e.Bytes.push_back(b);
            zeros = b == 0 ? zeros + 1 : 0;
        }
        return e;
    };
    const auto bitOf = [](const std::vector<std::uint8_t>& bytes, std::int64_t bit) {
        return (bytes[static_cast<std::size_t>(bit / 8)] >> (7 - bit % 8)) & 1;
    };
    int straddling = 0;
    for (int phase = 0; phase < 8; ++phase) {
        for (const char* tail :
             {"00 00 00 01", "00 00 01 80", "00 00 02 00 00 03 FF", "00 00 00 00 00 00 81"}) {
            // A header byte, FF, phase one bits, the element's zero bits, then the tail.
            std::vector<std::uint8_t> rbsp = {0x65, 0xFF, 0, 0};
            rbsp[2] = static_cast<std::uint8_t>((0xFFu << (8 - phase)) & 0xFFu);
            const auto rest = Hex(tail);
            rbsp.insert(rbsp.end(), rest.begin(), rest.end());
            const Escaped stored = escape(rbsp);
            const auto n = static_cast<std::int32_t>(stored.Bytes.size());
            SCOPED_TRACE(std::string(tail) + " phase " + std::to_string(phase));
            std::int64_t previous = -1;
            TStoredBitMap map(stored.Bytes.data(), n); // one unit's map, asked bit after bit
            for (std::int64_t bit = 0; bit < 8 * static_cast<std::int64_t>(rbsp.size()); ++bit) {
                const std::int64_t at = StoredBitOfRbspBit(stored.Bytes.data(), n, bit);
                ASSERT_EQ(map.StoredBit(bit), at) << bit;
                ASSERT_GT(at, previous) << bit;
                ASSERT_EQ(bitOf(stored.Bytes, at), bitOf(rbsp, bit)) << bit;
                for (const std::size_t inserted : stored.Inserted) {
                    ASSERT_NE(static_cast<std::size_t>(at / 8), inserted) << bit;
                }
                previous = at;
            }
            // The element: 24 bits from 16 + phase.
            const std::int64_t first = StoredBitOfRbspBit(stored.Bytes.data(), n, 16 + phase);
            const std::int64_t last = StoredBitOfRbspBit(stored.Bytes.data(), n, 16 + phase + 23);
            const bool holds03 =
                std::any_of(stored.Inserted.begin(), stored.Inserted.end(), [&](std::size_t i) {
                    return 8 * static_cast<std::int64_t>(i) > first &&
                           8 * static_cast<std::int64_t>(i) < last;
                });
            EXPECT_EQ(last - first + 1, holds03 ? 32 : 24);
            straddling += holds03 ? 1 : 0;
        }
    }
    EXPECT_GE(straddling, 7 * 4);
    // Past the end, and before the start.
    const auto unit = Hex("00 00 03 01");
    EXPECT_EQ(StoredIndexOfRbspByte(unit.data(), 4, 3), 4);
    EXPECT_EQ(StoredIndexOfRbspByte(unit.data(), 4, -1), 0);
}

} // namespace

// Every kernel of the start-code search finds what a byte-by-byte look finds: each pattern
// below planted at every place of buffers that end at and around the kernels' step widths
// (16, 32, 64 bytes), searched from every place and up to several last places. Each buffer
// is exactly its size, so that a read past it shows under the address sanitizer.
TEST(FindStartCode, EveryKernelAgreesWithAByteByByteLook) {
    const auto naive = [](const std::vector<std::uint8_t>& b, std::int64_t from,
                          std::int64_t lastBegin) -> std::int64_t {
        const auto n = static_cast<std::int64_t>(b.size());
        for (std::int64_t i = std::max<std::int64_t>(from, 0); i <= lastBegin && i < n; ++i) {
            if (StartCodeLength(b.data() + i, n - i) != 0) {
                return i;
            }
        }
        return -1;
    };
    const char* const patterns[] = {"00 00 01", "00 00 00 01", "00 00 02",         "00 00 00 00 01",
                                    "00 01",    "00 00",       "00 00 01 00 00 01"};
    for (const auto kernel : {TStartCodeKernel::Narrow, TStartCodeKernel::Wide}) {
        if (!RunsStartCodeKernel(kernel)) {
            continue;
        }
        for (const std::size_t size : {3, 17, 33, 63, 64, 65, 66, 67, 130, 131}) {
            for (const char* pattern : patterns) {
                const auto planted = Hex(pattern);
                for (std::size_t at = 0; at + planted.size() <= size; ++at) {
                    // Non-zero filler, with a lone zero that must not pair with the pattern.
                    std::vector<std::uint8_t> bytes(size, 0x5A);
                    bytes[(at + 40) % size] = 0;
                    std::copy(planted.begin(), planted.end(), bytes.begin() + at);
                    const auto n = static_cast<std::int64_t>(size);
                    for (std::int64_t from = 0; from < n; ++from) {
                        for (const std::int64_t lastBegin : {n, n - 4, n - 5, from + 1}) {
                            ASSERT_EQ(FindStartCode(kernel, bytes.data(), n, from, lastBegin),
                                      naive(bytes, from, lastBegin))
                                << static_cast<int>(kernel) << " " << pattern << " at " << at
                                << " in " << size << " from " << from << " to " << lastBegin;
                        }
                    }
                }
            }
        }
    }
}
