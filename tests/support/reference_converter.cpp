#include "reference_converter.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <optional>

namespace ref {

namespace {

constexpr uint32_t kFrameMark = 0xE0000000;
constexpr size_t kWidthAt = 4;
constexpr size_t kHeightAt = 8;
constexpr size_t kTablesAt = 512;
constexpr size_t kImageAt = 2048;
constexpr uint16_t kFiller = 0xFFFF;

// A word's kind is its top four bits.
constexpr uint16_t kKindMask = 0xF000;
constexpr uint16_t kRepeatCount = 0x0000;
constexpr uint16_t kSinglePixel = 0x1000;
constexpr uint16_t kColour = 0x3000;
constexpr uint16_t kBeginImage = 0x4000;
constexpr uint16_t kEndOfRow = 0x6000;
constexpr uint16_t kEndOfImage = 0x7000;

constexpr int kErrorFrameMark = 1240;
constexpr int kErrorBeginImage = 1380;
constexpr int kErrorRowEnd = 805;
constexpr int kErrorRowEndAfterImageEnd = 815;
constexpr int kErrorImageEnd = 829;
constexpr int kErrorNoColourWord = 632;
constexpr int kErrorNotInRow = 641;
constexpr int kErrorZeroRepeat = 656;

constexpr int kMaxPairRun = 255;

uint16_t kindOf(uint16_t word) {
    return word & kKindMask;
}

uint16_t valueOf(uint16_t word) {
    return word & 0x0FFF;
}

// The word at, or nothing when the file holds no whole word there.
std::optional<uint16_t> wordAt(const Bytes& file, size_t at) {
    if (at > file.size() || file.size() - at < 2) return std::nullopt;
    return static_cast<uint16_t>(file[at] | file[at + 1] << 8);
}

// The 32-bit value at; bytes past the end of the file read as 0.
uint32_t u32At(const Bytes& file, size_t at) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i) {
        if (at + i < file.size()) value |= static_cast<uint32_t>(file[at + i]) << (8 * i);
    }
    return value;
}

// The table word at, 0 when the file ends before it; its low byte is the intensity.
uint8_t tableByte(const Bytes& file, size_t at) {
    return static_cast<uint8_t>(wordAt(file, at).value_or(0));
}

Palette paletteAt(const Bytes& file, size_t frameStart) {
    Palette palette{};
    const size_t tables = frameStart + kTablesAt;
    for (size_t i = 0; i < palette.size(); ++i) {
        palette[i].red = tableByte(file, tables + 2 * i);
        palette[i].green = tableByte(file, tables + 2 * (256 + i));
        palette[i].blue = tableByte(file, tables + 2 * (512 + i));
    }
    return palette;
}

using ColourMap = std::array<uint8_t, 256>;
using UsedSet = std::array<bool, 256>;

ColourMap identityMap() {
    ColourMap map{};
    for (size_t i = 0; i < map.size(); ++i)
        map[i] = static_cast<uint8_t>(i);
    return map;
}

// How a frame or a row ended.
struct Outcome {
    Refusal refusal = Refusal::kNone;
    int internalError = 0;
};

Outcome internal(int number) {
    return {Refusal::kInternal, number};
}

// Transcodes the row starting at at into data, pairs of at most 255 pixels,
// each colour through map, and notes the indexes its pixels use. A zero repeat
// count spoils the row but the rest is read; any other fault stops it.
Outcome transcodeRow(const Bytes& file, size_t at, const ColourMap& map, Bytes& data,
                     UsedSet& used) {
    Outcome outcome;
    for (;;) {
        // A word missing at the end of the file belongs to no row.
        const uint16_t word = wordAt(file, at).value_or(kKindMask);
        at += 2;
        int run = 1;
        uint16_t colourWord = word;
        if (kindOf(word) == kEndOfRow) {
            if (outcome.refusal == Refusal::kNone) data.insert(data.end(), {0, 0});
            return outcome;
        }
        if (kindOf(word) == kRepeatCount) {
            run = valueOf(word);
            const std::optional<uint16_t> next = wordAt(file, at);
            at += 2;
            if (!next || kindOf(*next) != kColour) return internal(kErrorNoColourWord);
            colourWord = *next;
        } else if (kindOf(word) != kSinglePixel) {
            return internal(kErrorNotInRow);
        }
        const uint16_t colour = valueOf(colourWord);
        if (colour > 255) return {Refusal::kColourOver255, outcome.internalError};
        if (run == 0) {
            outcome = internal(kErrorZeroRepeat);
            continue;
        }
        used[colour] = true;
        for (; run > 0; run -= kMaxPairRun) {
            data.push_back(static_cast<uint8_t>(run < kMaxPairRun ? run : kMaxPairRun));
            data.push_back(map[colour]);
        }
    }
}

