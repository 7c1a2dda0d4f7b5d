// The frame scan over whole files: frame walking, gaps between frames, palette
// changes, and every format error with the message it ends in.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "avi/avi_finish.h"
#include "conversion_fixture.h"
#include "driver/frame_scan.h"
#include "generated_frames.h"
#include "gif/gif_writer.h"
#include "gif_decoder.h"
#include "reference_converter.h"
#include "skip_notes.h"
#include "test_streams.h"

namespace {

// The scan without -p or -m, at ten frames a second.
int scanPlainly(TestStreams& streams, std::FILE* scratch) {
    FrameColours colours;
    return scanFrames(streams.input, streams.output, streams.chunks, scratch,
                      ScanOptions{0, false, 10.0}, colours);
}

const Palette kTableA = rmw::makePalette(11);
const Palette kTableB = rmw::makePalette(22);

rmw::Picture twoByTwo(uint8_t shade) {
    return picture(2, 2, {shade, 2, 3, 3});
}

// Frames of 2 x 2 with the given tables, in order.
rmw::Bytes framesWithTables(const std::vector<const Palette*>& tables) {
    rmw::Bytes bytes;
    uint8_t shade = 1;
    for (const Palette* table : tables)
        rmw::appendFrame(bytes, twoByTwo(shade++), *table);
    return bytes;
}

std::string chunkCodes(const ParsedAvi& avi) {
    std::string codes;
    for (const MovieChunk& chunk : avi.movie)
        codes += chunk.code == "00pc" ? "P" : "F";
    return codes;
}

TEST(FrameScan, PaletteChangesFollowThePaletteInEffect) {
    const struct {
        std::vector<const Palette*> tables;
        bool multiPalette;
        const char* chunks;  // F: frame chunk, P: palette-change chunk
        int changes;
    } cases[] = {
        {{&kTableA}, true, "F", 0},
        {{&kTableA, &kTableB, &kTableA, &kTableB}, true, "FPFPFPF", 3},
        {{&kTableA, &kTableB, &kTableB}, true, "FPFF", 1},
        {{&kTableA, &kTableA, &kTableB, &kTableA}, true, "FFPFPF", 2},
        {{&kTableA, &kTableB, &kTableA, &kTableB}, false, "FFFF", 0},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.chunks);
        const Conversion conversion =
            convertBytes(dir, framesWithTables(c.tables), {.multiPalette = c.multiPalette});
        ASSERT_EQ(conversion.result, 1) << conversion.errorText;
        ASSERT_EQ(conversion.avi.problem, "");
        EXPECT_EQ(chunkCodes(conversion.avi), c.chunks);
        EXPECT_EQ(gState.paletteChangeCount, c.changes);
        EXPECT_EQ(gState.frameCount, static_cast<int>(c.tables.size()));
        // Every frame shows in its own colours with -m, in the first frame's without.
        std::string problem;
        const std::vector<Bytes> frames = renderFrames(conversion.avi, &problem);
        ASSERT_EQ(frames.size(), c.tables.size()) << problem;
        for (size_t i = 0; i < frames.size(); ++i) {
            const Palette& shown = c.multiPalette ? *c.tables[i] : kTableA;
            const PaletteEntry top = shown[i + 1];
            EXPECT_EQ(Bytes(frames[i].begin(), frames[i].begin() + 3),
                      (Bytes{top.red, top.green, top.blue}))
                << "frame " << i + 1;
        }
    }
}

TEST(FrameScan, GapsBetweenFrames) {
    TempDir dir;
    const struct {
        const char* what;
        int fillerWords;
        int junkWords;
        int frames;
    } cases[] = {
        {"no gap", 0, 0, 3},
        {"one filler word", 1, 0, 3},
        {"many filler words", 501, 0, 3},
        {"filler and junk", 3, 40, 3},
        {"junk alone", 0, 7, 3},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        rmw::Bytes bytes;
        for (int frame = 0; frame < 3; ++frame) {
            rmw::appendFrame(bytes, twoByTwo(1), kTableA);
            rmw::appendGap(bytes, c.fillerWords, c.junkWords);
        }
        const Conversion conversion = convertBytes(dir, bytes);
        EXPECT_EQ(conversion.result, 1) << conversion.errorText;
        EXPECT_EQ(gState.frameCount, c.frames);
    }
}

