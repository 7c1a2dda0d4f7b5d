// Writes the fuzz target's seed corpus: valid animations of a few sizes and
// styles; frames of every shape of row (empty rows anywhere, rows shorter and
// longer than the width, runs on the edges of a pair and of a count word,
// single pixels and pairs mixed), under several tables and with more colours
// than one table holds, and with an empty row next to a window's edge; and
// one file per way a metafile can be malformed, the frame-level faults both
// in the first frame and in the second.
//   make_fuzz_corpus DIR          writes the seeds into DIR
//   make_fuzz_corpus --check DIR  fails unless DIR holds exactly these seeds
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fuzz_options.h"
#include "generated_frames.h"
#include "rm_writer.h"

namespace {

using rmw::Bytes;
using Words = std::vector<uint16_t>;

constexpr uint16_t kBegin = 0x4000;
constexpr uint16_t kPixel = 0x1000;
constexpr uint16_t kColour = 0x3000;
constexpr uint16_t kRowEnd = 0x6000;
constexpr uint16_t kImageEnd = 0x7000;

const Palette kTableA = rmw::makePalette(1);
const Palette kTableB = rmw::makePalette(2);

// A picture of horizontal runs whose lengths and colours change with the seed.
rmw::Picture pattern(int32_t width, int32_t height, int seed) {
    rmw::Picture picture{width, height, std::vector<uint8_t>(static_cast<size_t>(width * height))};
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int run = x / (1 + (y + seed) % 4);
            picture.pixels[static_cast<size_t>(y * width + x)] =
                static_cast<uint8_t>((run * 37 + y * 11 + seed * 53) % 256);
        }
    }
    return picture;
}

rmw::FrameStyle withOptions(uint8_t optionByte) {
    return rmw::FrameStyle{.headerFill = optionByte};
}

// A frame from its header fields and image words as given, sound or not.
void appendRawFrame(Bytes& bytes, int32_t width, int32_t height, const Words& words) {
    rmw::appendFrameHeader(bytes, width, height, kTableA);
    for (uint16_t word : words)
        rmw::appendU16(bytes, word);
}

// The smallest useful frame: 2 x 2, top row colours 1 and 2, bottom row colour 3.
const Words kTwoByTwo = {kBegin, kPixel | 1,  kPixel | 2, kRowEnd,
                         0x0002, kColour | 3, kRowEnd,    kImageEnd};

Bytes twoByTwoFile() {
    Bytes bytes;
    appendRawFrame(bytes, 2, 2, kTwoByTwo);
    return bytes;
}

Bytes frames(const std::vector<rmw::Picture>& pictures, const std::vector<const Palette*>& tables,
             uint8_t optionByte, int fillerWords, int junkWords) {
    Bytes bytes;
    for (size_t i = 0; i < pictures.size(); ++i) {
        if (i > 0) rmw::appendGap(bytes, fillerWords, junkWords);
        rmw::appendFrame(bytes, pictures[i], *tables[i % tables.size()],
                         i == 0 ? withOptions(optionByte) : rmw::FrameStyle{});
    }
    return bytes;
}

std::vector<rmw::Picture> patterns(int count, int32_t width, int32_t height) {
    std::vector<rmw::Picture> pictures;
    for (int i = 0; i < count; ++i)
        pictures.push_back(pattern(width, height, i));
    return pictures;
}

// One malformed frame: header fields and image words.
struct BadFrame {
    const char* name;
    int32_t width;
    int32_t height;
    Words words;
    bool asFirstFrame;  // false where the fault only exists after a first frame
};

