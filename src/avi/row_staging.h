// Gathers a run of a frame's rows, transcoded top row first, in the chunk
// writer's staging, so that they can go out bottom row first in one pass.
#pragma once

#include <cstdint>

#include "avi/rle8_transcoder.h"
#include "stream_buffers.h"

enum class StageResult { kStaged, kIrregular, kFull };

// Transcodes rows rows from the input's position into staged, one piece per row
// (runs of empty rows share one). Touches nothing else: kIrregular for any row
// transcodeRow would not convert whole, kFull when the staging is too small;
// the input position is then undefined.
StageResult stageRows(InputReader& input, StagedPieces& staged, int64_t rows,
                      const Rle8Coding& coding);