// One frame's image words, from just after its begin-image word: rows found
// by their end-of-row words, then the end of the image, then the rows written
// bottom first. end is set to just after the end-of-image word.
Outcome transcodeFrame(const Bytes& file, size_t at, int32_t width, int32_t height,
                       const ColourMap& map, Bytes& data, UsedSet& used, size_t& end) {
    std::vector<size_t> rowStarts{at};
    std::optional<uint16_t> lastKind;
    while (rowStarts.size() < static_cast<size_t>(height)) {
        const std::optional<uint16_t> word = wordAt(file, at);
        if (!word) {
            return internal(lastKind == kEndOfImage ? kErrorRowEndAfterImageEnd : kErrorRowEnd);
        }
        at += 2;
        lastKind = kindOf(*word);
        if (*lastKind == kEndOfRow) rowStarts.push_back(at);
    }
    for (;;) {
        const std::optional<uint16_t> word = wordAt(file, at);
        if (!word) return internal(kErrorImageEnd);
        at += 2;
        if (kindOf(*word) == kEndOfImage) break;
    }
    end = at;
    for (size_t row = rowStarts.size(); row-- > 0;) {
        const Outcome outcome = transcodeRow(file, rowStarts[row], map, data, used);
        if (outcome.refusal != Refusal::kNone) return outcome;
    }
    data.insert(data.end(), {0, 1});
    // A chunk as long as the frame uncompressed would be taken for one.
    const int64_t uncompressed = ((int64_t{width} + 3) & ~int64_t{3}) * height;
    if (static_cast<int64_t>(data.size()) == uncompressed) data.insert(data.end(), {0, 1});
    return {};
}

// The position of the next frame's mark after a frame ending at end: filler
// words skipped, then 4-byte values looked at in turn; nothing at the end.
std::optional<size_t> nextFrame(const Bytes& file, size_t end) {
    size_t at = end;
    while (wordAt(file, at) == kFiller)
        at += 2;
    if (!wordAt(file, at)) return std::nullopt;
    for (; file.size() - at >= 4; at += 4) {
        if (u32At(file, at) == kFrameMark) return at;
    }
    return std::nullopt;
}

// What a conversion with one colour table for every frame needs to know of
// each frame: its table and the indexes its pixels use.
struct FrameColours {
    std::vector<Palette> tables;
    std::vector<UsedSet> used;
};

// The whole conversion with each frame's colours through maps[frame] (the
// identity where maps is empty), palette changes with multiPalette.
Result convertFrames(const Bytes& file, bool multiPalette, const std::vector<ColourMap>& maps,
                     FrameColours* colours) {
    Result result;
    Palette inEffect{};
    std::optional<size_t> frameStart = 0;
    for (; frameStart; ++result.frames) {
        const size_t start = *frameStart;
        const int32_t number = result.frames + 1;
        const auto refuse = [&](Outcome outcome) {
            result.refusal = outcome.refusal;
            result.internalError = outcome.internalError;
            result.failedFrame = number;
            return result;
        };
        if (u32At(file, start) != kFrameMark) return refuse(internal(kErrorFrameMark));
        const auto width = static_cast<int32_t>(u32At(file, start + kWidthAt));
        const auto height = static_cast<int32_t>(u32At(file, start + kHeightAt));
        if (width <= 0 || height <= 0) return refuse({Refusal::kFrameSize, 0});
        if (number == 1) {
            result.width = width;
            result.height = height;
            result.headerPalette = paletteAt(file, start);
            inEffect = result.headerPalette;
        } else if (width != result.width || height != result.height) {
            return refuse({Refusal::kFrameSize, 0});
        }
        const Palette table = paletteAt(file, start);
        const std::optional<uint16_t> begin = wordAt(file, start + kImageAt);
        if (!begin || kindOf(*begin) != kBeginImage) return refuse(internal(kErrorBeginImage));
        if (multiPalette && table != inEffect) {
            Chunk change{"00pc", {0, 0, 0, 0}};
            for (const PaletteEntry& entry : table)
                change.data.insert(change.data.end(), {entry.red, entry.green, entry.blue, 0});
            result.chunks.push_back(change);
            ++result.paletteChanges;
            inEffect = table;
        }
        const size_t frame = static_cast<size_t>(result.frames);
        const ColourMap map = frame < maps.size() ? maps[frame] : identityMap();
        Chunk frameChunk{"00dc", {}};
        UsedSet used{};
        size_t end = 0;
        const Outcome outcome = transcodeFrame(file, start + kImageAt + 2, width, height, map,
                                               frameChunk.data, used, end);
        if (outcome.refusal != Refusal::kNone) return refuse(outcome);
        result.chunks.push_back(frameChunk);
        if (colours != nullptr) {
            colours->tables.push_back(table);
            colours->used.push_back(used);
        }
        frameStart = nextFrame(file, end);
    }
    return result;
}

