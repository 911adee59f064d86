#include "stream/H264Utils.h"

#include "core/Guard.h"
#include "stream/FileStream.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstring>
#include <limits>
#include <memory>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
// The start-code search also with AVX2, taken where the processor has it when the program
// runs, so that one build serves every x86-64 machine.
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define QUILLET_WIDE_SCAN 1
#include <immintrin.h>
#endif

namespace {

// What FirstZeroZeroOne answers, for the places a vector step leaves, or every place where
// there are no vector registers: the rarer 01 byte, then back at the zeros before it.
std::int64_t FirstZeroZeroOneTail(const std::uint8_t* data, std::int64_t j, std::int64_t last) {
    while (j <= last) {
        const void* hit = std::memchr(data + j, 1, static_cast<std::size_t>(last - j + 1));
        if (hit == nullptr) {
            return -1;
        }
        j = static_cast<const std::uint8_t*>(hit) - data;
        if (data[j - 1] == 0 && data[j - 2] == 0) {
            return j;
        }
        ++j;
    }
    return -1;
}

// The first j from j on, up to last, whose byte is 01 after two zeros; -1 when none. j is 2
// or more. Inside a unit two zeros are rare (emulation prevention sees to that), so
// sixteen places are looked at together for all three bytes, where a search for the 01
// alone would stop at every 01 of the slice data.
std::int64_t FirstZeroZeroOne(const std::uint8_t* data, std::int64_t j, std::int64_t last) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i one = _mm_set1_epi8(1);
    std::int64_t p = j - 2; // where the two zeros would begin
    const auto at = [data](std::int64_t k) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + k));
    };
    // The 01 after the zeros, among the 16 places from q on.
    const auto ones = [&](std::int64_t q) {
        const __m128i zeros =
            _mm_and_si128(_mm_cmpeq_epi8(at(q), zero), _mm_cmpeq_epi8(at(q + 1), zero));
        return _mm_movemask_epi8(_mm_and_si128(zeros, _mm_cmpeq_epi8(at(q + 2), one)));
    };
    // Two zeros in a row are rare in coded data: 32 places are passed over with one test
    // for them, and only a pair found is looked at again for its 01.
    for (; p + 33 <= last; p += 32) {
        const __m128i pairs =
            _mm_or_si128(_mm_cmpeq_epi8(_mm_or_si128(at(p), at(p + 1)), zero),
                         _mm_cmpeq_epi8(_mm_or_si128(at(p + 16), at(p + 17)), zero));
        if (_mm_movemask_epi8(pairs) == 0) {
            continue;
        }
        for (const std::int64_t q : {p, p + 16}) {
            if (const int found = ones(q)) {
                return q + 2 + __builtin_ctz(static_cast<unsigned>(found));
            }
        }
    }
    for (; p + 17 <= last; p += 16) {
        if (const int found = ones(p)) {
            return p + 2 + __builtin_ctz(static_cast<unsigned>(found));
        }
    }
    j = p + 2;
#endif
    return FirstZeroZeroOneTail(data, j, last);
}

#if defined(QUILLET_WIDE_SCAN)
constexpr std::int64_t kPrefetchAhead = 8192;

// One bit a byte of the 64 in low and high: whether the byte compared true.
__attribute__((target("avx2"))) inline std::uint64_t Bits(__m256i low, __m256i high) {
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
           static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm256_movemask_epi8(high))) << 32;
}

// FirstZeroZeroOne with AVX2, 64 places a step: one bit a byte for zeros and for 01, then
// the 01s with two zeros before them found by shifting the bits, the zeros of the step
// before carried in. Every byte is loaded once.
__attribute__((target("avx2"))) std::int64_t
FirstZeroZeroOneWide(const std::uint8_t* data, std::int64_t j, std::int64_t last) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i one = _mm256_set1_epi8(1);
    // The zeros of the two bytes before j, where the step before would have left them.
    std::uint64_t before = static_cast<std::uint64_t>(data[j - 2] == 0) << 62 |
                           static_cast<std::uint64_t>(data[j - 1] == 0) << 63;
    for (; j + 63 <= last; j += 64) {
        // The block was read in by another thread: its bytes are asked for two pages ahead,
        // which the processor's own prefetch would not do across a page. The address may lie
        // past the buffer, which a prefetch never faults on; it is formed as a number.
        _mm_prefetch(reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(data + j) +
                                                   kPrefetchAhead),
                     _MM_HINT_T0);
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + j));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + j + 32));
        const std::uint64_t zeros =
            Bits(_mm256_cmpeq_epi8(low, zero), _mm256_cmpeq_epi8(high, zero));
        const std::uint64_t ones = Bits(_mm256_cmpeq_epi8(low, one), _mm256_cmpeq_epi8(high, one));
        const std::uint64_t found =
            ones & (zeros << 1 | before >> 63) & (zeros << 2 | before >> 62);
        if (found != 0) {
            return j + __builtin_ctzll(found);
        }
        before = zeros;
    }
    return FirstZeroZeroOneTail(data, j, last);
}
#endif

} // namespace

