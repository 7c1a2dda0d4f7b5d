#include "rmfile/frame_scan.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "avi/avi_header.h"
#include "avi/movie_chunks.h"
#include "console_output.h"
#include "conversion_state.h"
#include "rmfile/format_errors.h"
#include "rmfile/frame_header.h"
#include "rmfile/rm_format.h"

namespace {

// A frame's colour tables as they stand in the input: a frame whose tables are
// the same bytes as the frame before it has the same palette.
struct TableBytes {
    std::array<uint8_t, 3 * 2 * kPaletteEntries> bytes{};
    bool held = false;
};

// Reads the frame's colour tables into the frame palette, unless they are the
// bytes of the previous frame's, which the frame palette then still holds.
void readFramePalette(InputReader& input, TableBytes& previous) {
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
    readPalette(input, gState.framePalette);
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
    if (input.failed) {
        setErrorText("i/o error reading from \"%s\".", gState.inputPath.c_str());
        addErrorReason(input.error);
        result = 0;
    }
    if (output.failed) {
        setErrorText("i/o error writing to \"%s\".", gState.outputPath.c_str());
        addErrorReason(output.error);
        result = 0;
    }
    if (std::ferror(scratch)) {
        setErrorText("i/o error writing to temp file \"%s\".", gState.scratchPath.c_str());
        result = 0;
    }
    return result;
}

// Reads the first frame's size and colour table and writes the AVI header.
void startAvi(InputReader& input, OutputWriter& output, double framesPerSecond,
              const SharedPalette* shared) {
    gState.framesPerSecond = framesPerSecond;
    gState.totalEncodedBytes = 0;
    gState.largestChunk = 0;
    seekReader(input, kWidthOffset);
    gState.width = static_cast<int32_t>(readU32(input));
    gState.height = static_cast<int32_t>(readU32(input));
    seekReader(input, kColourTablesOffset);
    readPalette(input, gState.referencePalette);
    // A table built while converting goes into the header at the end.
    writeAviHeader(output, gState.width, gState.height, framesPerSecond,
                   shared != nullptr && !shared->onePass ? shared->table : gState.referencePalette);
    seekReader(input, 0);
    gState.frameCount = 0;
    gState.paletteChangeCount = 0;
}

// The frame whose begin-image word was just read, through the table built
// while converting: staged, its colours given slots, mapped, then written.
// Returns 1, or 0: with onePassFailed set (and no message) when its colours
// find no slot or it is too large to stage, else with the message as
// writeFrameChunk gives it.
int writeFrameThroughLiveTable(InputReader& input, OutputWriter& output, ChunkWriterState& chunks,
                               std::FILE* scratch, SharedPalette& shared) {
    const StageResult staged = stageFrame(input, chunks);
    if (staged == StageResult::kIrregular) return writeFrameChunk(input, output, chunks, scratch);
    UsedIndexes used{};
    if (staged == StageResult::kStaged) markStagedColours(chunks.staged, used);
    ColourMap map;
    if (staged == StageResult::kFull) {
        shared.onePassFailed = true;
        return 0;
    }
    if (secondTableFindsHalfFull(shared.live, gState.framePalette) ||
        !mapLiveFrame(shared.live, gState.framePalette, used, map.index)) {
        shared.onePassFailed = true;
        return 0;
    }
    if (map.index != identityIndexes()) {
        mapColours(chunks.staged.bytes.data(), chunks.staged.bytes.data() + chunks.staged.used,
                   map);
    }
    return writeStagedFrameChunk(input, output, chunks, scratch);
}

}  // namespace

int scanFrames(InputReader& input, OutputWriter& output, ChunkWriterState& chunks,
               std::FILE* scratch, int dotInterval, bool multiPalette, double framesPerSecond,
               SharedPalette* shared) {
    gState.sharedPalette = shared != nullptr;
    const int32_t framesShown = shared != nullptr ? shared->framesShown : 0;
    if (shared != nullptr && !shared->inUse) shared = nullptr;
    gState.sharedPaletteColours = shared != nullptr ? shared->colours : 0;
    int result = 1;
    bool multipleTables = false;
    bool missedMark = false;
    seekReader(input, 0);
    if (!checkFrameHeader(input)) {
        result = 0;
    } else {
        startAvi(input, output, framesPerSecond, shared);
        Palette paletteInEffect = gState.referencePalette;
        TableBytes previousTables;
        if (dotInterval > 0 && framesShown == 0) printToStandardError("\n");
        for (;;) {
            if (!checkFrameHeader(input)) {
                result = 0;
                break;
            }
            seekReader(input, readerPosition(input) + kFrameHeaderSize);
            readFramePalette(input, previousTables);
            const int64_t imageStart = readerPosition(input);
            if (!readBeginImage(input)) {
                setFormatError(kErrorBeginImage, imageStart);
                result = 0;
                break;
            }
            if (shared != nullptr && !shared->onePass) {
                setFrameColourMap(chunks,
                                  mapFrameColours(*shared, gState.frameCount, gState.framePalette));
            }
            if (!writePaletteChangeIfNeeded(output, chunks, scratch,
                                            multiPalette && shared == nullptr, paletteInEffect,
                                            multipleTables) ||
                !(shared != nullptr && shared->onePass
                      ? writeFrameThroughLiveTable(input, output, chunks, scratch, *shared)
                      : writeFrameChunk(input, output, chunks, scratch))) {
                result = 0;
                break;
            }
            ++gState.frameCount;
            if (dotInterval > 0 && gState.frameCount % dotInterval == 0 &&
                gState.frameCount > framesShown) {
                printToStandardError(".");
            }
            skipFiller(input);
            missedMark = findNextFrame(input);
            // A failing stream is an error after the last frame too.
            if (!checkStreams(input, output, scratch)) {
                result = 0;
                break;
            }
            if (input.ended) break;
        }
    }

    // The colours did not fit one table as the frames came: the caller
    // converts again from the start, with the two passes.
    if (shared != nullptr && shared->onePassFailed) {
        shared->framesShown = std::max(shared->framesShown, gState.frameCount);
        return 0;
    }
    if (result == 1 && shared != nullptr && shared->onePass) {
        gState.sharedPaletteColours = shared->live.colours;
        if (!patchHeaderPalette(output, shared->live.table))
            result = checkStreams(input, output, scratch);
    }
    // Before any frame converted, a specific message only confuses; a failing
    // scratch file or an outgrown output is not the input's fault and keeps its own.
    const bool notTheInput =
        std::ferror(scratch) || output.overLimit || writerPosition(output) > output.limit;
    if (gState.frameCount == 0 && !notTheInput) {
        setErrorText("\"%s\" is not a valid raster metafile", gState.inputPath.c_str());
        if (input.failed) addErrorReason(input.error);  // a folder, say
        result = 0;
    }
    if (dotInterval > 0) printToStandardError("\n");
    if (result == 1 && missedMark) {
        printToStandardError(
            "\nWarning: a frame mark after frame %d was not found by the frame search; "
            "the frames from there on were not converted.\n",
            gState.frameCount);
    }
    if (result == 1 && shared != nullptr && !shared->exact) setSharedPaletteWarning(*shared);
    if (result == 1 && multipleTables && !multiPalette && !gState.sharedPalette) {
        printToStandardError(
            "\nThis raster metafile has multiple color tables.\n"
            "It is recommended that this file be converted using the '-m' option.\n"
            "For players that do not apply palette changes, use the '-p' option.\n");
    }
    return result;
}