uint32_t packed(const PaletteEntry& colour) {
    return static_cast<uint32_t>(colour.red) << 16 | static_cast<uint32_t>(colour.green) << 8 |
           colour.blue;
}

// Gives every colour the frames use a slot of one table, frames in file order
// and each frame's indexes in ascending order. The table starts as the first
// frame's; a colour keeps its own index where that slot holds it and is free
// or already holds it, else it goes to the slot it already has, else to the
// lowest free slot that holds it, else to the lowest free slot. With
// oneSlotPerColour no colour takes its own index for a second slot. False when
// the slots run out.
bool assignSlots(const FrameColours& colours, bool oneSlotPerColour, Palette& table,
                 std::vector<ColourMap>& maps) {
    table = colours.tables.front();
    std::array<bool, 256> taken{};
    std::map<uint32_t, uint8_t> slotOf;
    maps.assign(colours.tables.size(), identityMap());
    const auto take = [&](size_t slot, const PaletteEntry& colour) {
        taken[slot] = true;
        table[slot] = colour;
        slotOf.emplace(packed(colour), static_cast<uint8_t>(slot));
        return static_cast<uint8_t>(slot);
    };
    const auto lowestFree = [&](const PaletteEntry* holding) -> std::optional<size_t> {
        for (size_t slot = 0; slot < taken.size(); ++slot) {
            if (!taken[slot] && (holding == nullptr || table[slot] == *holding)) return slot;
        }
        return std::nullopt;
    };
    for (size_t frame = 0; frame < colours.tables.size(); ++frame) {
        for (size_t index = 0; index < 256; ++index) {
            if (!colours.used[frame][index]) continue;
            const PaletteEntry colour = colours.tables[frame][index];
            uint8_t& slot = maps[frame][index];
            const auto registered = slotOf.find(packed(colour));
            if (taken[index] && table[index] == colour) {
                slot = static_cast<uint8_t>(index);
            } else if (!oneSlotPerColour && !taken[index] && table[index] == colour) {
                slot = take(index, colour);
            } else if (registered != slotOf.end()) {
                slot = registered->second;
            } else if (const std::optional<size_t> same = lowestFree(&colour)) {
                slot = take(*same, colour);
            } else if (const std::optional<size_t> free = lowestFree(nullptr)) {
                slot = take(*free, colour);
            } else {
                return false;
            }
        }
    }
    return true;
}

int32_t distinctColours(const FrameColours& colours) {
    std::map<uint32_t, bool> seen;
    for (size_t frame = 0; frame < colours.tables.size(); ++frame) {
        for (size_t index = 0; index < 256; ++index) {
            if (colours.used[frame][index]) seen[packed(colours.tables[frame][index])] = true;
        }
    }
    return static_cast<int32_t>(seen.size());
}

int squaredDistance(const PaletteEntry& one, const PaletteEntry& other) {
    const int red = one.red - other.red;
    const int green = one.green - other.green;
    const int blue = one.blue - other.blue;
    return red * red + green * green + blue * blue;
}

// Each frame's indexes mapped to the nearest of the first entries of table.
std::vector<ColourMap> nearestMaps(const FrameColours& colours, const Palette& table, int entries) {
    std::vector<ColourMap> maps(colours.tables.size(), identityMap());
    for (size_t frame = 0; frame < colours.tables.size(); ++frame) {
        for (size_t index = 0; index < 256; ++index) {
            int best = -1;
            for (int entry = 0; entry < entries && entry < kPaletteEntries; ++entry) {
                const auto at = static_cast<size_t>(entry);
                const auto bestAt = static_cast<size_t>(best);
                if (best < 0 || squaredDistance(table[at], colours.tables[frame][index]) <
                                    squaredDistance(table[bestAt], colours.tables[frame][index])) {
                    best = entry;
                }
            }
            maps[frame][index] = static_cast<uint8_t>(best < 0 ? 0 : best);
        }
    }
    return maps;
}

}  // namespace