const std::vector<BadFrame> kBadFrames = {
    {"width-zero", 0, 2, kTwoByTwo, true},
    {"width-negative", -5, 2, kTwoByTwo, true},
    {"height-zero", 2, 0, kTwoByTwo, true},
    {"height-negative", 2, -3, kTwoByTwo, true},
    {"width-and-height-zero", 0, 0, kTwoByTwo, true},
    {"size-mismatch", 3, 2, kTwoByTwo, false},
    {"no-begin-image", 2, 2, Words(kTwoByTwo.begin() + 1, kTwoByTwo.end()), true},
    // Internal errors 805, 815, 829: the input ends while looking for a row's
    // end, after an early end-of-image word, and before the end-of-image word.
    {"row-end-missing-805", 2, 2, {kBegin, kPixel | 1, kPixel | 2}, true},
    {"row-end-after-image-end-815", 2, 2, {kBegin, kPixel | 1, kImageEnd}, true},
    {"image-end-missing-829", 2, 2, {kBegin, kPixel | 1, kRowEnd, kPixel | 2, kRowEnd}, true},
    // 632, 641, 656: a repeat count without its colour word, a word of a kind
    // not allowed in a row, a repeat count of zero.
    {"colour-word-missing-632",
     2,
     2,
     {kBegin, 0x0002, kPixel | 1, kRowEnd, 0x0002, kColour | 3, kRowEnd, kImageEnd},
     true},
    {"word-not-in-row-641",
     2,
     2,
     {kBegin, 0x5001, kRowEnd, 0x0002, kColour | 3, kRowEnd, kImageEnd},
     true},
    {"repeat-zero-656",
     2,
     2,
     {kBegin, 0x0000, kColour | 1, kRowEnd, 0x0002, kColour | 3, kRowEnd, kImageEnd},
     true},
    {"colour-over-255-pixel",
     2,
     2,
     {kBegin, kPixel | 0x100, kRowEnd, 0x0002, kColour | 3, kRowEnd, kImageEnd},
     true},
    {"colour-over-255-run",
     2,
     2,
     {kBegin, kPixel | 1, kRowEnd, 0x0002, kColour | 0xFFF, kRowEnd, kImageEnd},
     true},
};

// One valid frame from its rows' image words, each row closed by its
// end-of-row word here.
struct RowsFrame {
    const char* name;
    int32_t width;
    int32_t height;
    std::vector<Words> rows;
};

const Words kEmpty = {};

const std::vector<RowsFrame> kRowsFrames = {
    {"rows-empty-first", 3, 3, {kEmpty, {kPixel | 1, kPixel | 2, kPixel | 3}, {3, kColour | 7}}},
    {"rows-empty-middle", 3, 3, {{kPixel | 1, kPixel | 2, kPixel | 3}, kEmpty, {3, kColour | 7}}},
    {"rows-empty-last", 3, 3, {{kPixel | 1, kPixel | 2, kPixel | 3}, {3, kColour | 7}, kEmpty}},
    {"rows-empty-many-together",
     4,
     6,
     {{4, kColour | 1}, kEmpty, kEmpty, kEmpty, {kPixel | 2, 3, kColour | 4}, kEmpty}},
    {"rows-all-empty", 5, 4, {kEmpty, kEmpty, kEmpty, kEmpty}},
    {"rows-shorter-and-longer",
     6,
     4,
     {{kPixel | 1}, {9, kColour | 2, kPixel | 3}, {2, kColour | 4}, {300, kColour | 5}}},
    {"rows-runs-on-edges",
     600,
     6,
     {{255, kColour | 1, 255, kColour | 2},
      {256, kColour | 3, 256, kColour | 3},
      {510, kColour | 4},
      {511, kColour | 5},
      {0x0FFF, kColour | 6},
      {kPixel | 7, 2, kColour | 8, kPixel | 9, 1, kColour | 10, kPixel | 11}}},
};

Bytes rowsFrameFile(const RowsFrame& frame, uint8_t optionByte, uint8_t scanByte) {
    Words words;
    for (const Words& row : frame.rows) {
        words.insert(words.end(), row.begin(), row.end());
        words.push_back(kRowEnd);
    }
    Bytes bytes;
    gen::appendWordFrame(bytes, frame.width, frame.height, kTableA, words);
    bytes[fuzzopt::kOptionByteOffset] = optionByte;
    bytes[fuzzopt::kScanByteOffset] = scanByte;
    bytes[fuzzopt::kRunByteOffset] = fuzzopt::encodeRun(true, false);
    return bytes;
}

// Generated files, with the options and the frame scan's kernel and sizes
// they are converted with.
struct GeneratedSeed {
    const char* name;
    uint32_t seed;
    gen::FileShape shape;
    uint8_t optionByte;
    uint8_t scanByte;
    uint8_t runByte;
};

gen::FileShape shapeOf(int frames, int32_t width, int32_t height, gen::WordMix mix = {}) {
    gen::FileShape shape;
    shape.frames = frames;
    shape.width = width;
    shape.height = height;
    shape.mix = mix;
    return shape;
}

gen::FileShape withTables(gen::FileShape shape, int tables, bool sharedColours, int newColours) {
    shape.tables = tables;
    shape.sharedColours = sharedColours;
    shape.newColours = newColours;
    return shape;
}

