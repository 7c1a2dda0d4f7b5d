#include "avi/movie_chunks.h"

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <new>
#include <vector>

#include "avi/avi_format.h"
#include "avi/avi_header.h"
#include "io/little_endian.h"
#include "rle8/rle8_transcoder.h"
#include "rle8/row_search.h"
#include "rle8/row_staging.h"
#include "rmfile/format_errors.h"
#include "rmfile/rm_format.h"

namespace {

// The most row positions a frame keeps; beyond, every second one is dropped.
// A build may make it tiny, so that the dropping is crossed often (fuzzing).
#if !defined(KESTRUP_ROW_MARKS)
#define KESTRUP_ROW_MARKS 32768
#endif
constexpr size_t kMaxRowMarks = KESTRUP_ROW_MARKS;

bool writeChunkRecord(std::FILE* scratch, const ChunkRecord& record) {
    uint8_t bytes[kChunkRecordSize];
    putLe32(bytes, static_cast<uint32_t>(record.isPalette));
    putLe32(bytes + 4, record.sizeFieldOffset);
    putLe32(bytes + 8, record.dataSize);
    return std::fwrite(bytes, 1, sizeof bytes, scratch) == sizeof bytes;
}

// Common end of both chunk kinds: the largest-chunk figure and the scratch record.
int finishChunk(OutputWriter& output, ChunkWriterState& state, std::FILE* scratch,
                int32_t isPalette, int64_t sizeFieldPos, int64_t dataSize) {
    if (outgrowsLimit(output, writerPosition(output))) return 0;
    if (dataSize > gState.largestChunk) gState.largestChunk = dataSize;
    // Filled now, while the field is most likely still in the buffer; a failure
    // shows in the writer's state, which the scan checks after every frame.
    patchU32(output, sizeFieldPos, static_cast<uint32_t>(dataSize));
    state.chunkSizesFilled = true;
    const ChunkRecord record{isPalette, static_cast<uint32_t>(sizeFieldPos),
                             static_cast<uint32_t>(dataSize)};
    if (!writeChunkRecord(scratch, record) || std::ferror(scratch)) {
        return tempFileWriteError(gState.scratchPath, lastSystemError());
    }
    return 1;
}

// Keeps the input window from a run of rows on while they are visited again.
struct KeptRows {
    InputReader& input;
    explicit KeptRows(InputReader& reader) : input(reader) {
        input.keepFrom = readerPosition(input);
    }
    ~KeptRows() { input.keepFrom = -1; }
    KeptRows(const KeptRows&) = delete;
    KeptRows& operator=(const KeptRows&) = delete;
};

// Size of the frame as an uncompressed 8-bit bitmap, rows padded to 4 bytes.
int64_t uncompressedFrameSize() {
    const int64_t paddedRow = (static_cast<int64_t>(gState.width) + 3) & ~int64_t{3};
    return paddedRow * gState.height;
}

int64_t openFrameChunk(OutputWriter& output) {
    int64_t sizeFieldPos = 0;
    writeChunkHeader(output, kCodeFrameChunk, &sizeFieldPos);
    return sizeFieldPos;
}

// The end-of-bitmap pair, the chunk's size and its record; the input then
// stands after the frame. dataSize counts the rows written, ok tells whether
// every one converted.
int closeFrameChunk(InputReader& input, OutputWriter& output, ChunkWriterState& state,
                    std::FILE* scratch, int64_t frameEnd, int64_t sizeFieldPos, int64_t dataSize,
                    int ok) {
    gState.totalEncodedBytes += static_cast<double>(dataSize);
    writeU8(output, kRleEscape);
    writeU8(output, kRleEndOfBitmap);
    dataSize += 2;
    if (!ok) return 0;
    // A chunk of exactly the uncompressed size is taken for an uncompressed frame
    // by some decoders; a second end-of-bitmap pair, never reached, avoids that.
    if (dataSize == uncompressedFrameSize()) {
        writeU8(output, kRleEscape);
        writeU8(output, kRleEndOfBitmap);
        dataSize += 2;
    }
    seekReader(input, frameEnd);
    return finishChunk(output, state, scratch, 0, sizeFieldPos, dataSize);
}

// The whole frame was staged in one pass: its end, then its rows bottom first.
int writeStagedFrame(InputReader& input, OutputWriter& output, ChunkWriterState& state,
                     std::FILE* scratch) {
    uint16_t lastKind = 0;
    if (skipWordsOfKind(input, kEndOfImage, 1, lastKind) != 1) {
        setFormatError(kErrorImageEndMissing, readerPosition(input));
        return 0;
    }
    const int64_t frameEnd = readerPosition(input);
    const int64_t sizeFieldPos = openFrameChunk(output);
    const auto dataSize = static_cast<int64_t>(state.staged.used);
    writeStagedReversed(output, state.staged);
    if (outgrowsLimit(output, writerPosition(output))) return 0;
    return closeFrameChunk(input, output, state, scratch, frameEnd, sizeFieldPos, dataSize, 1);
}

// A frame too large to stage whole, written in bands of rows from the bottom
// one up, each band staged at once where it can be.
struct FrameInBands {
    InputReader& input;
    OutputWriter& output;
    ChunkWriterState& state;
    RowMarks marks;
    int64_t dataSize = 0;
    int ok = 1;              // every row written so far converted
    bool overLimit = false;  // the output outgrew an AVI file
};

int64_t firstRowOf(const FrameInBands& frame, size_t mark) {
    return static_cast<int64_t>(mark) * frame.marks.stride;
}

int64_t rowsOf(const FrameInBands& frame, size_t mark) {
    return std::min(frame.marks.stride, int64_t{gState.height} - firstRowOf(frame, mark));
}

int64_t endOf(const FrameInBands& frame, size_t mark) {
    return mark + 1 < frame.marks.starts.size() ? frame.marks.starts[mark + 1]
                                                : frame.marks.frameEnd;
}

bool outgrew(FrameInBands& frame) {
    frame.overLimit = outgrowsLimit(frame.output, writerPosition(frame.output));
    return frame.overLimit;
}

// The rows from mark on, one at a time, bottom first, through transcodeRow,
// which reports what it finds wrong. False when the frame stops here.
bool writeRowsOneByOne(FrameInBands& frame, size_t mark) {
    InputReader& input = frame.input;
    std::vector<int64_t> rowStarts;
    seekReader(input, frame.marks.starts[mark]);
    const KeptRows keptRows(input);
    rowStarts.push_back(readerPosition(input));
    uint16_t lastKind = 0;
    for (int64_t row = 1; row < rowsOf(frame, mark); ++row) {
        skipWordsOfKind(input, kEndOfRow, 1, lastKind);  // found before by findRowMarks
        rowStarts.push_back(readerPosition(input));
    }
    for (auto row = rowStarts.rbegin(); row != rowStarts.rend(); ++row) {
        seekReader(input, *row);
        frame.dataSize += transcodeRow(input, frame.output, frame.state.coding, frame.ok);
        if (outgrew(frame) || !frame.ok) return false;
    }
    return true;
}

// The rows of marks first to last, bottom first. False when the frame stops here.
bool writeBand(FrameInBands& frame, size_t first, size_t last) {
    seekReader(frame.input, frame.marks.starts[first]);
    const int64_t rows = firstRowOf(frame, last) + rowsOf(frame, last) - firstRowOf(frame, first);
    const StageResult staged = stageRows(frame.input, frame.state.staged, rows, frame.state.coding);
    if (staged == StageResult::kStaged) {
        frame.dataSize += static_cast<int64_t>(frame.state.staged.used);
        writeStagedReversed(frame.output, frame.state.staged);
        return !outgrew(frame);
    }
    if (staged == StageResult::kFull && first < last) {
        const size_t middle = first + (last - first) / 2;
        return writeBand(frame, middle + 1, last) && writeBand(frame, first, middle);
    }
    for (size_t mark = last + 1; mark-- > first;) {
        if (!writeRowsOneByOne(frame, mark)) return false;
    }
    return true;
}

// False when the output outgrew its limit; a row that did not convert stops the
// bands with frame.ok 0. Bands of rows whose words fit in a quarter of the input window, so that
// after the seek back to a band the bands above it are in the window too.
bool writeBands(FrameInBands& frame) {
    const auto span = static_cast<int64_t>(frame.input.window.size() / 4);
    const auto maxRows = static_cast<int64_t>(frame.state.staged.maxPieces);
    for (size_t last = frame.marks.starts.size(); last-- > 0;) {
        size_t first = last;
        while (first > 0 && endOf(frame, last) - frame.marks.starts[first - 1] <= span &&
               firstRowOf(frame, last) + rowsOf(frame, last) - firstRowOf(frame, first - 1) <=
                   maxRows) {
            --first;
        }
        if (!writeBand(frame, first, last)) return !frame.overLimit;
        last = first;
    }
    return true;
}

}  // namespace