TEST(FrameScan, AMarkOffTheSearchStrideEndsTheConversionThere) {
    TempDir dir;
    rmw::Bytes bytes;
    rmw::appendFrame(bytes, twoByTwo(1), kTableA);
    bytes.push_back(0x55);  // the next frame now lies 1 byte off the 4-byte steps
    rmw::appendFrame(bytes, twoByTwo(1), kTableA);
    testing::internal::CaptureStderr();
    const Conversion conversion = convertBytes(dir, bytes);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\nWarning: a frame mark after frame 1 was not found by the frame search; the "
              "frames from there on were not converted.\n");
    EXPECT_EQ(conversion.result, 1);
    EXPECT_EQ(gState.frameCount, 1);

    // An aligned frame is found, and a file that simply ends warns of nothing.
    testing::internal::CaptureStderr();
    EXPECT_EQ(convertBytes(dir, framesWithTables({&kTableA, &kTableA})).result, 1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// An output that would outgrow an AVI file is not the input's fault either.
TEST(FrameScan, OutgrownOutputInTheFirstFrameKeepsItsMessage) {
    rmw::Bytes bytes;
    rmw::Picture noisy{300, 2, std::vector<uint8_t>(600)};
    for (size_t i = 0; i < noisy.pixels.size(); ++i)
        noisy.pixels[i] = static_cast<uint8_t>(i % 251);
    rmw::appendFrame(bytes, noisy, Palette{});
    TestStreams streams(bytes);
    streams.output.limit = 1300;  // the header fits, the frame does not
    resetConversionState();
    EXPECT_EQ(scanPlainly(streams, streams.scratch), 0);
    EXPECT_EQ(gState.errorText,
              "The converted AVI file would grow past 1300 bytes, the largest size an AVI file "
              "can have.");
    EXPECT_LE(streams.outputBytes().size(), 1300u);
}

// A failing scratch file is not the input's fault, even in the first frame.
TEST(FrameScan, ScratchFailureInTheFirstFrameKeepsItsMessage) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full == nullptr) GTEST_SKIP() << skipNote("no /dev/full here");
    std::setvbuf(full, nullptr, _IONBF, 0);
    TestStreams streams(twoByTwoFile());
    resetConversionState();
    gState.scratchPath = "scratch";
    EXPECT_EQ(scanPlainly(streams, full), 0);
    EXPECT_EQ(gState.errorText,
              "i/o error writing to temp file \"scratch\".\nNo space left on device");
    std::fclose(full);
}

// What the frame scan made of a file, read back from the finished AVI file.
struct ScanOutcome {
    int result = 0;
    std::string errorText;
    std::string standardError;
    int32_t frames = 0;
    int32_t paletteChanges = 0;
    int32_t sharedColours = 0;
    std::string problem;      // of the AVI structure
    Palette headerPalette{};  // the AVI header's table, or the GIF's global one
    std::vector<ref::Chunk> chunks;
    DecodedGif gif;  // a GIF, as the plain decoder reads it
};

