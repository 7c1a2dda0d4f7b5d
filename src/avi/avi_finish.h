// Completes the AVI file after the last movie chunk: index, tag chunk and every
// size and count the header left open.
#pragma once

#include <cstdio>

#include "stream_buffers.h"

// Builds the "idx1" index from the scratch records (read one at a time, each
// filling its chunk's open size field), appends the "JUNK" tag chunk and fills
// the header. Returns 1, with gState.warningText set when the file is larger
// than some players accept, or 0 with gState.errorText set: a record count that
// differs from the chunks written, an output that would outgrow an AVI file, or
// a failed write or seek on the output.
int finishAvi(OutputWriter& output, std::FILE* scratch);
