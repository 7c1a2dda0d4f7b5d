#include "driver/convert_file.h"

#include <cstdio>

#include "avi/avi_finish.h"
#include "avi/avi_format.h"
#include "avi/movie_chunks.h"
#include "conversion_state.h"
#include "driver/file_naming.h"
#include "driver/frame_scan.h"
#include "driver/output_file.h"
#include "driver/overwrite_prompt.h"
#include "driver/run_files.h"
#include "gif/gif_writer.h"
#include "platform/file_system.h"
#include "platform/interrupts.h"
#include "platform/memory_blocks.h"
#include "rmfile/frame_header.h"

namespace {

constexpr const char* kScratchPrefix = "kesidx";

// A frame is staged in twice the output buffer's size (a whole 1024 x 768 frame
// of single-pixel words fits); a larger one is written in bands of a quarter of
// the input window, which after the seek back to a band holds the bands above it.
// The window is read a quarter (at most 256 KiB) at a time, so that the bytes
// read are still in the processor's cache when they are used.
// A build may make them tiny, so that every edge of them is crossed (fuzzing).
#if !defined(KESTRUP_INPUT_WINDOW_SIZE)
#define KESTRUP_INPUT_WINDOW_SIZE (size_t{1} << 20)
#endif
#if !defined(KESTRUP_OUTPUT_BUFFER_SIZE)
#define KESTRUP_OUTPUT_BUFFER_SIZE (size_t{1} << 20)
#endif
constexpr size_t kInputWindowSize = KESTRUP_INPUT_WINDOW_SIZE;
constexpr size_t kOutputBufferSize = KESTRUP_OUTPUT_BUFFER_SIZE;

// The input could not be opened: the system's reason, unless the name was
// typed without ".rm" and names a file as typed, which is the likelier slip.
int inputNotOpened(const char* inputName) {
    const SystemError error = lastSystemError();
    setErrorText("Could not open %s for reading.", gState.inputPath.c_str());
    if (gState.inputPath != inputName && pathExists(inputName)) {
        gState.errorText += formatText(
            "\nThe name \"%s\" does not end in \".rm\", so \".rm\" was added to it; \"%s\" "
            "itself exists.",
            inputName, inputName);
    } else {
        addErrorReason(error);
    }
    return 0;
}

// The input is read more than once in parts: the first frame, bands of rows
// read again, and with -p every frame. An input that changed meanwhile (grew,
// shrank, or was written at all) may have given a mix of its old and new
// bytes, or frames the first pass did not count; the run fails rather than
// give that as the conversion, also when the mix is what the scan refused.
int refuseChangedInput(std::FILE* input, const FileStamp& before, bool uncountedFrames) {
    FileStamp now;
    if (!uncountedFrames && readFileStamp(input, now) && now == before) return 1;
    setErrorText("Input file %s changed while it was being converted.", gState.inputPath.c_str());
    return 0;
}

// After the frames: the index from the scratch file and the header's sizes.
// A second go wrote every byte the first wrote, and the frames it shares with
// it in the same sizes; past its end nothing may stay.
int finishConversion(int result, OutputWriter& writer, const ChunkWriterState& chunks,
                     StreamOwner& scratchWriter, std::FILE* output, bool restarted,
                     OutputFormat format) {
    if (!scratchWriter.close() && result == 1) {
        result = tempFileWriteError(gState.scratchPath, lastSystemError());
    }
    if (result != 1) return result;
    if (format == OutputFormat::kGif) return finishGif(writer);  // a GIF has no index
    StreamOwner scratchReader;
    scratchReader.stream = openFile(gState.scratchPath, "rb");
    if (scratchReader.stream == nullptr) {
        setErrorText("Could not open file %s for reading.", gState.scratchPath.c_str());
        addErrorReason(lastSystemError());
        return 0;
    }
    result = finishAvi(writer, chunks, scratchReader.stream);
    if (result == 1 && restarted && !cutFile(output, writerPosition(writer))) {
        return outputWriteError(lastSystemError());
    }
    return result;
}

// One pass with -p builds the table as the frames come and writes it at the
// end, over the output written so far: an AVI file of this run's own, which can
// be written again from its start when the colours do not fit. A GIF compares
// each frame's colours with the frame before, which needs the table from the
// start: it always has the two passes.
bool canBuildTableAsFramesCome(const OutputPlan& plan, const ScanOptions& options) {
    return plan.way != OutputWay::kDirect && options.format == OutputFormat::kAvi;
}

// Frames too large for a GIF are refused before the output is touched: the
// first frame's size, as its header gives it (later frames must share it).
int refuseFramesTooLargeForGif(std::FILE* input) {
    FrameSize size;
    // A side of 0 or less is no frame at all: the scan says so as for an AVI.
    if (!readFirstFrameSize(input, size) || size.width <= 0 || size.height <= 0 ||
        gifSizeFits(size.width, size.height)) {
        return 1;
    }
    return refuseGifSize(size.width, size.height);
}

// The input's identity as it was opened, to tell a change while it is read.
struct InputStamp {
    FileStamp stamp;
    bool taken = false;
};

// Converts the opened input into the opened output: the frames, the index and
// the header's sizes. Returns 1, or 0 with the message.
int convertOpenFiles(std::FILE* input, const InputStamp& inputStamp, std::FILE* output,
                     StreamOwner& scratchWriter, const OutputPlan& plan, const ScanOptions& options,
                     bool sharedPalette) {
    // The window and the buffer share one block, which the system may back with
    // a large page; without the block, each is allocated on its own.
    const LargeBlock ioBlock = allocateLargeBlock(kInputWindowSize + kOutputBufferSize);
    uint8_t* const bufferInBlock = ioBlock ? ioBlock.get() + kInputWindowSize : nullptr;
    InputReader reader;
    attachReader(reader, input, kInputWindowSize, ioBlock.get());
    OutputWriter writer;
    attachWriter(writer, output, kOutputBufferSize, kMaxAviFileSize, bufferInBlock);
    ChunkWriterState chunks;
    attachChunkWriter(chunks, kOutputBufferSize);

    // With -p the frames are converted once, the table built as they come, for
    // as long as their colours fit one table and the output is a file of this
    // run's own, which can be written again from its start; else, and after
    // that first go, a first pass counts the colours and chooses the table.
    FrameColours colours;
    SharedTableRun sharedRun;
    int result =
        sharedPalette
            ? scanFramesSharingTable(reader, writer, chunks, scratchWriter.stream, options, colours,
                                     canBuildTableAsFramesCome(plan, options), sharedRun)
            : scanFrames(reader, writer, chunks, scratchWriter.stream, options, colours);
    result = finishConversion(result, writer, chunks, scratchWriter, output, sharedRun.restarted,
                              options.format);
    // A conversion written to the temporary directory failed there, not at
    // the output, which it has not touched.
    if (result == 0 && writer.failed &&
        (plan.way == OutputWay::kCopied || plan.way == OutputWay::kStreamed)) {
        tempFileWriteError(plan.tempPath, writer.error);
    }
    if (inputStamp.taken && !writer.failed &&
        !refuseChangedInput(
            input, inputStamp.stamp,
            result == 1 && sharedRun.counted && gState.frameCount > colours.count.framesCounted)) {
        result = 0;
    }
    return result;
}

}  // namespace

