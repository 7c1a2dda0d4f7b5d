#include "driver/output_file.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "conversion_state.h"
#include "rmfile/frame_header.h"

bool isRasterMetafile(const std::string& path) {
    StreamOwner file;
    file.stream = openRegularFile(path);
    return file.stream != nullptr && beginsWithFrameMark(file.stream);
}

namespace {

// The conversion of an output that is copied over once complete.
constexpr const char* kCopyPrefix = "kesavi";
// The copy reads and writes this much at a time.
constexpr size_t kCopyPieceSize = size_t{256} << 10;

int outputNotWritable(const SystemError& error) {
    setErrorText("Could not open file %s for writing.", gState.outputPath.c_str());
    addErrorReason(error);
    return 0;
}

int outputWriteError(const SystemError& error) {
    setErrorText("i/o error writing to \"%s\".", gState.outputPath.c_str());
    addErrorReason(error);
    return 0;
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
bool openOutputInPlace(OutputPlan& plan, StreamOwner& output, CreatedFile& outputFile,
                       SystemError& error) {
    std::optional<InterruptHold> hold;
    if (plan.kind != PathKind::kOther) hold.emplace();
    output.stream = openFile(gState.outputPath, "wb");
    if (output.stream == nullptr) {
        error = lastSystemError();
        return false;
    }
    if (!hold) hold.emplace();
    // A failed run removes its output, but never a device or pipe it wrote to.
    if (isRegularFile(output.stream)) {
        plan.target = resolvedPath(gState.outputPath);
        outputFile.arm(plan.target, true);
    }
    return true;
}

// Copies the rest of from into to; false, with the system's reason, when a
// read or a write failed.
bool copyStream(std::FILE* from, std::FILE* to, SystemError& error) {
    std::vector<uint8_t> piece(kCopyPieceSize);
    for (;;) {
        const size_t got = std::fread(piece.data(), 1, piece.size(), from);
        const bool readFailed = got < piece.size() && std::ferror(from) != 0;
        if (readFailed) error = lastSystemError();
        if (std::fwrite(piece.data(), 1, got, to) != got) {
            error = lastSystemError();
            return false;
        }
        if (got < piece.size()) return !readFailed;
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
        addErrorReason(lastSystemError());
        return 0;
    }
    StreamOwner destination;
    destination.stream = openLockedForWriting(plan.target);
    if (destination.stream == nullptr) return outputNotWritable(lastSystemError());
    // Pieces go straight to the file: nothing is left in a buffer to be
    // written after the file was emptied.
    std::setvbuf(source.stream, nullptr, _IONBF, 0);
    std::setvbuf(destination.stream, nullptr, _IONBF, 0);
    InterruptHold hold;
    SystemError error;
    if (!emptyFile(destination.stream)) return outputWriteError(lastSystemError());
    if (copyStream(source.stream, destination.stream, error)) {
        return destination.close() ? 1 : outputWriteError(lastSystemError());
    }
    emptyFile(destination.stream);
    return outputWriteError(error);
}

}  // namespace

int openOutput(OutputPlan& plan, StreamOwner& output, CreatedFile& outputFile) {
    plan.kind = pathKind(gState.outputPath);
    if (plan.kind == PathKind::kRegular) {
        plan.target = resolvedPath(gState.outputPath);
        if (!mayWriteFile(plan.target)) return outputNotWritable(lastSystemError());
        if (mayReplaceFile(plan.target) && openBesideOutput(plan, output, outputFile)) return 1;
        plan.way = OutputWay::kCopied;
        return createTempFile(kCopyPrefix, plan.tempPath, output, outputFile, true);
    }
    plan.target = gState.outputPath;
    if (plan.kind == PathKind::kAbsent && openBesideOutput(plan, output, outputFile)) return 1;
    SystemError error;
    return openOutputInPlace(plan, output, outputFile, error) ? 1 : outputNotWritable(error);
}

int deliverOutput(const OutputPlan& plan, StreamOwner& output, CreatedFile& outputFile) {
    if (plan.way == OutputWay::kCopied) {
        return output.close() ? copyOverOutput(plan)
                              : tempFileWriteError(plan.tempPath, lastSystemError());
    }
    if (plan.way == OutputWay::kBeside &&
        (plan.kind != PathKind::kRegular || !copyPermissions(plan.target, output.stream))) {
        setUsualPermissions(output.stream);
    }
    if (!output.close()) return outputWriteError(lastSystemError());
    InterruptHold hold;
    if (plan.way == OutputWay::kBeside && !replaceFile(plan.tempPath, plan.target)) {
        return outputWriteError(lastSystemError());
    }
    outputFile.release();
    return 1;
}
