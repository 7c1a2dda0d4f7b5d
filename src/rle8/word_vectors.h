// Eight image words at once for the row search: which of them are of a kind,
// in a vector form where SSE2 is part of the build's target and a plain form
// that gives the same results on any processor. KESTRUP_PORTABLE forces the
// plain form.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__) && !defined(KESTRUP_PORTABLE)
#include <emmintrin.h>
#define KESTRUP_WORD_VECTORS 1
#endif

namespace wordvec {

inline constexpr size_t kWords = 8;
inline constexpr size_t kBytes = 2 * kWords;

#if defined(KESTRUP_WORD_VECTORS)

// Bit i set when word i of the eight is of the given kind (top four bits).
inline unsigned kindMask(const uint8_t* in, uint16_t kind) {
    const __m128i kinds = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in)),
                                        _mm_set1_epi16(static_cast<short>(0xF000)));
    const __m128i matches = _mm_cmpeq_epi16(kinds, _mm_set1_epi16(static_cast<short>(kind)));
    // Each word's all-ones or zero becomes one byte, each byte one bit.
    return static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(matches, _mm_setzero_si128())));
}

#else

inline unsigned kindMask(const uint8_t* in, uint16_t kind) {
    unsigned words = 0;
    for (unsigned i = 0; i < kWords; ++i) {
        if ((in[2 * i + 1] & 0xF0) == kind >> 8) words |= 1u << i;
    }
    return words;
}

#endif

// Number of set bits in a mask of eight, without the library call that a
// processor lacking a bit-count instruction would otherwise make.
inline int countWords(unsigned mask) {
    mask = mask - ((mask >> 1) & 0x55u);
    mask = (mask & 0x33u) + ((mask >> 2) & 0x33u);
    return static_cast<int>((mask + (mask >> 4)) & 0x0Fu);
}

}  // namespace wordvec