int convertFile(const char* inputName, const char* outputName, bool noPrompt, int dotInterval,
                bool multiPalette, double framesPerSecond, bool sharedPalette, std::FILE* console,
                OutputFormat format) {
    InterruptCleanup interruptCleanup;
    OutputPlan plan;
    CreatedFile scratchFile;
    CreatedFile outputFile;
    StreamOwner scratchWriter;
    StreamOwner input;
    StreamOwner output;

    if (!createTempFile(kScratchPrefix, gState.scratchPath, scratchWriter, scratchFile, false)) {
        return 0;
    }

    gState.inputPath = inputPathFor(inputName);
    gState.outputPath = outputPathFor(inputName, outputName, format);

    input.stream = openFile(gState.inputPath, "rb");
    if (input.stream == nullptr) return inputNotOpened(inputName);
    InputStamp inputStamp;
    inputStamp.taken = readFileStamp(input.stream, inputStamp.stamp);
    // A pipe or a device would give its bytes once, or different ones the second time.
    if (sharedPalette && !inputStamp.taken) {
        setErrorText("The -p option reads %s twice, which only a regular file allows.",
                     gState.inputPath.c_str());
        return 0;
    }
    if (format == OutputFormat::kGif && !refuseFramesTooLargeForGif(input.stream)) return 0;
    plan.named = outputName != nullptr;
    if (!examineOutput(plan, input.stream)) return 0;
    if (pathExists(gState.outputPath) && !noPrompt && !askOverwrite(gState.outputPath, console)) {
        return 0;  // declined: no message, the existing file untouched
    }

    if (!openOutput(plan, input.stream, output, outputFile)) return 0;
    const ScanOptions options{dotInterval, multiPalette, framesPerSecond, format};
    gState.sharedPalette = sharedPalette;
    int result = convertOpenFiles(input.stream, inputStamp, output.stream, scratchWriter, plan,
                                  options, sharedPalette);
    if (result == 1) result = deliverOutput(plan, output, outputFile);
    return result;
}