bool RunsStartCodeKernel(TStartCodeKernel kernel) {
#if defined(QUILLET_WIDE_SCAN)
    if (kernel == TStartCodeKernel::Wide) {
        __builtin_cpu_init(); // asked perhaps before the run's constructors have made it
        return __builtin_cpu_supports("avx2");
    }
#endif
    return kernel == TStartCodeKernel::Narrow;
}

namespace {

using TFirstZeroZeroOne = std::int64_t (*)(const std::uint8_t* data, std::int64_t j,
                                           std::int64_t last);

TFirstZeroZeroOne KernelOf(TStartCodeKernel kernel) {
#if defined(QUILLET_WIDE_SCAN)
    if (kernel == TStartCodeKernel::Wide && RunsStartCodeKernel(kernel)) {
        return FirstZeroZeroOneWide;
    }
#endif
    static_cast<void>(kernel);
    return FirstZeroZeroOne;
}

std::int64_t FindStartCodeWith(TFirstZeroZeroOne firstZeroZeroOne, const std::uint8_t* data,
                               std::int64_t available, std::int64_t from, std::int64_t lastBegin) {
    if (from < 0) {
        from = 0;
    }
    if (lastBegin > available - 3) {
        lastBegin = available - 3;
    }
    if (from > lastBegin) {
        return -1;
    }
    // A start code beginning at i ends with its 01 at i + 2 or i + 3.
    const std::int64_t lastOne = lastBegin + 3 < available ? lastBegin + 3 : available - 1;
    const std::int64_t j = firstZeroZeroOne(data, from + 2, lastOne);
    if (j < 0) {
        return -1;
    }
    if (j - 3 >= from && data[j - 3] == 0) {
        return j - 3; // 00 00 00 01, seen first at its first zero
    }
    if (j - 2 <= lastBegin) {
        return j - 2;
    }
    return -1; // only a three-byte code past lastBegin remains
}

} // namespace

std::int64_t FindStartCode(const std::uint8_t* data, std::int64_t available, std::int64_t from,
                           std::int64_t lastBegin) {
    // Chosen at the first search of the run: the widest kernel the processor runs.
    static const TFirstZeroZeroOne widest = KernelOf(TStartCodeKernel::Wide);
    return FindStartCodeWith(widest, data, available, from, lastBegin);
}

std::int64_t FindStartCode(TStartCodeKernel kernel, const std::uint8_t* data,
                           std::int64_t available, std::int64_t from, std::int64_t lastBegin) {
    return FindStartCodeWith(KernelOf(kernel), data, available, from, lastBegin);
}

bool GetNalUnitLength(const std::uint8_t* Data, std::int32_t Available, std::int32_t& Length) {
    std::int64_t searchStart;
    if (IsStartCode4(Data, Available)) {
        searchStart = 2;
    } else if (IsStartCode3(Data, Available)) {
        searchStart = 1;
    } else {
        return false;
    }
    const std::int64_t next = FindStartCode(Data, Available, searchStart, Available);
    Length = next < 0 ? Available : static_cast<std::int32_t>(next);
    return true;
}

namespace {

// Why the first bytes of a file (read of them, the whole file when fewer than a block) do
// not begin a stream; empty when they do.
std::string StreamRejection(const std::uint8_t* buffer, std::int64_t read) {
    const char* const where = read < kIsH264VideoESBlock ? "in the file" : "in its first 2 MiB";
    int count = 0;
    std::int64_t pos = 0;
    std::int64_t remaining = read;
    for (;;) {
        const int sc = StartCodeLength(buffer + pos, remaining);
        if (sc != 0) {
            pos += sc;
            remaining -= sc;
            // The header byte may lie just past the bytes read; then nothing follows it
            // within the block and the file is rejected below either way.
            if (remaining > 0 && (buffer[pos] & 0x80) != 0) {
                return "the NAL unit header at offset " + NalOffsetText(pos) +
                       " has its forbidden_zero_bit set";
            }
            ++count;
        }
        ++pos;
        --remaining;
        if (remaining <= 0) {
            switch (count) {
            case 0:
                return std::string("no start codes ") + where;
            case 1:
                return std::string("only one start code ") + where;
            default:
                return std::string("nothing follows the header of its second NAL unit ") + where;
            }
        }
        if (count >= 2) {
            return {};
        }
    }
}

} // namespace