// Runs the frame scan over file with the kernel, window and buffer, as the
// program converts: with -p in one pass, and on the two passes after it when
// the colours did not fit; or (onePass false) on the two passes from the start.
// A GIF, finished with its trailer, is decoded.
ScanOutcome scanThrough(const rmw::Bytes& file, const Rle8Kernel& kernel, size_t window,
                        size_t buffer, const ref::Options& options, bool onePass,
                        OutputFormat format = OutputFormat::kAvi) {
    resetConversionState();
    gState.inputPath = "in.rm";
    TestStreams streams(file, window, buffer);
    streams.chunks.coding.takeBlocks = kernel.takeBlocks;
    const ScanOptions scanOptions{0, options.multiPalette, 10.0, format};
    FrameColours colours;
    SharedTableRun run;
    ScanOutcome outcome;
    testing::internal::CaptureStderr();
    outcome.result =
        options.sharedPalette
            ? scanFramesSharingTable(streams.input, streams.output, streams.chunks, streams.scratch,
                                     scanOptions, colours, onePass, run)
            : scanFrames(streams.input, streams.output, streams.chunks, streams.scratch,
                         scanOptions, colours);
    outcome.standardError = testing::internal::GetCapturedStderr();
    outcome.errorText = gState.errorText;
    outcome.frames = gState.frameCount;
    outcome.paletteChanges = gState.paletteChangeCount;
    outcome.sharedColours = gState.sharedPaletteColours;
    if (outcome.result != 1) return outcome;
    if (format == OutputFormat::kGif) {
        if (finishGif(streams.output) != 1) outcome.problem = "not finished: " + gState.errorText;
        outcome.gif = decodeGif(streams.outputBytes());
        const std::vector<uint8_t>& table = outcome.gif.globalTable;
        for (size_t i = 0; i < kPaletteEntries && 3 * i + 2 < table.size(); ++i)
            outcome.headerPalette[i] = {table[3 * i], table[3 * i + 1], table[3 * i + 2]};
        return outcome;
    }
    std::rewind(streams.scratch);
    if (finishAvi(streams.output, streams.chunks, streams.scratch) != 1) {
        outcome.problem = "not finished: " + gState.errorText;
        return outcome;
    }
    Bytes avi = streams.outputBytes();
    avi.resize(static_cast<size_t>(writerPosition(streams.output)));
    const ParsedAvi parsed = parseAvi(avi);
    outcome.problem = parsed.problem;
    outcome.headerPalette = parsed.headerPalette;
    for (const MovieChunk& chunk : parsed.movie)
        outcome.chunks.push_back({chunk.code, chunk.data});
    return outcome;
}

// Where the two lists of chunks first differ: the chunk, the byte, and the
// bytes around it on both sides (the whole chunk when it is short).
std::string firstDifference(const std::vector<ref::Chunk>& got,
                            const std::vector<ref::Chunk>& expected) {
    size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at])
        ++at;
    std::string text = "chunks: " + std::to_string(got.size()) + " against " +
                       std::to_string(expected.size()) + "; first difference in chunk " +
                       std::to_string(at);
    if (at == got.size() || at == expected.size()) return text;
    const Bytes& one = got[at].data;
    const Bytes& other = expected[at].data;
    size_t byte = 0;
    while (byte < one.size() && byte < other.size() && one[byte] == other[byte])
        ++byte;
    const size_t from = byte < 24 ? 0 : byte - 24;
    const auto around = [from](const ref::Chunk& chunk) {
        ref::Chunk part = chunk;
        part.data.assign(
            chunk.data.begin() + static_cast<std::ptrdiff_t>(std::min(from, chunk.data.size())),
            chunk.data.begin() +
                static_cast<std::ptrdiff_t>(std::min(from + 64, chunk.data.size())));
        return ref::describe({part});
    };
    return text + ", byte " + std::to_string(byte) + " (of " + std::to_string(one.size()) +
           " and " + std::to_string(other.size()) + "); from byte " + std::to_string(from) +
           "\nprogram:   " + around(got[at]) + "reference: " + around(expected[at]);
}

