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
        staged.ends[staged.pieces] = static_cast<uint32_t>(staged.used);
        return true;
    }
    if (staged.pieces == staged.maxPieces) return false;
    staged.ends[++staged.pieces] = static_cast<uint32_t>(staged.used);
    staged.lastTakesMore = empty;
    return true;
}

bool isEndOfRow(const uint8_t* word) {
    return wordKind(static_cast<uint16_t>(word[1] << 8)) == kEndOfRow;
}

// Where the common rows' loop stands: in the input and the staging, where the
// current row began, and how many pieces it has closed and may close.
struct CommonRows {
    const uint8_t* in;
    uint8_t* out;
    uint8_t* rowOut;
    size_t pieces;
    size_t piecesWanted;
};

// A step reads at most this many bytes and writes at most kStepOut: up to
// sixteen single pixels, or eight pairs, or fewer and a row's end.
constexpr auto kStepIn = static_cast<ptrdiff_t>(2 * wordvec::kBytes);
constexpr auto kStepOut = static_cast<ptrdiff_t>(2 * wordvec::kBytes + 2);

// Takes up to steps steps; false when a word calls for the careful path (the
// loop then stands before it) or the pieces wanted are closed.
bool stageSteps(CommonRows& at, uint32_t* ends, uint8_t* base, ptrdiff_t steps) {
    const uint8_t* in = at.in;
    uint8_t* out = at.out;
    bool goOn = true;
    for (; steps > 0; --steps) {
        // Single pixels first: a step of them moves on by a fixed amount, so
        // that the next step need not wait for the words of this one.
        if (in[1] == wordvec::kSingleHigh) {
            // Sixteen at a time while they last, a step each, then up to eight.
            for (; steps > 1 && wordvec::sixteenSinglesToRle(in, out); --steps) {
                in += 2 * wordvec::kBytes;
                out += 2 * wordvec::kBytes;
            }
            const size_t singles = wordvec::singlesToRle(in, out);
            in += 2 * singles;
            out += 2 * singles;
            continue;
        }
        const uint32_t misfits = wordvec::pairsToRleMisfits(in, out);
        if (misfits == 0) {
            in += 4 * wordvec::kWords;
            out += 2 * wordvec::kWords;
            continue;
        }
        const auto pairs = static_cast<size_t>(std::countr_zero(misfits)) / 4;
        in += 4 * pairs;
        out += 2 * pairs;
        if (isEndOfRow(in)) {
            if (out == at.rowOut) {  // an empty row, which may join the piece before it
                goOn = false;
                break;
            }
            out[0] = kRleEscape;
            out[1] = kRleEndOfLine;
            out += 2;
            in += 2;
            ends[++at.pieces] = static_cast<uint32_t>(out - base);
            at.rowOut = out;
            if (at.pieces == at.piecesWanted) {
                goOn = false;
                break;
            }
            continue;
        }
        // Pairs, then whatever the next step makes of the word after them.
        if (pairs == 0) {
            goOn = false;
            break;
        }
    }
    at.in = in;
    at.out = out;
    return goOn;
}

// Whole rows of short repeat runs and single pixels, the common case, in one
// loop that notes each row's end as it passes, from the start of a row on.
// Leaves the rest to the careful path: it stops before an empty row and
// before any other word, mid-row, and where the input, the room or the pieces
// run short. Returns the rows it closed.
int64_t stageCommonRows(InputReader& input, StagedPieces& staged, uint8_t*& outAt,
                        int64_t rowsWanted) {
    const uint8_t* const inEnd = input.window.data() + input.filled;
    uint8_t* const base = staged.bytes.data();
    uint8_t* const outEnd = base + staged.capacity;
    uint32_t* const ends = staged.ends.get();
    const size_t firstPiece = staged.pieces;
    CommonRows at{input.window.data() + input.next, outAt, outAt, firstPiece,
                  firstPiece + static_cast<size_t>(std::min<int64_t>(
                                   rowsWanted, static_cast<int64_t>(staged.maxPieces - firstPiece)))};
    while (at.pieces < at.piecesWanted) {
        const ptrdiff_t steps = std::min((inEnd - at.in) / kStepIn, (outEnd - at.out) / kStepOut);
        if (steps <= 0 || !stageSteps(at, ends, base, steps)) break;
    }
    input.next = static_cast<size_t>(at.in - input.window.data());
    outAt = at.out;
    if (at.pieces > firstPiece) {
        staged.pieces = at.pieces;
        staged.used = static_cast<size_t>(at.rowOut - base);
        staged.lastTakesMore = false;
    }
    return static_cast<int64_t>(at.pieces - firstPiece);
}

}  // namespace

StageResult stageRows(InputReader& input, StagedPieces& staged, int64_t rows) {
    staged.used = 0;
    staged.pieces = 0;
    staged.lastTakesMore = false;
    uint8_t* const base = staged.bytes.data();
    uint8_t* const outEnd = base + staged.capacity;
    uint8_t* out = base;
    for (int64_t row = 0; row < rows;) {
        row += stageCommonRows(input, staged, out, rows - row);
        if (row == rows) break;
        // The rest of this row, whatever its words, up to its end.
        const size_t rowStart = staged.used;
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
        out += 2 * empty;
        staged.used += 2 * empty;
        staged.ends[staged.pieces] = static_cast<uint32_t>(staged.used);
        input.next += 2 * empty;
        row += static_cast<int64_t>(empty);
    }
    return StageResult::kStaged;
}
