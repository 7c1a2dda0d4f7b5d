// Gathers a run of a frame's rows, transcoded top row first, in the chunk
// writer's staging, so that they can go out bottom row first in one pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "io/stream_buffers.h"
#include "rle8/rle8_transcoder.h"

// Pieces of output gathered in order and written out last piece first: a frame's
// rows, which come top first and go out bottom first.
struct StagedPieces {
    ByteBlock bytes;  // capacity bytes, then kStagingSlack more
    size_t capacity = 0;
    size_t used = 0;
    std::unique_ptr<uint32_t[]> ends;  // ends[0] is 0; ends[i] ends piece i (i <= pieces)
    size_t pieces = 0;
    size_t maxPieces = 0;
};

// A short piece is copied as this many bytes, a longer one in blocks of 32;
// either may read past the staging's capacity and write past the piece's end.
inline constexpr size_t kStagingSlack = 96;

// Room for capacity bytes in at most maxPieces pieces.
void allocateStaging(StagedPieces& staged, size_t capacity, size_t maxPieces);

// Writes the staged pieces, the last one first, and empties the staging.
void writeStagedReversed(OutputWriter& writer, StagedPieces& staged);

enum class StageResult { kStaged, kIrregular, kFull };

// Transcodes rows rows from the input's position into staged, one piece per row
// (runs of empty rows share one). Touches nothing else: kIrregular for any row
// transcodeRow would not convert whole, kFull when the staging is too small;
// the input position is then undefined.
StageResult stageRows(InputReader& input, StagedPieces& staged, int64_t rows,
                      const Rle8Coding& coding);
