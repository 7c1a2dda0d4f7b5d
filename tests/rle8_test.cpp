// The RLE8 transcoder and the movie chunk writer: rows of metafile words
// against the bytes they become, and the chunk-level rules around them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <vector>

#include "avi/movie_chunks.h"
#include "avi_reader.h"
#include "conversion_state.h"
#include "reference_converter.h"
#include "rle8/rle8_transcoder.h"
#include "rm_writer.h"
#include "skip_notes.h"
#include "test_streams.h"

namespace {

Bytes wordBytes(const std::vector<uint16_t>& words) {
    rmw::Bytes bytes;
    for (uint16_t word : words)
        rmw::appendU16(bytes, word);
    return bytes;
}

const char kColourTooLarge[] = "Cannot convert this file: color map number is greater than 255.\n";

// wordCount words of single pixels and repeat runs of 1..255 in a mix, with the
// bytes they become.
struct CommonWords {
    std::vector<uint16_t> words;
    Bytes bytes;
};

enum class Mix { kBoth, kRunsOnly, kSinglesOnly };

CommonWords commonWords(size_t wordCount, uint32_t seed, Mix mix = Mix::kBoth) {
    CommonWords common;
    for (uint32_t item = seed; common.words.size() < wordCount; ++item) {
        const auto colour = static_cast<uint8_t>(item * 97);
        const bool single = mix == Mix::kBoth ? item % 3 == 0 : mix == Mix::kSinglesOnly;
        if (common.words.size() + 1 == wordCount || single) {
            common.words.push_back(static_cast<uint16_t>(0x1000 | colour));
            common.bytes.insert(common.bytes.end(), {1, colour});
        } else {
            const auto count = static_cast<uint8_t>(1 + item * 53 % 255);
            common.words.insert(common.words.end(),
                                {count, static_cast<uint16_t>(0x3000 | colour)});
            common.bytes.insert(common.bytes.end(), {count, colour});
        }
    }
    return common;
}

// RLE8 bytes with the colour of every pair but the escapes through indexes.
Bytes mappedColours(Bytes bytes, const ColourIndexes& indexes) {
    for (size_t at = 0; at + 1 < bytes.size(); at += 2) {
        if (bytes[at] != 0) bytes[at + 1] = indexes[bytes[at + 1]];
    }
    return bytes;
}

Bytes repeatedPairs(uint8_t count, uint8_t colour, size_t pairs, Bytes tail) {
    Bytes bytes;
    for (size_t i = 0; i < pairs; ++i)
        bytes.insert(bytes.end(), {count, colour});
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

// Each row on its own, and after lead-ins of common words that put its words at
// every place of a kernel's block (a repeat count and its colour word on either
// side of a block's edge too), followed by more rows that the kernels read
// ahead into: through every kernel, in tiny and normal windows and buffers,
// with the identity colour map and another.
TEST(Rle8, TranscodesEveryKindOfRow) {
    const struct {
        const char* what;
        std::vector<uint16_t> words;
        Bytes written;
        int ok;
        const char* errorText;
        const char* errorLine;
        bool endsInput = false;  // the input ends after the words
    } cases[] = {
        {"single pixels", {0x1001, 0x1002, 0x6000}, {1, 1, 1, 2, 0, 0}, 1, "", ""},
        {"a repeat", {0x0002, 0x3003, 0x6000}, {2, 3, 0, 0}, 1, "", ""},
        {"a run of 600", {600, 0x3007, 0x6000}, {255, 7, 255, 7, 90, 7, 0, 0}, 1, "", ""},
        {"a run of exactly 255", {255, 0x3009, 0x6000}, {255, 9, 0, 0}, 1, "", ""},
        {"a run of 256", {256, 0x3009, 0x6000}, {255, 9, 1, 9, 0, 0}, 1, "", ""},
        {"a run of 300", {300, 0x3009, 0x6000}, {255, 9, 45, 9, 0, 0}, 1, "", ""},
        {"a run of 4095",
         {4095, 0x3002, 0x6000},
         repeatedPairs(255, 2, 16, {15, 2, 0, 0}),
         1,
         "",
         ""},
        {"counts 1 and 255, colours 0 and 255",
         {255, 0x30FF, 1, 0x3000, 0x1000, 0x10FF, 0x6000},
         {255, 255, 1, 0, 1, 0, 1, 255, 0, 0},
         1,
         "",
         ""},
        {"adjacent runs stay apart",
         {0x1005, 0x0001, 0x3005, 0x6000},
         {1, 5, 1, 5, 0, 0},
         1,
         "",
         ""},
        {"an empty row", {0x6000}, {0, 0}, 1, "", ""},
        {"value bits of end of row ignored", {0x1000, 0x6ABC}, {1, 0, 0, 0}, 1, "", ""},
        {"colour 255", {0x10FF, 0x6000}, {1, 255, 0, 0}, 1, "", ""},
        {"repeat without colour", {0x0002, 0x1003, 0x6000}, {}, 0, "Internal error: (632)", ""},
        {"repeat before the row's end", {0x0002, 0x6000}, {}, 0, "Internal error: (632)", ""},
        {"a word of no row kind", {0x1001, 0x2000, 0x6000}, {1, 1}, 0, "Internal error: (641)", ""},
        {"a colour word alone", {0x1001, 0x3001, 0x6000}, {1, 1}, 0, "Internal error: (641)", ""},
        {"end of image inside the row", {0x1001, 0x7000}, {1, 1}, 0, "Internal error: (641)", ""},
        {"begin image inside the row", {0x4000, 0x6000}, {}, 0, "Internal error: (641)", ""},
        {"input ends inside the row", {0x1001}, {1, 1}, 0, "Internal error: (641)", "", true},
        {"input ends after a repeat", {0x0002}, {}, 0, "Internal error: (632)", "", true},
        {"colour word over 255", {0x1001, 0x0003, 0x3100, 0x6000}, {1, 1}, 0, "", kColourTooLarge},
        {"single pixel over 255", {0x1FFF, 0x6000}, {}, 0, "", kColourTooLarge},
        {"zero repeat: the rest, no end of line",
         {0x0000, 0x3001, 0x1002, 0x6000},
         {1, 2},
         0,
         "Internal error: (656)",
         ""},
    };
    ColourIndexes shuffled{};
    for (size_t i = 0; i < shuffled.size(); ++i)
        shuffled[i] = static_cast<uint8_t>(i * 7 + 3);
    const CommonWords following = commonWords(40, 5);
    for (const auto& c : cases) {
        for (const Rle8Kernel& kernel : kernelsForTesting()) {
            // Lead-ins of both kinds, and (64, 65) of 64 words of one kind, whole
            // steps of counts and colour words or of single pixels.
            for (const size_t leadIn :
                 {0u, 1u, 2u, 5u, 7u, 8u, 14u, 15u, 16u, 17u, 30u, 31u, 64u, 65u}) {
                const Mix mix = leadIn == 64   ? Mix::kRunsOnly
                                : leadIn == 65 ? Mix::kSinglesOnly
                                               : Mix::kBoth;
                const CommonWords lead =
                    commonWords(leadIn == 65 ? 64 : leadIn, static_cast<uint32_t>(leadIn), mix);
                std::vector<uint16_t> words = lead.words;
                words.insert(words.end(), c.words.begin(), c.words.end());
                if (!c.endsInput) {
                    words.insert(words.end(), following.words.begin(), following.words.end());
                    words.push_back(0x6000);
                }
                Bytes written = lead.bytes;
                written.insert(written.end(), c.written.begin(), c.written.end());
                for (const auto& [window, buffer] :
                     {std::pair<size_t, size_t>{1 << 16, 1 << 16}, {3, 7}, {61, 47}}) {
                    for (const bool mapped : {false, true}) {
                        SCOPED_TRACE(std::string(c.what) + ", " + kernel.name + " kernel, " +
                                     std::to_string(leadIn) + " words before, window " +
                                     std::to_string(window) + (mapped ? ", mapped" : ""));
                        resetConversionState();
                        TestStreams streams(wordBytes(words), window, buffer);
                        Rle8Coding coding{kernel.takeBlocks, {}};
                        if (mapped) setColourMap(coding.colours, shuffled);
                        const Bytes expected = mapped ? mappedColours(written, shuffled) : written;
                        int ok = -1;
                        testing::internal::CaptureStderr();
                        const int64_t count =
                            transcodeRow(streams.input, streams.output, coding, ok);
                        EXPECT_EQ(testing::internal::GetCapturedStderr(), c.errorLine);
                        EXPECT_EQ(ok, c.ok);
                        EXPECT_EQ(streams.outputBytes(), expected);
                        EXPECT_EQ(count, static_cast<int64_t>(expected.size()));
                        // The line after the number says where; the tables below check it.
                        EXPECT_EQ(gState.errorText.substr(0, gState.errorText.find('\n')),
                                  c.errorText);
                    }
                }
            }
        }
    }
}

// A frame's words after its begin-image word.
std::vector<uint16_t> frameWords(const std::vector<std::vector<uint8_t>>& rows) {
    std::vector<uint16_t> words;
    for (const auto& row : rows) {
        for (uint16_t word : rmw::rowWords(row.data(), static_cast<int32_t>(row.size()), false)) {
            words.push_back(word);
        }
        words.push_back(0x6000);
    }
    words.push_back(0x7000);
    return words;
}

TEST(MovieChunks, FrameChunkRowsBottomFirstWithItsRecord) {
    resetConversionState();
    gState.width = 2;
    gState.height = 2;
    std::vector<uint16_t> words = frameWords({{1, 2}, {3, 3}});
    words.push_back(0xFFFF);  // what follows the frame stays unread
    TestStreams streams(wordBytes(words));
    ASSERT_EQ(writeFrameChunk(streams.input, streams.output, streams.chunks, streams.scratch), 1);
    EXPECT_EQ(streams.outputBytes(),
              (Bytes{'0', '0', 'd', 'c', 12, 0, 0, 0, 2, 3, 0, 0, 1, 1, 1, 2, 0, 0, 0, 1}))
        << "the size is filled in while the chunk is still in the buffer";
    EXPECT_EQ(streams.scratchBytes(), (Bytes{0, 0, 0, 0, 4, 0, 0, 0, 12, 0, 0, 0}));
    EXPECT_DOUBLE_EQ(gState.totalEncodedBytes, 10.0);
    EXPECT_EQ(gState.largestChunk, 12);
    EXPECT_EQ(readerPosition(streams.input), 14) << "input stands after the end-of-image word";
}

// A chunk as long as the uncompressed frame would be read as one; it gets a
// second end-of-bitmap pair.
TEST(MovieChunks, ChunkOfTheUncompressedSizeGetsASecondEndOfBitmap) {
    resetConversionState();
    gState.width = 5;
    gState.height = 4;
    TestStreams streams(wordBytes(
        frameWords({{1, 2, 3, 3, 3}, {4, 5, 6, 6, 6}, {7, 8, 9, 9, 9}, {10, 10, 11, 11, 11}})));
    ASSERT_EQ(writeFrameChunk(streams.input, streams.output, streams.chunks, streams.scratch), 1);
    const Bytes chunk = streams.outputBytes();
    const Bytes expectedData{2, 10, 3, 11, 0, 0, 1, 7, 1, 8, 3, 9, 0, 0, 1, 4, 1,
                             5, 3,  6, 0,  0, 1, 1, 1, 2, 3, 3, 0, 0, 0, 1, 0, 1};
    EXPECT_EQ(Bytes(chunk.begin() + 8, chunk.end()), expectedData);
    EXPECT_EQ(le32(streams.scratchBytes(), 8), 34u);
    EXPECT_EQ(gState.largestChunk, 34);
    EXPECT_DOUBLE_EQ(gState.totalEncodedBytes, 30.0);

    // One run fewer and the size no longer matches: no extra pair.
    resetConversionState();
    gState.width = 5;
    gState.height = 4;
    TestStreams shorter(wordBytes(
        frameWords({{1, 2, 3, 3, 3}, {4, 5, 6, 6, 6}, {7, 8, 9, 9, 9}, {10, 10, 10, 10, 10}})));
    ASSERT_EQ(writeFrameChunk(shorter.input, shorter.output, shorter.chunks, shorter.scratch), 1);
    EXPECT_EQ(le32(shorter.scratchBytes(), 8), 30u);
}

// The kernels read straight from the input window and write straight into the
// output buffer or the staging of rows; whichever kernel runs, wherever a
// window, buffer or staging edge falls, and whether a frame is staged whole or
// in bands, the chunk is the one the reference converter writes (through the
// colour map, where one is set), and it decodes to the picture.
TEST(MovieChunks, WindowAndBufferEdgesChangeNothing) {
    uint32_t seed = 7;
    const auto random = [&seed](uint32_t bound) {
        seed = seed * 1664525u + 1013904223u;
        return (seed >> 8) % bound;
    };
    ColourIndexes reversed{};
    for (size_t i = 0; i < reversed.size(); ++i)
        reversed[i] = static_cast<uint8_t>(255 - i);
    for (int trial = 0; trial < 21; ++trial) {
        // The last frame has more rows than the table of row positions holds.
        const bool tall = trial == 20;
        const bool mapped = trial % 3 == 1;
        rmw::Picture picture{static_cast<int32_t>(1 + random(tall ? 4 : 700)),
                             static_cast<int32_t>(tall ? 70000 : 1 + random(6)),
                             {}};
        for (int32_t y = 0; y < picture.height; ++y) {
            for (int32_t x = 0; x < picture.width;) {
                const auto colour = static_cast<uint8_t>(random(256));
                // Short runs and single pixels, and among them (even trials) long
                // runs; or runs of 2 to 4 alone, or single pixels alone.
                const uint32_t run = trial % 4 == 1   ? 2 + random(3)
                                     : trial % 4 == 3 ? 1
                                                      : 1 + random(random(4) > 0 ? 3 : 600);
                for (uint32_t left = run; left > 0 && x < picture.width; --left, ++x) {
                    picture.pixels.push_back(colour);
                }
            }
        }
        rmw::Bytes frame;
        rmw::appendFrame(frame, picture, Palette{});
        const rmw::Bytes words(frame.begin() + 2050, frame.end());  // after the begin-image word
        std::vector<uint8_t> expected = picture.pixels;
        if (mapped) {
            for (uint8_t& index : expected)
                index = reversed[index];
        }
        // The chunk data as the reference converter writes it, through the map.
        const ref::Result converted = ref::convert(frame, {});
        ASSERT_EQ(converted.chunks.size(), 1u);
        const Bytes reference =
            mapped ? mappedColours(converted.chunks[0].data, reversed) : converted.chunks[0].data;
        bool decoded = false;
        // The tall frame, whose words are mostly ends of row, once: it is there
        // for the table of row positions.
        const std::vector<Rle8Kernel> kernels =
            tall ? std::vector<Rle8Kernel>{bestKernel()} : kernelsForTesting();
        for (const Rle8Kernel& kernel : kernels) {
            for (const auto& [window, buffer] : {std::pair<size_t, size_t>{1 << 16, 1 << 16},
                                                 {3, 1 << 16},
                                                 {4, 40},
                                                 {5, 35},
                                                 {7, 7},
                                                 {64, 3},
                                                 {1 << 16, 2}}) {
                SCOPED_TRACE("trial " + std::to_string(trial) + ", " + kernel.name +
                             " kernel, window " + std::to_string(window) + ", buffer " +
                             std::to_string(buffer));
                resetConversionState();
                gState.width = picture.width;
                gState.height = picture.height;
                TestStreams streams(words, window, buffer);
                streams.chunks.coding.takeBlocks = kernel.takeBlocks;
                if (mapped) setFrameColourMap(streams.chunks, reversed);
                ASSERT_EQ(
                    writeFrameChunk(streams.input, streams.output, streams.chunks, streams.scratch),
                    1);
                EXPECT_EQ(readerPosition(streams.input), static_cast<int64_t>(words.size()));
                const Bytes chunk = streams.outputBytes();
                const Bytes data(chunk.begin() + 8, chunk.end());
                if (!decoded) {
                    decoded = true;
                    std::vector<uint8_t> pixels;
                    ASSERT_TRUE(decodeRle8(data, picture.width, picture.height, pixels));
                    EXPECT_EQ(pixels, expected);
                }
                EXPECT_TRUE(data == reference) << ref::describe({{"00dc", data}}).substr(0, 2000);
            }
        }
    }
}

TEST(MovieChunks, FrameErrorsFoundWhileLookingForRows) {
    const struct {
        const char* what;
        int height;
        std::vector<uint16_t> words;
        const char* errorText;
    } cases[] = {
        {"input ends before a row's end",
         2,
         {0x1001},
         "Internal error: (805)\nThe input ends inside frame 1, at byte 2, before the end of one "
         "of its rows."},
        {"... after an end-of-image word",
         2,
         {0x1001, 0x7000},
         "Internal error: (815)\nFrame 1 has fewer rows than its height: the input ends at byte "
         "4, after its end-of-image word."},
        {"input ends before the image's end",
         1,
         {0x1001, 0x6000},
         "Internal error: (829)\nThe input ends inside frame 1, at byte 4, before its "
         "end-of-image word."},
        {"last row without its end of row",
         2,
         {0x1001, 0x6000, 0x1002, 0x7000},
         "Internal error: (641)\nIn frame 1, the word at byte 6 is of a kind that does not "
         "belong inside a row."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        resetConversionState();
        gState.width = 2;
        gState.height = c.height;
        TestStreams streams(wordBytes(c.words));
        EXPECT_EQ(writeFrameChunk(streams.input, streams.output, streams.chunks, streams.scratch),
                  0);
        EXPECT_EQ(gState.errorText, c.errorText);
        EXPECT_TRUE(streams.scratchBytes().empty());
    }
}

// A header's height alone never reserves memory: the rows must be there.
TEST(MovieChunks, HugeHeightInASmallInputFailsQuickly) {
    resetConversionState();
    gState.width = 2;
    gState.height = 2000000000;
    std::vector<uint16_t> words;
    for (int row = 0; row < 500; ++row)
        words.insert(words.end(), {0x1001, 0x6000});
    TestStreams streams(wordBytes(words));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(writeFrameChunk(streams.input, streams.output, streams.chunks, streams.scratch), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_EQ(gState.errorText,
              "Internal error: (805)\nThe input ends inside frame 1, at byte 2000, before the end "
              "of one of its rows.");
}

TEST(MovieChunks, PaletteChunkLayout) {
    resetConversionState();
    Palette palette{};
    palette[0] = {0x10, 0x20, 0x30};
    palette[255] = {0xA0, 0xB0, 0xC0};
    TestStreams streams;
    ASSERT_EQ(writePaletteChunk(palette, streams.output, streams.chunks, streams.scratch), 1);
    const Bytes chunk = streams.outputBytes();
    ASSERT_EQ(chunk.size(), 1036u);
    EXPECT_EQ(Bytes(chunk.begin(), chunk.begin() + 16),
              (Bytes{'0', '0', 'p', 'c', 0x04, 0x04, 0, 0, 0, 0, 0, 0, 0x10, 0x20, 0x30, 0}));
    EXPECT_EQ(Bytes(chunk.end() - 4, chunk.end()), (Bytes{0xA0, 0xB0, 0xC0, 0}));
    EXPECT_EQ(streams.scratchBytes(), (Bytes{1, 0, 0, 0, 4, 0, 0, 0, 4, 4, 0, 0}));
    EXPECT_EQ(gState.largestChunk, 1028);
}

TEST(MovieChunks, ScratchWriteErrorsAreReported) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full == nullptr) GTEST_SKIP() << skipNote("no /dev/full here");
    std::setvbuf(full, nullptr, _IONBF, 0);
    resetConversionState();
    gState.width = 1;
    gState.height = 1;
    gState.scratchPath = "/tmp/kesidxTEST";
    TestStreams streams(wordBytes(frameWords({{1}})));
    EXPECT_EQ(writeFrameChunk(streams.input, streams.output, streams.chunks, full), 0);
    EXPECT_EQ(gState.errorText,
              "i/o error writing to temp file \"/tmp/kesidxTEST\".\nNo space left on device");
    resetConversionState();
    gState.scratchPath = "/tmp/kesidxTEST";
    EXPECT_EQ(writePaletteChunk(Palette{}, streams.output, streams.chunks, full), 0);
    EXPECT_EQ(gState.errorText,
              "i/o error writing to temp file \"/tmp/kesidxTEST\".\nNo space left on device");
    std::fclose(full);
}

}  // namespace