void expectAsReference(const ScanOutcome& got, ref::Result expected, const rmw::Bytes& file,
                       const ref::Options& options, OutputFormat format = OutputFormat::kAvi) {
    if (options.sharedPalette && !options.multiPalette && !expected.sharedExact &&
        expected.refusal == ref::Refusal::kNone) {  // the program's own table, then
        expected = ref::convert(file, options, &got.headerPalette, got.sharedColours);
    }
    EXPECT_EQ(got.frames, expected.frames);
    EXPECT_EQ(got.standardError.find("color map number is greater than 255") != std::string::npos,
              expected.refusal == ref::Refusal::kColourOver255);
    if (expected.refusal != ref::Refusal::kNone) {
        EXPECT_EQ(got.result, 0) << "refused by the reference in frame " << expected.failedFrame;
        const std::string internal =
            expected.internalError == 0
                ? ""
                : "Internal error: (" + std::to_string(expected.internalError) + ")";
        if (expected.failedFrame == 1) {
            EXPECT_EQ(got.errorText, "\"in.rm\" is not a valid raster metafile");
        } else if (expected.refusal == ref::Refusal::kFrameSize) {
            EXPECT_EQ(got.errorText.find("Internal error"), std::string::npos) << got.errorText;
            EXPECT_NE(got.errorText, "");
        } else {
            EXPECT_EQ(got.errorText.substr(0, got.errorText.find('\n')), internal);
        }
        return;
    }
    ASSERT_EQ(got.result, 1) << got.errorText;
    EXPECT_EQ(got.problem, "");
    EXPECT_TRUE(got.headerPalette == expected.headerPalette) << "the header's colour table";
    if (format == OutputFormat::kGif) {
        EXPECT_EQ(ref::gifDifference(got.gif, expected, got.paletteChanges), "");
    } else {
        EXPECT_EQ(got.paletteChanges, expected.paletteChanges);
        EXPECT_TRUE(got.chunks == expected.chunks) << firstDifference(got.chunks, expected.chunks);
    }
    if (options.sharedPalette && expected.sharedExact) {
        EXPECT_EQ(got.sharedColours, expected.sharedColours);
    }
}

// One frame of width x height with the given image words (begin- and
// end-of-image words added).
rmw::Bytes wordFrame(int32_t width, int32_t height, const std::vector<uint16_t>& words) {
    rmw::Bytes bytes;
    gen::appendWordFrame(bytes, width, height, kTableA, words);
    return bytes;
}

// The file with one more frame, of the file's size, whose rows stop halfway:
// the input ends inside the frame, or after an end-of-image word (imageEnd).
rmw::Bytes withFrameCutShort(rmw::Bytes file, const gen::FileShape& shape, bool imageEnd) {
    std::mt19937 rng(9);
    std::vector<uint16_t> words = gen::randomImageWords(rng, shape.width, shape.height, shape.mix);
    words.resize(words.size() / 2);
    gen::appendWordFrame(file, shape.width, shape.height, kTableA, words);
    if (!imageEnd) file.resize(file.size() - 2);
    return file;
}

