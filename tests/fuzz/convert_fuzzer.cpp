// Fuzz target: arbitrary bytes converted as a raster metafile and compared with
// the plain reference converter. Every input goes through the frame scan once,
// with one kernel, one input window and one output buffer chosen from the
// input's own bytes (fuzz_options.h), the file finished as the program finishes
// it; one input in 32, and all tiny ones, also go through the whole program,
// from a file to a file. The movie chunks of each must be the
// reference's byte for byte, and an input the reference refuses must fail
// with the same reason. Inputs that begin with 'A' describe an animation
// instead, built with the metafile writer, whose decoded frames must be its
// pictures. With -g (fuzz_options.h) the output is a GIF instead: it must be
// the same bytes from the plain kernel in a large window as from the chosen
// ones, and from the whole program, and its frames, read by the plain GIF
// decoder, the reference's pixels. A broken check aborts, so libFuzzer and
// the replay test both report it as a crash.
#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "avi/avi_finish.h"
#include "avi/avi_format.h"
#include "avi/movie_chunks.h"
#include "avi_reader.h"
#include "conversion_state.h"
#include "driver/convert_file.h"
#include "driver/frame_scan.h"
#include "fuzz_options.h"
#include "gif/gif_timing.h"
#include "gif/gif_writer.h"
#include "gif_decoder.h"
#include "io/stream_buffers.h"
#include "reference_converter.h"
#include "rle8/rle8_kernels.h"
#include "rm_writer.h"

namespace {

// A private directory per process: the input and output files, and the
// converter's temporary directory, which must be empty after every run.
struct Workspace {
    std::string root;
    std::string scratchDirectory;
    std::string input;
    std::string output;
    std::string scanOutput;  // the frame scan's
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

// What one conversion left: its result, the counters and messages, and the
// finished file read back (after a success).
struct Run {
    std::string name;
    int result = 0;
    std::string errorText;
    std::string warningText;
    int32_t frames = 0;
    int32_t paletteChanges = 0;
    int32_t sharedColours = 0;
    int32_t width = 0;
    int32_t height = 0;
    ParsedAvi avi;  // for a GIF, its global table as the header's
    bool gif = false;
    Bytes gifFile;
    DecodedGif decodedGif;
};

Run runFromState(std::string name, int result) {
    Run run;
    run.name = std::move(name);
    run.result = result;
    run.errorText = gState.errorText;
    run.warningText = gState.warningText;
    run.frames = gState.frameCount;
    run.paletteChanges = gState.paletteChangeCount;
    run.sharedColours = gState.sharedPaletteColours;
    run.width = gState.width;
    run.height = gState.height;
    return run;
}

// Standard output, because a fuzzing run may close standard error to silence the
// converter's own messages.
[[noreturn]] void broken(const char* what, const Run& run) {
    std::printf("convert_fuzzer: %s: %s (result %d, frames %d, error text \"%s\")\n",
                run.name.c_str(), what, run.result, run.frames, run.errorText.c_str());
    std::fflush(stdout);
    std::abort();
}

// AVIPALCHANGE for all 256 entries: first entry, count, flags, 4 bytes per entry.
constexpr size_t kPaletteChangeSize = 4 + 4 * 256;

// A finished file: sound RIFF structure, and index, header counts and movie
// chunks that agree with each other and with the conversion's counters.
void checkFinishedAvi(const Run& run) {
    const ParsedAvi& avi = run.avi;
    if (!avi.problem.empty()) broken(avi.problem.c_str(), run);
    const auto frames = static_cast<uint32_t>(run.frames);
    const auto chunks = frames + static_cast<uint32_t>(run.paletteChanges);
    if (run.frames < 1) broken("success without a frame", run);
    if (avi.totalFrames != frames || avi.length != frames)
        broken("header frame counts differ from the frames converted", run);
    if (avi.width != static_cast<uint32_t>(run.width) ||
        avi.height != static_cast<uint32_t>(run.height))
        broken("header size differs from the first frame's", run);
    if (avi.movie.size() != chunks || avi.index.size() != chunks)
        broken("movie chunks or index entries differ from frames plus palette changes", run);
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
                broken("frame chunk does not end with the end-of-bitmap pair", run);
        } else if (chunk.code == "00pc") {
            if (data.size() != kPaletteChangeSize)
                broken("palette-change chunk of the wrong size", run);
        } else {
            broken("movie chunk of an unknown kind", run);
        }
        if (entry.code != chunk.code || entry.offset != chunk.offsetFromMovi ||
            entry.length != chunk.data.size())
            broken("index entry does not describe its movie chunk", run);
    }
    if (frameChunks != frames) broken("frame chunk count differs from the frames", run);
}