gen::FileShape withEdge(gen::FileShape shape, int frame, int32_t row, uint32_t distance,
                        uint32_t multiple) {
    shape.edgeFrame = frame;
    shape.edgeRow = row;
    shape.edgeDistance = distance;
    shape.edgeMultiple = multiple;
    return shape;
}

std::vector<GeneratedSeed> generatedSeeds() {
    using fuzzopt::encode;
    using fuzzopt::encodeRun;
    using fuzzopt::encodeScan;
    const gen::WordMix emptyRows{.allEmptyPercent = 10, .emptyRowPercent = 50};
    const gen::WordMix shortAndLong{
        .emptyRowPercent = 5, .shortRowPercent = 45, .longRowPercent = 45};
    const gen::WordMix edgeRuns{.emptyRowPercent = 10, .edgeRunPercent = 90};
    const gen::WordMix mixed{
        .singlePixelPercent = 60, .edgeRunPercent = 20, .sameColourPercent = 50};
    const gen::WordMix manyColours{.singlePixelPercent = 70, .edgeRunPercent = 5};
    const uint8_t plain = encode(false, 0, 0);
    const uint8_t multi = encode(true, 0, 0);
    const uint8_t shared = encode(false, 0, 0, true);
    const uint8_t both = encode(true, 0, 0, true);
    const uint8_t quick = encodeRun(false, false);
    return {
        {"gen-empty-rows-plain-tiny", 11, shapeOf(3, 9, 12, emptyRows), plain, encodeScan(0, 0, 0),
         quick},
        {"gen-empty-rows-ssse3-bands", 12, shapeOf(4, 20, 16, emptyRows), plain,
         encodeScan(1, 2, 2), quick},
        {"gen-empty-rows-avx2-bands", 13, shapeOf(4, 40, 16, emptyRows), plain, encodeScan(2, 5, 3),
         encodeRun(true, false)},
        {"gen-short-long-rows", 21, shapeOf(3, 24, 10, shortAndLong), plain, encodeScan(1, 3, 4),
         quick},
        {"gen-edge-runs", 31, shapeOf(2, 700, 6, edgeRuns), plain, encodeScan(2, 6, 1), quick},
        {"gen-edge-runs-large-window", 32, shapeOf(2, 700, 6, edgeRuns), plain, encodeScan(1, 7, 7),
         encodeRun(true, false)},
        {"gen-mixed-words", 41, shapeOf(5, 33, 9, mixed), plain, encodeScan(2, 1, 5), quick},
        {"gen-tables-aba-m", 51, withTables(shapeOf(6, 16, 8), 2, false, 4), multi,
         encodeScan(1, 4, 2), quick},
        {"gen-tables-aba-p", 52, withTables(shapeOf(6, 16, 8), 2, true, 6), shared,
         encodeScan(2, 3, 6), quick},
        {"gen-tables-aba-p-two-passes", 53, withTables(shapeOf(6, 16, 8), 3, true, 6), shared,
         encodeScan(0, 5, 5), encodeRun(false, true)},
        {"gen-tables-aba-p-m", 54, withTables(shapeOf(6, 16, 8), 3, true, 6), both,
         encodeScan(1, 2, 4), quick},
        {"gen-over-256-colours-p", 61, withTables(shapeOf(6, 40, 12, manyColours), 6, true, 120),
         shared, encodeScan(2, 6, 7), quick},
        {"gen-over-256-colours-p-two-passes", 62,
         withTables(shapeOf(6, 40, 12, manyColours), 6, true, 120), shared, encodeScan(1, 4, 1),
         encodeRun(false, true)},
        {"gen-over-256-colours-p-m", 63, withTables(shapeOf(6, 40, 12, manyColours), 6, true, 120),
         both, encodeScan(0, 3, 5), quick},
        // An empty row whose end-of-row word ends on, or just before, a
        // multiple of the window (61 bytes, the whole program's too) or of a
        // read piece.
        {"gen-edge-empty-row-window-61", 71, withEdge(shapeOf(2, 12, 8), 0, 3, 0, 61), plain,
         encodeScan(1, 4, 2), encodeRun(true, false)},
        {"gen-edge-empty-row-window-61-before", 72, withEdge(shapeOf(2, 12, 8), 1, 2, 2, 61), plain,
         encodeScan(2, 4, 3), encodeRun(true, false)},
        {"gen-edge-empty-row-piece-32", 73, withEdge(shapeOf(3, 30, 8), 2, 5, 4, 32), plain,
         encodeScan(2, 6, 1), quick},
        {"gen-edge-empty-row-piece-16", 74, withEdge(shapeOf(2, 30, 8), 0, 1, 2, 16), plain,
         encodeScan(1, 5, 0), quick},
        // -g: rows in bands, rows by themselves, each frame walked twice.
        {"gen-gif-short-long-rows", 81, shapeOf(3, 24, 10, shortAndLong), plain,
         encodeScan(1, 3, 2), encodeRun(true, false, true)},
        {"gen-gif-empty-rows-row-by-row", 82, shapeOf(4, 40, 16, emptyRows), plain,
         encodeScan(2, 1, 0), encodeRun(false, false, true)},
        {"gen-gif-tables-aba-m", 83, withTables(shapeOf(6, 16, 8), 2, false, 4), multi,
         encodeScan(0, 4, 3), encodeRun(true, false, true)},
        {"gen-gif-tables-aba-p", 84, withTables(shapeOf(6, 16, 8), 3, true, 6), shared,
         encodeScan(2, 2, 4), encodeRun(false, false, true)},
        {"gen-gif-over-256-colours-p", 85,
         withTables(shapeOf(6, 40, 12, manyColours), 6, true, 120), shared, encodeScan(1, 6, 5),
         encodeRun(true, false, true)},
    };
}