// Generated files of every shape, and a few written out, through the frame
// scan with every kernel, in tiny, odd and normal window and buffer sizes
// (frames in bands and row by row among them) and with every palette option:
// the movie data byte for byte as the reference converter makes it, or the
// same refusal; a GIF's frames (its -p always on the two passes) decoded to
// the reference's pixels.
void convertEveryCaseAsTheReference(OutputFormat format) {
    const auto shapeOf = [](int frames, int32_t width, int32_t height, int tables = 1) {
        gen::FileShape shape;
        shape.frames = frames;
        shape.width = width;
        shape.height = height;
        shape.tables = tables;
        return shape;
    };
    gen::FileShape manyEmptyRows = shapeOf(5, 24, 12);
    manyEmptyRows.mix.emptyRowPercent = 45;
    gen::FileShape allEmpty = shapeOf(4, 9, 7);
    allEmpty.mix.allEmptyPercent = 100;
    gen::FileShape ragged = shapeOf(5, 40, 6);
    ragged.mix.shortRowPercent = 40;
    ragged.mix.longRowPercent = 40;
    gen::FileShape longRuns = shapeOf(3, 600, 5);
    longRuns.mix.edgeRunPercent = 80;
    gen::FileShape singles = shapeOf(3, 70, 9);
    singles.mix.singlePixelPercent = 100;
    singles.mix.edgeRunPercent = 0;
    gen::FileShape sharing = shapeOf(12, 20, 6, 6);
    sharing.mix.colourLimit = 40;
    sharing.sharedColours = true;
    sharing.duplicates = 3;
    gen::FileShape tooManyColours = sharing;
    tooManyColours.tables = 8;
    tooManyColours.newColours = 40;
    tooManyColours.mix.colourLimit = 256;
    tooManyColours.width = 300;
    tooManyColours.height = 8;
    tooManyColours.mix.singlePixelPercent = 90;
    tooManyColours.mix.edgeRunPercent = 5;
    const auto atEdge = [&](int frame, int32_t row, uint32_t distance) {
        gen::FileShape shape = shapeOf(3, 30, 6, 2);
        shape.edgeFrame = frame;
        shape.edgeRow = row;
        shape.edgeDistance = distance;
        return shape;
    };
    // Too large for the staging of 2 MiB: in bands at the normal sizes too.
    gen::FileShape unstaged = shapeOf(1, 3000, 400);
    unstaged.mix = {0, 0, 0, 0, 100, 0, 20, 256};

    const std::vector<uint16_t> knownRows{0x1001, 0x1002, 0x1003, 0x6000, 0x6000,
                                          0x1007, 0x1007, 0x1007, 0x6000};
    const struct {
        const char* what;
        gen::FileShape shape;
        rmw::Bytes file;     // instead of generated ones
        bool large = false;  // only in the normal sizes
    } cases[] = {
        {"rows [1,2,3], [], [7,7,7]", {}, wordFrame(3, 3, knownRows)},
        {"an empty first and last row", {}, wordFrame(2, 3, {0x6000, 0x1001, 0x6000, 0x6000})},
        {"a zero repeat count, then a colour over 255 in the same row",
         {},
         [&] {
             rmw::Bytes bytes = twoByTwoFile();
             gen::appendWordFrame(bytes, 2, 2, kTableA, {0x1001, 0x6000, 0, 0x3001, 0x3100});
             return bytes;
         }()},
        {"a chunk of the frame's uncompressed size",
         {},
         wordFrame(5, 2, {0x1001, 0x1002, 3, 0x3003, 0x6000, 0x1004, 4, 0x3005, 0x6000})},
        {"a zero repeat count, then a word of no row kind",
         {},
         [&] {
             rmw::Bytes bytes = twoByTwoFile();
             gen::appendWordFrame(bytes, 2, 2, kTableB, {0x1001, 0x6000, 0, 0x3001, 0x2000});
             return bytes;
         }()},
        {"a generated file cut short",
         {},
         withFrameCutShort(gen::randomMetafile(5, ragged), ragged, false)},
        {"... after an end-of-image word",
         {},
         withFrameCutShort(gen::randomMetafile(6, ragged), ragged, true)},
        {"many empty rows", manyEmptyRows, {}},
        {"frames whose rows are all empty", allEmpty, {}},
        {"rows shorter and longer than the width", ragged, {}},
        {"long runs", longRuns, {}},
        {"single pixels alone", singles, {}},
        {"many frames, tables A, B, A", shapeOf(30, 8, 5, 2), {}},
        {"more rows than the row positions kept", shapeOf(2, 3, 2500), {}},
        {"tables sharing colours", sharing, {}},
        {"more than 256 colours", tooManyColours, {}},
        {"an empty row ending on a window quarter's edge", atEdge(1, 0, 0), {}, true},
        {"... 2 bytes before it", atEdge(2, 5, 2), {}, true},
        {"... in the first frame, 6 bytes before it", atEdge(0, 3, 6), {}, true},
        {"a frame too large to stage", unstaged, {}, true},
    };
    const std::pair<size_t, size_t> normal{1 << 20, 1 << 20};
    const std::vector<std::pair<size_t, size_t>> allSizes{normal,     {61, 47}, {3, 7},
                                                          {4096, 64}, {37, 2},  {1 << 16, 1000}};
    const ref::Options optionSets[] = {{}, {true, false}, {false, true}, {true, true}};
    for (const auto& c : cases) {
        const int seeds = !c.file.empty() ? 1 : 2;
        for (uint32_t seed = 1; seed <= static_cast<uint32_t>(seeds); ++seed) {
            const rmw::Bytes file = c.file.empty() ? gen::randomMetafile(seed, c.shape) : c.file;
            ref::Result expected[std::size(optionSets)];
            for (size_t o = 0; o < std::size(optionSets); ++o)
                expected[o] = ref::convert(file, optionSets[o]);
            const auto sizes = c.large ? std::vector<std::pair<size_t, size_t>>{normal} : allSizes;
            size_t run = seed;
            for (const Rle8Kernel& kernel : kernelsForTesting()) {
                for (size_t s = 0; s < sizes.size(); ++s) {
                    // The options in turn: each meets every kernel and size over the seeds.
                    const size_t o = run++ % std::size(optionSets);
                    const ref::Options& options = optionSets[o];
                    {
                        const auto [window, buffer] = sizes[s];
                        SCOPED_TRACE(std::string(c.what) + ", seed " + std::to_string(seed) +
                                     (options.multiPalette ? ", -m" : "") +
                                     (options.sharedPalette ? ", -p" : "") + ", " + kernel.name +
                                     " kernel, window " + std::to_string(window) + ", buffer " +
                                     std::to_string(buffer));
                        const bool onePass = format == OutputFormat::kAvi && s % 2 == 0;
                        const ScanOutcome got =
                            scanThrough(file, kernel, window, buffer, options, onePass, format);
                        expectAsReference(got, expected[o], file, options, format);
                    }
                }
            }
        }
    }
}

