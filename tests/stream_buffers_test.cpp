// The input window and the output buffer: seeks, patches and the size limit,
// with windows and buffers small enough that every edge is crossed.
#include <gtest/gtest.h>

#include "io/stream_buffers.h"
#include "test_streams.h"

namespace {

Bytes counting(size_t size) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 7);
    return bytes;
}

TEST(InputWindow, SeeksAndReadsAnywhere) {
    const Bytes bytes = counting(1000);
    // A seek back fills the window a piece at a time; with 64 bytes the
    // pieces outnumber the bytes kept when the window moves on.
    for (const size_t windowSize : {size_t{16}, size_t{64}}) {
        SCOPED_TRACE("window of " + std::to_string(windowSize));
        TestStreams streams(bytes, windowSize);
        InputReader& reader = streams.input;
        const struct {
            int64_t seekTo;
            bool seeks;
            int byte;  // read after the seek; EOF at the end
        } steps[] = {
            {500, true, bytes[500]}, {10, true, bytes[10]},   {11, true, bytes[11]},
            {0, true, bytes[0]},     {999, true, bytes[999]}, {1000, true, EOF},
            {2000, true, EOF},       {-1, false, EOF},        {998, true, bytes[998]},
            {400, true, bytes[400]}, {390, true, bytes[390]}, {415, true, bytes[415]},
        };
        for (const auto& step : steps) {
            SCOPED_TRACE("seek to " + std::to_string(step.seekTo));
            EXPECT_EQ(seekReader(reader, step.seekTo), step.seeks);
            if (!step.seeks) continue;
            EXPECT_FALSE(reader.ended) << "a seek clears the end";
            EXPECT_EQ(readByte(reader), step.byte);
            EXPECT_EQ(reader.ended, step.byte == EOF);
            if (step.byte != EOF) {
                EXPECT_EQ(readerPosition(reader), step.seekTo + 1);
            }
        }
        // Reading the last byte is not yet the end; reading past it is.
        ASSERT_TRUE(seekReader(reader, 998));
        uint16_t word = 0;
        EXPECT_TRUE(readU16(reader, word));
        EXPECT_FALSE(reader.ended);
        EXPECT_FALSE(readU16(reader, word));
        EXPECT_TRUE(readerAtEnd(reader));
    }
}

TEST(OutputBuffer, PatchesInTheBufferOnTheFileAndAcrossBoth) {
    TestStreams streams({}, 16, 8);
    OutputWriter& writer = streams.output;
    for (uint8_t i = 0; i < 20; ++i)
        writeU8(writer, i);
    EXPECT_EQ(writerPosition(writer), 20);
    EXPECT_TRUE(patchU32(writer, 2, 0xA3A2A1A0));   // long written out
    EXPECT_TRUE(patchU32(writer, 16, 0xB3B2B1B0));  // still in the buffer
    EXPECT_TRUE(patchU32(writer, 14, 0xC3C2C1C0));  // half out, half in
    EXPECT_FALSE(patchU32(writer, 18, 0));          // would reach past the end
    writeU8(writer, 20);
    Bytes expected(21);
    for (uint8_t i = 0; i < 21; ++i)
        expected[i] = i;
    for (int i = 0; i < 4; ++i) {
        expected[static_cast<size_t>(2 + i)] = static_cast<uint8_t>(0xA0 + i);
        expected[static_cast<size_t>(16 + i)] = static_cast<uint8_t>(0xB0 + i);
    }
    for (int i = 0; i < 4; ++i)
        expected[static_cast<size_t>(14 + i)] = static_cast<uint8_t>(0xC0 + i);
    EXPECT_EQ(streams.outputBytes(), expected);
}

TEST(OutputBuffer, NothingIsWrittenPastTheLimit) {
    TestStreams streams({}, 16, 8);
    OutputWriter& writer = streams.output;
    writer.limit = 12;
    for (uint8_t i = 0; i < 20; ++i)
        writeU8(writer, i);
    EXPECT_FALSE(flushWriter(writer));
    EXPECT_TRUE(writer.overLimit);
    EXPECT_TRUE(writerFailed(writer));
    EXPECT_EQ(writerPosition(writer), 20) << "positions go on as if written";
    EXPECT_EQ(streams.outputBytes().size(), 8u);
}

}  // namespace
