#include "palette/shared_palette.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

namespace {

// 16384 bins of 40 bytes: 640 KiB whatever the input. Filled to three quarters,
// so that a probe stays short; five bits a channel (32768 colours) may still
// fill it, four never do.
constexpr size_t kHistogramBins = size_t{1} << 14;
constexpr size_t kHistogramFill = kHistogramBins / 4 * 3;
constexpr uint32_t kBinHeld = uint32_t{1} << 24;
constexpr size_t kCacheSize = size_t{1} << 12;
constexpr int kMeansRounds = 6;

uint32_t colourKey(const PaletteEntry& colour, int droppedBits) {
    return kBinHeld | uint32_t{static_cast<uint8_t>(colour.red >> droppedBits)} << 16 |
           uint32_t{static_cast<uint8_t>(colour.green >> droppedBits)} << 8 |
           uint32_t{static_cast<uint8_t>(colour.blue >> droppedBits)};
}

size_t binSlot(uint32_t key) {
    return static_cast<size_t>((key * 2654435761u) >> 18) & (kHistogramBins - 1);
}

HistogramBin& findBin(ColourHistogram& histogram, uint32_t key) {
    size_t slot = binSlot(key);
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
        const uint32_t key = kBinHeld | (bin.key >> 1 & 0x7F7F7F);
        addToBin(findBin(histogram, key), bin.red, bin.green, bin.blue, bin.pixels);
    }
}

int distance(const PaletteEntry& one, const PaletteEntry& other) {
    const int red = one.red - other.red;
    const int green = one.green - other.green;
    const int blue = one.blue - other.blue;
    return red * red + green * green + blue * blue;
}

int largestChannelDifference(const PaletteEntry& one, const PaletteEntry& other) {
    return std::max({std::abs(one.red - other.red), std::abs(one.green - other.green),
                     std::abs(one.blue - other.blue)});
}

struct WeightedColour {
    double channel[3] = {0, 0, 0};
    double weight = 0;
};

struct Box {
    size_t begin = 0;
    size_t end = 0;
    double error = 0;  // weighted squared distance from the box's mean
};

double boxError(const std::vector<WeightedColour>& points, size_t begin, size_t end) {
    double weight = 0;
    double sum[3] = {0, 0, 0};
    double squares = 0;
    for (size_t i = begin; i < end; ++i) {
        weight += points[i].weight;
        for (int c = 0; c < 3; ++c) {
            sum[c] += points[i].weight * points[i].channel[c];
            squares += points[i].weight * points[i].channel[c] * points[i].channel[c];
        }
    }
    if (weight <= 0) return 0;
    return squares - (sum[0] * sum[0] + sum[1] * sum[1] + sum[2] * sum[2]) / weight;
}

// Splits box along its widest channel (by weighted variance) where the two
// halves' squared errors sum to the least; false when it holds one colour.
bool splitBox(std::vector<WeightedColour>& points, const Box& box, Box& low, Box& high) {
    if (box.end - box.begin < 2) return false;
    int axis = 0;
    double widest = -1;
    for (int c = 0; c < 3; ++c) {
        double weight = 0;
        double sum = 0;
        double squares = 0;
        for (size_t i = box.begin; i < box.end; ++i) {
            weight += points[i].weight;
            sum += points[i].weight * points[i].channel[c];
            squares += points[i].weight * points[i].channel[c] * points[i].channel[c];
        }
        const double variance = weight > 0 ? squares - sum * sum / weight : 0;
        if (variance > widest) {
            widest = variance;
            axis = c;
        }
    }
    const auto first = points.begin() + static_cast<ptrdiff_t>(box.begin);
    const auto last = points.begin() + static_cast<ptrdiff_t>(box.end);
    std::sort(first, last, [axis](const WeightedColour& a, const WeightedColour& b) {
        return a.channel[axis] < b.channel[axis];
    });
    double totalWeight = 0;
    double totalSum = 0;
    for (size_t i = box.begin; i < box.end; ++i) {
        totalWeight += points[i].weight;
        totalSum += points[i].weight * points[i].channel[axis];
    }
    double weight = 0;
    double sum = 0;
    double best = -1;
    size_t cut = box.begin + 1;
    for (size_t i = box.begin; i + 1 < box.end; ++i) {
        weight += points[i].weight;
        sum += points[i].weight * points[i].channel[axis];
        if (points[i].channel[axis] == points[i + 1].channel[axis]) continue;
        const double rest = totalWeight - weight;
        if (weight <= 0 || rest <= 0) continue;
        // The between-halves part of the variance: the larger, the less is left within.
        const double gain = sum * sum / weight + (totalSum - sum) * (totalSum - sum) / rest;
        if (gain > best) {
            best = gain;
            cut = i + 1;
        }
    }
    low = {box.begin, cut, boxError(points, box.begin, cut)};
    high = {cut, box.end, boxError(points, cut, box.end)};
    return true;
}