// Internal error 1099 is the finaliser finding the converter's own record
// count wrong: no input may cause it.
void checkNo1099(const Run& run) {
    if (run.errorText.rfind("Internal error: (1099)", 0) == 0)
        broken("scratch records disagree with the counters", run);
}

// ---- The reference ----

std::vector<ref::Chunk> chunksOf(const ParsedAvi& avi) {
    std::vector<ref::Chunk> chunks;
    for (const MovieChunk& chunk : avi.movie)
        chunks.push_back(ref::Chunk{chunk.code, chunk.data});
    return chunks;
}

[[noreturn]] void differs(const char* what, const Run& run, const ref::Result& want) {
    std::printf(
        "convert_fuzzer: reference: refusal %d (internal error %d) at frame %d, frames %d, "
        "palette changes %d\n",
        static_cast<int>(want.refusal), want.internalError, want.failedFrame, want.frames,
        want.paletteChanges);
    if (run.result == 1 && !run.gif) {
        const std::vector<ref::Chunk> got = chunksOf(run.avi);
        for (size_t i = 0; i < std::max(got.size(), want.chunks.size()); ++i) {
            if (i < got.size() && i < want.chunks.size() && got[i] == want.chunks[i]) continue;
            std::printf(
                "convert_fuzzer: first differing chunk, %zu:\n  program:   %s\n"
                "  reference: %s\n",
                i, i < got.size() ? ref::describe({got[i]}).c_str() : "(none)",
                i < want.chunks.size() ? ref::describe({want.chunks[i]}).c_str() : "(none)");
            break;
        }
    }
    broken(what, run);
}

// How a run of the program must have ended for an input the reference
// refuses: a failure, and after the first frame the reason the reference
// names; on the first frame every reason reads as the one closing message.
void compareRefusal(const Run& run, const ref::Result& want, const std::string& inputPath) {
    if (run.result != 0) differs("the program converts an input the reference refuses", run, want);
    if (run.frames != want.frames)
        differs("refused at another frame than the reference", run, want);
    if (want.failedFrame <= 1) {
        if (run.errorText != "\"" + inputPath + "\" is not a valid raster metafile")
            differs("first-frame failure without the closing message", run, want);
        return;
    }
    switch (want.refusal) {
        case ref::Refusal::kInternal: {
            const std::string expected = formatText("Internal error: (%d)", want.internalError);
            if (run.errorText.rfind(expected, 0) != 0)
                differs("refused with another internal error than the reference", run, want);
            break;
        }
        case ref::Refusal::kColourOver255:
            if (!run.errorText.empty())
                differs("a colour index over 255 left an error text", run, want);
            break;
        case ref::Refusal::kFrameSize:
            if (run.errorText.find("of frame") == std::string::npos)
                differs("refused a frame's size with another message", run, want);
            break;
        case ref::Refusal::kNone:
            break;
    }
}

// The reference's conversion of an input, made once; with -p over more than
// 256 colours it needs the program's table, and is made again with each
// run's (they choose the same one).
struct Reference {
    const Bytes& file;
    ref::Options options;
    ref::Result plain;
    std::optional<ref::Result> nearest;
    int32_t nearestEntries = 0;
};

Reference referenceFor(const Bytes& file, const fuzzopt::Options& options) {
    const ref::Options refOptions{.multiPalette = options.multiPalette,
                                  .sharedPalette = options.sharedPalette};
    return Reference{file, refOptions, ref::convert(file, refOptions), std::nullopt, 0};
}

bool needsProgramTable(const Reference& reference) {
    return reference.options.sharedPalette && !reference.options.multiPalette &&
           reference.plain.refusal == ref::Refusal::kNone && !reference.plain.sharedExact;
}

