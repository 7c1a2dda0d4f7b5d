#include "driver/convert_file.h"

#include <cstdio>
#include <string>

#include "avi/avi_finish.h"
#include "avi/avi_format.h"
#include "conversion_state.h"
#include "driver/file_naming.h"
#include "driver/interrupt_cleanup.h"
#include "driver/output_file.h"
#include "driver/scratch_file.h"
#include "rmfile/frame_scan.h"

namespace {

// A frame is staged in twice the output buffer's size (a whole 1024 x 768 frame
// of single-pixel words fits); a larger one is written in bands of a quarter of
// the input window, which after the seek back to a band holds the bands above it.
// A build may make them tiny, so that every edge of them is crossed (fuzzing).
#if !defined(KESTRUP_INPUT_WINDOW_SIZE)
#define KESTRUP_INPUT_WINDOW_SIZE (size_t{2} << 20)
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

// Removes the file at path on every way out unless kept; also the file an
// interrupt removes while armed. Declared before the streams on the file, so
// that they are closed first.
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
        if (isOutput) {
            setInterruptOutputPath(path->c_str());
        } else {
            setInterruptScratchPath(path->c_str());
        }
    }
    ~CreatedFile() {
        if (path == nullptr) return;
        InterruptHold hold;
        if (isOutput) {
            setInterruptOutputPath(nullptr);
        } else {
            setInterruptScratchPath(nullptr);
        }
        if (!keep) std::remove(path->c_str());
    }
};

}  // namespace

int convertFile(const char* inputName, const char* outputName, bool noPrompt, int dotInterval,
                bool multiPalette, double framesPerSecond) {
    InterruptCleanup interruptCleanup;
    std::string outputTarget;  // the output file itself, behind any link
    CreatedFile scratchFile;
    CreatedFile outputFile;
    StreamOwner scratchWriter;
    StreamOwner input;
    StreamOwner output;
    StreamOwner scratchReader;

    {
        InterruptHold hold;
        switch (createScratchFile(gState.scratchPath, scratchWriter.stream)) {
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

    input.stream = std::fopen(gState.inputPath.c_str(), "rb");
    if (input.stream == nullptr) {
        setErrorText("Could not open %s for reading.", gState.inputPath.c_str());
        return 0;
    }
    if (isSameFile(input.stream, gState.inputPath, gState.outputPath)) {
        setErrorText("Output file %s is the same file as the input.", gState.outputPath.c_str());
        return 0;
    }
    if (outputExists(gState.outputPath) && !noPrompt && !askOverwrite(gState.outputPath)) {
        return 0;  // declined: no message, the existing file untouched
    }

    {
        InterruptHold hold;
        output.stream = std::fopen(gState.outputPath.c_str(), "wb");
        if (output.stream == nullptr) {
            setErrorText("Could not open file %s for writing.", gState.outputPath.c_str());
            return 0;
        }
        // A failed run removes its output, but never a device or pipe it wrote to.
        if (isRegularFile(output.stream)) {
            outputTarget = resolvedPath(gState.outputPath);
            outputFile.arm(outputTarget, true);
        }
    }
    InputReader reader;
    attachReader(reader, input.stream, kInputWindowSize);
    OutputWriter writer;
    attachWriter(writer, output.stream, kOutputBufferSize, kMaxAviFileSize);

    int result = scanFrames(reader, writer, scratchWriter.stream, dotInterval, multiPalette,
                            framesPerSecond);
    if (!scratchWriter.close() && result == 1) {
        setErrorText("i/o error writing to temp file \"%s\".", gState.scratchPath.c_str());
        result = 0;
    }
    if (result == 1) {
        scratchReader.stream = std::fopen(gState.scratchPath.c_str(), "rb");
        if (scratchReader.stream == nullptr) {
            setErrorText("Could not open file %s for reading.", gState.scratchPath.c_str());
            result = 0;
        } else {
            result = finishAvi(writer, scratchReader.stream);
        }
    }
    if (!output.close() && result == 1) {
        setErrorText("i/o error writing to \"%s\".", gState.outputPath.c_str());
        result = 0;
    }
    outputFile.keep = result == 1;
    return result;
}
