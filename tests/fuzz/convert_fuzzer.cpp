// Fuzz target: one whole conversion of arbitrary bytes, from a temporary input
// file to a temporary output file, followed by checks of what the conversion
// leaves behind; then the same bytes through the frame scan with every kernel,
// in tiny and in normal windows, which must all write the same bytes. Inputs
// that begin with 'A' describe an animation instead, built with the metafile
// writer, whose decoded frames must be its pictures. A broken check aborts,
// so libFuzzer and the replay test both report it as a crash.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "avi/avi_format.h"
#include "avi/movie_chunks.h"
#include "avi/rle8_kernels.h"
#include "avi_reader.h"
#include "conversion_state.h"
#include "driver/convert_file.h"
#include "fuzz_options.h"
#include "rm_writer.h"
#include "rmfile/colour_pass.h"
#include "rmfile/frame_scan.h"
#include "stream_buffers.h"

namespace {

// A private directory per process: the input and output files, and the
// converter's temporary directory, which must be empty after every run.
struct Workspace {
    std::string root;
    std::string scratchDirectory;
    std::string input;
    std::string output;
    std::string scanOutput;  // the frame scan's, kernel by kernel
    std::string scanScratch;
};

const Workspace& workspace();

// Made once and never destroyed, so that the exit handler that removes the
// directory still finds its name.
const Workspace* makeWorkspace() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/kestrup-fuzz-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) {
        std::perror("mkdtemp");
        std::abort();
    }
    const std::string root = name.data();
    const auto* made = new Workspace{root,
                                     root + "/tmp",
                                     root + "/input.rm",
                                     root + "/output.avi",
                                     root + "/scan.avi",
                                     root + "/scan.idx"};
    if (mkdir(made->scratchDirectory.c_str(), 0700) != 0 ||
        setenv("TMPDIR", made->scratchDirectory.c_str(), 1) != 0) {
        std::perror(made->scratchDirectory.c_str());
        std::abort();
    }
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::remove_all(workspace().root, ignored);
    });
    return made;
}

const Workspace& workspace() {
    static const Workspace* const kWorkspace = makeWorkspace();
    return *kWorkspace;
}

bool exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// Standard output, because a fuzzing run may close standard error to silence the
// converter's own messages.
[[noreturn]] void broken(const char* what, int result) {
    std::printf("convert_fuzzer: %s (result %d, frames %d, error text \"%s\")\n", what, result,
                gState.frameCount, gState.errorText.c_str());
    std::fflush(stdout);
    std::abort();
}

// AVIPALCHANGE for all 256 entries: first entry, count, flags, 4 bytes per entry.
constexpr size_t kPaletteChangeSize = 4 + 4 * 256;

// A finished file: sound RIFF structure, and index, header counts and movie
// chunks that agree with each other and with the conversion's counters.
void checkFinishedAvi(const Bytes& file, int result) {
    const ParsedAvi avi = parseAvi(file);
    if (!avi.problem.empty()) broken(avi.problem.c_str(), result);
    const auto frames = static_cast<uint32_t>(gState.frameCount);
    const auto chunks = frames + static_cast<uint32_t>(gState.paletteChangeCount);
    if (gState.frameCount < 1) broken("success without a frame", result);
    if (avi.totalFrames != frames || avi.length != frames)
        broken("header frame counts differ from the frames converted", result);
    if (avi.width != static_cast<uint32_t>(gState.width) ||
        avi.height != static_cast<uint32_t>(gState.height))
        broken("header size differs from the first frame's", result);
    if (avi.movie.size() != chunks || avi.index.size() != chunks)
        broken("movie chunks or index entries differ from frames plus palette changes", result);
    uint32_t frameChunks = 0;
    for (size_t i = 0; i < chunks; ++i) {
        const MovieChunk& chunk = avi.movie[i];
        const IndexEntry& entry = avi.index[i];
        const Bytes& data = chunk.data;
        if (chunk.code == "00dc") {
            ++frameChunks;
            // RLE8 data is byte pairs, the last one the end-of-bitmap escape.
            if (data.size() < 2 || data.size() % 2 != 0 || data[data.size() - 2] != 0 ||
                data.back() != 1)
                broken("frame chunk does not end with the end-of-bitmap pair", result);
        } else if (chunk.code == "00pc") {
            if (data.size() != kPaletteChangeSize)
                broken("palette-change chunk of the wrong size", result);
        } else {
            broken("movie chunk of an unknown kind", result);
        }
        if (entry.code != chunk.code || entry.offset != chunk.offsetFromMovi ||
            entry.length != chunk.data.size())
            broken("index entry does not describe its movie chunk", result);
    }
    if (frameChunks != frames) broken("frame chunk count differs from the frames", result);
}

