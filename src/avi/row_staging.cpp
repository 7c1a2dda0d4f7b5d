#include "avi/row_staging.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "avi/avi_format.h"
#include "avi/rle8_transcoder.h"
#include "avi/word_vectors.h"
#include "rmfile/rm_format.h"

namespace {

enum class Step { kWord, kRowEnd, kIrregular };

// One word (or repeat count and colour) that transcodeSpan left, read through
// the reader so that it may cross the window's edge. Needs kLongestRunBytes of room.
Step stageOneWord(InputReader& input, uint8_t*& out) {
    uint16_t word = 0;
    if (!readU16(input, word)) return Step::kIrregular;
    const uint16_t kind = wordKind(word);
    if (kind == kEndOfRow) {
        out[0] = kRleEscape;
        out[1] = kRleEndOfLine;
        out += 2;
        return Step::kRowEnd;
    }
    int run = 1;
    uint16_t colourWord = word;
    if (kind == kRepeatCount) {
        run = wordValue(word);
        if (!readU16(input, colourWord) || wordKind(colourWord) != kColour) return Step::kIrregular;
    } else if (kind != kSinglePixel) {
        return Step::kIrregular;
    }
    if (run == 0 || wordValue(colourWord) > kMaxColourIndex) return Step::kIrregular;
    const auto colour = static_cast<uint8_t>(colourWord);
    for (; run > 0; run -= kRleMaxRun) {
        out[0] = static_cast<uint8_t>(std::min(run, kRleMaxRun));
        out[1] = colour;
        out += 2;
    }
    return Step::kWord;
}

// Number of end-of-row words at the start of words, at most limit.
size_t countRowEnds(const uint8_t* words, size_t limit) {
    size_t count = 0;
    while (count + wordvec::kWords <= limit) {
        const unsigned mask = wordvec::kindMask(words + 2 * count, kEndOfRow);
        if (mask != (1u << wordvec::kWords) - 1) {
            return count + static_cast<size_t>(std::countr_one(mask));
        }
        count += wordvec::kWords;
    }
    while (count < limit && wordKind(static_cast<uint16_t>(words[2 * count + 1] << 8)) == kEndOfRow)
        ++count;
    return count;
}

// Closes the row just staged as a piece; an empty row joins a piece of empty
// rows before it, since such pieces read the same in either order.
bool closeRow(StagedPieces& staged, size_t rowStart) {
    const bool empty = staged.used - rowStart == 2;
    if (empty && staged.lastTakesMore) {
        staged.ends.back() = static_cast<uint32_t>(staged.used);
        return true;
    }
    if (staged.ends.size() == staged.maxPieces) return false;
    staged.ends.push_back(static_cast<uint32_t>(staged.used));
    staged.lastTakesMore = empty;
    return true;
}

}  // namespace

StageResult stageRows(InputReader& input, StagedPieces& staged, int64_t rows) {
    staged.used = 0;
    staged.ends.clear();
    staged.lastTakesMore = false;
    uint8_t* const base = staged.bytes.data();
    uint8_t* const outEnd = base + staged.bytes.size();
    for (int64_t row = 0; row < rows;) {
        const size_t rowStart = staged.used;
        uint8_t* out = base + rowStart;
        for (;;) {
            const uint8_t* in = input.window.data() + input.next;
            const TranscodeStop stop =
                transcodeSpan(in, input.window.data() + input.filled, out, outEnd);
            input.next = static_cast<size_t>(in - input.window.data());
            if (stop == TranscodeStop::kEndOfRow) break;
            if (outEnd - out < kLongestRunBytes) return StageResult::kFull;
            const Step step = stageOneWord(input, out);
            if (step == Step::kIrregular) return StageResult::kIrregular;
            if (step == Step::kRowEnd) break;
        }
        staged.used = static_cast<size_t>(out - base);
        if (!closeRow(staged, rowStart)) return StageResult::kFull;
        ++row;
        if (!staged.lastTakesMore) continue;
        // Empty rows often come many together: take those in the window at once.
        const size_t room = static_cast<size_t>(outEnd - out) / 2;
        const size_t inWindow = (input.filled - input.next) / 2;
        const size_t wanted = static_cast<size_t>(
            std::min<int64_t>(rows - row, static_cast<int64_t>(std::min(room, inWindow))));
        const size_t empty = countRowEnds(input.window.data() + input.next, wanted);
        std::memset(out, 0, 2 * empty);  // end-of-line pairs
        staged.used += 2 * empty;
        staged.ends.back() = static_cast<uint32_t>(staged.used);
        input.next += 2 * empty;
        row += static_cast<int64_t>(empty);
    }
    return StageResult::kStaged;
}
