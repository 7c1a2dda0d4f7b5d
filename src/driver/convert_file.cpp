#include "driver/convert_file.h"

#include <cstdio>
#include <optional>
#include <string>

#include "avi/avi_finish.h"
#include "avi/avi_format.h"
#include "avi/movie_chunks.h"
#include "conversion_state.h"
#include "driver/file_naming.h"
#include "driver/overwrite_prompt.h"
#include "platform/file_system.h"
#include "platform/interrupts.h"
#include "platform/memory_blocks.h"
#include "rmfile/frame_scan.h"

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

// Closes its stream on every way out; close() reports whether all buffered
// data reached the file.
struct StreamOwner {
    std::FILE* stream = nullptr;
    StreamOwner() = default;
    StreamOwner(const StreamOwner&) = delete;
    StreamOwner& operator=(const StreamOwner&) = delete;
    ~StreamOwner() {
        if (stream != nullptr) std::fclose(stream);
    }
    bool close() {
        const bool closed = std::fclose(stream) == 0;
        stream = nullptr;
        return closed;
    }
};

// Removes the file at path on every way out unless kept or released; also the
// file an interrupt removes while armed. Declared before the streams on the
// file, so that they are closed first.
struct CreatedFile {
    const std::string* path = nullptr;
    bool isOutput = false;
    bool keep = false;
    CreatedFile() = default;
    CreatedFile(const CreatedFile&) = delete;
    CreatedFile& operator=(const CreatedFile&) = delete;
    void arm(const std::string& armedPath, bool output) {
        path = &armedPath;
        isOutput = output;
        name(path->c_str());
    }
    // Stops removing the file, on every way out and on an interrupt.
    void release() {
        if (path == nullptr) return;  // never armed: a device or pipe
        name(nullptr);
        path = nullptr;
    }
    ~CreatedFile() {
        if (path == nullptr) return;
        InterruptHold hold;
        name(nullptr);
        if (!keep) removeFile(*path);
    }

private:
    void name(const char* handlerPath) const {
        if (isOutput) {
            setInterruptOutputPath(handlerPath);
        } else {
            setInterruptScratchPath(handlerPath);
        }
    }
};

// How the output is written: into a new file beside it that takes its place
// only once complete, or, when that cannot be (a device, a pipe, another
// user's file, a directory that takes no new file), into the output itself.
struct OutputPlan {
    PathKind kind = PathKind::kAbsent;
    std::string target;    // the output file itself, behind any link
    std::string tempPath;  // empty when written in place
};

// Creates the file beside the output for a regular file of this user's that
// it may write, or for a path where nothing stands yet; false when there is none.
bool openBesideOutput(OutputPlan& plan, StreamOwner& output, CreatedFile& outputFile) {
    plan.kind = pathKind(gState.outputPath);
    if (plan.kind == PathKind::kOther) return false;
    plan.target =
        plan.kind == PathKind::kRegular ? resolvedPath(gState.outputPath) : gState.outputPath;
    if (plan.kind == PathKind::kRegular && !mayReplaceFile(plan.target)) return false;
    InterruptHold hold;
    if (!createSiblingTempFile(plan.target, plan.tempPath, output.stream)) return false;
    outputFile.arm(plan.tempPath, true);
    return true;
}

// Opens the output itself for writing. A pipe without a reader makes the open
// wait, so a path that was neither a regular file nor absent is opened with
// the interrupts live; a regular file is named to the handler right after.
bool openOutputInPlace(OutputPlan& plan, StreamOwner& output, CreatedFile& outputFile) {
    std::optional<InterruptHold> hold;
    if (plan.kind != PathKind::kOther) hold.emplace();
    output.stream = openFile(gState.outputPath, "wb");
    if (output.stream == nullptr) return false;
    if (!hold) hold.emplace();
    // A failed run removes its output, but never a device or pipe it wrote to.
    if (isRegularFile(output.stream)) {
        plan.target = resolvedPath(gState.outputPath);
        outputFile.arm(plan.target, true);
    }
    return true;
}

