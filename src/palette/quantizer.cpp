#include "palette/quantizer.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "palette/colour_keys.h"

namespace {

// Rounds of k-means after the median cut.
constexpr int kMeansRounds = 6;
// The nearest-entry cache: 4096 colours.
constexpr int kCacheBits = 12;
constexpr size_t kCacheSize = size_t{1} << kCacheBits;

int distance(const PaletteEntry& one, const PaletteEntry& other) {
    const int red = one.red - other.red;
    const int green = one.green - other.green;
    const int blue = one.blue - other.blue;
    return red * red + green * green + blue * blue;
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

// Median cut: the box of colours with the largest squared error is split,
// where it leaves the least, until there are 256 boxes or none can be split.
std::vector<WeightedColour> medianCutCentres(std::vector<WeightedColour>& points) {
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
    return centres;
}

// The first of the nearest centres. A centre whose first channels alone are
// already as far as the nearest so far is passed over: the sum only grows.
size_t nearestCentre(const WeightedColour& point, const std::vector<WeightedColour>& centres) {
    size_t nearest = 0;
    double nearestDistance = INFINITY;
    for (size_t k = 0; k < centres.size(); ++k) {
        const double red = point.channel[0] - centres[k].channel[0];
        double d = red * red;
        if (d >= nearestDistance) continue;
        const double green = point.channel[1] - centres[k].channel[1];
        d += green * green;
        if (d >= nearestDistance) continue;
        const double blue = point.channel[2] - centres[k].channel[2];
        d += blue * blue;
        if (d < nearestDistance) {
            nearestDistance = d;
            nearest = k;
        }
    }
    return nearest;
}

// One round of k-means: each colour to its nearest centre, each centre to its
// colours' weighted mean; a centre no colour came to stays.
void moveCentres(const std::vector<WeightedColour>& points, std::vector<WeightedColour>& centres) {
    std::vector<WeightedColour> sums(centres.size());
    for (const WeightedColour& point : points) {
        WeightedColour& sum = sums[nearestCentre(point, centres)];
        sum.weight += point.weight;
        for (int c = 0; c < 3; ++c)
            sum.channel[c] += point.weight * point.channel[c];
    }
    for (size_t k = 0; k < centres.size(); ++k) {
        if (sums[k].weight <= 0) continue;
        for (int c = 0; c < 3; ++c)
            centres[k].channel[c] = sums[k].channel[c] / sums[k].weight;
    }
}

}  // namespace

int chooseTableOfColours(const ColourHistogram& histogram, Palette& table) {
    std::vector<WeightedColour> points;
    for (const HistogramBin& bin : histogram.bins) {
        if (bin.key == 0 || bin.pixels == 0) continue;
        const auto weight = static_cast<double>(bin.pixels);
        points.push_back({{bin.red / weight, bin.green / weight, bin.blue / weight}, weight});
    }
    std::vector<WeightedColour> centres = medianCutCentres(points);
    for (int round = 0; round < kMeansRounds; ++round)
        moveCentres(points, centres);
    table = Palette{};
    for (size_t k = 0; k < centres.size(); ++k) {
        table[k] = {channelValue(centres[k].channel[0]), channelValue(centres[k].channel[1]),
                    channelValue(centres[k].channel[2])};
    }
    return static_cast<int>(centres.size());
}

void startNearestSearch(NearestSearch& search, const Palette& table, int colours) {
    search.cachedColours.assign(kCacheSize, 0);
    search.cachedEntries.assign(kCacheSize, 0);
    // The entries in order of their green values, so that a search can stop
    // on either side where green alone is farther than the best found.
    search.byGreen.resize(static_cast<size_t>(colours));
    std::iota(search.byGreen.begin(), search.byGreen.end(), uint8_t{0});
    std::stable_sort(search.byGreen.begin(), search.byGreen.end(),
                     [&](uint8_t a, uint8_t b) { return table[a].green < table[b].green; });
}

int largestChannelDifference(const PaletteEntry& one, const PaletteEntry& other) {
    return std::max({std::abs(one.red - other.red), std::abs(one.green - other.green),
                     std::abs(one.blue - other.blue)});
}

// The entry nearest to colour; of several as near, the lowest.
uint8_t nearestEntry(NearestSearch& search, const Palette& table, const PaletteEntry& colour) {
    const uint32_t key = colourKey(colour);
    const size_t slot = keySlot(key, kCacheBits);
    if (search.cachedColours[slot] == key) return search.cachedEntries[slot];
    const std::vector<uint8_t>& order = search.byGreen;
    size_t up = static_cast<size_t>(
        std::lower_bound(order.begin(), order.end(), colour.green,
                         [&](uint8_t k, uint8_t green) { return table[k].green < green; }) -
        order.begin());
    size_t down = up;  // the next candidates: order[up] going up, order[down - 1] going down
    int nearest = 0;
    int nearestDistance = 3 * 255 * 255 + 1;
    const auto consider = [&](size_t k, bool& goOn) {
        const int green = table[k].green - colour.green;
        if (green * green > nearestDistance) {
            goOn = false;
            return;
        }
        const int d = distance(colour, table[k]);
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
    search.cachedColours[slot] = key;
    search.cachedEntries[slot] = static_cast<uint8_t>(nearest);
    return static_cast<uint8_t>(nearest);
}