void compareWithReference(Reference& reference, const Run& run, const std::string& inputPath) {
    const ref::Result* want = &reference.plain;
    const bool programTable = needsProgramTable(reference);
    if (programTable) {
        // The table and the entries it uses are the program's; the mapping of
        // every pixel onto them is checked.
        if (run.result != 1) differs("the program refuses what the reference converts", run, *want);
        if (!reference.nearest || reference.nearest->headerPalette != run.avi.headerPalette ||
            reference.nearestEntries != run.sharedColours) {
            reference.nearest = ref::convert(reference.file, reference.options,
                                             &run.avi.headerPalette, run.sharedColours);
            reference.nearestEntries = run.sharedColours;
        }
        want = &*reference.nearest;
    }
    if (want->refusal != ref::Refusal::kNone) return compareRefusal(run, *want, inputPath);
    if (run.result != 1) differs("the program refuses what the reference converts", run, *want);
    if (run.gif) {
        const std::string problem = ref::gifDifference(run.decodedGif, *want, run.paletteChanges);
        if (!problem.empty()) differs(problem.c_str(), run, *want);
        if (run.frames != want->frames)
            differs("frame count differs from the reference", run, *want);
        return;
    }
    if (run.frames != want->frames || run.paletteChanges != want->paletteChanges)
        differs("frame or palette-change count differs from the reference", run, *want);
    if (run.width != want->width || run.height != want->height)
        differs("frame size differs from the reference", run, *want);
    if (!programTable && run.avi.headerPalette != want->headerPalette)
        differs("header colour table differs from the reference", run, *want);
    if (chunksOf(run.avi) != want->chunks)
        differs("movie chunks differ from the reference", run, *want);
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
    // The scan's choices from all the description's bytes, since its option
    // byte fills the whole header.
    uint32_t hash = 2166136261u;
    for (size_t i = 0; i < size; ++i)
        hash = (hash ^ data[i]) * 16777619u;
    animation.file[fuzzopt::kScanByteOffset] = static_cast<uint8_t>(hash);
    animation.file[fuzzopt::kRunByteOffset] = static_cast<uint8_t>(hash >> 8);
    return animation;
}

int squaredDistance(const PaletteEntry& one, const PaletteEntry& other) {
    const int red = one.red - other.red;
    const int green = one.green - other.green;
    const int blue = one.blue - other.blue;
    return red * red + green * green + blue * blue;
}

// Through one shared table each pixel shows the table's entry nearest to its
// own colour: the colour itself when the table is exact (no warning). The
// nearest distance is found once per colour index of the frame's own table.
void checkSharedColours(const Animation& animation, const Run& run, size_t frame,
                        const std::vector<uint8_t>& pixels) {
    const bool exact = run.warningText.empty();
    const Palette& own = animation.tables[frame];
    const Palette& shared = run.avi.headerPalette;
    std::array<int, kPaletteEntries> nearestOf;
    nearestOf.fill(-1);
    for (size_t i = 0; i < pixels.size(); ++i) {
        const uint8_t index = animation.pictures[frame].pixels[i];
        const PaletteEntry& want = own[index];
        if (nearestOf[index] < 0) {
            nearestOf[index] = squaredDistance(want, shared[0]);
            for (const PaletteEntry& entry : shared)
                nearestOf[index] = std::min(nearestOf[index], squaredDistance(want, entry));
        }
        const int got = squaredDistance(want, shared[pixels[i]]);
        if (got != nearestOf[index] || (exact && got != 0))
            broken("a pixel is not shown in the shared table's nearest colour", run);
    }
}

void checkPixels(const Animation& animation, const Run& run, bool sharedPalette) {
    if (run.result != 1) broken("an animation did not convert", run);
    size_t frame = 0;
    for (const MovieChunk& chunk : run.avi.movie) {
        if (chunk.code != "00dc") continue;
        if (frame == animation.pictures.size()) broken("more frames than pictures", run);
        const rmw::Picture& picture = animation.pictures[frame++];
        std::vector<uint8_t> pixels;
        if (!decodeRle8(chunk.data, picture.width, picture.height, pixels))
            broken("a frame does not decode", run);
        if (sharedPalette && run.avi.movie.size() == animation.pictures.size()) {
            checkSharedColours(animation, run, frame - 1, pixels);
        } else if (pixels != picture.pixels) {
            broken("decoded pixels differ from the picture", run);
        }
    }
    if (frame != animation.pictures.size()) broken("fewer frames than pictures", run);
}

// ---- The frame scan with the chosen kernel and sizes ----

// Decodes the run's GIF, its global table taken as the header's.
void readGif(Run& run) {
    run.decodedGif = decodeGif(run.gifFile);
    const std::vector<uint8_t>& table = run.decodedGif.globalTable;
    for (size_t i = 0; i < kPaletteEntries && 3 * i + 2 < table.size(); ++i)
        run.avi.headerPalette[i] = {table[3 * i], table[3 * i + 1], table[3 * i + 2]};
}

