// The byte search the start-code scans are built on, for the Windows build: the C runtime
// that MinGW links against (msvcrt, and Wine's) looks at one byte at a time, while the
// scans call it for every 0x01 byte of the stream, a few hundred bytes apart. Sixteen bytes
// a compare with SSE2, which every 32-bit Windows since 8 requires, four compares a step;
// the program's own memchr is the one every caller links to. Every load lies within the n
// bytes: the first and the last sixteen are read unaligned where they overlap the rest.

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

namespace {

// The places of the wanted byte among the sixteen at p, one bit each, first lowest.
unsigned Hits(const __m128i block, const __m128i pattern) {
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, pattern)));
}

void* At(const unsigned char* p, unsigned hits) {
    return const_cast<unsigned char*>(p + __builtin_ctz(hits));
}

} // namespace

extern "C" void* memchr(const void* s, int c, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(s);
    const auto wanted = static_cast<unsigned char>(c);
    if (n < 16) {
        for (; n > 0; ++p, --n) {
            if (*p == wanted) {
                return const_cast<unsigned char*>(p);
            }
        }
        return nullptr;
    }
    const __m128i pattern = _mm_set1_epi8(static_cast<char>(wanted));
    const unsigned char* const end = p + n;
    if (const unsigned hits = Hits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), pattern)) {
        return At(p, hits);
    }
    // On from the first aligned block after the first sixteen bytes.
    p = reinterpret_cast<const unsigned char*>((reinterpret_cast<std::uintptr_t>(p) + 16) &
                                               ~std::uintptr_t{15});
    for (; end - p >= 64; p += 64) {
        const auto* q = reinterpret_cast<const __m128i*>(p);
        const __m128i a = _mm_cmpeq_epi8(_mm_load_si128(q), pattern);
        const __m128i b = _mm_cmpeq_epi8(_mm_load_si128(q + 1), pattern);
        const __m128i c2 = _mm_cmpeq_epi8(_mm_load_si128(q + 2), pattern);
        const __m128i d = _mm_cmpeq_epi8(_mm_load_si128(q + 3), pattern);
        if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c2, d))) != 0) {
            break; // the block of sixteen that holds it is found below
        }
    }
    for (; end - p >= 16; p += 16) {
        if (const unsigned hits =
                Hits(_mm_load_si128(reinterpret_cast<const __m128i*>(p)), pattern)) {
            return At(p, hits);
        }
    }
    if (p == end) {
        return nullptr;
    }
    // The last sixteen bytes, of which those before p were looked at already.
    const unsigned char* last = end - 16;
    const unsigned hits =
        Hits(_mm_loadu_si128(reinterpret_cast<const __m128i*>(last)), pattern) >> (p - last);
    return hits != 0 ? At(p, hits) : nullptr;
}
