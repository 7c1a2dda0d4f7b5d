#include "rmfile/colour_pass.h"

#include <cstdint>
#include <cstring>

#include "rmfile/frame_header.h"
#include "rmfile/rm_format.h"

namespace {

// The words of one frame's image, counted into counts.
struct ImageCount {
    IndexCounts& counts;
    int64_t rowsLeft = 0;  // rows not yet closed by their end-of-row word
    int run = kNoPendingRun;
    static constexpr int kNoPendingRun = -1;
};

enum class Counted { kGoOn, kRowsDone, kRefused };

// One word by the rules for a row's words; kRefused for a word that would stop
// the conversion.
Counted countWord(ImageCount& image, uint16_t word) {
    const uint16_t kind = wordKind(word);
    const int run = image.run;
    image.run = ImageCount::kNoPendingRun;
    if (run != ImageCount::kNoPendingRun) {
        if (kind != kColour || wordValue(word) > kMaxColourIndex) return Counted::kRefused;
        image.counts[wordValue(word)] += static_cast<uint64_t>(run);
        return Counted::kGoOn;
    }
    switch (kind) {
        case kRepeatCount:
            image.run = wordValue(word);
            return Counted::kGoOn;
        case kSinglePixel:
            if (wordValue(word) > kMaxColourIndex) return Counted::kRefused;
            ++image.counts[wordValue(word)];
            return Counted::kGoOn;
        case kEndOfRow:
            return --image.rowsLeft == 0 ? Counted::kRowsDone : Counted::kGoOn;
        default:
            return Counted::kRefused;
    }
}

// The common pair: a repeat count (of at most 4095) and a colour word of index
// 255 or less.
constexpr uint64_t kPairMask = 0xFF00F000;
constexpr uint64_t kPair = uint64_t{kColour} << 16 | kRepeatCount;
constexpr uint64_t kTwoPairsMask = kPairMask << 32 | kPairMask;
constexpr uint64_t kTwoPairs = kPair << 32 | kPair;

uint64_t pairIndex(uint64_t pairs, int at) {
    return pairs >> (32 * at + 16) & 0xFF;
}

uint64_t pairRun(uint64_t pairs, int at) {
    return pairs >> (32 * at) & kWordValueMask;
}

// Takes the common pairs from bytes on while they come, four at a time: with
// weighted each pair's run goes into one of two tables by turns (so that no
// count waits for the one before, as runs of one colour often alternate with
// another), else each pair's index is only marked as used. Returns where it
// stopped.
template <bool kWeighted>
const uint8_t* takePairs(const uint8_t* bytes, const uint8_t* end, IndexCounts& counts,
                         IndexCounts& second) {
    while (end - bytes >= 16) {
        uint64_t low;
        uint64_t high;
        std::memcpy(&low, bytes, 8);
        std::memcpy(&high, bytes + 8, 8);
        if ((low & kTwoPairsMask) != kTwoPairs) break;
        if ((high & kTwoPairsMask) != kTwoPairs) {
            if (kWeighted) {
                counts[pairIndex(low, 0)] += pairRun(low, 0);
                second[pairIndex(low, 1)] += pairRun(low, 1);
            } else {
                counts[pairIndex(low, 0)] = 1;
                counts[pairIndex(low, 1)] = 1;
            }
            return bytes + 8;
        }
        if (kWeighted) {
            counts[pairIndex(low, 0)] += pairRun(low, 0);
            second[pairIndex(low, 1)] += pairRun(low, 1);
            counts[pairIndex(high, 0)] += pairRun(high, 0);
            second[pairIndex(high, 1)] += pairRun(high, 1);
        } else {
            counts[pairIndex(low, 0)] = 1;
            counts[pairIndex(low, 1)] = 1;
            counts[pairIndex(high, 0)] = 1;
            counts[pairIndex(high, 1)] = 1;
        }
        bytes += 16;
    }
    if (end - bytes >= 4) {
        uint32_t pair;
        std::memcpy(&pair, bytes, 4);
        if ((pair & kPairMask) == kPair) {
            counts[pairIndex(pair, 0)] += kWeighted ? pairRun(pair, 0) : 1;
            return bytes + 4;
        }
    }
    return bytes;
}

// Counts the rows' words, the frame's begin-image word just read, and passes
// over what stands between the last row and the end-of-image word, which the
// conversion passes over too. False when the frame would be refused.
template <bool kWeighted>
bool countImage(InputReader& input, ImageCount& image) {
    IndexCounts second{};
    for (;;) {
        const uint8_t* bytes = input.window.data() + input.next;
        const uint8_t* const end = input.window.data() + input.filled;
        Counted counted = Counted::kGoOn;
        while (end - bytes >= 2 && counted == Counted::kGoOn) {
            if (image.run == ImageCount::kNoPendingRun) {
                const uint8_t* const after = takePairs<kWeighted>(bytes, end, image.counts, second);
                if (after != bytes) {
                    bytes = after;
                    continue;
                }
            }
            counted = countWord(image, static_cast<uint16_t>(bytes[0] | bytes[1] << 8));
            bytes += 2;
        }
        input.next = static_cast<size_t>(bytes - input.window.data());
        if (counted == Counted::kRefused) return false;
        if (counted == Counted::kRowsDone) break;
        uint16_t word = 0;  // a word across the window's edge
        if (!readU16(input, word)) return false;
        counted = countWord(image, word);
        if (counted == Counted::kRefused) return false;
        if (counted == Counted::kRowsDone) break;
    }
    for (size_t i = 0; i < second.size(); ++i)
        image.counts[i] += second[i];
    uint16_t word = 0;
    while (readU16(input, word)) {
        if (wordKind(word) == kEndOfImage) return true;
    }
    return false;
}

// One pass over the frames. Without weighted, only which colours each frame
// uses is noted, and the pass gives up (false) as soon as more colours come than
// one table holds: then a pass with weighted counts their pixels.
template <bool kWeighted>
bool passOverFrames(InputReader& input, SharedPalette& shared) {
    startColourCount(shared);
    IndexCounts counts{};
    int32_t firstWidth = 0;
    int32_t firstHeight = 0;
    seekReader(input, 0);
    for (;;) {
        const int64_t frameStart = readerPosition(input);
        if (readU32(input) != kFrameMark) break;
        const auto width = static_cast<int32_t>(readU32(input));
        const auto height = static_cast<int32_t>(readU32(input));
        if (width <= 0 || height <= 0) break;
        if (shared.framesCounted == 0) {
            firstWidth = width;
            firstHeight = height;
        } else if (width != firstWidth || height != firstHeight) {
            break;
        }
        seekReader(input, frameStart + kColourTablesOffset);
        Palette table{};
        readPalette(input, table);
        uint16_t word = 0;
        if (!readU16(input, word) || wordKind(word) != kBeginImage) break;
        ImageCount image{counts, height};
        if (!countImage<kWeighted>(input, image)) break;
        addFrameColours(shared, table, counts);
        if (!kWeighted && shared.histogram.used > static_cast<size_t>(kPaletteEntries)) {
            return false;
        }
        skipFiller(input);
        findNextFrame(input);
        if (readerAtEnd(input)) break;
    }
    return true;
}

}  // namespace

void countFrameColours(InputReader& input, SharedPalette& shared) {
    // A table that holds every colour needs no weights: most files are read once.
    if (passOverFrames<false>(input, shared)) return;
    passOverFrames<true>(input, shared);
}
