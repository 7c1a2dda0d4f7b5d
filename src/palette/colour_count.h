// What a first pass over the frames counts for one shared table: the pixels of
// every colour, and the exact table by the slot rule while the colours fit.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "conversion_state.h"
#include "palette/colour_histogram.h"
#include "palette/slot_rule.h"
#include "rle8/row_staging.h"

// Pixels counted per colour index of one frame.
using IndexCounts = std::array<uint64_t, kPaletteEntries>;

// The per-frame notes kept: 32 bytes each, 4 MiB in all; later frames have
// every index mapped.
inline constexpr size_t kMaxFramesNoted = size_t{1} << 17;

struct ColourCount {
    ColourHistogram histogram;
    // The exact table by its rule, and by its rule with one slot per colour,
    // for as long as they fit.
    LiveTable exactTable;
    LiveTable exactTableOneSlot;
    std::vector<UsedIndexes> usedByFrame;  // the first frames' (at most kMaxFramesNoted)
    int32_t framesCounted = 0;
};

// Empties count for a first pass, in the memory its histogram already has.
void startColourCount(ColourCount& count);

// Adds the pixels of the pairs from..to (a frame's rows transcoded through the
// identity map; an end-of-line pair counts nothing) to counts.
void countPairs(const uint8_t* from, const uint8_t* to, IndexCounts& counts);

// Adds one frame's pixels: counts[i] pixels of colour table[i]; clears counts.
void addFrameColours(ColourCount& count, const Palette& table, IndexCounts& counts);

// The indexes that the pairs from..to (a frame's rows transcoded through the
// identity map) use: eight pairs at a time where SSE2 is part of the build's
// target, else pair by pair (the build without vector instructions).
void markUsedIndexes(const uint8_t* from, const uint8_t* to, UsedIndexes& used);