void checkOutcome(int result) {
    const Workspace& space = workspace();
    std::error_code error;
    if (!std::filesystem::is_empty(space.scratchDirectory, error) || error)
        broken("a file is left in the temporary directory", result);
    if (result == 1) {
        if (!exists(space.output)) broken("success without an output file", result);
        checkFinishedAvi(rmw::readFile(space.output), result);
        std::remove(space.output.c_str());
    } else if (result == 0) {
        if (exists(space.output)) broken("failure left an output file", result);
        // Internal error 1099 is the finaliser finding the converter's own record
        // count wrong: no input may cause it.
        if (gState.errorText.rfind("Internal error: (1099)", 0) == 0)
            broken("scratch records disagree with the counters", result);
        // Every failure before a frame was converted ends in the one closing message.
        if (gState.frameCount == 0 &&
            gState.errorText != "\"" + space.input + "\" is not a valid raster metafile")
            broken("first-frame failure without the closing message", result);
    } else {
        broken("result is neither 1 nor 0", result);
    }
}

// ---- Animations: frames whose pixels are known ----

constexpr uint8_t kAnimationMark = 'A';

struct Animation {
    std::vector<rmw::Picture> pictures;
    std::vector<Palette> tables;
    rmw::Bytes file;
};

// After the mark: the option byte, the width less 1 (two bytes, up to 510),
// the height less 1 (up to 15), a byte of frame count less 1 (bits 0-1) and
// single-pixel words throughout (bit 2), then pairs of a run-length code and a
// colour that fill the frames' pixels row by row, from the start again when
// they run out. Codes below 128 are runs of 1 to 8, below 224 of 8 to 293,
// the rest of 256 to 4036: runs of more than 255 pixels, which become
// several pairs, and runs across rows.
Animation animationFrom(const uint8_t* data, size_t size) {
    const auto at = [&](size_t i) -> unsigned { return i < size ? data[i] : 0; };
    const int32_t width = 1 + static_cast<int32_t>((at(2) | at(3) << 8) % 511);
    const int32_t height = 1 + static_cast<int32_t>(at(4) % 16);
    const unsigned frames = 1 + (at(5) & 3);
    const rmw::FrameStyle style{.singlePixels = (at(5) & 4) != 0};
    const size_t program = 6;
    const size_t programPairs = size > program ? (size - program) / 2 : 0;
    Animation animation;
    size_t item = 0;
    for (unsigned frame = 0; frame < frames; ++frame) {
        rmw::Picture picture{width, height, {}};
        const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
        while (picture.pixels.size() < pixels) {
            const unsigned code = programPairs > 0 ? at(program + 2 * (item % programPairs)) : 0;
            const auto colour = static_cast<uint8_t>(
                programPairs > 0 ? at(program + 2 * (item % programPairs) + 1) : item);
            ++item;
            const size_t run = code < 128   ? 1 + code % 8
                               : code < 224 ? 8 + (code - 128) * 3
                                            : 256 + (code - 224) * 120;
            picture.pixels.insert(picture.pixels.end(),
                                  std::min(run, pixels - picture.pixels.size()), colour);
        }
        if (frame > 0) rmw::appendGap(animation.file, static_cast<int>(frame % 3), 0);
        rmw::FrameStyle frameStyle = style;
        if (frame == 0) frameStyle.headerFill = static_cast<uint8_t>(at(1));  // the options
        animation.tables.push_back(rmw::makePalette(frame % 2 + at(5)));
        rmw::appendFrame(animation.file, picture, animation.tables.back(), frameStyle);
        animation.pictures.push_back(std::move(picture));
    }
    return animation;
}

