#include "gif/gif_writer.h"

#include <algorithm>
#include <array>
#include <cinttypes>
#include <cstring>
#include <new>

#include "gif/gif_bytes.h"
#include "gif/gif_format.h"
#include "gif/gif_timing.h"

namespace {

constexpr uint8_t kScreenPacked =
    kGifColourTableFollows | kGifColourResolution8 | kGifColourTableSize256;
constexpr uint8_t kLocalTablePacked = kGifColourTableFollows | kGifColourTableSize256;
constexpr uint8_t kNoLocalTable = 0;
constexpr int kNoTransparency = -1;

using PackedColours = std::array<uint32_t, kPaletteEntries>;

int outputFailed(const OutputWriter& output) {
    if (output.overLimit && !output.failed) {
        setErrorText("The GIF file would grow past %" PRId64 " bytes.", output.limit);
        return 0;
    }
    return outputWriteError(output.error);
}

void writeColourTable(OutputWriter& output, const Palette& table) {
    for (const PaletteEntry& entry : table) {
        writeU8(output, entry.red);
        writeU8(output, entry.green);
        writeU8(output, entry.blue);
    }
}

void writeLoopExtension(OutputWriter& output) {
    writeU8(output, kGifExtensionIntroducer);
    writeU8(output, kGifApplicationLabel);
    writeU8(output, kGifLoopApplicationLength);
    writeBytes(output, reinterpret_cast<const uint8_t*>(kGifLoopApplication),
               kGifLoopApplicationLength);
    writeU8(output, kGifLoopBlockSize);
    writeU8(output, kGifLoopBlockId);
    writeU16(output, kGifLoopForever);
    writeU8(output, kGifBlockTerminator);
}

void writeGraphicControl(OutputWriter& output, int32_t delay, int transparentIndex) {
    const bool transparent = transparentIndex != kNoTransparency;
    writeU8(output, kGifExtensionIntroducer);
    writeU8(output, kGifGraphicControlLabel);
    writeU8(output, kGifGraphicControlSize);
    writeU8(output, static_cast<uint8_t>(kGifDisposeNone << kGifDisposalShift |
                                         (transparent ? kGifTransparentFlag : 0)));
    writeU16(output, static_cast<uint16_t>(delay));
    writeU8(output, static_cast<uint8_t>(transparent ? transparentIndex : 0));
    writeU8(output, kGifBlockTerminator);
}

void writeImageDescriptor(OutputWriter& output, const GifRectangle& box, const Palette* local) {
    writeU8(output, kGifImageSeparator);
    writeU16(output, static_cast<uint16_t>(box.left));
    writeU16(output, static_cast<uint16_t>(box.top));
    writeU16(output, static_cast<uint16_t>(box.right - box.left + 1));
    writeU16(output, static_cast<uint16_t>(box.bottom - box.top + 1));
    writeU8(output, local != nullptr ? kLocalTablePacked : kNoLocalTable);
    if (local != nullptr) writeColourTable(output, *local);
}

PackedColours packedColours(const Palette& table) {
    PackedColours colours{};
    for (size_t i = 0; i < colours.size(); ++i) {
        colours[i] = uint32_t{table[i].red} << 16 | uint32_t{table[i].green} << 8 | table[i].blue;
    }
    return colours;
}

// What the first walk over a frame learns: the rectangle of its changes, the
// colour indexes the changed pixels use, and how many runs of equal values the
// rows from the first to the last changed one hold, as they are and with every
// unchanged pixel as one more value (the transparent index).
struct FrameChanges {
    GifRectangle box;
    std::array<bool, kPaletteEntries> usedByChanges{};
    int64_t plainRuns = 0;
    int64_t transparentRuns = 0;
    int64_t runsSinceChange = 0;  // plain runs of unchanged rows below the last changed one
    // Set once the changes use every index: no transparent index is left, so
    // runs are no longer counted nor indexes marked.
    bool everyIndexUsed = false;
};

// Runs of equal values in count pixels: one, and one more at each pixel that
// differs from the one before.
int64_t runStarts(const uint8_t* pixels, size_t count) {
    if (count == 0) return 0;
    int64_t starts = 1;
    size_t x = 1;
    for (; x + kGifWordBytes <= count; x += kGifWordBytes)
        starts += markedBytes(nonzeroBytes(loadWord(pixels + x) ^ loadWord(pixels + x - 1)));
    for (; x < count; ++x)
        starts += pixels[x] != pixels[x - 1];
    return starts;
}

// The first of count pixels that differs from the pixel shown, or count.
size_t firstChange(const uint8_t* shown, const uint8_t* pixels, size_t count) {
    size_t x = 0;
    while (x + kGifWordBytes <= count && loadWord(pixels + x) == loadWord(shown + x))
        x += kGifWordBytes;
    while (x < count && pixels[x] == shown[x])
        ++x;
    return x;
}

// The last of count pixels that differs from the pixel shown, given that the
// one at first does.
size_t lastChange(const uint8_t* shown, const uint8_t* pixels, size_t first, size_t count) {
    size_t end = count;  // the pixels from end on are unchanged
    while (end >= first + kGifWordBytes &&
           loadWord(pixels + end - kGifWordBytes) == loadWord(shown + end - kGifWordBytes)) {
        end -= kGifWordBytes;
    }
    while (pixels[end - 1] == shown[end - 1])
        --end;
    return end - 1;
}

// Runs of pixels from..to with unchanged pixels (equal in both rows) as one
// value: one, and one more at each pixel that changes and differs from the
// one before, or whose change differs from the one before's. A changed pixel
// that starts a run marks its index in used, which so holds the index of
// every changed pixel, the one at from being changed.
int64_t transparentRunStarts(std::array<bool, kPaletteEntries>& used, const uint8_t* shown,
                             const uint8_t* pixels, size_t from, size_t to) {
    used[pixels[from]] = true;
    int64_t starts = 1;
    size_t x = from + 1;
    for (; x + kGifWordBytes <= to + 1; x += kGifWordBytes) {
        const uint64_t now = loadWord(pixels + x);
        const uint64_t before = loadWord(pixels + x - 1);
        const uint64_t changed = nonzeroBytes(now ^ loadWord(shown + x));
        const uint64_t changedBefore = nonzeroBytes(before ^ loadWord(shown + x - 1));
        const uint64_t runStart =
            (changed ^ changedBefore) | (changed & nonzeroBytes(now ^ before));
        starts += markedBytes(runStart);
        for (uint64_t marks = runStart & changed; marks != 0; marks &= marks - 1)
            used[pixels[x + markedByte(marks)]] = true;
    }
    for (; x <= to; ++x) {
        const bool changed = shown[x] != pixels[x];
        const bool changedBefore = shown[x - 1] != pixels[x - 1];
        const bool runStart = changed != changedBefore || (changed && pixels[x] != pixels[x - 1]);
        starts += runStart;
        if (runStart && changed) used[pixels[x]] = true;
    }
    return starts;
}

// Once the colours differ from the frame shown: a shown pixel whose colour the
// new pixel has becomes that pixel's index, any other an index it is not, so
// that comparing indexes tells the pixels that change on the screen.
void matchColours(uint8_t* shown, const uint8_t* pixels, size_t count, const PackedColours& before,
                  const PackedColours& now) {
    for (size_t x = 0; x < count; ++x) {
        const bool same = before[shown[x]] == now[pixels[x]];
        shown[x] = same ? pixels[x] : static_cast<uint8_t>(pixels[x] ^ 1);
    }
}

void noteRow(FrameChanges& changes, const uint8_t* shown, const uint8_t* pixels, int32_t y,
             int32_t width) {
    const auto count = static_cast<size_t>(width);
    const size_t first = firstChange(shown, pixels, count);
    GifRectangle& box = changes.box;
    if (first == count) {
        if (box.bottom >= 0 && !changes.everyIndexUsed)
            changes.runsSinceChange += runStarts(pixels, count);
        return;
    }
    const size_t last = lastChange(shown, pixels, first, count);
    if (box.bottom < 0) {
        box = {static_cast<int32_t>(first), y, static_cast<int32_t>(last), y};
    } else {
        box.left = std::min(box.left, static_cast<int32_t>(first));
        box.right = std::max(box.right, static_cast<int32_t>(last));
        box.bottom = y;
    }
    if (changes.everyIndexUsed) return;
    changes.plainRuns += changes.runsSinceChange + runStarts(pixels, count);
    changes.runsSinceChange = 0;
    changes.transparentRuns +=
        transparentRunStarts(changes.usedByChanges, shown, pixels, first, last) + (first > 0) +
        (last + 1 < count);
    const std::array<bool, kPaletteEntries>& used = changes.usedByChanges;
    changes.everyIndexUsed = std::all_of(used.begin(), used.end(), [](bool u) { return u; });
}

// The first walk: compares every row with the frame shown.
int findChanges(GifWriter& writer, const GifRowSource& rows, const Palette& table,
                FrameChanges& changes) {
    const bool sameColours = samePalette(table, writer.shownTable);
    const PackedColours before = packedColours(writer.shownTable);
    const PackedColours now = packedColours(table);
    const auto width = static_cast<size_t>(writer.width);
    for (int32_t y = 0; y < writer.height; ++y) {
        if (rows.readRow(rows.context, y, writer.row.data()) == 0) return 0;
        uint8_t* shown = writer.shown.data() + static_cast<size_t>(y) * width;
        if (!sameColours) matchColours(shown, writer.row.data(), width, before, now);
        noteRow(changes, shown, writer.row.data(), y, writer.width);
    }
    return 1;
}

// The transparent index for the changed rectangle: none where writing the
// pixels as they are makes no more runs, or when the changes use every index.
int transparentIndex(const FrameChanges& changes) {
    if (changes.box.bottom >= 0 && changes.transparentRuns >= changes.plainRuns)
        return kNoTransparency;
    const auto* free = std::find(changes.usedByChanges.begin(), changes.usedByChanges.end(), false);
    if (free == changes.usedByChanges.end()) return kNoTransparency;
    return static_cast<int>(free - changes.usedByChanges.begin());
}

// Writes count pixels to drawn, with transparent for each that equals the
// pixel shown.
void drawChanges(uint8_t* drawn, const uint8_t* shown, const uint8_t* pixels, size_t count,
                 uint8_t transparent) {
    const uint64_t fill = kGifEveryByte * transparent;
    size_t x = 0;
    for (; x + kGifWordBytes <= count; x += kGifWordBytes) {
        const uint64_t now = loadWord(pixels + x);
        const uint64_t same = widenMarks(nonzeroBytes(now ^ loadWord(shown + x)) ^ kGifHighBits);
        storeWord(drawn + x, (now & ~same) | (fill & same));
    }
    for (; x < count; ++x)
        drawn[x] = shown[x] == pixels[x] ? transparent : pixels[x];
}

// The second walk: encodes the rectangle's rows, keeping them as the frame shown.
int writeRectangle(GifWriter& writer, OutputWriter& output, const GifRowSource& rows,
                   const GifRectangle& box, int transparent) {
    const auto left = static_cast<size_t>(box.left);
    const auto count = static_cast<size_t>(box.right - box.left + 1);
    const uint8_t* pixels = writer.row.data() + left;
    startLzw(writer.lzw, output);
    for (int32_t y = box.top; y <= box.bottom; ++y) {
        if (rows.readRow(rows.context, y, writer.row.data()) == 0) return 0;
        if (writer.shown.empty()) {
            encodeLzw(writer.lzw, output, pixels, count);
            continue;
        }
        uint8_t* shown =
            writer.shown.data() + static_cast<size_t>(y) * static_cast<size_t>(writer.width) + left;
        const uint8_t* drawn = pixels;
        if (transparent != kNoTransparency) {
            drawChanges(writer.drawn.data(), shown, pixels, count,
                        static_cast<uint8_t>(transparent));
            drawn = writer.drawn.data();
        }
        encodeLzw(writer.lzw, output, drawn, count);
        std::memcpy(shown, pixels, count);
    }
    finishLzw(writer.lzw, output);
    return 1;
}

}  // namespace