bool IsH264VideoES(FileStream& Stream, std::string* Reason) {
    const auto refuse = [Reason](std::string why) {
        if (Reason != nullptr) {
            *Reason = std::move(why);
        }
        return false;
    };
    return Guard("IsH264VideoES", false, [&] {
        try {
            // A stream shows its first two units within a few bytes: the first 64 KiB
            // settle nearly every file, and only a refusal looks at the whole block. The
            // buffer is not cleared, since only the bytes read are looked at.
            constexpr std::int32_t kFirstLook = 65536;
            auto buffer = std::make_unique_for_overwrite<std::uint8_t[]>(kIsH264VideoESBlock);
            Stream.Seek(0);
            std::int32_t read = Stream.Read(buffer.get(), kFirstLook);
            if (read <= 0) {
                return refuse("the file is empty");
            }
            if (read == kFirstLook) {
                if (StreamRejection(buffer.get(), read).empty()) {
                    return true;
                }
                read += Stream.Read(buffer.get() + read, kIsH264VideoESBlock - read);
            }
            std::string why = StreamRejection(buffer.get(), read);
            return why.empty() ? true : refuse(std::move(why));
        } catch (const std::exception& e) {
            refuse(std::string("cannot be read: ") + e.what());
            throw;
        }
    });
}

std::string NotValidStreamText(const std::string& path, const std::string& reason) {
    return std::string(kNotValidStreamMessage) + "\n" + path + "\n" + reason;
}

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

constexpr std::array<std::string_view, 32> kNames = {
    "Unspecified",
    "Coded slice of a non-IDR picture",
    "Coded slice data partition A",
    "Coded slice data partition B",
    "Coded slice data partition C",
    "Coded slice of an IDR picture",
    "SEI",
    "Sequence parameter set",
    "Picture parameter set",
    "Access UD",
    "End of sequence",
    "End of stream",
    "Filler data",
    "Sequence parameter set extension",
    "Reserved",
    "Reserved",
    "Reserved",
    "Reserved",
    "Reserved",
    "Coded slice of an auxiliary coded picture without partitioning",
    "Coded slice of a non-IDR picture in scalable extension",
    "Coded slice of an IDR picture in scalable extension",
    "Reserved",
    "Reserved",
    "Unspecified",
    "Unspecified",
    "Unspecified",
    "Unspecified",
    "Unspecified",
    "Unspecified",
    "Unspecified",
    "Unspecified",
};
static_assert(std::all_of(kNames.begin(), kNames.end(), [](std::string_view name) {
    return name.size() <= kNalTypeNameMaxSize;
}));

} // namespace

void GetNalUnitTypeName(std::uint32_t NalUnitType, std::string& Name) {
    if (NalUnitType < kNames.size()) {
        Name = kNames[NalUnitType];
    }
}

std::string PadRight(std::string_view text, std::size_t width) {
    std::string result(text);
    if (result.size() < width) {
        result.append(width - result.size(), ' ');
    }
    return result;
}

bool Remove_emulation_prevention_three_bytes(const std::uint8_t* Source, std::int32_t Length,
                                             std::uint8_t* Destination, std::int32_t& Written) {
    Written = 0;
    return Guard("Remove_emulation_prevention_three_bytes", false, [&] {
        // Every 00 00 03 is one to remove: none can begin within another, so the 03 bytes
        // are found with memchr and the runs between them copied whole.
        const std::uint8_t* const end = Source + std::max<std::int32_t>(Length, 0);
        const std::uint8_t* from = Source;
        std::int32_t written = 0; // in a local: Destination could alias Written
        // No 03 can be one to remove before the third byte; nor anywhere in fewer bytes.
        const std::uint8_t* look = Length > 2 ? Source + 2 : end;
        while (look < end) {
            const auto* three = static_cast<const std::uint8_t*>(
                std::memchr(look, 3, static_cast<std::size_t>(end - look)));
            if (three == nullptr) {
                break;
            }
            if (three[-1] == 0 && three[-2] == 0) {
                const auto run = static_cast<std::size_t>(three - from);
                std::memcpy(Destination + written, from, run);
                written += static_cast<std::int32_t>(run);
                from = three + 1;
            }
            look = three + 1;
        }
        const auto rest = static_cast<std::size_t>(end - from);
        if (rest > 0) {
            std::memcpy(Destination + written, from, rest);
        }
        written += static_cast<std::int32_t>(rest);
        Written = written;
        return true;
    });
}

