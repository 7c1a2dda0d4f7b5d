// Turns one run-coded metafile row into BI_RLE8 encoded-mode pairs.
#pragma once

#include <cstdint>

#include "stream_buffers.h"

// Transcodes the row starting at the input's position up to its end-of-row word,
// which becomes the end-of-line pair. Returns the number of bytes written and
// sets ok to 1, or to 0 when the row is malformed (gState.errorText set, or, for
// a colour index over 255, a line on standard error). After a zero repeat count
// the rest of the row is still transcoded but gets no end-of-line pair.
int64_t transcodeRow(InputReader& input, OutputWriter& output, int& ok);
