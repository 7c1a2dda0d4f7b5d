#include "rle8/row_staging.h"

#include <cstring>

void allocateStaging(StagedPieces& staged, size_t capacity, size_t maxPieces) {
    staged.capacity = capacity;
    staged.bytes.allocate(capacity + kStagingSlack);
    staged.maxPieces = maxPieces;
    // Left uninitialised, as the windows are: only the entries in use are touched.
    staged.ends.reset(new uint32_t[maxPieces + 1]);
    staged.ends[0] = 0;
    staged.used = 0;
    staged.pieces = 0;
}

namespace {

// Pieces longer than this go through the library's copy, which takes them in
// the widest steps the processor has; shorter ones in blocks of kCopyBlock.
constexpr size_t kLongPiece = 256;
constexpr size_t kCopyBlock = 32;

}  // namespace

void writeStagedReversed(OutputWriter& writer, StagedPieces& staged) {
    const uint8_t* const from = staged.bytes.data();
    const uint32_t* const ends = staged.ends.get();
    for (size_t piece = staged.pieces; piece > 0;) {
        // The common case, short rows: whole blocks, each piece's last one
        // running on into bytes that the next piece or nothing at all will use.
        uint8_t* const bufferStart = writer.buffer.data();
        uint8_t* to = bufferStart + writer.used;
        uint8_t* const toEnd = bufferStart + writer.buffer.size();
        for (; piece > 0; --piece) {
            const size_t start = ends[piece - 1];
            const size_t length = ends[piece] - start;
            if (static_cast<size_t>(toEnd - to) < length + kStagingSlack) break;
            if (length <= kStagingSlack) {
                std::memcpy(to, from + start, kStagingSlack);  // no loop to leave
            } else if (length <= kLongPiece) {
                for (size_t at = 0; at < length; at += kCopyBlock) {
                    std::memcpy(to + at, from + start + at, kCopyBlock);
                }
            } else {
                std::memcpy(to, from + start, length);
            }
            to += length;
        }
        writer.used = static_cast<size_t>(to - bufferStart);
        if (piece == 0) break;
        const size_t start = ends[piece - 1];
        writeBytes(writer, from + start, ends[piece] - start);
        --piece;
    }
    staged.used = 0;
    staged.pieces = 0;
}

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
