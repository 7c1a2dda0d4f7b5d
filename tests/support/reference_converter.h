// A plain converter for the tests: the whole metafile in memory, read word by
// word, each frame's rows found by their end-of-row words and written bottom
// row first, one pair per run of at most 255 pixels. No window, kernel,
// staging or bands: it is what every fast path of the program is compared
// with, so it is written to be obviously right, not quick.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "conversion_state.h"
#include "gif_decoder.h"

namespace ref {

using Bytes = std::vector<uint8_t>;

struct Options {
    bool multiPalette = false;   // -m
    bool sharedPalette = false;  // -p
};

// One chunk of the movie list, as it stands in the output.
struct Chunk {
    std::string code;  // "00dc" or "00pc"
    Bytes data;        // without the 8-byte chunk header
    bool operator==(const Chunk&) const = default;
};

// Why the input is refused, when it is.
enum class Refusal {
    kNone,           // converted
    kInternal,       // "Internal error: (N)", N in internalError
    kColourOver255,  // the colour-index line on standard error, no internal number
    kFrameSize,      // a width, height or size-mismatch message
};

struct Result {
    Refusal refusal = Refusal::kNone;
    int internalError = 0;    // with kInternal
    int32_t failedFrame = 0;  // the frame refused, counted from 1 (0: none)
    int32_t frames = 0;       // frames converted (before the refusal, if any)
    int32_t paletteChanges = 0;
    int32_t width = 0;  // of the first frame
    int32_t height = 0;
    Palette headerPalette{};    // the stream format's table: the first frame's, or -p's
    std::vector<Chunk> chunks;  // every "00dc" and "00pc" chunk, in order
    bool sharedExact = false;   // -p: every pixel keeps its colour
    int32_t sharedColours = 0;  // -p: distinct colours the frames use
};

// Converts file with options. With -p, when the frames use more than 256
// colours, the table is the program's own choice: pass it as nearestTable,
// with the number of its entries that the nearest-colour search looks at,
// and every pixel is mapped to the nearest of those (the lowest index of
// several as near). Without a nearestTable such an input converts as
// without -p is not possible: refusal stays kNone and chunks stay empty,
// sharedExact false, so that a caller asks again with the program's table.
Result convert(const Bytes& file, const Options& options, const Palette* nearestTable = nullptr,
               int nearestEntries = kPaletteEntries);

// A converted frame as an animated GIF must show it: its colour indexes, rows
// top first, each of the frame's width (a row of fewer pixels filled with
// index 0, pixels past the width dropped), and the table they are shown
// through.
struct GifFrame {
    Bytes indexes;
    Palette table{};
};

// The frames of result as a GIF shows them, from its chunks: each frame's
// pixels from its RLE8 pairs, in the colours in effect (the header's table,
// or after a palette-change chunk that chunk's).
std::vector<GifFrame> gifFrames(const Result& result);

// Where gif, as the plain decoder reads it, differs from result's frames as
// gifFrames gives them: its size, looping forever, each frame's pixels, and a
// local table exactly on the frames whose colours are not the header's
// (localTables of them, as the program counted). "" when nowhere.
std::string gifDifference(const DecodedGif& gif, const Result& result, int32_t localTables);

// The movie data as one text for a failing test: chunk by chunk, in hex.
std::string describe(const std::vector<Chunk>& chunks);

}  // namespace ref