TEST(FrameScan, EveryKernelAndBufferSizeConvertsAsTheReference) {
    convertEveryCaseAsTheReference(OutputFormat::kAvi);
}

// The GIF's rows come from the input in bands, a row too large for the
// staging by itself, and each frame is walked twice.
TEST(FrameScan, EveryKernelAndBufferSizeWritesTheGifAsTheReference) {
    convertEveryCaseAsTheReference(OutputFormat::kGif);
}

// A word the kernels must hand to the word rule, at every place of a kernel's
// block and step: after lead single pixels or pairs, in the second frame's
// only row, followed by common words the kernels read ahead into. Refused, or
// converted, as the reference does it, by every kernel in a tiny and a normal
// window.
TEST(FrameScan, MalformedWordsAnywhereInABlockAsTheReference) {
    const std::vector<uint16_t> faults[] = {
        {0x0035, 0x0110, 0x3089},  // a count whose colour word is a long count
        {0x0035, 0x01FE, 0x3089},
        {0x0000, 0x3001},                  // a zero count
        {0x0035, 0x1001},                  // a count whose colour word is a single pixel
        {0x0110, 0x1001},                  // a long count without its colour word
        {0x3001},                          // a colour word without its count
        {0x2000},                          // a word of no row kind
        {0x0110, 0x3101},                  // a long run of a colour over 255
        {0x0101, 0x3001, 0x0101, 0x3002},  // long runs, well formed
    };
    const std::vector<uint16_t> leads[] = {{0x1001}, {0x0003, 0x3004}};
    const std::pair<size_t, size_t> sizes[] = {{1 << 20, 1 << 20}, {61, 47}};
    for (const std::vector<uint16_t>& fault : faults) {
        for (const std::vector<uint16_t>& lead : leads) {
            for (size_t count = 0; count < 36; ++count) {
                std::vector<uint16_t> row;
                for (size_t i = 0; i < count; ++i)
                    row.insert(row.end(), lead.begin(), lead.end());
                row.insert(row.end(), fault.begin(), fault.end());
                row.insert(row.end(), 40, 0x1002);
                row.insert(row.end(), {0x6000, 0x6000});  // and an empty second row
                rmw::Bytes file = twoByTwoFile();
                gen::appendWordFrame(file, 2, 2, kTableA, row);
                const ref::Result expected = ref::convert(file, {});
                for (const Rle8Kernel& kernel : kernelsForTesting()) {
                    for (const auto& [window, buffer] : sizes) {
                        SCOPED_TRACE("fault word " + std::to_string(fault[0]) + " after " +
                                     std::to_string(count) + " lead items, " + kernel.name +
                                     " kernel, window " + std::to_string(window));
                        expectAsReference(scanThrough(file, kernel, window, buffer, {}, true),
                                          expected, file, {});
                    }
                }
            }
        }
    }
}

}  // namespace