int squaredDistance(const PaletteEntry& one, const PaletteEntry& other) {
    const int red = one.red - other.red;
    const int green = one.green - other.green;
    const int blue = one.blue - other.blue;
    return red * red + green * green + blue * blue;
}

// Through one shared table each pixel shows the table's entry nearest to its
// own colour: the colour itself when the table is exact (no warning).
void checkSharedColours(const Animation& animation, const ParsedAvi& avi, size_t frame,
                        const std::vector<uint8_t>& pixels, int result) {
    const bool exact = gState.warningText.empty();
    const Palette& own = animation.tables[frame];
    for (size_t i = 0; i < pixels.size(); ++i) {
        const PaletteEntry& want = own[animation.pictures[frame].pixels[i]];
        const int got = squaredDistance(want, avi.headerPalette[pixels[i]]);
        int nearest = got;
        for (const PaletteEntry& entry : avi.headerPalette)
            nearest = std::min(nearest, squaredDistance(want, entry));
        if (got != nearest || (exact && got != 0))
            broken("a pixel is not shown in the shared table's nearest colour", result);
    }
}

void checkPixels(const Animation& animation, int result, bool sharedPalette) {
    if (result != 1) broken("an animation did not convert", result);
    const ParsedAvi avi = parseAvi(rmw::readFile(workspace().output));
    size_t frame = 0;
    for (const MovieChunk& chunk : avi.movie) {
        if (chunk.code != "00dc") continue;
        if (frame == animation.pictures.size()) broken("more frames than pictures", result);
        const rmw::Picture& picture = animation.pictures[frame++];
        std::vector<uint8_t> pixels;
        if (!decodeRle8(chunk.data, picture.width, picture.height, pixels))
            broken("a frame does not decode", result);
        if (sharedPalette && avi.movie.size() == animation.pictures.size()) {
            checkSharedColours(animation, avi, frame - 1, pixels, result);
        } else if (pixels != picture.pixels) {
            broken("decoded pixels differ from the picture", result);
        }
    }
    if (frame != animation.pictures.size()) broken("fewer frames than pictures", result);
}

// ---- Every kernel, every window ----

// What the frame scan leaves: its result, the counters, the bytes written.
struct ScanOutcome {
    int result = 0;
    std::string errorText;
    int32_t frames = 0;
    int32_t paletteChanges = 0;
    double encodedBytes = 0;
    int64_t largestChunk = 0;
    Bytes output;
    Bytes scratch;
    bool operator==(const ScanOutcome&) const = default;
};

// A window, a buffer and the chunk writer's state for one pair of sizes, made
// once and lent to every scan: a megabyte's allocation per scan would cost
// more than the scans.
struct ScanBuffers {
    std::vector<uint8_t> window;
    std::vector<uint8_t> buffer;
    ChunkWriterState chunks;
};

ScanBuffers& buffersFor(size_t window, size_t buffer) {
    static std::vector<std::unique_ptr<ScanBuffers>> made;
    for (const auto& buffers : made) {
        if (buffers->window.size() == window && buffers->buffer.size() == buffer) return *buffers;
    }
    made.push_back(std::make_unique<ScanBuffers>());
    ScanBuffers& buffers = *made.back();
    buffers.window.resize(window);
    buffers.buffer.resize(buffer);
    attachChunkWriter(buffers.chunks, buffer);
    return buffers;
}

