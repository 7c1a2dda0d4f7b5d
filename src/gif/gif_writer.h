// Writes an animated GIF89a frame by frame: the screen with the global colour
// table and the looping extension first, then each frame with its delay and,
// when its colours are not the global table's, a local colour table. A frame
// after the first is written as the rectangle that changed since the frame
// shown before, over which it is drawn, with the pixels that did not change
// written as a transparent index where that makes fewer runs.
#pragma once

#include <cstdint>
#include <vector>

#include "conversion_state.h"
#include "gif/gif_lzw.h"
#include "gif/gif_rows.h"
#include "io/stream_buffers.h"

// Frames of up to this many pixels are kept for the changed rectangles (16 MiB
// at most, beside the conversion's own buffers): every common video size up to
// 4096 x 4096. Larger frames are written whole and nothing is kept.
inline constexpr int64_t kGifMaxKeptPixels = int64_t{1} << 24;

// Where the changes of a frame lie, found by comparing it with the frame shown.
struct GifRectangle {
    int32_t left = 0;
    int32_t top = 0;
    int32_t right = -1;  // inclusive; below left when nothing changed
    int32_t bottom = -1;
};

struct GifWriter {
    int32_t width = 0;
    int32_t height = 0;
    double framesPerSecond = 0.0;
    int64_t frames = 0;  // written so far
    Palette globalTable{};
    Palette shownTable{};        // the colours of the frame shown
    std::vector<uint8_t> shown;  // the frame shown, when frames are kept; else empty
    std::vector<uint8_t> row;    // one row of the frame at hand
    std::vector<uint8_t> drawn;  // one row of the rectangle as written
    LzwEncoder lzw;
};

// True when a GIF can hold frames of width x height (each 1 to 65535).
bool gifSizeFits(int32_t width, int32_t height);

// Sets the message for frames of width x height that a GIF cannot hold; returns 0.
int refuseGifSize(int32_t width, int32_t height);

// Writes the header, the logical screen with globalTable and the extension
// that loops the animation forever, and readies writer for frames of width x
// height at the given rate. The caller checked gifSizeFits and
// gifRateFitsDelays. Returns 1, or 0 with gState.errorText set when memory or
// the output failed.
int startGif(GifWriter& writer, OutputWriter& output, int32_t width, int32_t height,
             const Palette& globalTable, double framesPerSecond);

// Writes the next frame, its rows read from rows (once or twice over), in the
// colours of table, or of the global table when table is null. A local colour
// table is written only when table differs from the global table. Returns 1,
// or 0 with gState.errorText set (by a row that could not be read, or a write
// error); after a 0 the output is incomplete.
int writeGifFrame(GifWriter& writer, OutputWriter& output, const GifRowSource& rows,
                  const Palette* table);

// Writes the trailer and flushes the output. Returns 1, or 0 with
// gState.errorText set after a write error.
int finishGif(OutputWriter& output);
