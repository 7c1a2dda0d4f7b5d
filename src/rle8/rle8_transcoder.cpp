#include "rle8/rle8_transcoder.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "io/console_output.h"
#include "io/little_endian.h"
#include "rle8/word_vectors.h"
#include "rmfile/format_errors.h"
#include "rmfile/rm_format.h"

static_assert(kLongestRunBytes == 2 * ((kWordValueMask + kRleMaxRun - 1) / kRleMaxRun));

void setColourMap(ColourMap& map, const ColourIndexes& indexes) {
    map.index = indexes;
    map.identity = indexes == identityIndexes();
}

namespace {

// The rule itself, inlined where the kernels hand it a long run.
[[gnu::always_inline]] inline WordStep applyWordRule(uint16_t word, int& pendingRun, uint8_t*& out,
                                                     const ColourMap& colours) {
    const uint16_t kind = wordKind(word);
    int run = 1;
    if (pendingRun != kNoRun) {
        run = pendingRun;
        pendingRun = kNoRun;
        if (kind != kColour) return WordStep::kNoColourWord;
    } else if (kind == kRepeatCount) {
        pendingRun = wordValue(word);
        return WordStep::kNeedsColour;
    } else if (kind == kEndOfRow) {
        out[0] = kRleEscape;
        out[1] = kRleEndOfLine;
        out += 2;
        return WordStep::kRowEnd;
    } else if (kind != kSinglePixel) {
        return WordStep::kNotInRow;
    }
    if (wordValue(word) > kMaxColourIndex) return WordStep::kColourOver255;
    if (run == 0) return WordStep::kZeroRun;
    const uint8_t colour = colours.index[wordValue(word)];
    for (; run > 0; run -= kRleMaxRun) {
        out[0] = static_cast<uint8_t>(std::min(run, kRleMaxRun));
        out[1] = colour;
        out += 2;
    }
    return WordStep::kTaken;
}

}  // namespace

WordStep takeWord(uint16_t word, int& pendingRun, uint8_t*& out, const ColourMap& colours) {
    return applyWordRule(word, pendingRun, out, colours);
}

WordStep readAndTakeWord(InputReader& input, int& pendingRun, uint8_t*& out,
                         const ColourMap& colours) {
    uint16_t word = 0;
    if (!readU16(input, word)) word = kWordKindMask;
    return takeWord(word, pendingRun, out, colours);
}

namespace {

uint16_t wordAt(const uint8_t* in) {
    return getLe16(in);
}

}  // namespace

bool kernel::takeLongRun(const uint8_t*& in, const uint8_t* start, const uint8_t* inEnd,
                         uint8_t*& out, const uint8_t* outEnd) {
    if (inEnd - in < 4 || outEnd - out < kLongestRunBytes) return false;
    if (in != start && in[-1] == kCountHigh) return false;  // a count waits for its colour word
    const uint16_t count = wordAt(in);
    if (wordKind(count) != kRepeatCount || wordValue(count) <= kRleMaxRun) return false;
    // The kernel's caller maps the colours of everything the kernel wrote.
    static constexpr ColourMap kUnmapped{};
    int pendingRun = kNoRun;
    uint8_t* at = out;
    if (applyWordRule(count, pendingRun, at, kUnmapped) != WordStep::kNeedsColour ||
        applyWordRule(wordAt(in + 2), pendingRun, at, kUnmapped) != WordStep::kTaken) {
        return false;
    }
    in += 4;
    out = at;
    return true;
}

