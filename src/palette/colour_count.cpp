#include "palette/colour_count.h"

#include <algorithm>
#include <cstddef>
#include <utility>

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
        if (counts[i] == 0) continue;
        addToHistogram(count.histogram, table[i], counts[i]);
        counts[i] = 0;
        markIndexUsed(used, i);
    }
    ColourIndexes unusedMap;
    mapLiveFrame(count.exactTable, table, used, unusedMap);
    mapLiveFrame(count.exactTableOneSlot, table, used, unusedMap);
    if (count.usedByFrame.size() < kMaxFramesNoted) count.usedByFrame.push_back(used);
    ++count.framesCounted;
}

void markStagedColours(const StagedPieces& staged, UsedIndexes& used) {
    // A byte a colour, set by stores that wait for nothing; an end-of-line
    // pair (a count of 0) marks the byte past them.
    std::array<uint8_t, kPaletteEntries + 1> seen{};
    const uint8_t* pair = staged.bytes.data();
    const uint8_t* const end = pair + (staged.used & ~size_t{1});
    constexpr size_t kEscapes = kPaletteEntries;
    for (; end - pair >= 8; pair += 8) {
        seen[pair[0] != 0 ? pair[1] : kEscapes] = 1;
        seen[pair[2] != 0 ? pair[3] : kEscapes] = 1;
        seen[pair[4] != 0 ? pair[5] : kEscapes] = 1;
        seen[pair[6] != 0 ? pair[7] : kEscapes] = 1;
    }
    for (; pair < end; pair += 2)
        seen[pair[0] != 0 ? pair[1] : kEscapes] = 1;
    used = UsedIndexes{};
    for (size_t index = 0; index < kPaletteEntries; ++index)
        used[index / 64] |= uint64_t{seen[index]} << (index % 64);
}
