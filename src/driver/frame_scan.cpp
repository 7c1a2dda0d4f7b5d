#include "driver/frame_scan.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "avi/avi_header.h"
#include "driver/gif_input_rows.h"
#include "gif/gif_timing.h"
#include "gif/gif_writer.h"
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
                               bool multiPalette, Palette& paletteInEffect) {
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
    GifWriter gif;               // for a GIF
    InputRows gifRows;           // the frame at hand's rows, for the GIF writer
    int64_t gifBand = 0;         // rows staged at once, kept from frame to frame
    bool outputRefused = false;  // the output cannot hold the frames: its own message
};

// Reads the first frame's size and colour table and writes the AVI header, or
// the GIF's screen. Returns 1, or 0 with the message.
int startOutput(Scan& scan) {
    InputReader& input = scan.input;
    gState.framesPerSecond = scan.options.framesPerSecond;
    gState.totalEncodedBytes = 0;
    gState.largestChunk = 0;
    seekReader(input, kWidthOffset);
    gState.width = static_cast<int32_t>(readU32(input));
    gState.height = static_cast<int32_t>(readU32(input));
    seekReader(input, kColourTablesOffset);
    readPalette(input, gState.referencePalette);
    seekReader(input, 0);
    gState.frameCount = 0;
    gState.paletteChangeCount = 0;
    const Palette& table = headerTable(scan.colours, gState.referencePalette);
    if (scan.options.format == OutputFormat::kGif) {
        if (!gifSizeFits(gState.width, gState.height)) {
            scan.outputRefused = true;
            return refuseGifSize(gState.width, gState.height);
        }
        scan.gifBand = gState.height;
        return startGif(scan.gif, scan.output, gState.width, gState.height, table,
                        scan.options.framesPerSecond);
    }
    writeAviHeader(scan.output, gState.width, gState.height, scan.options.framesPerSecond, table);
    return 1;
}

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

// A GIF frame's rows that did not convert, or a frame whose end-of-image word
// is missing: read again as for an AVI, which names the fault in its words.
int reportFrameFault(Scan& scan, int64_t imageStart) {
    seekReader(scan.input, imageStart);
    if (writeFrameChunk(scan.input, scan.output, scan.chunks, scan.scratch) == 1) {
        setFormatError(kErrorImageEndMissing, readerPosition(scan.input));
    }
    return 0;
}

// The frame whose begin-image word was just read, as the GIF's next frame,
// its indexes through the frame's map as its rows are staged; the writer reads
// them once to find what changed and again to write it. With multiPalette and
// the frames' own tables, the frame's table goes with it where it differs
// from the global one.
int writeGifFrameOfInput(Scan& scan) {
    InputReader& input = scan.input;
    const int64_t imageStart = readerPosition(input);
    ColourIndexes indexes;
    if (!mapFrameColours(scan.colours, gState.frameCount, gState.framePalette, nullptr, indexes)) {
        return 0;
    }
    setFrameColourMap(scan.chunks, indexes);
    startInputRows(scan.gifRows, input, scan.chunks, gState.width, gState.height, scan.gifBand);
    const bool ownTable = scan.paletteChanges;
    const bool localTable = ownTable && !samePalette(gState.framePalette, scan.gif.globalTable);
    const int64_t frameStart = writerPosition(scan.output);
    const int written = writeGifFrame(scan.gif, scan.output, inputRowSource(scan.gifRows),
                                      ownTable ? &gState.framePalette : nullptr);
    setFrameColourMap(scan.chunks, identityIndexes());
    scan.gifBand = scan.gifRows.band;
    if (scan.gifRows.inputFault) return reportFrameFault(scan, imageStart);
    if (written == 0) return 0;
    seekReader(input, scan.gifRows.rowsEnd);
    uint16_t lastKind = 0;
    if (skipWordsOfKind(input, kEndOfImage, 1, lastKind) != 1) {
        return reportFrameFault(scan, imageStart);
    }
    const int64_t frameBytes = writerPosition(scan.output) - frameStart;
    gState.totalEncodedBytes += static_cast<double>(frameBytes);
    gState.largestChunk = std::max(gState.largestChunk, frameBytes);
    if (localTable) ++gState.paletteChangeCount;
    return 1;
}

int writeFrame(Scan& scan) {
    if (scan.options.format == OutputFormat::kGif) return writeGifFrameOfInput(scan);
    return writePaletteChangeIfNeeded(scan.output, scan.chunks, scan.scratch, scan.paletteChanges,
                                      scan.paletteInEffect) &&
           writeMappedFrame(scan);
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
    if (!samePalette(gState.framePalette, gState.referencePalette)) scan.multipleTables = true;
    if (!writeFrame(scan)) return FrameOutcome::kFailed;
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
    if (!checkFrameHeader(scan.input) || !startOutput(scan)) return 0;
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
    const bool gif = scan.options.format == OutputFormat::kGif;
    if (scan.multipleTables && !scan.options.multiPalette &&
        scan.colours.tables == FrameTables::kOwn) {
        // Every GIF viewer shows a frame's own table: the advice on players is the AVI's.
        printToStandardError(
            "\nThis raster metafile has multiple color tables.\n"
            "It is recommended that this file be converted using the '-m' option.\n%s",
            gif ? "" : "For players that do not apply palette changes, use the '-p' option.\n");
    }
    if (gif && gifRateTooFastForBrowsers(scan.options.framesPerSecond)) {
        addWarningText(
            "Browsers show GIF delays under 2 hundredths of a second as 10 hundredths: this "
            "animation plays slower there.");
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
    const bool notTheInput = std::ferror(scan.scratch) || output.overLimit ||
                             writerPosition(output) > output.limit || scan.outputRefused;
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
    Scan scan{input, output, chunks, scratch, options, colours, framesShown, paletteChanges,
              {},    {},     false,  false,   {},      {},      0,           false};
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
