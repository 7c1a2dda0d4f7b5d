#include "random_animation.h"

#include <algorithm>
#include <iterator>
#include <random>

namespace e2e {

namespace {

using rmw::kBeginImage;
using rmw::kColour;
using rmw::kEndOfImage;
using rmw::kEndOfRow;
using rmw::kSinglePixel;
constexpr uint16_t kFiller = 0xFFFF;
constexpr uint32_t kFrameMark = 0xE0000000;
constexpr int kMaxRepeat = 4095;
// Offsets in a frame: the header bytes nobody reads, and the colour tables.
constexpr size_t kUnreadHeaderStart = 12;
constexpr size_t kUnreadHeaderBytes = 500;
constexpr size_t kTablesStart = 512;
constexpr size_t kTableWords = 768;

// Draws from std::mt19937, whose output the standard fixes, and maps it to
// ranges by hand: the library's distributions differ between implementations.
class Random {
public:
    explicit Random(uint32_t seed) : engine_(seed) {}
    uint32_t bits() { return static_cast<uint32_t>(engine_()); }
    int between(int low, int high) {
        return low + static_cast<int>(bits() % static_cast<uint32_t>(high - low + 1));
    }
    bool percent(int chance) { return between(0, 99) < chance; }
    uint8_t byte() { return static_cast<uint8_t>(bits() >> 24); }
    uint16_t ignoredBits(bool noisy) { return noisy ? static_cast<uint16_t>(bits() & 0x0FFF) : 0; }

private:
    std::mt19937 engine_;
};

struct Geometry {
    int32_t width = 0;
    int32_t height = 0;
    int frames = 0;
    bool longRuns = false;  // favour long runs: the rows are wide
};

// Mostly small pictures, which are quick to convert and decode; some of several
// hundred pixels each way; some a few rows of up to 4800 pixels, where runs of
// up to 4095 fit.
Geometry drawGeometry(Random& random) {
    const int kind = random.between(0, 99);
    if (kind < 4) return {1, 1, random.between(1, 36), false};
    if (kind < 8) return {random.between(1, 3), random.between(1, 3), random.between(1, 36), false};
    if (kind < 78) {
        return {random.between(1, 64), random.between(1, 48), random.between(1, 36), false};
    }
    if (kind < 90) {
        return {random.between(100, 640), random.between(60, 400), random.between(1, 4), true};
    }
    const int32_t width =
        random.percent(50) ? random.between(4095, 4800) : random.between(256, 4094);
    return {width, random.between(1, 6), random.between(1, 8), true};
}

Palette randomTable(Random& random) {
    Palette table{};
    for (PaletteEntry& entry : table)
        entry = {random.byte(), random.byte(), random.byte()};
    return table;
}

// One to five tables; some differ from an earlier one in a single channel of a
// single entry, so that a comparison that stops early or skips a channel shows.
std::vector<Palette> drawTables(Random& random) {
    std::vector<Palette> tables{randomTable(random)};
    const int count = random.between(1, 5);
    while (static_cast<int>(tables.size()) < count) {
        if (random.percent(30)) {
            Palette near =
                tables[static_cast<size_t>(random.between(0, static_cast<int>(tables.size()) - 1))];
            PaletteEntry& entry = near[static_cast<size_t>(random.between(0, 255))];
            uint8_t* channels[] = {&entry.red, &entry.green, &entry.blue};
            uint8_t& channel = *channels[random.between(0, 2)];
            channel = static_cast<uint8_t>(channel + random.between(1, 255));
            tables.push_back(near);
        } else {
            tables.push_back(randomTable(random));
        }
    }
    return tables;
}

int drawRunLength(Random& random, int remaining, bool longRuns) {
    static constexpr int kBoundaries[] = {254, 255, 256, 257, 510, 511, 765, 4094, 4095};
    const int kind = random.between(0, 99);
    int length = 0;
    if (kind < (longRuns ? 15 : 35)) {
        length = 1;
    } else if (kind < (longRuns ? 35 : 75)) {
        length = random.between(2, 16);
    } else if (kind < (longRuns ? 55 : 90)) {
        length = random.between(17, 300);
    } else if (kind < (longRuns ? 80 : 95)) {
        length = random.between(301, kMaxRepeat);
    } else {
        length = kBoundaries[random.between(0, static_cast<int>(std::size(kBoundaries)) - 1)];
    }
    return std::min(length, remaining);
}

class FrameWriter {
public:
    FrameWriter(Random& random, RandomAnimation& animation)
        : random_(random), animation_(animation), bytes_(animation.file) {}

