#include "rmfile/colour_pass.h"

#include <cstdint>
#include <cstring>

#include "avi/row_search.h"
#include "avi/row_staging.h"
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

// A single pixel (one word, index 255 or less) or a repeat count and its colour
// word (two) at the low end of words; none (0 words) for any other word.
struct Item {
    uint64_t index = 0;
    uint64_t run = 0;
    int words = 0;
};

Item itemAt(uint64_t words) {
    const uint64_t first = words & 0xFFFF;
    const uint64_t second = words >> 16 & 0xFFFF;
    const bool single = (first & 0xFF00) == kSinglePixel;
    const bool pair = (first & kWordKindMask) == kRepeatCount && (second & 0xFF00) == kColour;
    return {single ? first & 0xFF : second & 0xFF, single ? 1 : first & kWordValueMask,
            single ? 1
            : pair ? 2
                   : 0};
}

// With weighted, a run's pixels; else only a mark of the index, a store that
// waits for nothing.
template <bool kWeighted>
void count(IndexCounts& counts, const Item& item) {
    if (kWeighted) {
        counts[item.index] += item.run;
    } else {
        counts[item.index] = 1;
    }
}

constexpr uint64_t kFourRowEndsMask = 0xF000F000F000F000;
constexpr uint64_t kFourRowEnds = 0x6000600060006000;

// Takes single pixels, repeat pairs and runs of end-of-row words from bytes on
// while they come, and returns where it stopped: at a word for countWord, such
// as the row end that may close the last row. Four common pairs are taken at
// once; other items two at a time from one load, without a branch on their
// kinds, which follow no pattern. With weighted the items' runs go into two
// tables by turns (so that no count waits for the one before, as runs of one
// colour often alternate with another), else each index is only marked as used.
template <bool kWeighted>
const uint8_t* takeItems(const uint8_t* bytes, const uint8_t* end, ImageCount& image,
                         IndexCounts& second) {
    IndexCounts& counts = image.counts;
    while (end - bytes >= 8) {
        uint64_t low;
        std::memcpy(&low, bytes, 8);
        if ((low & kTwoPairsMask) == kTwoPairs && end - bytes >= 16) {
            uint64_t high;
            std::memcpy(&high, bytes + 8, 8);
            if ((high & kTwoPairsMask) == kTwoPairs) {
                count<kWeighted>(counts, {pairIndex(low, 0), pairRun(low, 0), 2});
                count<kWeighted>(second, {pairIndex(low, 1), pairRun(low, 1), 2});
                count<kWeighted>(counts, {pairIndex(high, 0), pairRun(high, 0), 2});
                count<kWeighted>(second, {pairIndex(high, 1), pairRun(high, 1), 2});
                bytes += 16;
                continue;
            }
        }
        if ((low & kFourRowEndsMask) == kFourRowEnds && image.rowsLeft > 4) {
            image.rowsLeft -= 4;
            bytes += 8;
            continue;
        }
        const Item first = itemAt(low);
        if (first.words == 0) break;
        count<kWeighted>(counts, first);
        const Item next = itemAt(low >> (16 * first.words));
        bytes += 2 * (first.words + next.words);
        if (next.words == 0) break;
        count<kWeighted>(second, next);
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
                const uint8_t* const after = takeItems<kWeighted>(bytes, end, image, second);
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

// Counts the pairs the transcoder staged: a run's pixels for its index, nothing
// for an end-of-line pair (a count of 0), two pairs at a time into two tables.
void countStagedPairs(const StagedPieces& staged, IndexCounts& counts) {
    IndexCounts second{};
    const uint8_t* pair = staged.bytes.data();
    const uint8_t* const end = pair + staged.used;
    for (; end - pair >= 4; pair += 4) {
        counts[pair[1]] += pair[0];
        second[pair[3]] += pair[2];
    }
    if (pair < end) counts[pair[1]] += pair[0];
    for (size_t i = 0; i < counts.size(); ++i)
        counts[i] += second[i];
}

// Counts the frame whose begin-image word was just read. Without weighted, only
// which indexes it uses, word by word, which is quickest on repeat pairs. With
// weighted, its rows go through the transcoder into the staging, as the
// conversion takes them, which is quick on any mix of words, and its pairs
// are counted; a frame too large to stage is counted word by word. False when
// the conversion would refuse the frame.
template <bool kWeighted>
bool countFrame(InputReader& input, int32_t height, ChunkWriterState& chunks, IndexCounts& counts) {
    if (!kWeighted) {
        ImageCount image{counts, height};
        return countImage<false>(input, image);
    }
    const int64_t imageStart = readerPosition(input);
    const StageResult staged = stageRows(input, chunks.staged, height, chunks.coding);
    if (staged == StageResult::kIrregular) return false;
    if (staged == StageResult::kStaged) {
        countStagedPairs(chunks.staged, counts);
        uint16_t lastKind = 0;
        return skipWordsOfKind(input, kEndOfImage, 1, lastKind) == 1;
    }
    seekReader(input, imageStart);
    ImageCount image{counts, height};
    return countImage<true>(input, image);
}

// One pass over the frames. Without weighted, only which colours each frame
// uses is noted, and the pass gives up (false) as soon as more colours come than
// one table holds: then a pass with weighted counts their pixels.
template <bool kWeighted>
bool passOverFrames(InputReader& input, ChunkWriterState& chunks, SharedPalette& shared) {
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
        if (!countFrame<kWeighted>(input, height, chunks, counts)) break;
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

void countFrameColours(InputReader& input, ChunkWriterState& chunks, SharedPalette& shared,
                       bool likelyTooMany) {
    // A table that holds every colour needs no weights: most such files are read once.
    if (!likelyTooMany && passOverFrames<false>(input, chunks, shared)) return;
    passOverFrames<true>(input, chunks, shared);
}
