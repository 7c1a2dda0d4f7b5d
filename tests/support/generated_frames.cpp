#include "generated_frames.h"

#include <algorithm>
#include <set>

namespace gen {

namespace {

using rmw::kBeginImage;
using rmw::kColour;
using rmw::kEndOfImage;
using rmw::kEndOfRow;
using rmw::kSinglePixel;

constexpr uint16_t kRepeatCountMax = 4095;

bool chance(std::mt19937& rng, int percent) {
    return static_cast<int>(pick(rng, 100)) < percent;
}

// The value bits of an end-of-row, begin- or end-of-image word mean nothing:
// now and then they are not zero.
uint16_t withNoise(std::mt19937& rng, uint16_t kind) {
    return static_cast<uint16_t>(kind | (pick(rng, 8) == 0 ? pick(rng, 0x1000) : 0));
}

using Rows = std::vector<std::vector<uint16_t>>;

// One row's words with its end-of-row word, covering about target pixels;
// with exact, runs are cut to fit target.
std::vector<uint16_t> randomRow(std::mt19937& rng, uint32_t target, bool exact,
                                const WordMix& mix) {
    std::vector<uint16_t> words;
    uint32_t colour = pick(rng, static_cast<uint32_t>(mix.colourLimit));
    for (uint32_t covered = 0; covered < target;) {
        if (!chance(rng, mix.sameColourPercent)) {
            colour = pick(rng, static_cast<uint32_t>(mix.colourLimit));
        }
        const uint32_t left = target - covered;
        uint32_t run = 1;
        if (chance(rng, mix.edgeRunPercent)) {
            run = static_cast<uint32_t>(
                kEdgeRuns[pick(rng, static_cast<uint32_t>(std::size(kEdgeRuns)))]);
        } else if (!chance(rng, mix.singlePixelPercent)) {
            run = 1 + pick(rng, pick(rng, 4) == 0 ? kRepeatCountMax : 8);
        }
        if (exact) run = std::min(run, left);
        if (run == 1 && chance(rng, mix.singlePixelPercent)) {
            words.push_back(static_cast<uint16_t>(kSinglePixel | colour));
        } else {
            words.push_back(static_cast<uint16_t>(run));
            words.push_back(static_cast<uint16_t>(kColour | colour));
        }
        covered += run;
    }
    words.push_back(withNoise(rng, kEndOfRow));
    return words;
}

Rows randomRows(std::mt19937& rng, int32_t width, int32_t height, const WordMix& mix) {
    Rows rows;
    const bool allEmpty = chance(rng, mix.allEmptyPercent);
    const auto columns = static_cast<uint32_t>(width);
    for (int32_t row = 0; row < height; ++row) {
        const uint32_t kind = pick(rng, 100);
        const auto below = [&](int percent) { return kind < static_cast<uint32_t>(percent); };
        if (allEmpty || below(mix.emptyRowPercent)) {
            rows.push_back({withNoise(rng, kEndOfRow)});
        } else if (below(mix.emptyRowPercent + mix.shortRowPercent) && columns > 1) {
            rows.push_back(randomRow(rng, 1 + pick(rng, columns - 1), true, mix));
        } else if (below(mix.emptyRowPercent + mix.shortRowPercent + mix.longRowPercent)) {
            const uint32_t more = 1 + pick(rng, pick(rng, 2) == 0 ? columns : 9000);
            rows.push_back(randomRow(rng, columns + more, false, mix));
        } else {
            rows.push_back(randomRow(rng, columns, true, mix));
        }
    }
    return rows;
}

std::vector<uint16_t> joined(const Rows& rows) {
    std::vector<uint16_t> words;
    for (const std::vector<uint16_t>& row : rows)
        words.insert(words.end(), row.begin(), row.end());
    return words;
}

PaletteEntry randomColour(std::mt19937& rng) {
    const auto value = static_cast<uint32_t>(rng());
    return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
            static_cast<uint8_t>(value >> 16)};
}

uint32_t packed(const PaletteEntry& colour) {
    return static_cast<uint32_t>(colour.red) << 16 | static_cast<uint32_t>(colour.green) << 8 |
           colour.blue;
}

// The file's colour tables: unrelated ones, or each the one before with a few
// colours new and a few entries copying others of the same table.
std::vector<Palette> randomTables(std::mt19937& rng, const FileShape& shape) {
    std::vector<Palette> tables;
    std::set<uint32_t> seen;
    const auto freshColour = [&] {
        PaletteEntry colour = randomColour(rng);
        while (!seen.insert(packed(colour)).second)
            colour = randomColour(rng);
        return colour;
    };
    const auto limit = static_cast<uint32_t>(std::clamp(shape.mix.colourLimit, 1, 256));
    for (int t = 0; t < std::max(shape.tables, 1); ++t) {
        if (!shape.sharedColours || t == 0) {
            Palette table{};
            for (PaletteEntry& entry : table)
                entry = shape.sharedColours ? freshColour() : randomColour(rng);
            tables.push_back(table);
        } else {
            tables.push_back(tables.back());
            for (int i = 0; i < shape.newColours; ++i) {
                const PaletteEntry colour = freshColour();
                tables.back()[pick(rng, limit)] = colour;
            }
        }
        if (!shape.sharedColours) continue;
        for (int i = 0; i < shape.duplicates; ++i) {
            const uint32_t from = pick(rng, limit);
            tables.back()[pick(rng, limit)] = tables.back()[from];
        }
    }
    return tables;
}

}  // namespace