namespace {

void mapPairsOneByOne(uint8_t* from, const uint8_t* to, const uint8_t* map) {
    for (; from < to; from += 2) {
        if (from[0] != kRleEscape) from[1] = map[from[1]];
    }
}

#if defined(KESTRUP_WORD_VECTORS)

// Eight pairs at a time, their escapes (a count of 0) found by one vector
// test; each colour then through the map by itself, a load and a store.
uint8_t* mapPairBlocks(uint8_t* from, const uint8_t* to, const uint8_t* map) {
    const __m128i countBytes = _mm_set1_epi16(0x00FF);
    for (; to - from >= 16; from += 16) {
        const __m128i pairs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        const __m128i noCount =
            _mm_cmpeq_epi16(_mm_and_si128(pairs, countBytes), _mm_setzero_si128());
        if (_mm_movemask_epi8(noCount) != 0) {
            mapPairsOneByOne(from, from + 16, map);
            continue;
        }
        from[1] = map[from[1]];
        from[3] = map[from[3]];
        from[5] = map[from[5]];
        from[7] = map[from[7]];
        from[9] = map[from[9]];
        from[11] = map[from[11]];
        from[13] = map[from[13]];
        from[15] = map[from[15]];
    }
    return from;
}

#else

// Four pairs at a time, their escapes found in one 64-bit value.
uint8_t* mapPairBlocks(uint8_t* from, const uint8_t* to, const uint8_t* map) {
    constexpr uint64_t kCountBytes = 0x00FF00FF00FF00FF;
    constexpr uint64_t kCountOnes = 0x0001000100010001;
    constexpr uint64_t kCountTops = 0x0080008000800080;
    for (; to - from >= 8; from += 8) {
        uint64_t pairs;
        std::memcpy(&pairs, from, 8);
        const uint64_t counts = pairs & kCountBytes;
        if (((counts - kCountOnes) & ~counts & kCountTops) != 0) {  // a count of 0
            mapPairsOneByOne(from, from + 8, map);
            continue;
        }
        const uint64_t mapped = counts | uint64_t{map[pairs >> 8 & 0xFF]} << 8 |
                                uint64_t{map[pairs >> 24 & 0xFF]} << 24 |
                                uint64_t{map[pairs >> 40 & 0xFF]} << 40 |
                                uint64_t{map[pairs >> 56]} << 56;
        std::memcpy(from, &mapped, 8);
    }
    return from;
}

#endif

}  // namespace

void mapColours(uint8_t* from, const uint8_t* to, const ColourMap& colours) {
    const uint8_t* const map = colours.index.data();
    mapPairsOneByOne(mapPairBlocks(from, to, map), to, map);
}

namespace {

bool isRowEnd(const uint8_t* word) {
    return wordKind(wordAt(word)) == kEndOfRow;
}

// Empty rows often come many together: after an empty row, the ones that
// follow in the span join its piece at once, since such pieces read the same
// in either order.
void takeEmptyRows(KernelSpan& span, RowEnds& rows) {
    const auto most = static_cast<size_t>(std::min<int64_t>(
        rows.rowsLeft, std::min(span.inEnd - span.in, span.outEnd - span.out) / 2));
    size_t rowEnds = 0;
    while (rowEnds + wordvec::kWords <= most) {
        // The next load's address must not wait for this one's words: a full
        // block moves on by a constant.
        const unsigned mask = wordvec::kindMask(span.in + 2 * rowEnds, kEndOfRow);
        if (mask != (1u << wordvec::kWords) - 1) {
            rowEnds += static_cast<size_t>(std::countr_one(mask));
            break;
        }
        rowEnds += wordvec::kWords;
    }
    if (rowEnds + wordvec::kWords > most) {
        while (rowEnds < most && isRowEnd(span.in + 2 * rowEnds))
            ++rowEnds;
    }
    std::memset(span.out, 0, 2 * rowEnds);  // end-of-line pairs
    span.in += 2 * rowEnds;
    span.out += 2 * rowEnds;
    rows.ends[rows.pieces] += static_cast<uint32_t>(2 * rowEnds);
    rows.rowsLeft -= static_cast<int64_t>(rowEnds);
}

}  // namespace

