// The first pass over a raster metafile for a shared colour table: the colours
// every frame's pixels use, counted without keeping any frame.
#pragma once

#include "avi/movie_chunks.h"
#include "io/stream_buffers.h"
#include "palette/shared_palette.h"

// Walks the frames from the input's start as the frame scan does and counts
// into shared the pixels of every colour each frame's rows reference, the rows
// transcoded into the staging of chunks (whose colour map must be the identity)
// as the conversion transcodes them, through the same rule for every word. A
// frame the conversion would refuse ends the pass where it stands: the pass
// reports nothing and leaves gState as it was; the conversion then finds the
// fault. The input's position is undefined afterwards.
void countFrameColours(InputReader& input, ChunkWriterState& chunks, SharedPalette& shared);