uint32_t pick(std::mt19937& rng, uint32_t count) {
    return count == 0 ? 0 : static_cast<uint32_t>(rng() % count);
}

std::vector<uint16_t> randomImageWords(std::mt19937& rng, int32_t width, int32_t height,
                                       const WordMix& mix) {
    return joined(randomRows(rng, width, height, mix));
}

void appendWordFrame(rmw::Bytes& bytes, int32_t width, int32_t height, const Palette& palette,
                     const std::vector<uint16_t>& imageWords, const rmw::FrameStyle& style) {
    rmw::appendFrameHeader(bytes, width, height, palette, style);
    rmw::appendU16(bytes, kBeginImage);
    for (uint16_t word : imageWords)
        rmw::appendU16(bytes, word);
    rmw::appendU16(bytes, kEndOfImage);
}

rmw::Bytes randomMetafile(uint32_t seed, const FileShape& shape) {
    std::mt19937 rng(seed);
    const std::vector<Palette> tables = randomTables(rng, shape);
    const uint64_t multiple = std::max<uint32_t>(shape.edgeMultiple, 2);
    const uint64_t distance = (uint64_t{shape.edgeDistance} + 1) & ~uint64_t{1};
    // Bytes to add so that an end-of-row word ending at rowEnd ends next to the edge.
    const auto padding = [&](uint64_t rowEnd) {
        return (multiple - (rowEnd + distance) % multiple) % multiple;
    };
    rmw::Bytes bytes;
    for (int frame = 0; frame < shape.frames; ++frame) {
        Rows rows = randomRows(rng, shape.width, shape.height, shape.mix);
        // One draw a statement: the order of the draws is then the same for every compiler.
        const uint32_t noisy = pick(rng, 2);
        const uint32_t noise = pick(rng, 256);
        const rmw::FrameStyle style{false, static_cast<uint16_t>(noisy * noise),
                                    static_cast<uint8_t>(pick(rng, 256))};
        const Palette& table =
            tables[frame == 0 ? 0 : pick(rng, static_cast<uint32_t>(tables.size()))];
        auto filler = static_cast<int>(pick(rng, static_cast<uint32_t>(shape.maxFiller) + 1));
        const auto junk = static_cast<int>(pick(rng, static_cast<uint32_t>(shape.maxJunk) + 1));
        if (frame == 0) filler = 0;
        if (frame > 0 && pick(rng, 4) == 0) filler = 0;
        const auto edgeRow = static_cast<size_t>(frame == 0 ? std::max(shape.edgeRow, 1)
                                                            : std::max(shape.edgeRow, 0));
        if (frame == shape.edgeFrame && edgeRow < rows.size()) {
            rows[edgeRow] = {kEndOfRow};
            const uint64_t frameStart =
                bytes.size() + (frame == 0 ? 0 : 2 * uint64_t(filler) + 4 * uint64_t(junk));
            uint64_t rowEnd = frameStart + 2050 + 2;
            for (size_t row = 0; row < edgeRow; ++row)
                rowEnd += 2 * rows[row].size();
            const uint64_t pad = padding(rowEnd);
            if (frame == 0) {
                // Single pixels ahead of the end-of-row word of the row before.
                std::vector<uint16_t>& before = rows[edgeRow - 1];
                before.insert(before.end() - 1, pad / 2, kSinglePixel);
            } else {
                filler += static_cast<int>(pad / 2);
            }
        }
        if (frame > 0) rmw::appendGap(bytes, filler, junk);
        appendWordFrame(bytes, shape.width, shape.height, table, joined(rows), style);
    }
    // Filler, or filler and junk, may follow the last frame.
    const auto filler = static_cast<int>(pick(rng, static_cast<uint32_t>(shape.maxFiller) + 1));
    const uint32_t withJunk = pick(rng, 2);
    const auto junk = static_cast<int>(withJunk * pick(rng, 3));
    rmw::appendGap(bytes, filler, junk);
    return bytes;
}

}  // namespace gen
