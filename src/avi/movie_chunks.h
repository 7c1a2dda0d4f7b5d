// Writes the movie list's chunks: RLE8 frames and palette changes, each with its
// record in the scratch index file.
#pragma once

#include <cstdio>

#include "conversion_state.h"
#include "stream_buffers.h"

// Writes a "00pc" chunk holding palette. Returns 1, or 0 with gState.errorText
// set when the scratch stream failed or the output would outgrow an AVI file.
int writePaletteChunk(const Palette& palette, OutputWriter& output, std::FILE* scratch);

// Transcodes the frame whose begin-image word was just read into a "00dc" chunk,
// rows bottom first. Returns 1 with the input just after the end-of-image word,
// or 0 with gState.errorText set (empty after a colour index over 255, which is
// reported on standard error).
int writeFrameChunk(InputReader& input, OutputWriter& output, std::FILE* scratch);

// True, with gState.errorText set, when a file of fileSize bytes, or the output
// written so far, is larger than the largest size an AVI file can have.
bool outgrowsLimit(const OutputWriter& output, int64_t fileSize);