WeightedColour meanOf(const std::vector<WeightedColour>& points, size_t begin, size_t end) {
    WeightedColour mean;
    for (size_t i = begin; i < end; ++i) {
        mean.weight += points[i].weight;
        for (int c = 0; c < 3; ++c)
            mean.channel[c] += points[i].weight * points[i].channel[c];
    }
    for (int c = 0; c < 3 && mean.weight > 0; ++c)
        mean.channel[c] /= mean.weight;
    return mean;
}

uint8_t channelValue(double value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// Median cut on the weighted colours, each cut where it leaves the least
// squared error, then rounds of k-means (each colour to its nearest centre,
// each centre to its colours' weighted mean), which only lower that error.
void chooseNearestTable(SharedPalette& shared) {
    std::vector<WeightedColour> points;
    for (const HistogramBin& bin : shared.histogram.bins) {
        if (bin.key == 0 || bin.pixels == 0) continue;
        const auto weight = static_cast<double>(bin.pixels);
        points.push_back({{bin.red / weight, bin.green / weight, bin.blue / weight}, weight});
    }
    std::vector<Box> boxes{{0, points.size(), boxError(points, 0, points.size())}};
    while (boxes.size() < static_cast<size_t>(kPaletteEntries)) {
        const auto worst =
            std::max_element(boxes.begin(), boxes.end(),
                             [](const Box& a, const Box& b) { return a.error < b.error; });
        Box low;
        Box high;
        if (worst->error <= 0 || !splitBox(points, *worst, low, high)) break;
        *worst = low;
        boxes.push_back(high);
    }
    std::vector<WeightedColour> centres;
    for (const Box& box : boxes)
        centres.push_back(meanOf(points, box.begin, box.end));
    std::vector<WeightedColour> sums(centres.size());
    for (int round = 0; round < kMeansRounds; ++round) {
        std::fill(sums.begin(), sums.end(), WeightedColour{});
        for (const WeightedColour& point : points) {
            size_t nearest = 0;
            double nearestDistance = INFINITY;
            for (size_t k = 0; k < centres.size(); ++k) {
                double d = 0;
                for (int c = 0; c < 3; ++c) {
                    const double difference = point.channel[c] - centres[k].channel[c];
                    d += difference * difference;
                }
                if (d < nearestDistance) {
                    nearestDistance = d;
                    nearest = k;
                }
            }
            sums[nearest].weight += point.weight;
            for (int c = 0; c < 3; ++c)
                sums[nearest].channel[c] += point.weight * point.channel[c];
        }
        for (size_t k = 0; k < centres.size(); ++k) {
            if (sums[k].weight <= 0) continue;  // no colour came to it: it stays
            for (int c = 0; c < 3; ++c)
                centres[k].channel[c] = sums[k].channel[c] / sums[k].weight;
        }
    }
    shared.table = Palette{};
    for (size_t k = 0; k < centres.size(); ++k) {
        shared.table[k] = {channelValue(centres[k].channel[0]), channelValue(centres[k].channel[1]),
                           channelValue(centres[k].channel[2])};
    }
    shared.colours = static_cast<int>(centres.size());
}

// The entries searched, in order of their green values, so that a search
// can stop on either side where green alone is farther than the best found.
void orderEntries(SharedPalette& shared) {
    shared.byGreen.resize(static_cast<size_t>(shared.colours));
    std::iota(shared.byGreen.begin(), shared.byGreen.end(), uint8_t{0});
    std::stable_sort(shared.byGreen.begin(), shared.byGreen.end(), [&](uint8_t a, uint8_t b) {
        return shared.table[a].green < shared.table[b].green;
    });
}

// The entry nearest to colour; of several as near, the lowest.
uint8_t nearestEntry(SharedPalette& shared, const PaletteEntry& colour) {
    const uint32_t key = colourKey(colour, 0);
    const size_t slot = (key * 2654435761u) >> 20 & (kCacheSize - 1);
    if (shared.cachedColours[slot] == key) return shared.cachedEntries[slot];
    const std::vector<uint8_t>& order = shared.byGreen;
    size_t up = static_cast<size_t>(
        std::lower_bound(order.begin(), order.end(), colour.green,
                         [&](uint8_t k, uint8_t green) { return shared.table[k].green < green; }) -
        order.begin());
    size_t down = up;  // the next candidates: order[up] going up, order[down - 1] going down
    int nearest = 0;
    int nearestDistance = 3 * 255 * 255 + 1;
    const auto consider = [&](size_t k, bool& goOn) {
        const int green = shared.table[k].green - colour.green;
        if (green * green > nearestDistance) {
            goOn = false;
            return;
        }
        const int d = distance(colour, shared.table[k]);
        if (d < nearestDistance || (d == nearestDistance && static_cast<int>(k) < nearest)) {
            nearestDistance = d;
            nearest = static_cast<int>(k);
        }
    };
    bool goingUp = up < order.size();
    bool goingDown = down > 0;
    while (goingUp || goingDown) {
        if (goingUp) {
            consider(order[up], goingUp);
            if (goingUp && ++up == order.size()) goingUp = false;
        }
        if (goingDown) {
            consider(order[down - 1], goingDown);
            if (goingDown && --down == 0) goingDown = false;
        }
    }
    shared.cachedColours[slot] = key;
    shared.cachedEntries[slot] = static_cast<uint8_t>(nearest);
    return static_cast<uint8_t>(nearest);
}

uint32_t liveKey(const PaletteEntry& colour) {
    return 1u << 24 | uint32_t{colour.red} << 16 | uint32_t{colour.green} << 8 | colour.blue;
}

size_t liveHome(uint32_t key) {
    return (key * 2654435761u >> 16) % (2 * kPaletteEntries);
}

// The slot that colour took, or -1.
int liveSlot(const LiveTable& live, uint32_t key) {
    for (size_t at = liveHome(key);; at = (at + 1) % live.slotKeys.size()) {
        if (live.slotKeys[at] == key) return live.slotOf[at];
        if (live.slotKeys[at] == 0) return -1;
    }
}

void takeSlot(LiveTable& live, unsigned slot, const PaletteEntry& colour) {
    live.table[slot] = colour;
    live.taken[slot / 64] |= uint64_t{1} << (slot % 64);
    const uint32_t key = liveKey(colour);
    size_t at = liveHome(key);
    while (live.slotKeys[at] != 0 && live.slotKeys[at] != key)
        at = (at + 1) % live.slotKeys.size();
    if (live.slotKeys[at] == key) return;  // the colour has a slot already
    live.slotKeys[at] = key;
    live.slotOf[at] = static_cast<uint8_t>(slot);
    ++live.colours;
}

// The lowest free slot that holds colour, else the lowest free one; -1 when
// none is left.
int freeSlotFor(LiveTable& live, const PaletteEntry& colour) {
    while (live.nextFree < kPaletteEntries && indexUsed(live.taken, live.nextFree))
        ++live.nextFree;
    for (unsigned slot = live.nextFree; slot < kPaletteEntries; ++slot) {
        if (!indexUsed(live.taken, slot) && live.table[slot] == colour)
            return static_cast<int>(slot);
    }
    if (live.nextFree == kPaletteEntries) return -1;
    return static_cast<int>(live.nextFree);
}

// The slot for the colour at index of a frame's table, by the exact table's
// rule (shared_palette.h); -1 when no slot is left.
int exactSlot(LiveTable& live, unsigned index, const PaletteEntry& colour) {
    const bool holdsIt = live.table[index] == colour;
    if (holdsIt && indexUsed(live.taken, index)) return static_cast<int>(index);
    if (holdsIt && !live.oneSlotPerColour) {
        takeSlot(live, index, colour);
        return static_cast<int>(index);
    }
    const int taken = liveSlot(live, liveKey(colour));
    if (taken >= 0) return taken;
    const int slot = freeSlotFor(live, colour);
    if (slot >= 0) takeSlot(live, static_cast<unsigned>(slot), colour);
    return slot;
}

// Where the colour at index of a frame's table stands in the finished exact
// table: what exactSlot gave it when that frame was mapped, since a slot once
// taken keeps its colour; -1 for a colour no frame used.
int finishedSlot(const LiveTable& live, unsigned index, const PaletteEntry& colour) {
    if (indexUsed(live.taken, index) && live.table[index] == colour) return static_cast<int>(index);
    return liveSlot(live, liveKey(colour));
}

bool covers(const UsedIndexes& all, const UsedIndexes& some) {
    for (size_t i = 0; i < all.size(); ++i) {
        if ((some[i] & ~all[i]) != 0) return false;
    }
    return true;
}

}  // namespace

