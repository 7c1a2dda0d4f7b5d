// One colour table for every frame: the colours the frames' pixels use, counted
// in a bounded histogram, the table chosen from them (the colours themselves
// when at most 256, else the 256 that keep the squared error over all pixels
// small), and each frame's indexes mapped onto it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "avi/rle8_transcoder.h"
#include "conversion_state.h"

// The indexes of a frame's table that its pixels use, one bit each.
using UsedIndexes = std::array<uint64_t, kPaletteEntries / 64>;

inline bool indexUsed(const UsedIndexes& used, size_t index) {
    return (used[index / 64] >> (index % 64) & 1) != 0;
}

// Pixels counted per colour index of one frame.
using IndexCounts = std::array<uint64_t, kPaletteEntries>;

// One colour of the histogram: its key (the colour with the histogram's
// dropped low bits gone) and the pixels' weighted sums, for the mean colour.
struct HistogramBin {
    uint32_t key = 0;  // 0: empty; else 1 << 24 | red << 16 | green << 8 | blue, coarsened
    uint64_t pixels = 0;
    double red = 0;
    double green = 0;
    double blue = 0;
};

// A fixed table of bins; when it fills, every channel drops one more low bit
// and the bins that become one are merged, so that it never grows.
struct ColourHistogram {
    std::vector<HistogramBin> bins;
    size_t used = 0;
    int droppedBits = 0;         // per channel; 0 while every colour is its own bin
    size_t coloursWhenFull = 0;  // distinct colours counted when it first filled
};

struct SharedPalette {
    // What the first pass found.
    ColourHistogram histogram;
    Palette firstTable{};
    UsedIndexes firstUsed{};
    std::vector<UsedIndexes> usedByFrame;  // the first frames' (at most kMaxFramesNoted)
    int32_t framesCounted = 0;

    // The table chosen, and whether the frames are written through it.
    bool inUse = false;
    bool exact = false;  // every pixel keeps its colour
    Palette table{};
    int colours = 0;  // entries of table that hold a colour the frames use

    // Mapping, frame by frame.
    std::vector<uint32_t> cachedColours;  // 1 << 24 | colour, or 0
    std::vector<uint8_t> cachedEntries;   // the nearest entry of each cached colour
    std::vector<uint8_t> byGreen;         // the entries searched, by their green values
    Palette lastFrameTable{};
    UsedIndexes lastMapped{};  // indexes of lastFrameTable that lastMap holds
    ColourIndexes lastMap = identityIndexes();
    int largestDifference = 0;  // of a red, green or blue value, over the pixels mapped
};

// The per-frame notes kept: 32 bytes each, 4 MiB in all; later frames have
// every index mapped.
inline constexpr size_t kMaxFramesNoted = size_t{1} << 17;

// Empties shared and readies its histogram for a first pass.
void startColourCount(SharedPalette& shared);

// Adds one frame's pixels: counts[i] pixels of colour table[i]; clears counts.
void addFrameColours(SharedPalette& shared, const Palette& table, IndexCounts& counts);

// Chooses the table from the colours counted. The frames are written through
// it (inUse) when it is exact or when multiPalette does not ask for every
// colour kept.
void chooseSharedTable(SharedPalette& shared, bool multiPalette);

// The index each colour index of frame number frame (from 0), whose table is
// table, is written as; only the indexes the frame uses are sure to be mapped.
const ColourIndexes& mapFrameColours(SharedPalette& shared, int32_t frame, const Palette& table);

// The warning for a table that is not exact: how many colours the frames use,
// the largest difference a pixel got, and that -m keeps every colour.
void setSharedPaletteWarning(const SharedPalette& shared);