bool gifSizeFits(int32_t width, int32_t height) {
    return width > 0 && height > 0 && width <= kGifMaxSide && height <= kGifMaxSide;
}

int refuseGifSize(int32_t width, int32_t height) {
    setErrorText(
        "Frames of %d x %d pixels are too large for a GIF file, which holds at most "
        "%d x %d.",
        width, height, kGifMaxSide, kGifMaxSide);
    return 0;
}

int startGif(GifWriter& writer, OutputWriter& output, int32_t width, int32_t height,
             const Palette& globalTable, double framesPerSecond) {
    writer.width = width;
    writer.height = height;
    writer.framesPerSecond = framesPerSecond;
    writer.frames = 0;
    writer.globalTable = globalTable;
    writer.shownTable = globalTable;
    const int64_t pixels = int64_t{width} * height;
    try {
        writer.shown.assign(pixels <= kGifMaxKeptPixels ? static_cast<size_t>(pixels) : 0, 0);
        writer.row.assign(static_cast<size_t>(width) + kGifRowSlack, 0);
        writer.drawn.assign(static_cast<size_t>(width), 0);
        writer.lzw.slots.assign(kLzwHashSlots, 0);
        writer.lzw.lastChild.assign(kLzwCodeLimit, 0);
        writer.lzw.runChild.assign(kLzwCodeLimit, 0);
    } catch (const std::bad_alloc&) {
        setErrorText("Out of memory.");
        return 0;
    }
    writeBytes(output, reinterpret_cast<const uint8_t*>(kGifSignature), kGifSignatureLength);
    writeU16(output, static_cast<uint16_t>(width));
    writeU16(output, static_cast<uint16_t>(height));
    writeU8(output, kScreenPacked);
    writeU8(output, kGifBackgroundIndex);
    writeU8(output, kGifPixelAspectUnset);
    writeColourTable(output, globalTable);
    writeLoopExtension(output);
    return writerFailed(output) ? outputFailed(output) : 1;
}

int writeGifFrame(GifWriter& writer, OutputWriter& output, const GifRowSource& rows,
                  const Palette* table) {
    const Palette* local =
        table != nullptr && !samePalette(*table, writer.globalTable) ? table : nullptr;
    const Palette& colours = local != nullptr ? *local : writer.globalTable;
    GifRectangle box{0, 0, writer.width - 1, writer.height - 1};
    int transparent = kNoTransparency;
    if (writer.frames > 0 && !writer.shown.empty()) {
        FrameChanges changes;
        if (findChanges(writer, rows, colours, changes) == 0) return 0;
        transparent = transparentIndex(changes);
        box = changes.box.bottom >= 0 ? changes.box : GifRectangle{0, 0, 0, 0};
    }
    writeGraphicControl(output, gifFrameDelay(writer.framesPerSecond, writer.frames), transparent);
    writeImageDescriptor(output, box, local);
    if (writeRectangle(writer, output, rows, box, transparent) == 0) return 0;
    writer.shownTable = colours;
    ++writer.frames;
    return writerFailed(output) ? outputFailed(output) : 1;
}

int finishGif(OutputWriter& output) {
    writeU8(output, kGifTrailer);
    if (!flushWriter(output)) return outputFailed(output);
    return 1;
}