bool outgrowsLimit(const OutputWriter& output, int64_t fileSize) {
    if (!output.overLimit && fileSize <= output.limit) return false;
    setErrorText("The converted AVI file would grow past %" PRId64
                 " bytes, the largest size an AVI file can have.",
                 output.limit);
    return true;
}

void attachChunkWriter(ChunkWriterState& state, size_t bufferSize) {
    state = ChunkWriterState{};
    allocateStaging(state.staged, 2 * bufferSize, std::max<size_t>(2, bufferSize / 8));
}

void setFrameColourMap(ChunkWriterState& state, const ColourIndexes& indexes) {
    setColourMap(state.coding.colours, indexes);
}

int writePaletteChunk(const Palette& palette, OutputWriter& output, ChunkWriterState& state,
                      std::FILE* scratch) {
    writeFourCC(output, kCodePaletteChunk);
    const int64_t sizeFieldPos = writerPosition(output);
    writeU32(output, kPaletteChunkDataSize);
    writeU8(output, 0);                          // first entry
    writeU8(output, 0);                          // number of entries: 0 means 256
    writeU16(output, 0);                         // flags
    for (const PaletteEntry& entry : palette) {  // PALETTEENTRY: red, green, blue, 0
        writeU8(output, entry.red);
        writeU8(output, entry.green);
        writeU8(output, entry.blue);
        writeU8(output, 0);
    }
    return finishChunk(output, state, scratch, 1, sizeFieldPos, kPaletteChunkDataSize);
}

