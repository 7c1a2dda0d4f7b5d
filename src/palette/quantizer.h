// A table of at most 256 colours for frames that use more: chosen from the
// weighted colours to keep the squared error over all pixels small, and the
// nearest entry of it for any colour.
#pragma once

#include <cstdint>
#include <vector>

#include "conversion_state.h"
#include "palette/colour_histogram.h"

// Median cut on the histogram's colours, each cut where it leaves the least
// squared error, then rounds of k-means, which only lower that error. Returns
// the number of entries of table chosen; the rest are black.
int chooseTableOfColours(const ColourHistogram& histogram, Palette& table);

// What speeds up the nearest-entry search over one table.
struct NearestSearch {
    std::vector<uint32_t> cachedColours;  // colour keys, or 0
    std::vector<uint8_t> cachedEntries;   // the nearest entry of each cached colour
    std::vector<uint8_t> byGreen;         // the entries searched, by their green values
};

// Readies search for the first colours entries of table.
void startNearestSearch(NearestSearch& search, const Palette& table, int colours);

// The entry of table nearest to colour; of several as near, the lowest.
uint8_t nearestEntry(NearestSearch& search, const Palette& table, const PaletteEntry& colour);

// The largest difference of a red, green or blue value between two colours.
int largestChannelDifference(const PaletteEntry& one, const PaletteEntry& other);
