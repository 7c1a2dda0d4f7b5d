// A frame's rows as the GIF writer takes them: pixels of colour indexes, top row
// first, each exactly the frame's width. They come from the frame's BI_RLE8
// encoded-mode pairs, as the transcoder writes them, through a row source that
// can be walked more than once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Bytes past a row's width that a row's buffer holds, so that runs can be
// written a whole word at a time.
inline constexpr size_t kGifRowSlack = 16;

// Where the writer gets row y (0 is the top row), expanded into width pixels
// (in a buffer of width + kGifRowSlack bytes, whose slack it may overwrite).
// readRow returns 1, or 0 with gState.errorText set. The writer asks for rows in
// increasing order within one walk, and walks a frame at most twice (the second
// walk may start below row 0).
struct GifRowSource {
    int (*readRow)(void* context, int32_t y, uint8_t* pixels) = nullptr;
    void* context = nullptr;
};

// Expands one row's pairs (count, colour index) from pairs[0..length) into
// width pixels, up to the row's first escape (a pair of count 0: 0,0 ends the
// row, 0,1 the bitmap) or the end of length. Pixels past the width are dropped;
// a row that covers fewer is filled with colour index 0. Writes anything in
// the kGifRowSlack bytes after them. Returns the bytes taken, the escape
// included.
size_t expandPairRow(const uint8_t* pairs, size_t length, int32_t width, uint8_t* pixels);

// A frame's pairs in memory, rows top first, with where each row starts.
struct PairRows {
    const uint8_t* pairs = nullptr;  // the caller's; kept for as long as rows are read
    size_t length = 0;
    int32_t width = 0;
    std::vector<size_t> starts;  // of rows 0..height-1; rows past the pairs' end start there
};

// Notes where each of height rows starts in pairs[0..length): a row starts
// after the end-of-line escape of the row before. Rows after an end-of-bitmap
// escape (or any other escape, which the transcoder never writes), or past the
// end, are empty. Returns 1, or 0 with gState.errorText set
// when the table cannot be allocated.
int indexPairRows(PairRows& rows, const uint8_t* pairs, size_t length, int32_t width,
                  int32_t height);

// A row source over rows (their readRow never fails for y below the height).
GifRowSource pairRowSource(PairRows& rows);
