// The finished file: index, tag chunk, every size and count filled in, and the
// limits on the file's size.
#include <gtest/gtest.h>

#include <cstdio>

#include "avi/avi_finish.h"
#include "avi/avi_header.h"
#include "avi/movie_chunks.h"
#include "conversion_fixture.h"
#include "skip_notes.h"

namespace {

const char kTag[] =
    "19710423-{6B1E07C4-93A2-11d5-A7F1-00C04F8E2D19}$s[W]v[1.0-3]![Converted with kestrup] ";

TEST(AviFinish, OneTwoByTwoFrame) {
    TempDir dir;
    const Conversion conversion = convertBytes(dir, twoByTwoFile());
    ASSERT_EQ(conversion.result, 1) << conversion.errorText;
    ASSERT_EQ(twoByTwoFile().size(), 2064u);
    const ParsedAvi& avi = conversion.avi;
    ASSERT_EQ(avi.problem, "");
    EXPECT_EQ(conversion.output.size(), 1394u);
    EXPECT_EQ(avi.riffSize, 1386u);
    EXPECT_EQ(avi.hdrlSize, 1224u);
    EXPECT_EQ(avi.avihSize, 56u);
    EXPECT_EQ(avi.strlSize, 1148u);
    EXPECT_EQ(avi.strhSize, 64u);
    EXPECT_EQ(avi.strfSize, 1064u);
    EXPECT_EQ(avi.moviSize, 24u);
    EXPECT_EQ(avi.idx1Size, 16u);
    EXPECT_EQ(avi.microSecPerFrame, 100000u);
    EXPECT_EQ(avi.rate, 1000000u);
    EXPECT_EQ(avi.maxBytesPerSec, 120u);
    EXPECT_EQ(avi.avihSuggestedBuffer, 12u);
    EXPECT_EQ(avi.strhSuggestedBuffer, 12u);
    EXPECT_EQ(avi.totalFrames, 1u);
    EXPECT_EQ(avi.length, 1u);
    EXPECT_EQ(avi.strhFlags, 0u);
    ASSERT_EQ(avi.movie.size(), 1u);
    EXPECT_EQ(avi.movie[0].data, (Bytes{2, 3, 0, 0, 1, 1, 1, 2, 0, 0, 0, 1}));
    EXPECT_EQ(avi.index, (std::vector<IndexEntry>{{"00dc", 0x10, 4, 12}}));
    EXPECT_EQ(std::string(conversion.output.begin() + 1276, conversion.output.begin() + 1280),
              "idx1");
    EXPECT_EQ(std::string(conversion.output.begin() + 1300, conversion.output.begin() + 1304),
              "JUNK");
    EXPECT_EQ(avi.tag, kTag);
    EXPECT_EQ(avi.tag.size(), 86u);
    EXPECT_EQ(conversion.warningText, "");
}

TEST(AviFinish, PaletteChangeEntriesAndFlags) {
    TempDir dir;
    rmw::Bytes bytes = twoByTwoFile(rmw::makePalette(1));
    const rmw::Bytes second = twoByTwoFile(rmw::makePalette(2));
    bytes.insert(bytes.end(), second.begin(), second.end());
    const Conversion conversion = convertBytes(dir, bytes, {.multiPalette = true});
    ASSERT_EQ(conversion.result, 1) << conversion.errorText;
    const ParsedAvi& avi = conversion.avi;
    ASSERT_EQ(avi.problem, "");
    EXPECT_EQ(avi.index,
              (std::vector<IndexEntry>{
                  {"00dc", 0x10, 4, 12}, {"00pc", 0x100, 24, 1028}, {"00dc", 0x10, 1060, 12}}));
    EXPECT_EQ(avi.totalFrames, 2u);
    EXPECT_EQ(avi.length, 2u);
    EXPECT_EQ(avi.strhFlags, 0x10000u);
    EXPECT_EQ(avi.avihSuggestedBuffer, 1028u);
    EXPECT_EQ(avi.strhSuggestedBuffer, 1028u);
    EXPECT_EQ(avi.maxBytesPerSec, 10280u);

    const Conversion slower =
        convertBytes(dir, bytes, {.multiPalette = true, .framesPerSecond = 2.3});
    EXPECT_EQ(slower.avi.maxBytesPerSec, 2364u);  // 2364.4 truncated
    EXPECT_EQ(slower.avi.rate, 229999u);
    const Conversion stopped = convertBytes(dir, bytes, {.framesPerSecond = 0.0});
    ASSERT_EQ(stopped.result, 1);
    EXPECT_EQ(stopped.avi.microSecPerFrame, 0u);
    EXPECT_EQ(stopped.avi.rate, 0u);
    EXPECT_EQ(stopped.avi.maxBytesPerSec, 0u);
}

// The finaliser on its own, over an output made of the header, the movie list
// reaching moviEnd (sparse where it is large) and a scratch file of records.
struct Finish {
    TempDir dir;
    std::FILE* file = nullptr;
    std::FILE* scratch = std::tmpfile();
    OutputWriter output;
    ChunkWriterState chunks;
    explicit Finish(int64_t moviEnd) {
        resetConversionState();
        file = std::fopen(dir.file("out.avi").c_str(), "w+b");
        attachWriter(output, file, 1 << 16, 0xFFFFFFFF);
        writeAviHeader(output, 2, 2, 10.0, Palette{});
        flushWriter(output);
        output.bufferStart = moviEnd;  // the movie list, left as a hole in the file
        gState.outputPath = dir.file("out.avi");
    }
    ~Finish() {
        std::fclose(file);
        std::fclose(scratch);
    }
    void record(uint32_t isPalette, uint32_t sizeFieldOffset, uint32_t dataSize) {
        for (uint32_t value : {isPalette, sizeFieldOffset, dataSize}) {
            rmw::Bytes bytes;
            rmw::appendU32(bytes, value);
            std::fwrite(bytes.data(), 1, bytes.size(), scratch);
        }
    }
    int run() {
        std::fflush(scratch);
        return finishAvi(output, chunks, scratch);
    }
    uint32_t valueAt(int64_t position) {
        flushWriter(output);
        fseeko(file, position, SEEK_SET);
        uint8_t bytes[4] = {};
        EXPECT_EQ(std::fread(bytes, 1, 4, file), 4u);
        return le32(Bytes(bytes, bytes + 4), 0);
    }
    int64_t fileSize() {
        flushWriter(output);
        fseeko(file, 0, SEEK_END);
        return ftello(file);
    }
};

TEST(AviFinish, RecordCountMismatchFillsNothing) {
    Finish finish(1256 + 20);
    gState.frameCount = 2;
    finish.record(0, 1260, 12);
    EXPECT_EQ(finish.run(), 0);
    EXPECT_EQ(gState.errorText,
              "Internal error: (1099)\nThe scratch index file's records (1) do not match the frames "
              "and palette changes converted (2).");
    flushWriter(finish.output);
    const Bytes file = rmw::readFile(finish.dir.file("out.avi"));
    for (size_t sizeField : {4u, 16u, 28u, 92u, 104u, 176u, 1248u})
        EXPECT_EQ(le32(file, sizeField), 0u);
    EXPECT_EQ(file.size(), 1256u + 20 + 8 + 16) << "the index so far, no tag chunk";

    Finish tooMany(1256 + 20);
    gState.frameCount = 1;
    tooMany.record(0, 1260, 12);
    tooMany.record(0, 1260, 12);
    EXPECT_EQ(tooMany.run(), 0);
    EXPECT_EQ(gState.errorText,
              "Internal error: (1099)\nThe scratch index file's records (more) do not match the "
              "frames and palette changes converted (1).");
}

TEST(AviFinish, PlayerSizeLimitWarnsAndKeepsTheFile) {
    const int64_t trailer = 8 + 8 + 86;  // empty index and the tag chunk
    {
        Finish atLimit(1073741827 - trailer);
        EXPECT_EQ(atLimit.run(), 1);
        EXPECT_EQ(gState.warningText, "");
        EXPECT_EQ(atLimit.fileSize(), 1073741827);
    }
    Finish overLimit(1073741828 - trailer);
    EXPECT_EQ(overLimit.run(), 1);
    EXPECT_EQ(gState.warningText,
              "The size of the converted AVI file is 1073741824, which is greater than the "
              "maximum allowed AVI file size (1073741823). Some AVI players may be unable to "
              "play this animation.");
    EXPECT_EQ(overLimit.valueAt(4), 1073741820u);
}

TEST(AviFinish, NothingGrowsPastTheLargestRiffFile) {
    const char kLimitMessage[] =
        "The converted AVI file would grow past 4294967295 bytes, the largest size an AVI file "
        "can have.";
    {
        Finish finish(0xFFFFFFFFll - 101);  // one byte too many for index and tag
        EXPECT_EQ(finish.run(), 0);
        EXPECT_EQ(gState.errorText, kLimitMessage);
    }
    {
        Finish fits(0xFFFFFFFFll - 102);
        EXPECT_EQ(fits.run(), 1);
        EXPECT_EQ(fits.fileSize(), 0xFFFFFFFFll);
        EXPECT_EQ(fits.valueAt(4), 0xFFFFFFF7u);
    }
    Finish chunk(0xFFFFFFFFll - 1000);
    EXPECT_EQ(writePaletteChunk(Palette{}, chunk.output, chunk.chunks, chunk.scratch), 0);
    EXPECT_EQ(gState.errorText, kLimitMessage);
}

TEST(AviFinish, OutputWriteErrorIsAFailure) {
    std::FILE* full = std::fopen("/dev/full", "wb");
    if (full == nullptr) GTEST_SKIP() << skipNote("no /dev/full here");
    resetConversionState();
    gState.outputPath = "/dev/full";
    OutputWriter output;
    attachWriter(output, full, 1 << 16, 0xFFFFFFFF);
    writeAviHeader(output, 2, 2, 10.0, Palette{});
    std::FILE* scratch = std::tmpfile();
    EXPECT_EQ(finishAvi(output, ChunkWriterState{}, scratch), 0);
    EXPECT_EQ(gState.errorText, "i/o error writing to \"/dev/full\".\nNo space left on device");
    std::fclose(scratch);
    std::fclose(full);
}

}  // namespace
