// Writes the movie list's chunks: RLE8 frames and palette changes, each with its
// record in the scratch index file.
#pragma once

#include <cstdio>

#include "conversion_state.h"
#include "io/stream_buffers.h"
#include "rle8/rle8_transcoder.h"
#include "rle8/row_staging.h"

// The movie-chunk writer's own state, kept from chunk to chunk of a conversion.
struct ChunkWriterState {
    StagedPieces staged;            // a frame's rows, gathered top row first
    bool stagingTooSmall = false;   // the last frame staged did not fit
    bool chunkSizesFilled = false;  // each chunk's size was filled in as it ended
    Rle8Coding coding;              // the kernel and the frame's colour map
};

// Readies state for an output buffer of bufferSize bytes: the staging is
// twice as large, so that a whole frame of single-pixel words fits.
void attachChunkWriter(ChunkWriterState& state, size_t bufferSize);

// The frames written from now on have their colour index i written as
// indexes[i]; identityIndexes() writes them as they are.
void setFrameColourMap(ChunkWriterState& state, const ColourIndexes& indexes);

// Writes a "00pc" chunk holding palette. Returns 1, or 0 with gState.errorText
// set when the scratch stream failed or the output would outgrow an AVI file.
int writePaletteChunk(const Palette& palette, OutputWriter& output, ChunkWriterState& state,
                      std::FILE* scratch);

// Transcodes the frame whose begin-image word was just read into a "00dc" chunk,
// rows bottom first. Returns 1 with the input just after the end-of-image word,
// or 0 with gState.errorText set (empty after a colour index over 255, which is
// reported on standard error).
int writeFrameChunk(InputReader& input, OutputWriter& output, ChunkWriterState& state,
                    std::FILE* scratch);

// Stages the rows of the frame whose begin-image word was just read, as
// writeFrameChunk does. kStaged leaves the input after the frame's rows, for
// writeStagedFrameChunk; otherwise the input stands where it stood.
StageResult stageFrame(InputReader& input, ChunkWriterState& state);

// Writes the frame that stageFrame staged as its "00dc" chunk, as
// writeFrameChunk does.
int writeStagedFrameChunk(InputReader& input, OutputWriter& output, ChunkWriterState& state,
                          std::FILE* scratch);

// True, with gState.errorText set, when a file of fileSize bytes, or the output
// written so far, is larger than the largest size an AVI file can have.
bool outgrowsLimit(const OutputWriter& output, int64_t fileSize);
