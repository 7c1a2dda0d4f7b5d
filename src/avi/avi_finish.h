// Completes the AVI file after the last movie chunk: index, tag chunk and every
// size and count the header left open.
#pragma once

#include <cstdio>

#include "avi/movie_chunks.h"
#include "io/stream_buffers.h"

// Builds the "idx1" index from the scratch records (read one at a time, each
// filling its chunk's open size field), appends the "JUNK" tag chunk and fills
// the header. Returns 1, with gState.warningText set when the file is larger
// than some players accept, or 0 with gState.errorText set: a record count that
// differs from the chunks written, an output that would outgrow an AVI file, or
// a failed write or seek on the output. A size the chunk writer filled in
// already (chunks.chunkSizesFilled) is not filled again.
int finishAvi(OutputWriter& output, const ChunkWriterState& chunks, std::FILE* scratch);
