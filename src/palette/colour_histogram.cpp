#include "palette/colour_histogram.h"

#include <utility>

#include "palette/colour_keys.h"

namespace {

// 16384 bins of 40 bytes: 640 KiB whatever the input. Filled to three quarters,
// so that a probe stays short; five bits a channel (32768 colours) may still
// fill it, four never do.
constexpr int kHistogramBits = 14;
constexpr size_t kHistogramBins = size_t{1} << kHistogramBits;
constexpr size_t kHistogramFill = kHistogramBins / 4 * 3;

HistogramBin& findBin(ColourHistogram& histogram, uint32_t key) {
    size_t slot = keySlot(key, kHistogramBits);
    while (histogram.bins[slot].key != 0 && histogram.bins[slot].key != key) {
        slot = (slot + 1) & (kHistogramBins - 1);
    }
    HistogramBin& bin = histogram.bins[slot];
    if (bin.key == 0) {
        bin.key = key;
        ++histogram.used;
    }
    return bin;
}

void addToBin(HistogramBin& bin, double red, double green, double blue, uint64_t pixels) {
    bin.pixels += pixels;
    bin.red += red;
    bin.green += green;
    bin.blue += blue;
}

// One bit less of every channel: the bins that become one are merged.
void coarsen(ColourHistogram& histogram) {
    if (histogram.droppedBits == 0) histogram.coloursWhenFull = histogram.used;
    std::vector<HistogramBin> old(kHistogramBins);
    old.swap(histogram.bins);
    histogram.used = 0;
    ++histogram.droppedBits;
    for (const HistogramBin& bin : old) {
        if (bin.key == 0) continue;
        const uint32_t key = kKeyHeld | (bin.key >> 1 & 0x7F7F7F);
        addToBin(findBin(histogram, key), bin.red, bin.green, bin.blue, bin.pixels);
    }
}

}  // namespace

void startHistogram(ColourHistogram& histogram) {
    std::vector<HistogramBin> bins = std::move(histogram.bins);
    histogram = ColourHistogram{};
    bins.assign(kHistogramBins, HistogramBin{});
    histogram.bins = std::move(bins);
}

void addToHistogram(ColourHistogram& histogram, const PaletteEntry& colour, uint64_t pixels) {
    const auto weight = static_cast<double>(pixels);
    addToBin(findBin(histogram, colourKey(colour, histogram.droppedBits)), weight * colour.red,
             weight * colour.green, weight * colour.blue, pixels);
    if (histogram.used > kHistogramFill) coarsen(histogram);
}

bool histogramFitsOneTable(const ColourHistogram& histogram) {
    return histogram.droppedBits == 0 && histogram.used <= static_cast<size_t>(kPaletteEntries);
}
