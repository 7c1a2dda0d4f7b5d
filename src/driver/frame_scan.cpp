#include "driver/frame_scan.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "avi/avi_header.h"
#include "io/console_output.h"
#include "rle8/row_search.h"
#include "rmfile/format_errors.h"
#include "rmfile/frame_header.h"
#include "rmfile/rm_format.h"

void (*gBetweenInputPasses)() = nullptr;

namespace {

// A frame's colour tables as they stand in the input: a frame whose tables are
// the same bytes as the frame before it has the same palette.
struct TableBytes {
    std::array<uint8_t, 3 * 2 * kPaletteEntries> bytes{};
    bool held = false;
};

// Reads the frame's colour tables into table, unless they are the bytes of the
// previous frame's, which table then still holds.
void readFramePalette(InputReader& input, TableBytes& previous, Palette& table) {
    const size_t size = previous.bytes.size();
    if (input.filled - input.next >= size) {
        const uint8_t* const tables = input.window.data() + input.next;
        if (previous.held && std::memcmp(tables, previous.bytes.data(), size) == 0) {
            input.next += size;
            return;
        }
        std::memcpy(previous.bytes.data(), tables, size);
        previous.held = true;
    } else {
        previous.held = false;
    }
    readPalette(input, table);
}

// With multiPalette a palette-change chunk goes ahead of every frame whose table
// differs from the palette a player has in effect at that point.
int writePaletteChangeIfNeeded(OutputWriter& output, ChunkWriterState& chunks, std::FILE* scratch,
                               bool multiPalette, Palette& paletteInEffect, bool& multipleTables) {
    if (!samePalette(gState.framePalette, gState.referencePalette)) multipleTables = true;
    if (!multiPalette || samePalette(gState.framePalette, paletteInEffect)) return 1;
    if (!writePaletteChunk(gState.framePalette, output, chunks, scratch)) return 0;
    ++gState.paletteChangeCount;
    paletteInEffect = gState.framePalette;
    return 1;
}

// The stream checks between frames; returns 0 with the last failing stream's message.
int checkStreams(const InputReader& input, const OutputWriter& output, std::FILE* scratch) {
    int result = 1;
    if (input.failed) result = inputReadError(input.error);
    if (output.failed) result = outputWriteError(output.error);
    // The stream's flag holds no reason of the system's.
    if (std::ferror(scratch)) result = tempFileWriteError(gState.scratchPath, SystemError{});
    return result;
}

// Reads the first frame's size and colour table and writes the AVI header.
void startAvi(InputReader& input, OutputWriter& output, double framesPerSecond,
              const FrameColours& colours) {
    gState.framesPerSecond = framesPerSecond;
    gState.totalEncodedBytes = 0;
    gState.largestChunk = 0;
    seekReader(input, kWidthOffset);
    gState.width = static_cast<int32_t>(readU32(input));
    gState.height = static_cast<int32_t>(readU32(input));
    seekReader(input, kColourTablesOffset);
    readPalette(input, gState.referencePalette);
    writeAviHeader(output, gState.width, gState.height, framesPerSecond,
                   headerTable(colours, gState.referencePalette));
    seekReader(input, 0);
    gState.frameCount = 0;
    gState.paletteChangeCount = 0;
}

// One scan's streams, options and what it keeps from frame to frame.
struct Scan {
    InputReader& input;
    OutputWriter& output;
    ChunkWriterState& chunks;
    std::FILE* scratch;
    const ScanOptions& options;
    FrameColours& colours;
    int32_t framesShown = 0;
    bool paletteChanges = false;  // a palette-change chunk where a frame's table differs
    Palette paletteInEffect{};
    TableBytes previousTables;
    bool multipleTables = false;
    bool missedMark = false;
};

// The frame whose begin-image word was just read: staged, its indexes mapped,
// then written; a frame too large to stage is mapped as its bands are
// written. A frame that does not stage whole is left to writeFrameChunk,
// which reports its fault.
int writeMappedFrame(Scan& scan) {
    ChunkWriterState& chunks = scan.chunks;
    const StageResult staged = stageFrame(scan.input, chunks);
    if (staged == StageResult::kIrregular) {
        return writeFrameChunk(scan.input, scan.output, chunks, scan.scratch);
    }
    const StagedPieces* pairs = staged == StageResult::kStaged ? &chunks.staged : nullptr;
    ColourIndexes indexes;
    if (!mapFrameColours(scan.colours, gState.frameCount, gState.framePalette, pairs, indexes)) {
        return 0;
    }
    if (pairs != nullptr) {
        if (indexes != identityIndexes()) {
            ColourMap map;
            setColourMap(map, indexes);
            mapColours(chunks.staged.bytes.data(), chunks.staged.bytes.data() + chunks.staged.used,
                       map);
        }
        return writeStagedFrameChunk(scan.input, scan.output, chunks, scan.scratch);
    }
    setFrameColourMap(chunks, indexes);
    const int written = writeFrameChunk(scan.input, scan.output, chunks, scan.scratch);
    setFrameColourMap(chunks, identityIndexes());
    return written;
}

enum class FrameOutcome { kNext, kLast, kFailed };

// One frame, from its header to the next frame's mark.
FrameOutcome convertNextFrame(Scan& scan) {
    InputReader& input = scan.input;
    if (!checkFrameHeader(input)) return FrameOutcome::kFailed;
    seekReader(input, readerPosition(input) + kFrameHeaderSize);
    readFramePalette(input, scan.previousTables, gState.framePalette);
    const int64_t imageStart = readerPosition(input);
    if (!readBeginImage(input)) {
        setFormatError(kErrorBeginImage, imageStart);
        return FrameOutcome::kFailed;
    }
    if (!writePaletteChangeIfNeeded(scan.output, scan.chunks, scan.scratch, scan.paletteChanges,
                                    scan.paletteInEffect, scan.multipleTables) ||
        !writeMappedFrame(scan)) {
        return FrameOutcome::kFailed;
    }
    ++gState.frameCount;
    const int dots = scan.options.dotInterval;
    if (dots > 0 && gState.frameCount % dots == 0 && gState.frameCount > scan.framesShown) {
        printToStandardError(".");
    }
    skipFiller(input);
    scan.missedMark = findNextFrame(input);
    // A failing stream is an error after the last frame too.
    if (!checkStreams(input, scan.output, scan.scratch)) return FrameOutcome::kFailed;
    return input.ended ? FrameOutcome::kLast : FrameOutcome::kNext;
}

// Every frame from the first; 1 when all converted.
int convertFrames(Scan& scan) {
    gState.frameCount = 0;  // a message names the frame of this go
    seekReader(scan.input, 0);
    if (!checkFrameHeader(scan.input)) return 0;
    startAvi(scan.input, scan.output, scan.options.framesPerSecond, scan.colours);
    scan.paletteInEffect = gState.referencePalette;
    if (scan.options.dotInterval > 0 && scan.framesShown == 0) printToStandardError("\n");
    for (;;) {
        const FrameOutcome outcome = convertNextFrame(scan);
        if (outcome == FrameOutcome::kFailed) return 0;
        if (outcome == FrameOutcome::kLast) return 1;
    }
}

// What a scan that went through says at its end.
void printScanWarnings(const Scan& scan) {
    if (scan.missedMark) {
        printToStandardError(
            "\nWarning: a frame mark after frame %d was not found by the frame search; "
            "the frames from there on were not converted.\n",
            gState.frameCount);
    }
    if (sharedTableApproximate(scan.colours)) setSharedPaletteWarning(scan.colours);
    if (scan.multipleTables && !scan.options.multiPalette &&
        scan.colours.tables == FrameTables::kOwn) {
        printToStandardError(
            "\nThis raster metafile has multiple color tables.\n"
            "It is recommended that this file be converted using the '-m' option.\n"
            "For players that do not apply palette changes, use the '-p' option.\n");
    }
}

int finishScan(Scan& scan, int result) {
    if (result == 1) {
        // A table built while converting goes into the header at the end.
        const Palette* table = tableKnownAtTheEnd(scan.colours);
        if (table != nullptr && !patchHeaderPalette(scan.output, *table)) {
            result = checkStreams(scan.input, scan.output, scan.scratch);
        }
    }
    gState.sharedPaletteColours = sharedTableColours(scan.colours);
    // Before any frame converted, a specific message only confuses; a failing
    // scratch file or an outgrown output is not the input's fault and keeps its own.
    const OutputWriter& output = scan.output;
    const bool notTheInput =
        std::ferror(scan.scratch) || output.overLimit || writerPosition(output) > output.limit;
    if (gState.frameCount == 0 && !notTheInput) {
        setErrorText("\"%s\" is not a valid raster metafile", gState.inputPath.c_str());
        if (scan.input.failed) addErrorReason(scan.input.error);  // a folder, say
        result = 0;
    }
    if (scan.options.dotInterval > 0) printToStandardError("\n");
    if (result == 1) printScanWarnings(scan);
    return result;
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
        countPairs(bytes, out, counts);
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
            countPairs(chunks.staged.bytes.data(), chunks.staged.bytes.data() + chunks.staged.used,
                       counts);
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

// Every pass over the input but the last is followed by this.
void endInputPass() {
    if (gBetweenInputPasses != nullptr) gBetweenInputPasses();
}

}  // namespace

int scanFrames(InputReader& input, OutputWriter& output, ChunkWriterState& chunks,
               std::FILE* scratch, const ScanOptions& options, FrameColours& colours,
               int32_t framesShown) {
    const bool paletteChanges = options.multiPalette && colours.tables == FrameTables::kOwn;
    Scan scan{input,       output,         chunks, scratch, options, colours,
              framesShown, paletteChanges, {},     {},      false,   false};
    colours.tableFilled = false;
    const int result = convertFrames(scan);
    if (colours.tableFilled) return 0;  // the caller starts again
    return finishScan(scan, result);
}

void countColoursAndChoose(InputReader& input, ChunkWriterState& chunks, FrameColours& colours,
                           bool multiPalette) {
    ColourCount& count = colours.count;
    startColourCount(count);
    IndexCounts counts{};
    FrameSize first;
    int64_t band = INT64_MAX;
    TableBytes previousTables;
    Palette table{};
    seekReader(input, 0);
    for (;;) {
        const int64_t frameStart = readerPosition(input);
        FrameSize size;
        if (readFrameHeader(input, count.framesCounted > 0 ? &first : nullptr, size) !=
            FrameHeaderFault::kNone) {
            break;
        }
        if (count.framesCounted == 0) first = size;
        seekReader(input, frameStart + kColourTablesOffset);
        readFramePalette(input, previousTables, table);
        if (!readBeginImage(input) || !countFrame(input, size.height, chunks, counts, band)) break;
        addFrameColours(count, table, counts);
        skipFiller(input);
        findNextFrame(input);
        if (readerAtEnd(input)) break;
    }
    chooseSharedTable(colours, multiPalette);
}

int scanFramesSharingTable(InputReader& input, OutputWriter& output, ChunkWriterState& chunks,
                           std::FILE* scratch, const ScanOptions& options, FrameColours& colours,
                           bool onePass, SharedTableRun& run) {
    int32_t framesShown = 0;
    if (onePass) {
        colours.tables = FrameTables::kBuiltAsTheyCome;
        colours.live = LiveTable{};
        const int result = scanFrames(input, output, chunks, scratch, options, colours);
        if (!colours.tableFilled) return result;
        // The colours did not fit one table as the frames came: over the
        // same output again, with the two passes.
        // The second go writes a record for every frame the first wrote one
        // for, and more, over them: a go that fails leaves no file.
        endInputPass();
        restartWriter(output);
        run.restarted = true;
        if (std::fseek(scratch, 0, SEEK_SET) != 0) {
            return tempFileWriteError(gState.scratchPath, lastSystemError());
        }
        framesShown = gState.frameCount;
    }
    countColoursAndChoose(input, chunks, colours, options.multiPalette);
    run.counted = true;
    endInputPass();
    return scanFrames(input, output, chunks, scratch, options, colours, framesShown);
}