std::map<std::string, Bytes> corpus() {
    std::map<std::string, Bytes> seeds;
    const uint8_t plain = fuzzopt::encode(false, 0, 0);

    seeds["valid-1x1"] = frames({pattern(1, 1, 0)}, {&kTableA}, plain, 0, 0);
    seeds["valid-2x2"] = twoByTwoFile();
    seeds["valid-2x2-dots-rate-zero"] =
        frames({pattern(2, 2, 1)}, {&kTableA}, fuzzopt::encode(false, 1, 1), 0, 0);
    seeds["valid-13x7-filler-junk"] =
        frames(patterns(3, 13, 7), {&kTableA}, fuzzopt::encode(false, 2, 2), 3, 2);
    seeds["valid-9x5-alternating-tables"] =
        frames(patterns(4, 9, 5), {&kTableA, &kTableB}, plain, 1, 0);
    seeds["valid-9x5-alternating-tables-m"] =
        frames(patterns(4, 9, 5), {&kTableA, &kTableB}, fuzzopt::encode(true, 0, 3), 0, 1);
    seeds["valid-9x5-alternating-tables-p"] =
        frames(patterns(4, 9, 5), {&kTableA, &kTableB}, fuzzopt::encode(false, 0, 0, true), 0, 1);
    seeds["valid-4x3-many-frames-p-m"] = frames(patterns(12, 4, 3), {&kTableA, &kTableA, &kTableB},
                                                fuzzopt::encode(true, 1, 0, true), 1, 0);
    seeds["valid-4x3-many-frames-dots"] = frames(patterns(12, 4, 3), {&kTableA, &kTableA, &kTableB},
                                                 fuzzopt::encode(true, 2, 4), 0, 0);
    // Runs longer than one RLE8 run (255) and than one repeat count (4095).
    rmw::Picture wide{5000, 2, std::vector<uint8_t>(10000, 9)};
    for (size_t x = 4500; x < 5000; ++x)
        wide.pixels[x] = 4;
    seeds["valid-5000x2-long-runs"] =
        frames({wide}, {&kTableA}, fuzzopt::encode(false, 0, 5), 0, 0);
    {
        Bytes bytes;
        rmw::appendFrame(
            bytes, pattern(16, 4, 3), kTableA,
            {.singlePixels = true, .tableNoise = 0xAB, .headerFill = fuzzopt::encode(false, 3, 6)});
        rmw::appendFrame(bytes, pattern(16, 4, 4), kTableB,
                         {.singlePixels = true, .tableNoise = 0x5C});
        seeds["valid-16x4-single-pixels-table-noise"] = bytes;
    }
    // 8 x 1 in two runs: the chunk is exactly the uncompressed frame's size.
    seeds["valid-8x1-chunk-of-uncompressed-size"] =
        frames({rmw::Picture{8, 1, {1, 1, 1, 1, 2, 2, 2, 2}}}, {&kTableA},
               fuzzopt::encode(false, 0, 7), 0, 0);
    {
        // A second frame whose mark is two bytes off the frame search's stride.
        Bytes bytes = twoByTwoFile();
        rmw::appendU16(bytes, 0x1234);
        const Bytes second = twoByTwoFile();
        bytes.insert(bytes.end(), second.begin(), second.end());
        seeds["valid-misaligned-second-mark"] = bytes;
    }

    for (const RowsFrame& frame : kRowsFrames) {
        seeds[frame.name] = rowsFrameFile(frame, plain, fuzzopt::encodeScan(0, 0, 0));
        seeds[std::string(frame.name) + "-avx2"] =
            rowsFrameFile(frame, plain, fuzzopt::encodeScan(2, 5, 3));
    }
    for (const GeneratedSeed& generated : generatedSeeds()) {
        Bytes bytes = gen::randomMetafile(generated.seed, generated.shape);
        bytes[fuzzopt::kOptionByteOffset] = generated.optionByte;
        bytes[fuzzopt::kScanByteOffset] = generated.scanByte;
        bytes[fuzzopt::kRunByteOffset] = generated.runByte;
        seeds[generated.name] = bytes;
    }

    seeds["empty"] = {};
    {
        Bytes bytes = twoByTwoFile();
        bytes[3] = 0xE1;
        seeds["frame1-bad-mark-1240"] = bytes;
    }
    for (const BadFrame& bad : kBadFrames) {
        Bytes frame;
        appendRawFrame(frame, bad.width, bad.height, bad.words);
        if (bad.asFirstFrame) seeds[std::string("frame1-") + bad.name] = frame;
        Bytes bytes = twoByTwoFile();
        rmw::appendGap(bytes, 2, 1);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        seeds[std::string("frame2-") + bad.name] = bytes;
    }

    // Truncations of a two-frame file: in the first frame's header, colour
    // tables and image words, in the gap, and in the second frame's colour
    // tables and image words.
    const std::vector<rmw::Picture> two = patterns(2, 5, 3);
    const Bytes whole = frames(two, {&kTableA, &kTableB}, plain, 2, 1);
    // The second frame starts after the first and its gap of two filler words
    // and one junk word.
    const size_t second = frames({two[0]}, {&kTableA}, plain, 0, 0).size() + 8;
    for (size_t length :
         {size_t{2}, size_t{7}, size_t{12}, size_t{1300}, size_t{2048}, size_t{2051}, size_t{2080},
          second - 2, second + 1000, whole.size() - 3}) {
        char name[32];
        std::snprintf(name, sizeof name, "truncated-at-%05zu", length);
        seeds[name] = Bytes(whole.begin(), whole.begin() + static_cast<long>(length));
    }
    return seeds;
}