TranscodeStop transcodeSpan(KernelSpan& span, RowEnds& rows, const Rle8Coding& coding) {
    for (;;) {
        uint8_t* const kernelOut = span.out;
        coding.takeBlocks(span, rows);
        if (!coding.colours.identity) mapColours(kernelOut, span.out, coding.colours);
        if (rows.rowsLeft > 0 &&
            justAfterEmptyRow(rows, static_cast<size_t>(span.out - span.outBase))) {
            takeEmptyRows(span, rows);
        }
        if (rows.rowsLeft == 0) return TranscodeStop::kRowsClosed;
        if (span.inEnd - span.in < 4 || span.outEnd - span.out < kLongestRunBytes) {
            return TranscodeStop::kCareful;
        }
        // The kernel left this word (and a repeat count's colour word) to the rule.
        const uint8_t* const wordIn = span.in;
        uint8_t* const wordOut = span.out;
        int pendingRun = kNoRun;
        WordStep step = takeWord(wordAt(span.in), pendingRun, span.out, coding.colours);
        span.in += 2;
        if (step == WordStep::kNeedsColour) {
            step = takeWord(wordAt(span.in), pendingRun, span.out, coding.colours);
            span.in += 2;
        }
        if (step == WordStep::kTaken) continue;
        if (step == WordStep::kRowEnd &&
            noteRowEnd(rows, static_cast<uint32_t>(span.out - span.outBase))) {
            continue;
        }
        span.in = wordIn;
        span.out = wordOut;
        return TranscodeStop::kCareful;
    }
}

namespace {

// transcodeSpan from the input window into the output buffer, up to the row's
// end; true when the row was closed.
bool transcodeInWindow(InputReader& input, OutputWriter& output, const Rle8Coding& coding,
                       int64_t& count) {
    uint8_t* const start = output.buffer.data() + output.used;
    KernelSpan span{input.window.data() + input.next, input.window.data() + input.filled, start,
                    output.buffer.data() + output.buffer.size(), start};
    uint32_t ends[2] = {0, 0};
    RowEnds rows{ends, 0, 1, 1};
    const TranscodeStop stop = transcodeSpan(span, rows, coding);
    input.next = static_cast<size_t>(span.in - input.window.data());
    output.used = static_cast<size_t>(span.out - output.buffer.data());
    count += span.out - start;
    return stop == TranscodeStop::kRowsClosed;
}

}  // namespace

namespace {

// The message for a word that does not belong where it stands in a row, the
// word just read, or the end of the input.
void setRowError(const InputReader& input, int number) {
    if (readerAtEnd(input)) {
        setRowCutShortError(number, readerPosition(input));
    } else {
        setFormatError(number, readerPosition(input) - 2);
    }
}

}  // namespace

int64_t transcodeRow(InputReader& input, OutputWriter& output, const Rle8Coding& coding, int& ok) {
    ok = 1;
    int64_t count = 0;
    int pendingRun = kNoRun;
    for (;;) {
        // After a zero repeat count the row's end must not become an end of line.
        if (ok == 1 && pendingRun == kNoRun && transcodeInWindow(input, output, coding, count)) {
            return count;
        }
        uint8_t bytes[kLongestRunBytes];
        uint8_t* out = bytes;
        const WordStep step = readAndTakeWord(input, pendingRun, out, coding.colours);
        switch (step) {
            case WordStep::kNeedsColour:
                continue;
            case WordStep::kTaken:
                break;
            case WordStep::kRowEnd:
                if (ok == 0) return count;
                break;
            case WordStep::kZeroRun:  // the count, then its colour word, just read
                setFormatError(kErrorZeroRepeat, readerPosition(input) - 4);
                ok = 0;
                continue;
            case WordStep::kNoColourWord:
                setRowError(input, kErrorColourWordMissing);
                ok = 0;
                return count;
            case WordStep::kNotInRow:
                setRowError(input, kErrorWordNotInRow);
                ok = 0;
                return count;
            case WordStep::kColourOver255:
                printToStandardError(
                    "Cannot convert this file: color map number is greater than 255.\n");
                ok = 0;
                return count;
        }
        writeBytes(output, bytes, static_cast<size_t>(out - bytes));
        count += out - bytes;
        if (step == WordStep::kRowEnd) return count;
    }
}
