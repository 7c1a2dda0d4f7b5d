#include "palette/colour_count.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#if defined(__SSE2__) && !defined(KESTRUP_PORTABLE)
#include <emmintrin.h>
#endif

void startColourCount(ColourCount& count) {
    ColourHistogram histogram = std::move(count.histogram);
    startHistogram(histogram);
    count = ColourCount{};
    count.histogram = std::move(histogram);
    count.exactTableOneSlot.oneSlotPerColour = true;
}

void countPairs(const uint8_t* from, const uint8_t* to, IndexCounts& counts) {
    // Runs of one colour come in neighbouring pairs: four tables, taken in
    // turn, keep an addition from waiting on the one before it.
    const uint8_t* pair = from;
    constexpr ptrdiff_t kFewPairs = 2 * 256;  // not worth clearing the tables for
    std::array<std::array<uint32_t, kPaletteEntries>, 4> partial;
    if (to - pair >= kFewPairs) partial = {};
    while (to - pair >= kFewPairs) {
        // 32-bit sums: at most 255 pixels a pair, added to the full counts
        // before they could overflow.
        const uint8_t* const stop =
            pair + std::min<ptrdiff_t>((to - pair) & ~ptrdiff_t{7}, ptrdiff_t{8} << 20);
        for (; pair < stop; pair += 8) {
            partial[0][pair[1]] += pair[0];
            partial[1][pair[3]] += pair[2];
            partial[2][pair[5]] += pair[4];
            partial[3][pair[7]] += pair[6];
        }
        for (const auto& table : partial) {
            for (size_t i = 0; i < counts.size(); ++i)
                counts[i] += table[i];
        }
        partial = {};
    }
    for (; to - pair >= 2; pair += 2)
        counts[pair[1]] += pair[0];
}

void addFrameColours(ColourCount& count, const Palette& table, IndexCounts& counts) {
    UsedIndexes used{};
    for (size_t i = 0; i < counts.size(); ++i) {
        // A small frame's counts are mostly 0: four at a time past them.
        if (i % 4 == 0 && (counts[i] | counts[i + 1] | counts[i + 2] | counts[i + 3]) == 0) {
            i += 3;
            continue;
        }
        if (counts[i] == 0) continue;
        addToHistogram(count.histogram, table[i], counts[i]);
        counts[i] = 0;
        markIndexUsed(used, i);
    }
    // Once the colours are more than one table holds, they stay so: the exact
    // tables are no longer needed.
    if (histogramFitsOneTable(count.histogram)) {
        ColourIndexes unusedMap;
        mapLiveFrame(count.exactTable, table, used, unusedMap);
        mapLiveFrame(count.exactTableOneSlot, table, used, unusedMap);
    }
    if (count.usedByFrame.size() < kMaxFramesNoted) count.usedByFrame.push_back(used);
    ++count.framesCounted;
}

namespace {

// Byte seen[c] set for every colour c a pair with a count holds: stores that
// wait for nothing. An end-of-line pair (a count of 0) marks the byte past them.
using SeenColours = std::array<uint8_t, kPaletteEntries + 1>;
constexpr size_t kEndOfLineSeen = kPaletteEntries;

void markPairsPlainly(const uint8_t* pair, const uint8_t* end, SeenColours& seen) {
    for (; end - pair >= 8; pair += 8) {
        seen[pair[0] != 0 ? pair[1] : kEndOfLineSeen] = 1;
        seen[pair[2] != 0 ? pair[3] : kEndOfLineSeen] = 1;
        seen[pair[4] != 0 ? pair[5] : kEndOfLineSeen] = 1;
        seen[pair[6] != 0 ? pair[7] : kEndOfLineSeen] = 1;
    }
    for (; end - pair >= 2; pair += 2)
        seen[pair[0] != 0 ? pair[1] : kEndOfLineSeen] = 1;
}

#if defined(__SSE2__) && !defined(KESTRUP_PORTABLE)

// Eight pairs at a time, every pair's colour marked, without a test: an
// end-of-line pair (0, 0) so marks colour 0 too, which is marked instead where
// a pair of colour 0 has a count, as a vector test over the eight finds.
void markPairs(const uint8_t* pair, const uint8_t* end, SeenColours& seen) {
    const __m128i countBytes = _mm_set1_epi16(0x00FF);
    const __m128i colourBytes = _mm_set1_epi16(static_cast<short>(0xFF00));
    __m128i zeroColourRuns = _mm_setzero_si128();
    const uint8_t* const blocksEnd = pair + ((end - pair) & ~ptrdiff_t{15});
    for (; pair < blocksEnd; pair += 16) {
        const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pair));
        const __m128i noCount =
            _mm_cmpeq_epi16(_mm_and_si128(pairs, countBytes), _mm_setzero_si128());
        const __m128i colourZero =
            _mm_cmpeq_epi16(_mm_and_si128(pairs, colourBytes), _mm_setzero_si128());
        zeroColourRuns = _mm_or_si128(zeroColourRuns, _mm_andnot_si128(noCount, colourZero));
        // The eight colours from the register, not from memory: a load after
        // the stores would wait on them.
        auto colours = static_cast<uint64_t>(_mm_cvtsi128_si64(
            _mm_packus_epi16(_mm_srli_epi16(pairs, 8), _mm_setzero_si128())));
        for (int i = 0; i < 8; ++i, colours >>= 8)
            seen[colours & 0xFF] = 1;
    }
    seen[0] = _mm_movemask_epi8(zeroColourRuns) != 0 ? 1 : 0;
    markPairsPlainly(pair, end, seen);
}

// The marks as bits, sixteen at a time.
void packSeen(const SeenColours& seen, UsedIndexes& used) {
    for (size_t index = 0; index < kPaletteEntries; index += 16) {
        const __m128i marks = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&seen[index]));
        const auto unmarked =
            static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(marks, _mm_setzero_si128())));
        used[index / 64] |= uint64_t{~unmarked & 0xFFFFu} << (index % 64);
    }
}

#else

void markPairs(const uint8_t* pair, const uint8_t* end, SeenColours& seen) {
    markPairsPlainly(pair, end, seen);
}

void packSeen(const SeenColours& seen, UsedIndexes& used) {
    for (size_t index = 0; index < kPaletteEntries; ++index)
        used[index / 64] |= uint64_t{seen[index]} << (index % 64);
}

#endif

}  // namespace

void markUsedIndexes(const uint8_t* from, const uint8_t* to, UsedIndexes& used) {
    SeenColours seen{};
    markPairs(from, to, seen);
    used = UsedIndexes{};
    packSeen(seen, used);
}
