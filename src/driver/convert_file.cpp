#include "driver/convert_file.h"

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "avi/avi_finish.h"
#include "avi/avi_format.h"
#include "conversion_state.h"
#include "driver/file_naming.h"
#include "driver/overwrite_prompt.h"
#include "platform/file_system.h"
#include "platform/interrupts.h"
#include "platform/memory_blocks.h"
#include "rmfile/frame_header.h"
#include "rmfile/frame_scan.h"

namespace {

constexpr const char* kScratchPrefix = "kesidx";
// The conversion of an output that is copied over once complete.
constexpr const char* kCopyPrefix = "kesavi";
// The copy reads and writes this much at a time.
constexpr size_t kCopyPieceSize = size_t{256} << 10;

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

// Removes the file at path on every way out unless released; also the file
// an interrupt removes while armed. Declared before the streams on the file,
// so that they are closed first.
struct CreatedFile {
    const std::string* path = nullptr;
    bool isOutput = false;
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
        removeFile(*path);
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

// How the output is written:
// - kBeside: into a new file beside it, which takes its place once complete;
// - kCopied: into a file of the run's own in the temporary directory, copied
//   over the output once complete: an existing file that cannot be replaced
//   (another user's, which keeps its owner so) or beside which no new file
//   can be made, and which so keeps its bytes until there is an AVI to copy;
// - kDirect: into the output itself: a device, a pipe, or a new file that
//   cannot be made beside it.
enum class OutputWay { kBeside, kCopied, kDirect };

struct OutputPlan {
    PathKind kind = PathKind::kAbsent;
    OutputWay way = OutputWay::kDirect;
    std::string target;    // the output file itself, behind any link
    std::string tempPath;  // the file written instead of the output, if any
};

int outputNotWritable() {
    setErrorText("Could not open file %s for writing.", gState.outputPath.c_str());
    return 0;
}

int outputWriteError() {
    setErrorText("i/o error writing to \"%s\".", gState.outputPath.c_str());
    return 0;
}

// Creates a file of this run's own in the temporary directory, opened for
// writing into owner and armed for removal. Returns 1, or 0 with the message.
int createTempFile(const char* prefix, std::string& path, StreamOwner& owner, CreatedFile& file,
                   bool isOutput) {
    InterruptHold hold;
    switch (createScratchFile(prefix, path, owner.stream)) {
        case ScratchResult::kNoName:
            setErrorText("Could not create temp file name.");
            return 0;
        case ScratchResult::kNotOpened:
            setErrorText("Could not open temp file %s for writing.", path.c_str());
            return 0;
        case ScratchResult::kCreated:
            break;
    }
    file.arm(path, isOutput);
    return 1;
}

// True when the existing output is a raster metafile, most likely an input
// the shell's "*.rm" put in the output's place. Only a regular file is read.
bool isRasterMetafile(const std::string& path) {
    StreamOwner file;
    file.stream = openRegularFile(path);
    return file.stream != nullptr && beginsWithFrameMark(file.stream);
}

// Creates the file beside the output; false when there is none.
bool openBesideOutput(OutputPlan& plan, StreamOwner& output, CreatedFile& outputFile) {
    InterruptHold hold;
    if (!createSiblingTempFile(plan.target, plan.tempPath, output.stream)) return false;
    outputFile.arm(plan.tempPath, true);
    plan.way = OutputWay::kBeside;
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

// Chooses how the output is written and opens the file the conversion writes.
// Returns 1, or 0 with the message; nothing existing is changed.
int openOutput(OutputPlan& plan, StreamOwner& output, CreatedFile& outputFile) {
    plan.kind = pathKind(gState.outputPath);
    if (plan.kind == PathKind::kRegular) {
        plan.target = resolvedPath(gState.outputPath);
        if (!mayWriteFile(plan.target)) return outputNotWritable();
        if (mayReplaceFile(plan.target) && openBesideOutput(plan, output, outputFile)) return 1;
        plan.way = OutputWay::kCopied;
        return createTempFile(kCopyPrefix, plan.tempPath, output, outputFile, true);
    }
    plan.target = gState.outputPath;
    if (plan.kind == PathKind::kAbsent && openBesideOutput(plan, output, outputFile)) return 1;
    return openOutputInPlace(plan, output, outputFile) ? 1 : outputNotWritable();
}

// Copies the rest of from into to; false when a read or a write failed.
bool copyStream(std::FILE* from, std::FILE* to) {
    std::vector<uint8_t> piece(kCopyPieceSize);
    for (;;) {
        const size_t got = std::fread(piece.data(), 1, piece.size(), from);
        if (std::fwrite(piece.data(), 1, got, to) != got) return false;
        if (got < piece.size()) return std::ferror(from) == 0;
    }
}

// Copies the complete conversion over the output, which so keeps its owner,
// mode and links. The output is held for writing by this run alone first,
// after any other run copying to it; then, with the interrupts held, its old
// bytes give way to the new ones. Until then the output keeps its bytes; a
// copy that fails midway leaves it empty. Returns 1, or 0 with the message.
int copyOverOutput(const OutputPlan& plan) {
    StreamOwner source;
    source.stream = openFile(plan.tempPath, "rb");
    if (source.stream == nullptr) {
        setErrorText("Could not open file %s for reading.", plan.tempPath.c_str());
        return 0;
    }
    StreamOwner destination;
    destination.stream = openLockedForWriting(plan.target);
    if (destination.stream == nullptr) return outputNotWritable();
    // Pieces go straight to the file: nothing is left in a buffer to be
    // written after the file was emptied.
    std::setvbuf(source.stream, nullptr, _IONBF, 0);
    std::setvbuf(destination.stream, nullptr, _IONBF, 0);
    InterruptHold hold;
    if (emptyFile(destination.stream) && copyStream(source.stream, destination.stream)) {
        return destination.close() ? 1 : outputWriteError();
    }
    emptyFile(destination.stream);
    return outputWriteError();
}

// Brings a complete conversion to the output: the file beside it takes its
// place, with the replaced file's permissions or a new file's usual ones, or
// the temporary file is copied over it. A complete output, wherever written,
// is no longer removed by an interrupt. Returns 1, or 0 with the message.
int deliverOutput(const OutputPlan& plan, StreamOwner& output, CreatedFile& outputFile) {
    if (plan.way == OutputWay::kCopied) {
        if (!output.close()) {
            setErrorText("i/o error writing to temp file \"%s\".", plan.tempPath.c_str());
            return 0;
        }
        return copyOverOutput(plan);
    }
    if (plan.way == OutputWay::kBeside &&
        (plan.kind != PathKind::kRegular || !copyPermissions(plan.target, output.stream))) {
        setUsualPermissions(output.stream);
    }
    if (!output.close()) return outputWriteError();
    InterruptHold hold;
    if (plan.way == OutputWay::kBeside && !replaceFile(plan.tempPath, plan.target)) {
        return outputWriteError();
    }
    outputFile.release();
    return 1;
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

    if (!createTempFile(kScratchPrefix, gState.scratchPath, scratchWriter, scratchFile, false)) {
        return 0;
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
    if (isRasterMetafile(gState.outputPath)) {
        setErrorText("Output file %s is a raster metafile; it is not replaced.",
                     gState.outputPath.c_str());
        return 0;
    }
    if (pathExists(gState.outputPath) && !noPrompt && !askOverwrite(gState.outputPath)) {
        return 0;  // declined: no message, the existing file untouched
    }

    if (!openOutput(plan, output, outputFile)) return 0;
    // The window and the buffer share one block, which the system may back with
    // a large page; without the block, each is allocated on its own.
    const LargeBlock ioBlock = allocateLargeBlock(kInputWindowSize + kOutputBufferSize);
    uint8_t* const bufferInBlock = ioBlock ? ioBlock.get() + kInputWindowSize : nullptr;
    InputReader reader;
    attachReader(reader, input.stream, kInputWindowSize, ioBlock.get());
    OutputWriter writer;
    attachWriter(writer, output.stream, kOutputBufferSize, kMaxAviFileSize, bufferInBlock);

    int result = scanFrames(reader, writer, scratchWriter.stream, dotInterval, multiPalette,
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
            result = finishAvi(writer, scratchReader.stream);
        }
    }
    // A conversion written to the temporary directory failed there, not at
    // the output, which it has not touched.
    if (result == 0 && writer.failed && plan.way == OutputWay::kCopied) {
        setErrorText("i/o error writing to temp file \"%s\".", plan.tempPath.c_str());
    }
    if (result == 1) result = deliverOutput(plan, output, outputFile);
    return result;
}
