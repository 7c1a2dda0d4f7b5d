#include "palette/colour_pass.h"

#include <algorithm>
#include <cstdint>

#include "rle8/row_search.h"
#include "rle8/row_staging.h"
#include "rmfile/frame_header.h"
#include "rmfile/rm_format.h"

namespace {

// Counts the pairs the transcoder staged: a run's pixels for its index, nothing
// for an end-of-line pair (a count of 0), two pairs at a time into two tables.
void countStagedPairs(const StagedPieces& staged, IndexCounts& counts) {
    IndexCounts second{};
    const uint8_t* pair = staged.bytes.data();
    const uint8_t* const end = pair + staged.used;
    for (; end - pair >= 4; pair += 4) {
        counts[pair[1]] += pair[0];
        second[pair[3]] += pair[2];
    }
    if (pair < end) counts[pair[1]] += pair[0];
    for (size_t i = 0; i < counts.size(); ++i)
        counts[i] += second[i];
}

// One row too large for the staging, word by word through the rule for a
// row's words. False when the conversion would refuse it.
bool countRowWordByWord(InputReader& input, IndexCounts& counts) {
    int pendingRun = kNoRun;
    for (;;) {
        uint8_t bytes[kLongestRunBytes];
        uint8_t* out = bytes;
        const WordStep step = readAndTakeWord(input, pendingRun, out, ColourMap{});
        if (step == WordStep::kRowEnd) return true;
        if (step != WordStep::kTaken && step != WordStep::kNeedsColour) return false;
        for (const uint8_t* pair = bytes; pair < out; pair += 2)
            counts[pair[1]] += pair[0];
    }
}

// Counts the pixels of the frame whose begin-image word was just read, its rows
// transcoded as the conversion transcodes them: staged in bands, as many rows
// at once as fit (band, kept from frame to frame, since frames share their
// size), a row too large for the staging word by word. False when the
// conversion would refuse the frame.
bool countFrame(InputReader& input, int32_t height, ChunkWriterState& chunks, IndexCounts& counts,
                int64_t& band) {
    int64_t rowsLeft = height;
    while (rowsLeft > 0) {
        const int64_t bandStart = readerPosition(input);
        const int64_t rows = std::min(band, rowsLeft);
        const StageResult staged = stageRows(input, chunks.staged, rows, chunks.coding);
        if (staged == StageResult::kIrregular) return false;
        if (staged == StageResult::kStaged) {
            countStagedPairs(chunks.staged, counts);
            rowsLeft -= rows;
            continue;
        }
        seekReader(input, bandStart);
        if (rows > 1) {
            band = rows / 2;
            continue;
        }
        if (!countRowWordByWord(input, counts)) return false;
        --rowsLeft;
    }
    uint16_t lastKind = 0;
    return skipWordsOfKind(input, kEndOfImage, 1, lastKind) == 1;
}

}  // namespace

void countFrameColours(InputReader& input, ChunkWriterState& chunks, SharedPalette& shared) {
    startColourCount(shared);
    IndexCounts counts{};
    FrameSize first;
    int64_t band = INT64_MAX;
    seekReader(input, 0);
    for (;;) {
        const int64_t frameStart = readerPosition(input);
        FrameSize size;
        if (readFrameHeader(input, shared.framesCounted > 0 ? &first : nullptr, size) !=
            FrameHeaderFault::kNone) {
            break;
        }
        if (shared.framesCounted == 0) first = size;
        seekReader(input, frameStart + kColourTablesOffset);
        Palette table{};
        readPalette(input, table);
        if (!readBeginImage(input) || !countFrame(input, size.height, chunks, counts, band)) break;
        addFrameColours(shared, table, counts);
        skipFiller(input);
        findNextFrame(input);
        if (readerAtEnd(input)) break;
    }
}