    void append(const Palette& table, bool longRuns) {
        const bool noisy = random_.percent(60);
        if (noisy) ++animation_.coverage.noisyFrames;
        const size_t start = bytes_.size();
        rmw::FrameStyle style;
        if (noisy) style = {false, random_.byte(), random_.byte()};
        rmw::appendFrameHeader(bytes_, animation_.width, animation_.height, table, style);
        if (noisy && random_.percent(50)) {
            // Every ignored byte different instead of one fill value.
            for (size_t i = 0; i < kUnreadHeaderBytes; ++i) {
                bytes_[start + kUnreadHeaderStart + i] = random_.byte();
            }
            for (size_t i = 0; i < kTableWords; ++i) {
                bytes_[start + kTablesStart + 2 * i + 1] = random_.byte();
            }
        }
        // Colours from the whole range, or from a few, which makes neighbouring
        // runs of one colour common.
        colours_.clear();
        if (random_.percent(50)) {
            for (int i = random_.between(1, 6); i > 0; --i)
                colours_.push_back(random_.byte());
        }
        rmw::Picture picture{animation_.width, animation_.height, {}};
        picture.pixels.reserve(static_cast<size_t>(picture.width) *
                               static_cast<size_t>(picture.height));
        rmw::appendU16(bytes_, static_cast<uint16_t>(kBeginImage | random_.ignoredBits(noisy)));
        for (int32_t y = 0; y < picture.height; ++y) {
            appendRow(picture, longRuns);
            rmw::appendU16(bytes_, static_cast<uint16_t>(kEndOfRow | random_.ignoredBits(noisy)));
        }
        rmw::appendU16(bytes_, static_cast<uint16_t>(kEndOfImage | random_.ignoredBits(noisy)));
        animation_.pictures.push_back(std::move(picture));
        animation_.tables.push_back(table);
    }