// Windows, and buffers with the chunk writer's state, made once per size and
// lent to every scan: a megabyte's allocation per scan would cost more than
// the scans.
uint8_t* windowOf(size_t size) {
    static std::vector<std::unique_ptr<std::vector<uint8_t>>> made;
    for (const auto& window : made) {
        if (window->size() == size) return window->data();
    }
    made.push_back(std::make_unique<std::vector<uint8_t>>(size));
    return made.back()->data();
}

struct WriterBlocks {
    std::vector<uint8_t> buffer;
    ChunkWriterState chunks;
};

WriterBlocks& writerBlocksOf(size_t size) {
    static std::vector<std::unique_ptr<WriterBlocks>> made;
    for (const auto& blocks : made) {
        if (blocks->buffer.size() == size) return *blocks;
    }
    made.push_back(std::make_unique<WriterBlocks>());
    WriterBlocks& blocks = *made.back();
    blocks.buffer.resize(size);
    attachChunkWriter(blocks.chunks, size);
    return blocks;
}

// The input and output of the frame scan live in memory: a scan through a
// tiny window seeks back for every row, and a seek on a file stream throws
// its buffer away and reads it again.
//
// The input is a stream over the file's bytes that behaves as a file does,
// where a memory stream of the C library does not: a seek past the end
// succeeds, and the reads after it find the end.
#if defined(__GLIBC__)
constexpr bool kScanInputInMemory = true;
#else
constexpr bool kScanInputInMemory = false;
#endif

struct MemoryInput {
    const Bytes* file = nullptr;
    int64_t at = 0;
};

std::FILE* openInputStream(MemoryInput& memory) {
#if defined(__GLIBC__)
    static_assert(kScanInputInMemory);
    cookie_io_functions_t functions{};
    functions.read = [](void* cookie, char* to, size_t count) -> ssize_t {
        auto& input = *static_cast<MemoryInput*>(cookie);
        const auto size = static_cast<int64_t>(input.file->size());
        const size_t got =
            input.at >= size ? 0 : std::min(count, static_cast<size_t>(size - input.at));
        std::copy_n(input.file->data() + input.at, got, to);
        input.at += static_cast<int64_t>(got);
        return static_cast<ssize_t>(got);
    };
    functions.seek = [](void* cookie, off64_t* offset, int whence) -> int {
        auto& input = *static_cast<MemoryInput*>(cookie);
        const int64_t from = whence == SEEK_SET   ? 0
                             : whence == SEEK_CUR ? input.at
                                                  : static_cast<int64_t>(input.file->size());
        if (from + *offset < 0) {
            errno = EINVAL;
            return -1;
        }
        input.at = from + *offset;
        *offset = input.at;
        return 0;
    };
    functions.close = [](void*) { return 0; };
    std::FILE* stream = fopencookie(&memory, "rb", functions);
#else
    // Elsewhere the file written for the whole program, through the C
    // library's buffer.
    std::FILE* stream = std::fopen(workspace().input.c_str(), "rb");
#endif
    if (stream == nullptr) {
        std::perror("input stream");
        std::abort();
    }
    return stream;
}

std::FILE* openBlockStream(std::vector<uint8_t>& block, size_t size) {
    if (block.size() < size) block.resize(size);
    std::FILE* stream = fmemopen(block.data(), size, "w+b");
    if (stream == nullptr) {
        std::perror("fmemopen");
        std::abort();
    }
    return stream;
}

// The output block holds the largest file an input can give (a repeat
// count's four bytes become up to 34, a frame of 2050 bytes brings a
// 1036-byte palette change) with room to spare, so that no write fails; the
// scratch block holds a 12-byte record for each of at most two chunks per
// frame of at least 2050 bytes.
std::FILE* openOutputStream(std::vector<uint8_t>& block, size_t inputSize) {
    return openBlockStream(block, 16 * inputSize + (size_t{1} << 20));
}

std::FILE* openScratchStream(std::vector<uint8_t>& block, size_t inputSize) {
    return openBlockStream(block, inputSize / 64 + 4096);
}

