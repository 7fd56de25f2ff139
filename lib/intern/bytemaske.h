// Which of 64 bytes are among a few given ones: one bit per byte, found
// with vector compares where the machine has them.  The escaping of page
// text and the form decoder look for their few bytes this way instead of
// testing byte by byte.
#ifndef VOKT_BYTEMASKE_H
#define VOKT_BYTEMASKE_H

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>

namespace vokt::intern {
#endif

// Bit i is set when p[i] is one of Zeichen, i < 64.  All 64 bytes at p
// must be readable.
template <char... Zeichen> inline std::uint64_t maske64(const char *p)
{
    std::uint64_t m = 0;
#if defined(__SSE2__)
    for (int i = 0; i < 64; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + i));
        __m128i treffer = _mm_setzero_si128();
        ((treffer = _mm_or_si128(treffer, _mm_cmpeq_epi8(v, _mm_set1_epi8(Zeichen)))), ...);
        m |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(_mm_movemask_epi8(treffer))) << i;
    }
#else
    for (int i = 0; i < 64; ++i)
        if (((p[i] == Zeichen) || ...))
            m |= std::uint64_t{1} << i;
#endif
    return m;
}

// Copies 32 bytes: a short run is copied whole this way, which is faster
// than a call that copies exactly its length.
inline void kopiere32(char *nach, const char *von)
{
#if defined(__SSE2__)
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i *>(von));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i *>(von + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(nach), a);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(nach + 16), b);
#else
    std::memcpy(nach, von, 32);
#endif
}

// Copies n bytes from von to nach, 16 at a time: up to 15 bytes past the
// end of both are read and written, so the caller makes sure they may be.
// Each '+' becomes a space when Plus is set.
template <bool Plus> inline void kopiere16(char *nach, const char *von, std::size_t n)
{
#if defined(__SSE2__)
    std::size_t i = 0;
    do {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(von + i));
        if constexpr (Plus) {
            __m128i plus = _mm_cmpeq_epi8(v, _mm_set1_epi8('+'));
            v = _mm_xor_si128(v, _mm_and_si128(plus, _mm_set1_epi8('+' ^ ' ')));
        }
        _mm_storeu_si128(reinterpret_cast<__m128i *>(nach + i), v);
        i += 16;
    } while (i < n);
#else
    for (std::size_t i = 0; i < n; ++i)
        nach[i] = Plus && von[i] == '+' ? ' ' : von[i];
#endif
}

} // namespace vokt::intern

#endif
