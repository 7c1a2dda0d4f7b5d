// The frame scan over whole files: frame walking, gaps between frames, palette
// changes, and every format error with the message it ends in.
#include <gtest/gtest.h>

#include <cstdio>

#include "conversion_fixture.h"
#include "rmfile/frame_scan.h"
#include "skip_notes.h"
#include "test_streams.h"

namespace {

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
    EXPECT_EQ(
        scanFrames(streams.input, streams.output, streams.chunks, streams.scratch, 0, false, 10.0),
        0);
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
    EXPECT_EQ(scanFrames(streams.input, streams.output, streams.chunks, full, 0, false, 10.0), 0);
    EXPECT_EQ(gState.errorText, "i/o error writing to temp file \"scratch\".\nNo space left on device");
    std::fclose(full);
}

}  // namespace
