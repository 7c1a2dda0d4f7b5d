// Kernels: the transcoder's commonest words, a block at a time. A kernel takes
// blocks of single pixels, repeat counts of 1..255 with their colour words of
// 0..255, and ends of rows, in any mix and without a branch per word; at the
// first word of anything else it stops and leaves that word to the careful rule
// (takeWord). Every build holds the plain kernel; x86 builds also hold the
// vector kernels the compiler can make, and the best the processor has is used.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

// The words a kernel reads and the room it writes into; row ends are noted as
// offsets from outBase.
struct KernelSpan {
    const uint8_t* in;
    const uint8_t* inEnd;
    uint8_t* out;
    uint8_t* outEnd;
    uint8_t* outBase;
};

// The rows a transcode closes: each one's end, as an offset from the start of
// its output, is the end of a piece; ends[pieces] is where the row at hand
// began. The transcode stops once rowsLeft rows are closed.
struct RowEnds {
    uint32_t* ends;
    size_t pieces;
    size_t maxPieces;
    int64_t rowsLeft;
};

// Notes a row ending at offset end; false, nothing noted, when no piece is left.
inline bool noteRowEnd(RowEnds& rows, uint32_t end) {
    if (rows.pieces == rows.maxPieces) return false;
    rows.ends[++rows.pieces] = end;
    --rows.rowsLeft;
    return true;
}

// The last piece is an empty row, whose end-of-line pair is all it holds.
inline bool lastRowEmpty(const RowEnds& rows) {
    return rows.pieces > 0 && rows.ends[rows.pieces] - rows.ends[rows.pieces - 1] == 2;
}

// The last piece is an empty row and nothing of the next row is written yet
// (outAt is the output's offset): only then may the row ends that follow join
// that piece.
inline bool justAfterEmptyRow(const RowEnds& rows, size_t outAt) {
    return lastRowEmpty(rows) && rows.ends[rows.pieces] == outAt;
}

// Takes words from span.in to span.out and notes the rows it closes. Stops
// after rows.rowsLeft rows, at a row end with no piece left, after an empty
// row followed by another end of row, before a word it does not take, and
// where fewer than a block's words or a block's room (at most 64 bytes) are
// left; span then stands at the next word, never between a repeat count and
// its colour word.
using BlockKernel = void (*)(KernelSpan& span, RowEnds& rows);

struct Rle8Kernel {
    const char* name;
    BlockKernel takeBlocks;
};

// The kernel for this processor, chosen when first asked for.
const Rle8Kernel& bestKernel();

// Every kernel of this build that this processor can run, the plain one first:
// for tests that compare them on the same words.
const std::vector<Rle8Kernel>& kernelsForTesting();

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(KESTRUP_PORTABLE)
#define KESTRUP_X86_KERNELS 1
extern const Rle8Kernel kSsse3Kernel;  // eight words a block
extern const Rle8Kernel kAvx2Kernel;   // thirty-two words a step
#endif

namespace kernel {

// High bytes of the words a kernel takes: a repeat count of 1..255 (whose low
// byte is not 0), a single pixel and a colour word of colours 0..255; the
// high four bits of an end of row.
inline constexpr uint8_t kCountHigh = 0x00;
inline constexpr uint8_t kSingleHigh = 0x10;
inline constexpr uint8_t kColourHigh = 0x30;
inline constexpr uint8_t kRowEndHigh = 0x60;

// The low count bits, count up to 32.
inline constexpr uint32_t lowBits(unsigned count) {
    return static_cast<uint32_t>((uint64_t{1} << count) - 1);
}

// Set bits of a block's mask, without the library call that a processor
// lacking a bit-count instruction would otherwise make.
inline constexpr unsigned countBits(uint32_t mask) {
    mask = mask - ((mask >> 1) & 0x55555555u);
    mask = (mask & 0x33333333u) + ((mask >> 2) & 0x33333333u);
    return static_cast<unsigned>((((mask + (mask >> 4)) & 0x0F0F0F0Fu) * 0x01010101u) >> 24);
}

// Output bytes of a block's first words, those in alone (bit i for word i)
// giving two bytes and the others one.
inline constexpr unsigned bytesOf(uint32_t alone, unsigned words) {
    return words + countBits(alone & lowBits(words));
}

// The ends of row among a block's words (bit i for word i): writes each one's
// end-of-line pair at its place among the block's bytes, which start at
// blockOut, and notes the row. Returns how many of the block's words are
// taken: all, or up to and including the last row wanted or an empty row
// followed by another (the transcoder takes a run of them at once), or up to
// the row end for which no piece is left.
inline unsigned takeRowEnds(uint32_t rowEnds, uint32_t alone, unsigned blockWords,
                            uint8_t* blockOut, const uint8_t* outBase, RowEnds& rows) {
    while (rowEnds != 0) {
        const auto at = static_cast<unsigned>(std::countr_zero(rowEnds));
        uint8_t* const pair = blockOut + bytesOf(alone, at);
        pair[0] = 0;
        pair[1] = 0;
        if (!noteRowEnd(rows, static_cast<uint32_t>(pair + 2 - outBase))) return at;
        rowEnds &= rowEnds - 1;
        const bool rowEndNext = (uint64_t{rowEnds} >> (at + 1) & 1) != 0;
        if (rows.rowsLeft == 0 || (rowEndNext && lastRowEmpty(rows))) return at + 1;
    }
    return blockWords;
}

// A block whose first fitWords words fit, their bytes written: takes them and
// notes their rows, but no repeat count taken last, which waits for its
// colour word. The kernel then stops.
inline void takeFitWords(const uint8_t*& in, uint8_t*& out, unsigned fitWords, uint32_t alone,
                         uint32_t rowEnds, const uint8_t* outBase, RowEnds& rows) {
    const unsigned taken =
        takeRowEnds(rowEnds & lowBits(fitWords), alone, fitWords, out, outBase, rows);
    if (taken == fitWords && fitWords > 0 && in[2 * fitWords - 1] == kCountHigh) --fitWords;
    fitWords = std::min(fitWords, taken);
    in += 2 * fitWords;
    out += bytesOf(alone, fitWords);
}

// A repeat count of 256 or more pixels, with its colour word, at in: handed to
// the rule for a row's words (takeWord) without leaving the kernel, since such
// runs are common in pictures with large plain areas. Returns true with in and
// out moved on; false, nothing taken, for any other word, a malformed pair,
// after a repeat count taken last (in the span from start), whose colour word
// it would be, or where the input or the room (kLongestRunBytes) ends.
bool takeLongRun(const uint8_t*& in, const uint8_t* start, const uint8_t* inEnd, uint8_t*& out,
                 const uint8_t* outEnd);

// Where a kernel stops: a repeat count taken last waits for its colour word in
// the next block, so it is handed back with the rest.
inline void leaveNoCountWaiting(KernelSpan& span, const uint8_t* start, const uint8_t* in,
                                uint8_t* out) {
    if (in != start && in[-1] == kCountHigh) {
        in -= 2;
        out -= 1;
    }
    span.in = in;
    span.out = out;
}

}  // namespace kernel
