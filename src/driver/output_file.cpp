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

// An existing output whose first bytes cannot be read may be a raster
// metafile: it is not written over unchecked.
int refuseUncheckedOutput(const SystemError& error) {
    setErrorText(
        "Output file %s cannot be read to check that it is not a raster metafile; it "
        "is not replaced.",
        gState.outputPath.c_str());
    addErrorReason(error);
    return 0;
}

// Whether the existing regular file at path is a raster metafile; 0 with the
// message when it cannot be read to tell.
int examineExistingFile(const std::string& path, bool& metafile) {
    StreamOwner file;
    file.stream = openRegularFile(path);
    if (file.stream == nullptr) {
        const SystemError error = lastSystemError();
        metafile = false;
        return pathExists(path) ? refuseUncheckedOutput(error) : 1;  // gone meanwhile: absent
    }
    metafile = beginsWithFrameMark(file.stream);
    if (std::ferror(file.stream)) return refuseUncheckedOutput(lastSystemError());
    return 1;
}

}  // namespace

bool namesStandardOutput(const std::string& outputPath) {
    return descriptorNamedBy(outputPath) == kStandardOutputDescriptor;
}

namespace {

// The conversion of an output that is copied over or to once complete.
constexpr const char* kCopyPrefix = "kesavi";
// The copy reads and writes this much at a time.
constexpr size_t kCopyPieceSize = size_t{256} << 10;

int outputNotWritable(const SystemError& error) {
    setErrorText("Could not open file %s for writing.", gState.outputPath.c_str());
    addErrorReason(error);
    return 0;
}

// Refuses an output that is the input itself or a raster metafile: the file
// at the output's path, or held, the output already open in place. Returns 1,
// or 0 with the message.
int refuseInputOrMetafile(const OutputPlan& plan, std::FILE* input, std::FILE* held) {
    if (held != nullptr ? isSameOpenFile(input, held) : isSameFile(input, plan.target)) {
        setErrorText("Output file %s is the same file as the input.", gState.outputPath.c_str());
        return 0;
    }
    bool metafile = false;
    if (held == nullptr) {
        if (plan.kind != PathKind::kRegular) {
            metafile = isRasterMetafile(plan.target);
        } else if (!examineExistingFile(plan.target, metafile)) {
            return 0;
        }
    } else {
        metafile = beginsWithFrameMark(held);
        // Put there since it was examined, and opened for writing alone: the
        // failed read's reason would only name the stream's mode.
        if (std::ferror(held)) return refuseUncheckedOutput(SystemError{});
        std::clearerr(held);
    }
    if (metafile) {
        setErrorText("Output file %s is a raster metafile; it is not replaced.",
                     gState.outputPath.c_str());
        // Most likely the second of several inputs, as the shell's "*.rm" gives them.
        if (plan.named) {
            gState.errorText +=
                "\nTo convert several files, add the -b option: every name is then an input.";
        }
        return 0;
    }
    return 1;
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

// The conversion goes to a file of the run's own, to be copied to the
// output, already open in plan.destination, once complete.
int openTemporaryOutput(OutputPlan& plan, OutputWay way, StreamOwner& output,
                        CreatedFile& outputFile) {
    plan.way = way;
    return createTempFile(kCopyPrefix, plan.tempPath, output, outputFile, true);
}

// Pieces go straight to the output: nothing is left in a buffer to be written
// after the file was emptied or the run ended.
std::FILE* unbuffered(std::FILE* stream) {
    if (stream != nullptr) std::setvbuf(stream, nullptr, _IONBF, 0);
    return stream;
}

// An existing file that cannot be replaced is opened now, not followed should
// a link be put in its place, and written at the end through this stream
// alone. Something else may have been put at its path since that was
// examined, so the file opened is checked itself.
int openCopiedOutput(OutputPlan& plan, std::FILE* input, StreamOwner& output,
                     CreatedFile& outputFile) {
    plan.destination.stream = unbuffered(openInPlace(plan.target));
    if (plan.destination.stream == nullptr) return outputNotWritable(lastSystemError());
    if (!refuseInputOrMetafile(plan, input, plan.destination.stream)) return 0;
    return openTemporaryOutput(plan, OutputWay::kCopied, output, outputFile);
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

// The complete conversion, opened for reading; 0 with the message when it
// cannot be.
int openConversion(const OutputPlan& plan, StreamOwner& source) {
    source.stream = openFile(plan.tempPath, "rb");
    if (source.stream == nullptr) {
        setErrorText("Could not open file %s for reading.", plan.tempPath.c_str());
        addErrorReason(lastSystemError());
        return 0;
    }
    std::setvbuf(source.stream, nullptr, _IONBF, 0);
    return 1;
}

// Copies the complete conversion over the output, which so keeps its owner,
// mode and links. The output is held for writing by this run alone first,
// after any other run copying to it; then, with the interrupts held, its old
// bytes give way to the new ones. The room for them is taken first: a disk
// too full for them fails with the old bytes kept. Where no room can be
// taken beforehand, the file is emptied first, and a copy that fails midway
// leaves it empty. Returns 1, or 0 with the message.
int copyOverOutput(OutputPlan& plan) {
    StreamOwner source;
    FileStamp conversion;
    if (!openConversion(plan, source)) return 0;
    if (!readFileStamp(source.stream, conversion)) return outputWriteError(lastSystemError());
    std::FILE* const destination = plan.destination.stream;
    if (!lockForWriting(destination)) return outputNotWritable(lastSystemError());
    InterruptHold hold;
    const ReserveResult reserved = reserveFileSize(destination, conversion.size);
    if (reserved == ReserveResult::kFailed) return outputWriteError(lastSystemError());
    const bool emptied = reserved == ReserveResult::kNotSupported;
    if (emptied ? !emptyFile(destination) : std::fseek(destination, 0, SEEK_SET) != 0) {
        return outputWriteError(lastSystemError());
    }
    SystemError error;
    bool copied = copyStream(source.stream, destination, error);
    if (copied && !emptied && !cutFile(destination, conversion.size)) {
        error = lastSystemError();
        copied = false;
    }
    if (copied) return plan.destination.close() ? 1 : outputWriteError(lastSystemError());
    emptyFile(destination);
    return outputWriteError(error);
}

// Copies the complete conversion to the output stream as it stands.
int copyToStream(OutputPlan& plan) {
    StreamOwner source;
    if (!openConversion(plan, source)) return 0;
    SystemError error;
    if (!copyStream(source.stream, plan.destination.stream, error)) return outputWriteError(error);
    return plan.destination.close() ? 1 : outputWriteError(lastSystemError());
}

}  // namespace

int examineOutput(OutputPlan& plan, std::FILE* input) {
    // No file has that name: say so now, not after the whole conversion.
    if (gState.outputPath.empty()) {
        setErrorText("The output file name is empty.");
        return 0;
    }
    plan.descriptor = descriptorNamedBy(gState.outputPath);
    if (plan.descriptor >= 0) {
        plan.kind = PathKind::kOther;
        plan.target = gState.outputPath;
    } else {
        plan.kind = pathKind(gState.outputPath);
        plan.target =
            plan.kind == PathKind::kRegular ? resolvedPath(gState.outputPath) : gState.outputPath;
    }
    return refuseInputOrMetafile(plan, input, nullptr);
}

int openOutput(OutputPlan& plan, std::FILE* input, StreamOwner& output, CreatedFile& outputFile) {
    if (plan.descriptor >= 0) {
        plan.destination.stream = unbuffered(openDescriptorForWriting(plan.descriptor));
        if (plan.destination.stream == nullptr) return outputNotWritable(lastSystemError());
        return openTemporaryOutput(plan, OutputWay::kStreamed, output, outputFile);
    }
    if (plan.kind == PathKind::kRegular) {
        if (!mayWriteFile(plan.target)) return outputNotWritable(lastSystemError());
        if (mayReplaceFile(plan.target) && openBesideOutput(plan, output, outputFile)) return 1;
        return openCopiedOutput(plan, input, output, outputFile);
    }
    if (plan.kind == PathKind::kAbsent && openBesideOutput(plan, output, outputFile)) return 1;
    SystemError error;
    if (!openOutputInPlace(plan, output, outputFile, error)) return outputNotWritable(error);
    if (canSeek(output.stream)) {
        plan.way = OutputWay::kDirect;
        return 1;
    }
    // The AVI's sizes are filled in at the end, which a pipe cannot take.
    plan.destination.stream = unbuffered(output.stream);
    output.stream = nullptr;
    return openTemporaryOutput(plan, OutputWay::kStreamed, output, outputFile);
}

int deliverOutput(OutputPlan& plan, StreamOwner& output, CreatedFile& outputFile) {
    if (plan.way == OutputWay::kCopied || plan.way == OutputWay::kStreamed) {
        if (!output.close()) return tempFileWriteError(plan.tempPath, lastSystemError());
        return plan.way == OutputWay::kCopied ? copyOverOutput(plan) : copyToStream(plan);
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
