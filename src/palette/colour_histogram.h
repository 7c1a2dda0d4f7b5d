// The colours the frames' pixels use, weighted by their pixels, in a table of
// bounded size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "conversion_state.h"

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

// Empties histogram for a new count, in the memory it already has, if any.
void startHistogram(ColourHistogram& histogram);

// Adds pixels pixels of colour.
void addToHistogram(ColourHistogram& histogram, const PaletteEntry& colour, uint64_t pixels);

// True while every colour counted has a bin of its own and they fit one table.
bool histogramFitsOneTable(const ColourHistogram& histogram);
