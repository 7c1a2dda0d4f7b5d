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

// Counts the rows' words, the frame's begin-image word just read, and passes
// over what stands between the last row and the end-of-image word, which the
// conversion passes over too. False when the frame would be refused.
bool countImage(InputReader& input, ImageCount& image) {
    // A repeat count of at most 4095 and a colour word of index 255 or less:
    // the common pair, taken two at a time, each into a table of its own so
    // that neither waits for the other's count.
    constexpr uint64_t kPairMask = 0xFF00F000;
    constexpr uint64_t kPair = uint64_t{kColour} << 16 | kRepeatCount;
    constexpr uint64_t kTwoPairsMask = kPairMask << 32 | kPairMask;
    constexpr uint64_t kTwoPairs = kPair << 32 | kPair;
    IndexCounts second{};
    for (;;) {
        const uint8_t* bytes = input.window.data() + input.next;
        const uint8_t* const end = input.window.data() + input.filled;
        Counted counted = Counted::kGoOn;
        while (end - bytes >= 8 && counted == Counted::kGoOn) {
            uint64_t pairs;
            std::memcpy(&pairs, bytes, 8);
            if (image.run == ImageCount::kNoPendingRun) {
                if ((pairs & kTwoPairsMask) == kTwoPairs) {
                    image.counts[pairs >> 16 & 0xFF] += pairs & kWordValueMask;
                    second[pairs >> 48 & 0xFF] += pairs >> 32 & kWordValueMask;
                    bytes += 8;
                    continue;
                }
                if ((pairs & kPairMask) == kPair) {
                    image.counts[pairs >> 16 & 0xFF] += pairs & kWordValueMask;
                    bytes += 4;
                    continue;
                }
            }
            counted = countWord(image, static_cast<uint16_t>(pairs));
            bytes += 2;
        }
        input.next = static_cast<size_t>(bytes - input.window.data());
        if (counted == Counted::kRefused) return false;
        if (counted == Counted::kRowsDone) break;
        uint16_t word = 0;  // the last words of the window, or across its edge
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

}  // namespace

void countFrameColours(InputReader& input, SharedPalette& shared) {
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
        if (!countImage(input, image)) break;
        addFrameColours(shared, table, counts);
        skipFiller(input);
        findNextFrame(input);
        if (readerAtEnd(input)) break;
    }
}
