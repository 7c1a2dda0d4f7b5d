// Turns a frame's run-coded rows into BI_RLE8 encoded-mode pairs. takeWord is
// the one place that reads a word by its kind and splits a run into pairs of at
// most 255 pixels; the kernels take blocks of the common words and leave every
// other word to it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "conversion_state.h"
#include "io/stream_buffers.h"
#include "rle8/rle8_kernels.h"

// RLE8 escapes: a zero count byte followed by one of these.
inline constexpr uint8_t kRleEscape = 0x00;
inline constexpr uint8_t kRleEndOfLine = 0x00;
inline constexpr uint8_t kRleEndOfBitmap = 0x01;
inline constexpr int kRleMaxRun = 255;

using ColourIndexes = std::array<uint8_t, kPaletteEntries>;

constexpr ColourIndexes identityIndexes() {
    ColourIndexes indexes{};
    for (size_t i = 0; i < indexes.size(); ++i)
        indexes[i] = static_cast<uint8_t>(i);
    return indexes;
}

// The index each of a frame's colour indexes is written as.
struct ColourMap {
    ColourIndexes index = identityIndexes();
    bool identity = true;  // nothing to map
};

// Writes the colour of every pair from..to through the map; escapes keep their
// codes. Eight pairs at a time (four without SSE2) while none of them is an
// escape (a count of 0), which comes once a row; such a block is taken pair by pair.
void mapColours(uint8_t* from, const uint8_t* to, const ColourMap& colours);

// From now on colour index i is written as indexes[i].
void setColourMap(ColourMap& map, const ColourIndexes& indexes);

// How a frame's words are written: the kernel for blocks of them, and the
// frame's colour map.
struct Rle8Coding {
    BlockKernel takeBlocks = bestKernel().takeBlocks;
    ColourMap colours;
};

// The most bytes one repeat count can become: 4095 pixels in pairs of up to 255.
inline constexpr ptrdiff_t kLongestRunBytes = 2 * ((0x0FFF + 255 - 1) / 255);

// What one word did, by the rules for a row's words.
enum class WordStep {
    kTaken,          // pixels written
    kNeedsColour,    // a repeat count: the colour word comes next
    kRowEnd,         // the end-of-line pair written
    kZeroRun,        // a repeat count of zero with its colour word: nothing written
    kNoColourWord,   // a repeat count followed by a word of another kind
    kNotInRow,       // a word of a kind not allowed in a row
    kColourOver255,  // a colour index above 255
};

// No repeat count is waiting for its colour word.
inline constexpr int kNoRun = -1;

// Takes one word of a row, writing at most kLongestRunBytes at out (moved on)
// with each colour through the map. pendingRun holds the run of a repeat count
// until its colour word comes.
WordStep takeWord(uint16_t word, int& pendingRun, uint8_t*& out, const ColourMap& colours);

// takeWord on the next word of the input, which may cross the window's edge;
// the end of the input reads as a word of no row kind.
WordStep readAndTakeWord(InputReader& input, int& pendingRun, uint8_t*& out,
                         const ColourMap& colours);

enum class TranscodeStop { kRowsClosed, kCareful };

// Converts words from span.in, noting the rows it closes, until rows.rowsLeft
// rows are closed (kRowsClosed), or (kCareful, span before the word) at a word
// that takeWord does not take whole, such as a zero count, at a row end with
// no piece left for it, and where fewer than two words or kLongestRunBytes of
// room are left. Starts at a word that is no repeat count's colour word.
TranscodeStop transcodeSpan(KernelSpan& span, RowEnds& rows, const Rle8Coding& coding);

// Transcodes the row starting at the input's position up to its end-of-row word,
// which becomes the end-of-line pair. Returns the number of bytes written and
// sets ok to 1, or to 0 when the row is malformed (gState.errorText set, or, for
// a colour index over 255, a line on standard error). After a zero repeat count
// the rest of the row is still transcoded but gets no end-of-line pair.
int64_t transcodeRow(InputReader& input, OutputWriter& output, const Rle8Coding& coding, int& ok);
