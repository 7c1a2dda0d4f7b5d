// Up to eight image words at once: the vector forms of the transcoder's and the row
// search's commonest steps, with plain forms that give the same results on any
// processor. KESTRUP_PORTABLE forces the plain forms.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__) && !defined(KESTRUP_PORTABLE)
#include <emmintrin.h>
#define KESTRUP_WORD_VECTORS 1
#endif

namespace wordvec {

inline constexpr size_t kWords = 8;
inline constexpr size_t kBytes = 2 * kWords;

// High bytes of a repeat count of 1..255 and of a colour word of 0..255.
inline constexpr uint8_t kCountHigh = 0x00;
inline constexpr uint8_t kColourHigh = 0x30;
inline constexpr uint8_t kSingleHigh = 0x10;

#if defined(KESTRUP_WORD_VECTORS)

inline __m128i load(const uint8_t* at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

inline int highBytesMatch(__m128i words, __m128i highBytes) {
    return _mm_movemask_epi8(
        _mm_cmpeq_epi16(_mm_and_si128(words, _mm_set1_epi16(static_cast<short>(0xFF00))),
                        highBytes));
}

// Eight pairs of a repeat count of 1..255 and a colour word of 0..255 (32 bytes
// in) become eight RLE8 pairs (16 bytes out), written whatever the words are.
// Returns a nibble per pair: 0 when all eight are such, else the lowest set
// bit falls in the nibble of the first pair that is not.
inline uint32_t pairsToRleMisfits(const uint8_t* in, uint8_t* out) {
    const __m128i first = load(in);
    const __m128i second = load(in + kBytes);
    // Per pair of words, bytes count-low, count-high, colour-low, colour-high:
    // equal to 0, 0, -, 0x30 must come out no, yes, -, yes.
    const __m128i pattern = _mm_set1_epi32(kColourHigh << 24);
    const auto equalBytes = [&](__m128i pairs) {
        return static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(pairs, pattern)));
    };
    const uint32_t equal = equalBytes(first) | equalBytes(second) << 16;
    const uint32_t wrong = (equal & 0xBBBBBBBBu) ^ 0xAAAAAAAAu;  // a nibble per pair
    const __m128i lowBytes = _mm_set1_epi16(0x00FF);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_packus_epi16(_mm_and_si128(first, lowBytes),
                                      _mm_and_si128(second, lowBytes)));
    return wrong;
}

// The leading single-pixel words of colours 0..255, up to eight (16 bytes in),
// become pairs of count 1. Returns how many; up to 16 bytes at out may be written.
inline size_t singlesToRle(const uint8_t* in, uint8_t* out) {
    const __m128i words = load(in);
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(
        _mm_cmpeq_epi16(_mm_and_si128(words, _mm_set1_epi16(static_cast<short>(0xFF00))),
                        _mm_set1_epi16(kSingleHigh << 8)),
        _mm_setzero_si128())));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_or_si128(_mm_slli_epi16(words, 8), _mm_set1_epi16(1)));
    return static_cast<size_t>(std::countr_one(mask));
}

// Sixteen single-pixel words of colours 0..255 (32 bytes in) become sixteen pairs
// of count 1 (32 bytes out) when all of them are such; false, nothing written, else.
inline bool sixteenSinglesToRle(const uint8_t* in, uint8_t* out) {
    const __m128i first = load(in);
    const __m128i second = load(in + kBytes);
    const __m128i highBytes = _mm_set1_epi16(static_cast<short>(0xFF00));
    const __m128i singleHigh = _mm_set1_epi16(kSingleHigh << 8);
    const int mask = _mm_movemask_epi8(
        _mm_packs_epi16(_mm_cmpeq_epi16(_mm_and_si128(first, highBytes), singleHigh),
                        _mm_cmpeq_epi16(_mm_and_si128(second, highBytes), singleHigh)));
    if (mask != 0xFFFF) return false;
    const __m128i countOne = _mm_set1_epi16(1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                     _mm_or_si128(_mm_slli_epi16(first, 8), countOne));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + kBytes),
                     _mm_or_si128(_mm_slli_epi16(second, 8), countOne));
    return true;
}

// Bit i set when word i of the eight is of the given kind (top four bits).
inline unsigned kindMask(const uint8_t* in, uint16_t kind) {
    const __m128i kinds =
        _mm_and_si128(load(in), _mm_set1_epi16(static_cast<short>(0xF000)));
    const __m128i matches = _mm_cmpeq_epi16(kinds, _mm_set1_epi16(static_cast<short>(kind)));
    // Each word's all-ones or zero becomes one byte, each byte one bit.
    return static_cast<unsigned>(
        _mm_movemask_epi8(_mm_packs_epi16(matches, _mm_setzero_si128())));
}

#else

inline uint32_t pairsToRleMisfits(const uint8_t* in, uint8_t* out) {
    for (uint32_t pair = 0; pair < kWords; ++pair, in += 4, out += 2) {
        if (in[1] != kCountHigh || in[0] == 0 || in[3] != kColourHigh) return 1u << (4 * pair);
        out[0] = in[0];
        out[1] = in[2];
    }
    return 0;
}

inline size_t singlesToRle(const uint8_t* in, uint8_t* out) {
    size_t singles = 0;
    for (; singles < kWords; ++singles, in += 2, out += 2) {
        if (in[1] != kSingleHigh) break;
        out[0] = 1;
        out[1] = in[0];
    }
    return singles;
}

inline bool sixteenSinglesToRle(const uint8_t* in, uint8_t* out) {
    for (size_t i = 0; i < 2 * kWords; ++i) {
        if (in[2 * i + 1] != kSingleHigh) return false;
    }
    for (size_t i = 0; i < 2 * kWords; ++i) {
        out[2 * i] = 1;
        out[2 * i + 1] = in[2 * i];
    }
    return true;
}

inline unsigned kindMask(const uint8_t* in, uint16_t kind) {
    unsigned words = 0;
    for (unsigned i = 0; i < kWords; ++i) {
        if ((in[2 * i + 1] & 0xF0) == kind >> 8) words |= 1u << i;
    }
    return words;
}

#endif

// The leading repeat counts of 1..255 followed by a colour word of 0..255,
// up to eight such pairs (32 bytes in), become RLE8 pairs (2 bytes out each).
// Returns how many; up to 16 bytes at out may be written whatever the count.
inline size_t pairsToRle(const uint8_t* in, uint8_t* out) {
    const uint32_t misfits = pairsToRleMisfits(in, out);
    return misfits == 0 ? kWords : static_cast<size_t>(std::countr_zero(misfits)) / 4;
}

// Number of set bits in a mask of eight, without the library call that a
// processor lacking a bit-count instruction would otherwise make.
inline int countWords(unsigned mask) {
    mask = mask - ((mask >> 1) & 0x55u);
    mask = (mask & 0x33u) + ((mask >> 2) & 0x33u);
    return static_cast<int>((mask + (mask >> 4)) & 0x0Fu);
}

}  // namespace wordvec
