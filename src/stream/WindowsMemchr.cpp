// The byte search the start-code scans are built on, for the Windows build: the C runtime
// that MinGW links against (msvcrt, and Wine's) looks at one byte at a time, while the
// scans call it for every 0x01 byte of the stream, a few hundred bytes apart. Sixteen bytes
// a step with SSE2, which every 32-bit Windows since 8 requires; the program's own memchr
// is the one every caller links to.

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

extern "C" void* memchr(const void* s, int c, std::size_t n) {
    const auto* p = static_cast<const unsigned char*>(s);
    const auto wanted = static_cast<unsigned char>(c);
    // Byte by byte up to the first aligned block, so that no load reaches past the end.
    for (; n > 0 && (reinterpret_cast<std::uintptr_t>(p) & 15) != 0; ++p, --n) {
        if (*p == wanted) {
            return const_cast<unsigned char*>(p);
        }
    }
    const __m128i pattern = _mm_set1_epi8(static_cast<char>(wanted));
    for (; n >= 16; p += 16, n -= 16) {
        const __m128i block = _mm_load_si128(reinterpret_cast<const __m128i*>(p));
        const auto hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, pattern)));
        if (hits != 0) {
            return const_cast<unsigned char*>(p + __builtin_ctz(hits));
        }
    }
    for (; n > 0; ++p, --n) {
        if (*p == wanted) {
            return const_cast<unsigned char*>(p);
        }
    }
    return nullptr;
}