StageResult stageFrame(InputReader& input, ChunkWriterState& state) {
    // Frames share their size: after one too large to stage, go straight to two passes.
    if (state.stagingTooSmall) return StageResult::kFull;
    const int64_t frameStart = readerPosition(input);
    const StageResult staged = stageRows(input, state.staged, gState.height, state.coding);
    if (staged == StageResult::kStaged) return staged;
    state.stagingTooSmall = staged == StageResult::kFull;
    seekReader(input, frameStart);
    return staged;
}

int writeStagedFrameChunk(InputReader& input, OutputWriter& output, ChunkWriterState& state,
                          std::FILE* scratch) {
    return writeStagedFrame(input, output, state, scratch);
}

int writeFrameChunk(InputReader& input, OutputWriter& output, ChunkWriterState& state,
                    std::FILE* scratch) {
    if (stageFrame(input, state) == StageResult::kStaged) {
        return writeStagedFrame(input, output, state, scratch);
    }
    FrameInBands frame{input, output, state, {}};
    try {
        if (!findRowMarks(input, gState.height, kMaxRowMarks, frame.marks)) return 0;
    } catch (const std::bad_alloc&) {
        setErrorText("Out of memory.");
        return 0;
    }
    const int64_t sizeFieldPos = openFrameChunk(output);
    if (!writeBands(frame)) return 0;
    state.stagingTooSmall = frame.dataSize > static_cast<int64_t>(state.staged.bytes.size());
    return closeFrameChunk(input, output, state, scratch, frame.marks.frameEnd, sizeFieldPos,
                           frame.dataSize, frame.ok);
}
