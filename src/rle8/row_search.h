// Finding a frame's rows by their end-of-row words, without transcoding them.
#pragma once

#include <cstdint>
#include <vector>

#include "io/stream_buffers.h"

// Reads words up to and including the count-th one of the given kind. Returns
// how many were passed (fewer when the input ended first); lastKind is then the
// kind of the last whole word read.
int64_t skipWordsOfKind(InputReader& input, uint16_t kind, int64_t count, uint16_t& lastKind);

// Where every stride-th row of a frame starts, in a table of bounded size: the
// stride doubles whenever the table would grow past its bound.
struct RowMarks {
    std::vector<int64_t> starts;  // of rows 0, stride, 2 * stride, ...
    int64_t stride = 1;
    int64_t frameEnd = 0;  // the byte after the end-of-image word
};

// Walks the frame's rows from its first row, at the input's position, to the
// byte after its end-of-image word. Returns 1, or 0 with gState.errorText set
// when the input ends first.
int findRowMarks(InputReader& input, int32_t height, size_t maxMarks, RowMarks& marks);
