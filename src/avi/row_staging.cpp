#include "avi/row_staging.h"

StageResult stageRows(InputReader& input, StagedPieces& staged, int64_t rows,
                      const Rle8Coding& coding) {
    uint8_t* const base = staged.bytes.data();
    staged.ends[0] = 0;
    RowEnds ends{staged.ends.get(), 0, staged.maxPieces, rows};
    KernelSpan span{nullptr, nullptr, base, base + staged.capacity, base};
    int pendingRun = kNoRun;
    while (ends.rowsLeft > 0) {
        if (pendingRun == kNoRun) {
            span.in = input.window.data() + input.next;
            span.inEnd = input.window.data() + input.filled;
            const TranscodeStop stop = transcodeSpan(span, ends, coding);
            input.next = static_cast<size_t>(span.in - input.window.data());
            if (stop == TranscodeStop::kRowsClosed) break;
        }
        // A word across the window's edge, or one the rule does not take whole.
        if (span.outEnd - span.out < kLongestRunBytes) return StageResult::kFull;
        const WordStep step = readAndTakeWord(input, pendingRun, span.out, coding.colours);
        if (step == WordStep::kRowEnd) {
            if (!noteRowEnd(ends, static_cast<uint32_t>(span.out - base)))
                return StageResult::kFull;
        } else if (step != WordStep::kTaken && step != WordStep::kNeedsColour) {
            return StageResult::kIrregular;
        }
    }
    staged.pieces = ends.pieces;
    staged.used = ends.ends[ends.pieces];
    return StageResult::kStaged;
}