// The conversion as the program runs it between opening its files and closing
// them, with the given kernel, window and buffer: with -p one pass building
// the table as the frames come, and the two passes over again when the colours
// do not fit it (or the two passes at once), then the index and the header's
// sizes. The finished file is read back after a success.
Run scanWith(const Bytes& file, const Rle8Kernel& kernel, const fuzzopt::ScanChoice& choice,
             const fuzzopt::Options& options) {
    const Workspace& space = workspace();
    resetConversionState();
    gState.inputPath = space.input;
    gState.outputPath = space.scanOutput;
    gState.scratchPath = space.scanScratch;
    MemoryInput memory{&file, 0};
    std::FILE* input = openInputStream(memory);
    static std::vector<uint8_t> outputBlock;
    std::FILE* output = openOutputStream(outputBlock, file.size());
    static std::vector<uint8_t> scratchBlock;
    std::FILE* scratch = openScratchStream(scratchBlock, file.size());
    InputReader reader;
    attachReader(reader, input, choice.window, windowOf(choice.window));
#if !defined(__GLIBC__)
    std::setvbuf(input, nullptr, _IOFBF, 1 << 16);
#endif
    WriterBlocks& blocks = writerBlocksOf(choice.buffer);
    OutputWriter writer;
    attachWriter(writer, output, choice.buffer, kMaxAviFileSize, blocks.buffer.data());
    ChunkWriterState& chunks = blocks.chunks;
    chunks.stagingTooSmall = false;
    chunks.chunkSizesFilled = false;
    chunks.coding = Rle8Coding{kernel.takeBlocks, {}};

    // The colour histogram's 640 KiB are kept from input to input: a new block
    // for every input took a seventh of the run.
    static std::vector<HistogramBin> keptBins;
    FrameColours colours;
    colours.count.histogram.bins = std::move(keptBins);
    const ScanOptions scanOptions{options.dotInterval, options.multiPalette,
                                  options.framesPerSecond,
                                  choice.gif ? OutputFormat::kGif : OutputFormat::kAvi};
    SharedTableRun sharedRun;
    // A GIF's -p always has the two passes, as the program runs it.
    int result = options.sharedPalette
                     ? scanFramesSharingTable(reader, writer, chunks, scratch, scanOptions, colours,
                                              !choice.twoPasses && !choice.gif, sharedRun)
                     : scanFrames(reader, writer, chunks, scratch, scanOptions, colours);
    if (result == 1 && choice.gif) {
        result = finishGif(writer);
    } else if (result == 1) {
        std::rewind(scratch);
        result = finishAvi(writer, chunks, scratch);
        if (result == 1 && !flushWriter(writer)) std::abort();
    }
    keptBins = std::move(colours.count.histogram.bins);
    const int64_t end = writerPosition(writer);
    std::fclose(input);
    std::fclose(output);
    std::fclose(scratch);
    Run run = runFromState(
        formatText("frame scan (kernel %s, window %zu, buffer %zu%s)", kernel.name, choice.window,
                   choice.buffer, choice.twoPasses ? ", two passes" : ""),
        result);
    run.gif = choice.gif;
    if (result == 1 && choice.gif) {
        run.gifFile.assign(outputBlock.begin(), outputBlock.begin() + end);
        readGif(run);
    } else if (result == 1) {
        // A second go writes over the first from the start; past its end the
        // program cuts the file.
        run.avi = parseAvi(Bytes(outputBlock.begin(), outputBlock.begin() + end));
    }
    return run;
}

// ---- The whole program ----

Run convertWhole(const fuzzopt::Options& options, bool gif) {
    const Workspace& space = workspace();
    resetConversionState();
    const int result =
        convertFile(space.input.c_str(), space.output.c_str(), true, options.dotInterval,
                    options.multiPalette, options.framesPerSecond, options.sharedPalette, stdout,
                    gif ? OutputFormat::kGif : OutputFormat::kAvi);
    Run run = runFromState("whole program", result);
    run.gif = gif;
    std::error_code error;
    if (!std::filesystem::is_empty(space.scratchDirectory, error) || error)
        broken("a file is left in the temporary directory", run);
    if (result == 1) {
        if (!exists(space.output)) broken("success without an output file", run);
        if (gif) {
            run.gifFile = rmw::readFile(space.output);
            readGif(run);
        } else {
            run.avi = parseAvi(rmw::readFile(space.output));
        }
        std::remove(space.output.c_str());
    } else if (result == 0) {
        if (exists(space.output)) broken("failure left an output file", run);
    } else {
        broken("result is neither 1 nor 0", run);
    }
    return run;
}

