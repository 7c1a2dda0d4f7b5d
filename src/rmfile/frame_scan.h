// The conversion's main loop over the frames of a raster metafile.
#pragma once

#include <cstdio>

#include "avi/movie_chunks.h"
#include "stream_buffers.h"

// Writes the AVI header from the first frame, then every frame's chunks (with
// palette-change chunks when multiPalette is on). Returns 1 when every frame up
// to the end of the input converted and at least one did; otherwise 0 with the
// reason in gState.errorText (empty after a colour index over 255 in a frame
// after the first). Progress dots and warnings go to standard error.
int scanFrames(InputReader& input, OutputWriter& output, ChunkWriterState& chunks,
               std::FILE* scratch, int dotInterval, bool multiPalette, double framesPerSecond);