Result convert(const Bytes& file, const Options& options, const Palette* nearestTable,
               int nearestEntries) {
    if (!options.sharedPalette) return convertFrames(file, options.multiPalette, {}, nullptr);
    FrameColours colours;
    Result first = convertFrames(file, false, {}, &colours);
    if (first.refusal != Refusal::kNone || colours.tables.empty()) return first;
    const int32_t count = distinctColours(colours);
    Result result;
    if (count <= kPaletteEntries) {
        Palette table{};
        std::vector<ColourMap> maps;
        if (!assignSlots(colours, false, table, maps)) assignSlots(colours, true, table, maps);
        result = convertFrames(file, false, maps, nullptr);
        result.headerPalette = table;
        result.sharedExact = true;
    } else if (options.multiPalette) {
        result = convertFrames(file, true, {}, nullptr);
    } else if (nearestTable != nullptr) {
        result = convertFrames(file, false, nearestMaps(colours, *nearestTable, nearestEntries),
                               nullptr);
        result.headerPalette = *nearestTable;
    } else {
        result = first;
        result.chunks.clear();
    }
    result.sharedColours = count;
    return result;
}

std::vector<GifFrame> gifFrames(const Result& result) {
    const auto width = static_cast<size_t>(result.width);
    const auto height = static_cast<size_t>(result.height);
    std::vector<GifFrame> frames;
    Palette inEffect = result.headerPalette;
    for (const Chunk& chunk : result.chunks) {
        if (chunk.code == "00pc") {
            for (size_t i = 0; i < inEffect.size(); ++i)
                inEffect[i] = {chunk.data[4 + 4 * i], chunk.data[5 + 4 * i], chunk.data[6 + 4 * i]};
            continue;
        }
        // The rows come bottom first, each ended by the pair 0, 0; 0, 1 ends them all.
        std::vector<Bytes> rows(1);
        for (size_t at = 0; at + 1 < chunk.data.size(); at += 2) {
            const uint8_t count = chunk.data[at];
            const uint8_t colour = chunk.data[at + 1];
            if (count == 0 && colour == 1) break;
            if (count == 0) {
                rows.emplace_back();
                continue;
            }
            rows.back().insert(rows.back().end(), count, colour);
        }
        GifFrame frame{Bytes(width * height, 0), inEffect};
        for (size_t row = 0; row < height && row < rows.size(); ++row) {
            const Bytes& pixels = rows[row];
            std::copy_n(
                pixels.begin(), std::min(pixels.size(), width),
                frame.indexes.begin() + static_cast<std::ptrdiff_t>((height - 1 - row) * width));
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

std::string gifDifference(const DecodedGif& gif, const Result& result, int32_t localTables) {
    if (!gif.error.empty()) return "the GIF does not decode: " + gif.error;
    if (gif.width != result.width || gif.height != result.height) return "the GIF's size differs";
    if (gif.loopCount != 0) return "the GIF does not loop forever";
    const std::vector<GifFrame> frames = gifFrames(result);
    if (gif.frames.size() != frames.size()) {
        return std::to_string(gif.frames.size()) + " GIF frames, not " +
               std::to_string(frames.size());
    }
    int32_t written = 0;
    for (size_t n = 0; n < frames.size(); ++n) {
        const DecodedGifFrame& got = gif.frames[n];
        const std::string frame = "frame " + std::to_string(n + 1);
        for (size_t pixel = 0; pixel < frames[n].indexes.size(); ++pixel) {
            const PaletteEntry& want = frames[n].table[frames[n].indexes[pixel]];
            const uint8_t* rgb = got.rgb.data() + 3 * pixel;
            if (rgb[0] == want.red && rgb[1] == want.green && rgb[2] == want.blue) continue;
            const auto width = static_cast<size_t>(result.width);
            return frame + " differs at x " + std::to_string(pixel % width) + ", y " +
                   std::to_string(pixel / width);
        }
        if (got.localTable != (frames[n].table != result.headerPalette)) {
            return frame + (got.localTable ? " has a local table it does not need"
                                           : " lacks the local table of its colours");
        }
        written += got.localTable ? 1 : 0;
    }
    if (written == localTables) return "";
    return std::to_string(written) + " local tables written, " + std::to_string(localTables) +
           " counted";
}

std::string describe(const std::vector<Chunk>& chunks) {
    std::string text;
    char hex[4];
    for (size_t i = 0; i < chunks.size(); ++i) {
        text += std::to_string(i) + " " + chunks[i].code + " (" +
                std::to_string(chunks[i].data.size()) + " bytes):";
        for (uint8_t byte : chunks[i].data) {
            std::snprintf(hex, sizeof hex, " %02x", byte);
            text += hex;
        }
        text += '\n';
    }
    return text;
}

}  // namespace ref
