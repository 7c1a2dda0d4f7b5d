#include "driver/gif_input_rows.h"

#include <algorithm>
#include <cstring>

#include "rle8/rle8_transcoder.h"
#include "rle8/row_staging.h"

namespace {

// The row at the input's position, too large for the staging, word by word
// through the rule for a row's words straight into pixels. False when it does
// not convert.
bool readRowByItself(InputRows& rows) {
    rows.pixels.assign(static_cast<size_t>(rows.width), 0);
    size_t filled = 0;
    int pendingRun = kNoRun;
    for (;;) {
        uint8_t bytes[kLongestRunBytes];
        uint8_t* out = bytes;
        const WordStep step =
            readAndTakeWord(*rows.input, pendingRun, out, rows.chunks->coding.colours);
        if (step == WordStep::kRowEnd) return true;
        if (step != WordStep::kTaken && step != WordStep::kNeedsColour) return false;
        for (const uint8_t* pair = bytes; pair < out; pair += 2) {
            const size_t run = std::min<size_t>(pair[0], rows.pixels.size() - filled);
            std::memset(rows.pixels.data() + filled, pair[1], run);
            filled += run;
        }
    }
}

// Stages the rows after the ones staged now: as many as fit of rows.band, the
// band halved until they do, a row too large by itself. False when a row does
// not convert.
bool stageNextRows(InputRows& rows) {
    InputReader& input = *rows.input;
    StagedPieces& staged = rows.chunks->staged;
    rows.bandFirst += rows.bandRows;
    rows.rowByItself = false;
    for (;;) {
        const int64_t at = readerPosition(input);
        const auto count =
            static_cast<int32_t>(std::min<int64_t>(rows.band, rows.height - rows.bandFirst));
        const StageResult result = stageRows(input, staged, count, rows.chunks->coding);
        if (result == StageResult::kStaged) {
            rows.bandRows = count;
            return indexPairRows(rows.pairs, staged.bytes.data(), staged.used, rows.width, count) ==
                   1;
        }
        if (result == StageResult::kIrregular) return false;
        seekReader(input, at);
        if (count > 1) {
            rows.band = count / 2;
            continue;
        }
        rows.bandRows = 1;
        rows.rowByItself = true;
        return readRowByItself(rows);
    }
}

int readInputRow(void* context, int32_t y, uint8_t* pixels) {
    auto& rows = *static_cast<InputRows*>(context);
    if (y < rows.bandFirst) {  // a second walk
        seekReader(*rows.input, rows.firstRowAt);
        rows.bandFirst = 0;
        rows.bandRows = 0;
    }
    while (y >= rows.bandFirst + rows.bandRows) {
        if (!stageNextRows(rows)) {
            rows.inputFault = true;
            return 0;
        }
        if (rows.bandFirst + rows.bandRows == rows.height) {
            rows.rowsEnd = readerPosition(*rows.input);
        }
    }
    if (rows.rowByItself) {
        std::memcpy(pixels, rows.pixels.data(), rows.pixels.size());
        return 1;
    }
    const PairRows& pairs = rows.pairs;
    const size_t start = pairs.starts[static_cast<size_t>(y - rows.bandFirst)];
    expandPairRow(pairs.pairs + start, pairs.length - start, rows.width, pixels);
    return 1;
}

}  // namespace

void startInputRows(InputRows& rows, InputReader& input, ChunkWriterState& chunks, int32_t width,
                    int32_t height, int64_t band) {
    rows.input = &input;
    rows.chunks = &chunks;
    rows.firstRowAt = readerPosition(input);
    rows.width = width;
    rows.height = height;
    rows.band = band;
    rows.bandFirst = 0;
    rows.bandRows = 0;
    rows.rowByItself = false;
    rows.rowsEnd = -1;
    rows.inputFault = false;
}

GifRowSource inputRowSource(InputRows& rows) {
    return {readInputRow, &rows};
}