void startColourCount(SharedPalette& shared) {
    // The bins' memory of a count before is kept: only their contents start anew.
    std::vector<HistogramBin> bins = std::move(shared.histogram.bins);
    shared = SharedPalette{};
    bins.assign(kHistogramBins, HistogramBin{});
    shared.histogram.bins = std::move(bins);
    shared.exactTableOneSlot.oneSlotPerColour = true;
}

void addFrameColours(SharedPalette& shared, const Palette& table, IndexCounts& counts) {
    UsedIndexes used{};
    ColourHistogram& histogram = shared.histogram;
    for (size_t i = 0; i < counts.size(); ++i) {
        const uint64_t pixels = counts[i];
        if (pixels == 0) continue;
        counts[i] = 0;
        used[i / 64] |= uint64_t{1} << (i % 64);
        const PaletteEntry& colour = table[i];
        const auto weight = static_cast<double>(pixels);
        addToBin(findBin(histogram, colourKey(colour, histogram.droppedBits)), weight * colour.red,
                 weight * colour.green, weight * colour.blue, pixels);
        if (histogram.used > kHistogramFill) coarsen(histogram);
    }
    ColourIndexes unusedMap;
    mapLiveFrame(shared.exactTable, table, used, unusedMap);
    mapLiveFrame(shared.exactTableOneSlot, table, used, unusedMap);
    if (shared.usedByFrame.size() < kMaxFramesNoted) shared.usedByFrame.push_back(used);
    ++shared.framesCounted;
}

