// A frame's rows for the GIF writer, read from the input: transcoded by the one
// rule for a row's words into the chunk writer's staging, as many rows at once
// as fit, and expanded into pixels row by row. The writer walks a frame at most
// twice; a walk that goes back starts again at the frame's first row.
#pragma once

#include <cstdint>
#include <vector>

#include "avi/movie_chunks.h"
#include "gif/gif_rows.h"
#include "io/stream_buffers.h"

struct InputRows {
    InputReader* input = nullptr;
    ChunkWriterState* chunks = nullptr;  // its staging and its coding (kernel, colour map)
    int64_t firstRowAt = 0;              // input position of the frame's first row
    int32_t width = 0;
    int32_t height = 0;
    int64_t band = 0;       // rows staged at once; halved while they do not fit
    int32_t bandFirst = 0;  // the rows staged now: bandFirst onwards
    int32_t bandRows = 0;
    bool rowByItself = false;  // the one row staged is too large: held in pixels
    PairRows pairs;
    std::vector<uint8_t> pixels;  // that row
    int64_t rowsEnd = -1;         // input position after the last row, once read
    bool inputFault = false;      // a row does not convert: the AVI path reports why
};

// Readies rows for the frame whose first row is at the input's position.
// band, kept from frame to frame since frames share their size, starts at the
// frame's height.
void startInputRows(InputRows& rows, InputReader& input, ChunkWriterState& chunks, int32_t width,
                    int32_t height, int64_t band);

// The row source the GIF writer reads; a row that does not convert makes it
// fail with inputFault set and no message.
GifRowSource inputRowSource(InputRows& rows);
