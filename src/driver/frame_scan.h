// The conversion's main loop over the frames of a raster metafile.
#pragma once

#include <cstdio>

#include "avi/movie_chunks.h"
#include "io/stream_buffers.h"
#include "palette/shared_palette.h"

// Writes the AVI header from the first frame, then every frame's chunks (with
// palette-change chunks when multiPalette is on). With shared (the colours of a
// first pass, its table chosen) in use, the header holds its table and every
// frame is written through it, with no palette-change chunk. Returns 1 when
// every frame up to the end of the input converted and at least one did;
// otherwise 0 with the reason in gState.errorText (empty after a colour index
// over 255 in a frame after the first). Progress dots and warnings go to
// standard error; a shared table that is not exact leaves its warning in
// gState.warningText.
int scanFrames(InputReader& input, OutputWriter& output, ChunkWriterState& chunks,
               std::FILE* scratch, int dotInterval, bool multiPalette, double framesPerSecond,
               SharedPalette* shared = nullptr);