std::int32_t StoredIndexOfRbspByte(const std::uint8_t* Source, std::int32_t Length,
                                   std::int32_t rbspIndex) {
    if (rbspIndex < 0) {
        return 0;
    }
    // Each emulation-prevention byte at or before the answer moves it one further; they are
    // the 03 of every 00 00 03, found as the removal finds them.
    std::int32_t at = rbspIndex;
    std::int32_t look = 2;
    while (at < Length && look <= at) {
        const auto* three = static_cast<const std::uint8_t*>(
            std::memchr(Source + look, 3, static_cast<std::size_t>(at + 1 - look)));
        if (three == nullptr) {
            break;
        }
        if (three[-1] == 0 && three[-2] == 0) {
            ++at;
        }
        look = static_cast<std::int32_t>(three - Source) + 1;
    }
    return std::min(at, Length);
}

std::int64_t StoredBitOfRbspBit(const std::uint8_t* Source, std::int32_t Length,
                                std::int64_t rbspBit) {
    const auto index = static_cast<std::int32_t>(
        std::min<std::int64_t>(rbspBit / 8, std::numeric_limits<std::int32_t>::max()));
    return 8 * static_cast<std::int64_t>(StoredIndexOfRbspByte(Source, Length, index)) +
           rbspBit % 8;
}

std::int64_t TStoredBitMap::StoredBitFurther(std::int64_t rbspBit) {
    const std::int64_t byte = rbspBit / 8;
    for (; !FBlocked && FClear <= byte && FClear < FLength; ++FClear) {
        if (FClear >= 2 && FSource[FClear] == 3 && FSource[FClear - 1] == 0 &&
            FSource[FClear - 2] == 0) {
            FBlocked = true;
            break;
        }
    }
    if (rbspBit >= 0 && byte < FClear) {
        return rbspBit;
    }
    return StoredBitOfRbspBit(FSource, FLength, rbspBit);
}

char* WriteNalOffsetText(char* out, std::int64_t offset) {
    out[0] = '0';
    out[1] = 'x';
    auto value = static_cast<std::uint64_t>(offset);
#if defined(__SSE2__)
    // A listing writes one a line: the sixteen digits at once, each byte's two halves
    // spread to two bytes in the order they are read, then made characters.
    const __m128i bytes = _mm_set_epi64x(0, static_cast<long long>(__builtin_bswap64(value)));
    const __m128i low = _mm_set1_epi8(0x0F);
    const __m128i digits =
        _mm_unpacklo_epi8(_mm_and_si128(_mm_srli_epi16(bytes, 4), low), _mm_and_si128(bytes, low));
    const __m128i letters =
        _mm_and_si128(_mm_cmpgt_epi8(digits, _mm_set1_epi8(9)), _mm_set1_epi8('A' - '9' - 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2),
                     _mm_add_epi8(_mm_add_epi8(digits, _mm_set1_epi8('0')), letters));
#else
    for (std::size_t i = kNalOffsetTextMaxSize; i > 2; --i, value >>= 4) {
        out[i - 1] = kHexDigits[value & 15u];
    }
#endif
    return out + kNalOffsetTextMaxSize;
}

char* WriteNalStartCodeText(char* out, bool fourByteStartCode, std::uint8_t header) {
    if (fourByteStartCode) {
        out = std::copy_n("0x00000001", 10, out);
    } else {
        out = std::copy_n("0x000001", 8, out);
    }
    *out++ = kHexDigits[header >> 4];
    *out++ = kHexDigits[header & 15u];
    return out;
}

std::string_view NalTypeName(std::uint8_t header) {
    return kNames[NalUnitType(header)];
}

std::string NalOffsetText(std::int64_t offset) {
    char text[kNalOffsetTextMaxSize];
    return {text, WriteNalOffsetText(text, offset)};
}

std::string NalStartCodeText(bool fourByteStartCode, std::uint8_t header) {
    char text[kNalStartCodeTextMaxSize];
    return {text, WriteNalStartCodeText(text, fourByteStartCode, header)};
}

std::string NalTypeText(std::uint8_t header) {
    return std::string(NalTypeName(header));
}

std::optional<std::int64_t> ParseOffsetText(std::string_view text) {
    int base = 10;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        first += 2;
    }
    if (first == last || *first == '-' || *first == '+') {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const auto [end, ec] = std::from_chars(first, last, value, base);
    if (ec != std::errc() || end != last) {
        return std::nullopt;
    }
    return value;
}