void chooseSharedTable(SharedPalette& shared, bool multiPalette) {
    shared.exact = shared.histogram.droppedBits == 0 &&
                   shared.histogram.used <= static_cast<size_t>(kPaletteEntries);
    shared.inUse = shared.exact || !multiPalette;
    if (!shared.inUse) return;
    if (shared.exact) {
        // With at most 256 colours the rule with one slot per colour always fits.
        if (shared.exactTable.failed) shared.exactTable = shared.exactTableOneSlot;
        shared.table = shared.exactTable.table;
        shared.colours = shared.exactTable.colours;
    } else {
        chooseNearestTable(shared);
        orderEntries(shared);
    }
    shared.cachedColours.assign(kCacheSize, 0);
    shared.cachedEntries.assign(kCacheSize, 0);
    shared.lastMapped = UsedIndexes{};
    shared.lastMap = identityIndexes();
}

const ColourIndexes& mapFrameColours(SharedPalette& shared, int32_t frame, const Palette& table) {
    UsedIndexes used;
    used.fill(~uint64_t{0});
    if (frame >= 0 && static_cast<size_t>(frame) < shared.usedByFrame.size()) {
        used = shared.usedByFrame[static_cast<size_t>(frame)];
    }
    if (!samePalette(table, shared.lastFrameTable)) {
        // Unused indexes as they are, so that a map that changes nothing is seen as such.
        shared.lastFrameTable = table;
        shared.lastMapped = UsedIndexes{};
        shared.lastMap = identityIndexes();
    }
    for (unsigned i = 0; i < table.size(); ++i) {
        if (!indexUsed(used, i) || indexUsed(shared.lastMapped, i)) continue;
        shared.lastMapped[i / 64] |= uint64_t{1} << (i % 64);
        if (shared.exact) {
            // The slot the one pass gives it; an index no frame used has none.
            const int slot = finishedSlot(shared.exactTable, i, table[i]);
            if (slot >= 0) shared.lastMap[i] = static_cast<uint8_t>(slot);
            continue;
        }
        const uint8_t entry = nearestEntry(shared, table[i]);
        shared.lastMap[i] = entry;
        shared.largestDifference = std::max(
            shared.largestDifference, largestChannelDifference(table[i], shared.table[entry]));
    }
    return shared.lastMap;
}

void setSharedPaletteWarning(const SharedPalette& shared) {
    const ColourHistogram& histogram = shared.histogram;
    // At most the histogram's 16384 bins.
    const std::string counted =
        histogram.droppedBits == 0
            ? formatText("%d", static_cast<int>(histogram.used))
            : formatText("at least %d", static_cast<int>(histogram.coloursWhenFull));
    addWarningText(
        "The frames use %s colors, more than one palette holds: in the shared palette of %d, "
        "a pixel's red, green or blue value differs by up to %d from its own. "
        "The -m option keeps every color exact.",
        counted.c_str(), shared.colours, shared.largestDifference);
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

bool mapLiveFrame(LiveTable& live, const Palette& table, const UsedIndexes& used,
                  ColourIndexes& map) {
    if (live.failed) return false;
    if (live.frames == 0) {
        live.table = table;
        live.firstTable = table;
    } else if (samePalette(table, live.lastTable) && covers(live.lastUsed, used)) {
        map = live.lastMap;  // the commonest case: the table and colours of the frame before
        ++live.frames;
        return true;
    }
    map = identityIndexes();
    for (unsigned index = 0; index < kPaletteEntries; ++index) {
        if (!indexUsed(used, index)) continue;
        const int slot = exactSlot(live, index, table[index]);
        if (slot < 0) {
            live.failed = true;
            return false;
        }
        map[index] = static_cast<uint8_t>(slot);
    }
    live.lastTable = table;
    live.lastUsed = used;
    live.lastMap = map;
    ++live.frames;
    return true;
}

bool secondTableFindsHalfFull(LiveTable& live, const Palette& table) {
    if (live.frames == 0 || live.secondTableSeen || samePalette(table, live.firstTable)) {
        return false;
    }
    live.secondTableSeen = true;
    return live.colours > kPaletteEntries / 2;
}
