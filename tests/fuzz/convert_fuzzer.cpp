// Fuzz target: one whole conversion of arbitrary bytes, from a temporary input
// file to a temporary output file, followed by checks of what the conversion
// leaves behind. A broken check aborts, so libFuzzer and the replay test both
// report it as a crash.
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "avi_reader.h"
#include "conversion_state.h"
#include "driver/convert_file.h"
#include "fuzz_options.h"
#include "rm_writer.h"

namespace {

// A private directory per process: the input and output files, and the
// converter's temporary directory, which must be empty after every run.
struct Workspace {
    std::string root;
    std::string scratchDirectory;
    std::string input;
    std::string output;
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
    const auto* made = new Workspace{root, root + "/tmp", root + "/input.rm", root + "/output.avi"};
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
        if (gState.errorText == "Internal error: (1099)")
            broken("scratch records disagree with the counters", result);
        // Every failure before a frame was converted ends in the one closing message.
        if (gState.frameCount == 0 &&
            gState.errorText != "\"" + space.input + "\" is not a valid raster metafile")
            broken("first-frame failure without the closing message", result);
    } else {
        broken("result is neither 1 nor 0", result);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Workspace& space = workspace();
    std::FILE* input = std::fopen(space.input.c_str(), "wb");
    if (input == nullptr || (size > 0 && std::fwrite(data, 1, size, input) != size) ||
        std::fclose(input) != 0) {
        std::perror(space.input.c_str());
        std::abort();
    }
    const fuzzopt::Options options =
        fuzzopt::decode(size > fuzzopt::kOptionByteOffset ? data[fuzzopt::kOptionByteOffset] : 0);
    resetConversionState();
    const int result =
        convertFile(space.input.c_str(), space.output.c_str(), true, options.dotInterval,
                    options.multiPalette, options.framesPerSecond);
    checkOutcome(result);
    return 0;
}