void writeInput(const Bytes& file) {
    const Workspace& space = workspace();
    std::FILE* input = std::fopen(space.input.c_str(), "wb");
    if (input == nullptr ||
        (!file.empty() && std::fwrite(file.data(), 1, file.size(), input) != file.size()) ||
        std::fclose(input) != 0) {
        std::perror(space.input.c_str());
        std::abort();
    }
}

uint8_t byteAt(const Bytes& file, size_t offset) {
    return offset < file.size() ? file[offset] : 0;
}

// A GIF holds every pixel of its frames, and an input of a few kilobytes can
// ask for billions (rows of one word each), which would take the fuzzer
// minutes: a GIF is made only of inputs whose frames, as many as the input
// can hold, come to at most this many pixels. The others convert to an AVI.
constexpr uint64_t kGifPixelBudget = uint64_t{1} << 23;
constexpr size_t kSmallestFrameBytes = 2052;  // header, tables, begin- and end-of-image words

uint32_t u32At(const Bytes& file, size_t offset) {
    uint32_t value = 0;
    for (size_t i = 0; i < 4; ++i)
        value |= static_cast<uint32_t>(byteAt(file, offset + i)) << (8 * i);
    return value;
}

bool gifWithinBudget(const Bytes& file) {
    const uint64_t pixels = uint64_t{u32At(file, 4)} * u32At(file, 8);
    return pixels <= kGifPixelBudget / (file.size() / kSmallestFrameBytes + 1);
}

// Frames a GIF cannot hold (a side over 65535) are refused before the first:
// by the whole program in its own words, by the frame scan as no metafile.
bool refusedGifSize(const Run& run, const Bytes& file) {
    // A side of 0 or less is no frame, refused as for an AVI.
    const auto width = static_cast<int32_t>(u32At(file, 4));
    const auto height = static_cast<int32_t>(u32At(file, 8));
    if (width <= 0 || height <= 0 || (width <= 0xFFFF && height <= 0xFFFF)) return false;
    if (run.result != 0 || run.frames != 0) broken("frames too large for a GIF converted", run);
    return true;
}

void checkRun(const Run& run, Reference& reference, const Animation* animation,
              const fuzzopt::Options& options) {
    checkNo1099(run);
    if (run.gif && refusedGifSize(run, reference.file)) return;
    if (run.result == 1 && !run.gif) checkFinishedAvi(run);
    compareWithReference(reference, run, workspace().input);
    if (animation != nullptr && !run.gif) checkPixels(*animation, run, options.sharedPalette);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool isAnimation = size > 0 && data[0] == kAnimationMark;
    Animation animation;
    Bytes plainFile;
    if (isAnimation) {
        animation = animationFrom(data, size);
    } else {
        plainFile.assign(data, data + size);
    }
    const Bytes& file = isAnimation ? animation.file : plainFile;
    fuzzopt::Options options = fuzzopt::decode(byteAt(file, fuzzopt::kOptionByteOffset));
    fuzzopt::ScanChoice choice = fuzzopt::decodeScan(byteAt(file, fuzzopt::kScanByteOffset),
                                                     byteAt(file, fuzzopt::kRunByteOffset));
    choice.gif = choice.gif && gifWithinBudget(file);
    if (choice.gif && !gifRateFitsDelays(options.framesPerSecond)) options.framesPerSecond = 10.0;
    const std::vector<Rle8Kernel>& kernels = kernelsForTesting();
    const Rle8Kernel& kernel = kernels[choice.kernel % kernels.size()];

    // The file is what the whole program reads (and, without the C library's
    // streams over memory, the frame scan too).
    if (choice.wholeProgram || !kScanInputInMemory) writeInput(file);
    Reference reference = referenceFor(file, options);
    const Animation* pictures = isAnimation ? &animation : nullptr;
    const Run scan = scanWith(file, kernel, choice, options);
    checkRun(scan, reference, pictures, options);
    if (choice.gif) {
        fuzzopt::ScanChoice plain = choice;
        plain.kernel = 0;
        plain.window = plain.buffer = size_t{1} << 20;
        const Run other = scanWith(file, kernels.front(), plain, options);
        if (other.result != scan.result || other.gifFile != scan.gifFile)
            broken("the GIF differs from the plain kernel's in a large window", scan);
    }
    if (choice.wholeProgram) {
        const Run whole = convertWhole(options, choice.gif);
        checkRun(whole, reference, pictures, options);
        if (whole.gif && whole.gifFile != scan.gifFile)
            broken("the whole program's GIF differs from the frame scan's", whole);
    }
    return 0;
}