ScanOutcome scanWith(const Rle8Kernel& kernel, size_t window, size_t buffer,
                     const fuzzopt::Options& options) {
    const Workspace& space = workspace();
    resetConversionState();
    gState.inputPath = space.input;
    gState.outputPath = space.scanOutput;
    gState.scratchPath = space.scanScratch;
    std::FILE* input = std::fopen(space.input.c_str(), "rb");
    std::FILE* output = std::fopen(space.scanOutput.c_str(), "wb");
    std::FILE* scratch = std::fopen(space.scanScratch.c_str(), "wb");
    if (input == nullptr || output == nullptr || scratch == nullptr) {
        std::perror(space.root.c_str());
        std::abort();
    }
    ScanBuffers& buffers = buffersFor(window, buffer);
    InputReader reader;
    attachReader(reader, input, window, buffers.window.data());
    OutputWriter writer;
    attachWriter(writer, output, buffer, kMaxAviFileSize, buffers.buffer.data());
    // The C library buffers the files again, so that tiny windows cost no call
    // into the system per few bytes; the converter sees the same bytes.
    std::setvbuf(input, nullptr, _IOFBF, 1 << 16);
    std::setvbuf(output, nullptr, _IOFBF, 1 << 16);
    ChunkWriterState& chunks = buffers.chunks;
    chunks.stagingTooSmall = false;
    chunks.chunkSizesFilled = false;
    chunks.coding = Rle8Coding{kernel.takeBlocks, {}};
    SharedPalette shared;
    if (options.sharedPalette) {
        countFrameColours(reader, chunks, shared);
        chooseSharedTable(shared, options.multiPalette);
    }
    ScanOutcome outcome;
    outcome.result =
        scanFrames(reader, writer, chunks, scratch, options.dotInterval, options.multiPalette,
                   options.framesPerSecond, options.sharedPalette ? &shared : nullptr);
    flushWriter(writer);
    std::fclose(input);
    std::fclose(output);
    std::fclose(scratch);
    outcome.errorText = gState.errorText;
    outcome.frames = gState.frameCount;
    outcome.paletteChanges = gState.paletteChangeCount;
    outcome.encodedBytes = gState.totalEncodedBytes;
    outcome.largestChunk = gState.largestChunk;
    outcome.output = rmw::readFile(space.scanOutput);
    outcome.scratch = rmw::readFile(space.scanScratch);
    return outcome;
}

// The frame scan with every kernel in a small window and buffer (odd sizes,
// just above a kernel's step, so that the kernels meet every edge; frames in
// bands), and in normal ones; once more with a buffer too small for a kernel's
// room and the staging too small for a row, so that frames go row by row and
// word by word. All must be the same.
void compareKernels(const fuzzopt::Options& options) {
    const struct {
        size_t window;
        size_t buffer;
        bool everyKernel;
    } sizes[] = {{97, 71, true}, {size_t{1} << 20, size_t{1} << 20, true}, {97, 7, false}};
    ScanOutcome first;
    bool haveFirst = false;
    for (const auto& size : sizes) {
        for (const Rle8Kernel& kernel : kernelsForTesting()) {
            const ScanOutcome outcome = scanWith(kernel, size.window, size.buffer, options);
            if (!haveFirst) {
                first = outcome;
                haveFirst = true;
            } else if (!(outcome == first)) {
                std::printf("convert_fuzzer: kernel %s, window %zu, buffer %zu\n", kernel.name,
                            size.window, size.buffer);
                broken("kernels or windows disagree", outcome.result);
            }
            if (!size.everyKernel) break;
        }
    }
}

void writeInput(const uint8_t* data, size_t size) {
    const Workspace& space = workspace();
    std::FILE* input = std::fopen(space.input.c_str(), "wb");
    if (input == nullptr || (size > 0 && std::fwrite(data, 1, size, input) != size) ||
        std::fclose(input) != 0) {
        std::perror(space.input.c_str());
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Workspace& space = workspace();
    const bool isAnimation = size > 0 && data[0] == kAnimationMark;
    Animation animation;
    if (isAnimation) {
        animation = animationFrom(data, size);
        writeInput(animation.file.data(), animation.file.size());
    } else {
        writeInput(data, size);
    }
    const fuzzopt::Options options = fuzzopt::decode(
        isAnimation ? (size > 1 ? data[1] : 0)
                    : (size > fuzzopt::kOptionByteOffset ? data[fuzzopt::kOptionByteOffset] : 0));
    resetConversionState();
    const int result =
        convertFile(space.input.c_str(), space.output.c_str(), true, options.dotInterval,
                    options.multiPalette, options.framesPerSecond, options.sharedPalette);
    if (isAnimation) checkPixels(animation, result, options.sharedPalette);
    checkOutcome(result);
    compareKernels(options);
    return 0;
}