// Closes the output; a complete file written beside the output then takes its
// place, with the replaced file's permissions or a new file's usual ones. A
// complete output, wherever written, is no longer removed by an interrupt.
// False when data did not reach the file or it could not be put in place.
bool closeOutput(OutputPlan& plan, StreamOwner& output, CreatedFile& outputFile, bool complete) {
    if (!complete) return output.close();
    if (plan.tempPath.empty()) {
        if (!output.close()) return false;
        InterruptHold hold;
        outputFile.release();
        return true;
    }
    if (plan.kind != PathKind::kRegular || !copyPermissions(plan.target, output.stream)) {
        setUsualPermissions(output.stream);
    }
    if (!output.close()) return false;
    InterruptHold hold;
    if (!replaceFile(plan.tempPath, plan.target)) return false;
    outputFile.release();
    return true;
}

}  // namespace

int convertFile(const char* inputName, const char* outputName, bool noPrompt, int dotInterval,
                bool multiPalette, double framesPerSecond) {
    InterruptCleanup interruptCleanup;
    OutputPlan plan;
    CreatedFile scratchFile;
    CreatedFile outputFile;
    StreamOwner scratchWriter;
    StreamOwner input;
    StreamOwner output;
    StreamOwner scratchReader;

    {
        InterruptHold hold;
        switch (createScratchFile(kScratchPrefix, gState.scratchPath, scratchWriter.stream)) {
            case ScratchResult::kNoName:
                setErrorText("Could not create temp file name.");
                return 0;
            case ScratchResult::kNotOpened:
                setErrorText("Could not open temp file %s for writing.",
                             gState.scratchPath.c_str());
                return 0;
            case ScratchResult::kCreated:
                break;
        }
        scratchFile.arm(gState.scratchPath, false);
    }

    gState.inputPath = inputPathFor(inputName);
    gState.outputPath = outputPathFor(inputName, outputName);

    input.stream = openFile(gState.inputPath, "rb");
    if (input.stream == nullptr) {
        setErrorText("Could not open %s for reading.", gState.inputPath.c_str());
        return 0;
    }
    if (isSameFile(input.stream, gState.outputPath)) {
        setErrorText("Output file %s is the same file as the input.", gState.outputPath.c_str());
        return 0;
    }
    if (pathExists(gState.outputPath) && !noPrompt && !askOverwrite(gState.outputPath)) {
        return 0;  // declined: no message, the existing file untouched
    }

    if (!openBesideOutput(plan, output, outputFile) &&
        !openOutputInPlace(plan, output, outputFile)) {
        setErrorText("Could not open file %s for writing.", gState.outputPath.c_str());
        return 0;
    }
    // The window and the buffer share one block, which the system may back with
    // a large page; without the block, each is allocated on its own.
    const LargeBlock ioBlock = allocateLargeBlock(kInputWindowSize + kOutputBufferSize);
    uint8_t* const bufferInBlock = ioBlock ? ioBlock.get() + kInputWindowSize : nullptr;
    InputReader reader;
    attachReader(reader, input.stream, kInputWindowSize, ioBlock.get());
    OutputWriter writer;
    attachWriter(writer, output.stream, kOutputBufferSize, kMaxAviFileSize, bufferInBlock);
    ChunkWriterState chunks;
    attachChunkWriter(chunks, kOutputBufferSize);

    int result = scanFrames(reader, writer, chunks, scratchWriter.stream, dotInterval, multiPalette,
                            framesPerSecond);
    if (!scratchWriter.close() && result == 1) {
        setErrorText("i/o error writing to temp file \"%s\".", gState.scratchPath.c_str());
        result = 0;
    }
    if (result == 1) {
        scratchReader.stream = openFile(gState.scratchPath, "rb");
        if (scratchReader.stream == nullptr) {
            setErrorText("Could not open file %s for reading.", gState.scratchPath.c_str());
            result = 0;
        } else {
            result = finishAvi(writer, chunks, scratchReader.stream);
        }
    }
    if (!closeOutput(plan, output, outputFile, result == 1) && result == 1) {
        setErrorText("i/o error writing to \"%s\".", gState.outputPath.c_str());
        result = 0;
    }
    outputFile.keep = result == 1;
    return result;
}