    // Filler words, then junk in 4-byte steps: the frame search starts where
    // the filler ends and looks at every fourth byte from there. Between frames
    // the junk may hold the mark's bytes off those steps; after the last frame
    // it never holds them at all.
    void appendGap(bool last) {
        const int fillerKind = random_.between(0, 9);
        const int filler = fillerKind < 3   ? 0
                           : fillerKind < 7 ? random_.between(1, 3)
                                            : random_.between(4, 100);
        for (int i = 0; i < filler; ++i)
            rmw::appendU16(bytes_, kFiller);
        const int junkKind = random_.between(0, 9);
        const int junk = junkKind < 4   ? 0
                         : junkKind < 8 ? random_.between(1, 8)
                                        : random_.between(9, 200);
        std::vector<uint32_t> values;
        for (int i = 0; i < junk; ++i) {
            uint32_t value = random_.bits();
            if (value == kFrameMark) value ^= 1;
            if (last) {
                for (int shift = 0; shift < 32; shift += 8) {
                    if ((value >> shift & 0xFF) == 0xE0) value ^= 1u << shift;
                }
            }
            values.push_back(value);
        }
        if (!last && junk >= 2 && random_.percent(30)) {
            // Bytes 00 00 00 E0 two bytes into an aligned pair of values.
            const size_t at = static_cast<size_t>(random_.between(0, junk - 2));
            values[at] &= 0x0000FFFF;
            values[at + 1] = (values[at + 1] & 0xFFFF0000) | 0x0000E000;
            ++animation_.coverage.offStrideMarks;
        }
        // A first word of 0xFFFF would be taken for filler and move the search
        // off the steps that lead to the next mark.
        if (!values.empty() && (values[0] & 0xFFFF) == kFiller) values[0] ^= 1;
        for (uint32_t value : values)
            rmw::appendU32(bytes_, value);
    }

private:
    void appendRow(rmw::Picture& picture, bool longRuns) {
        Coverage& coverage = animation_.coverage;
        int previousColour = -1;
        for (int32_t x = 0; x < picture.width;) {
            const int length = drawRunLength(random_, picture.width - x, longRuns);
            uint8_t colour = colours_.empty() ? random_.byte()
                                              : colours_[static_cast<size_t>(random_.between(
                                                    0, static_cast<int>(colours_.size()) - 1))];
            if (previousColour >= 0 && random_.percent(15)) {
                colour = static_cast<uint8_t>(previousColour);
            }
            if (colour == previousColour) ++coverage.sameColourNeighbours;
            previousColour = colour;
            picture.pixels.insert(picture.pixels.end(), static_cast<size_t>(length), colour);
            x += length;
            const bool asSinglePixels =
                length == 1 ? random_.percent(80) : length <= 6 && random_.percent(30);
            if (asSinglePixels) {
                for (int i = 0; i < length; ++i) {
                    rmw::appendU16(bytes_, static_cast<uint16_t>(kSinglePixel | colour));
                }
                coverage.singlePixelWords += length;
            } else {
                rmw::appendU16(bytes_, static_cast<uint16_t>(length));
                rmw::appendU16(bytes_, static_cast<uint16_t>(kColour | colour));
                coverage.longestRepeat = std::max(coverage.longestRepeat, length);
                if (length > 255) ++coverage.repeatsOver255;
                if (length == 1) ++coverage.repeatsOfOne;
            }
        }
    }

    Random& random_;
    RandomAnimation& animation_;
    rmw::Bytes& bytes_;
    std::vector<uint8_t> colours_;
};

}  // namespace

RandomAnimation makeRandomAnimation(uint32_t seed) {
    Random random(seed);
    RandomAnimation animation;
    animation.seed = seed;
    const Geometry geometry = drawGeometry(random);
    animation.width = geometry.width;
    animation.height = geometry.height;
    const std::vector<Palette> tables = drawTables(random);
    FrameWriter writer(random, animation);
    size_t table = 0;
    for (int frame = 0; frame < geometry.frames; ++frame) {
        if (frame > 0 && random.percent(50)) {
            table = static_cast<size_t>(random.between(0, static_cast<int>(tables.size()) - 1));
        }
        writer.append(tables[table], geometry.longRuns);
        writer.appendGap(frame + 1 == geometry.frames);
    }
    for (size_t i = 1; i < animation.tables.size(); ++i) {
        const auto earlier = animation.tables.begin() + static_cast<long>(i) - 1;
        if (animation.tables[i] != *earlier &&
            std::find(animation.tables.begin(), earlier, animation.tables[i]) != earlier) {
            ++animation.coverage.tableReturns;
        }
    }
    return animation;
}

RandomAnimation makeColourCycle(uint32_t seed) {
    RandomAnimation animation = makeRandomAnimation(seed);
    const Palette first = animation.tables.front();
    animation.file.clear();
    animation.colourCycle = true;
    for (size_t frame = 0; frame < animation.pictures.size(); ++frame) {
        const auto turn = static_cast<std::ptrdiff_t>(7 * frame % first.size());
        Palette& table = animation.tables[frame];
        std::rotate_copy(first.begin(), first.begin() + turn, first.end(), table.begin());
        rmw::appendFrame(animation.file, animation.pictures[frame], table);
    }
    return animation;
}

}  // namespace e2e