int check(const std::string& directory, const std::map<std::string, Bytes>& seeds) {
    namespace fs = std::filesystem;
    if (!fs::is_directory(directory)) {
        std::printf("no such directory: %s\n", directory.c_str());
        return 1;
    }
    int problems = 0;
    for (const auto& [name, bytes] : seeds) {
        const std::string path = directory + "/" + name;
        if (!fs::is_regular_file(path)) {
            std::printf("missing: %s\n", path.c_str());
            ++problems;
        } else if (rmw::readFile(path) != bytes) {
            std::printf("differs: %s\n", path.c_str());
            ++problems;
        }
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
        if (seeds.count(entry.path().filename().string()) == 0) {
            std::printf("not generated: %s\n", entry.path().c_str());
            ++problems;
        }
    }
    if (problems > 0) std::printf("regenerate with: make_fuzz_corpus %s\n", directory.c_str());
    return problems == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool checking = argc == 3 && std::strcmp(argv[1], "--check") == 0;
    if (argc != 2 && !checking) {
        std::fprintf(stderr, "usage: %s [--check] DIR\n", argv[0]);
        return 2;
    }
    const std::string directory = argv[argc - 1];
    const std::map<std::string, Bytes> seeds = corpus();
    if (checking) return check(directory, seeds);
    std::filesystem::create_directories(directory);
    for (const auto& [name, bytes] : seeds) {
        if (!rmw::writeFile(directory + "/" + name, bytes)) {
            std::fprintf(stderr, "could not write %s/%s\n", directory.c_str(), name.c_str());
            return 1;
        }
    }
    std::printf("%zu seeds written to %s\n", seeds.size(), directory.c_str());
    return 0;
}
