// The AVI header as the header writer leaves it: layout, open sizes, recorded
// positions and the values derived from the frame rate.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "avi/avi_header.h"
#include "avi_reader.h"
#include "conversion_state.h"
#include "rm_writer.h"
#include "test_streams.h"

namespace {

Bytes writtenHeader(int32_t width, int32_t height, double framesPerSecond,
                    const Palette& palette = {}) {
    resetConversionState();
    TestStreams streams;
    writeAviHeader(streams.output, width, height, framesPerSecond, palette);
    return streams.outputBytes();
}

TEST(AviHeader, LayoutWithEverySizeOpen) {
    const Bytes header = writtenHeader(320, 200, 10.0);
    ASSERT_EQ(header.size(), 1256u);
    for (size_t sizeField : {4u, 16u, 28u, 92u, 104u, 176u, 1248u}) {
        EXPECT_EQ(le32(header, sizeField), 0u) << "size field at " << sizeField;
    }
    const AviLayout& layout = gState.layout;
    EXPECT_EQ(layout.riffSizePos, 4);
    EXPECT_EQ(layout.hdrlSizePos, 16);
    EXPECT_EQ(layout.avihSizePos, 28);
    EXPECT_EQ(layout.strlSizePos, 92);
    EXPECT_EQ(layout.strhSizePos, 104);
    EXPECT_EQ(layout.strfSizePos, 176);
    EXPECT_EQ(layout.moviSizePos, 1248);
    EXPECT_EQ(layout.moviCodePos, 1252);
    EXPECT_EQ(layout.avihSize, 56);
    EXPECT_EQ(layout.strhSize, 64);
    EXPECT_EQ(layout.hdrlSize, 1224);
    EXPECT_EQ(layout.strlSize, 1148);

    // Parse it as a file whose lists are still open: the codes and fixed fields.
    Bytes asFile = header;
    ParsedAvi avi = parseAvi(asFile);
    EXPECT_EQ(avi.avihFlags, 0x810u);
    EXPECT_EQ(avi.streams, 1u);
    EXPECT_EQ(avi.width, 320u);
    EXPECT_EQ(avi.height, 200u);
    EXPECT_EQ(avi.fccType, "vids");
    EXPECT_EQ(avi.fccHandler, "00dc");
    EXPECT_EQ(avi.scale, 100000u);
    EXPECT_EQ(avi.biSize, 40u);
    EXPECT_EQ(avi.biWidth, 320u);
    EXPECT_EQ(avi.biHeight, 200u);
    EXPECT_EQ(avi.biPlanes, 1);
    EXPECT_EQ(avi.biBitCount, 8);
    EXPECT_EQ(avi.biCompression, 1u);
    EXPECT_EQ(avi.biSizeImage, 128000u);
    EXPECT_EQ(avi.biClrUsed, 256u);
    EXPECT_EQ(avi.totalFrames, 0u);
    EXPECT_EQ(avi.length, 0u);
}

TEST(AviHeader, ColourTableIsBlueGreenRedZero) {
    Palette palette{};
    palette[5] = {0x11, 0x22, 0x33};
    palette[255] = {0xAA, 0xBB, 0xCC};
    const Bytes header = writtenHeader(2, 2, 10.0, palette);
    EXPECT_EQ(Bytes(header.begin() + 240, header.begin() + 244), (Bytes{0x33, 0x22, 0x11, 0}));
    EXPECT_EQ(Bytes(header.begin() + 1240, header.begin() + 1244), (Bytes{0xCC, 0xBB, 0xAA, 0}));
}

TEST(AviHeader, RateFieldsAreTruncatedNeverRounded) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double infinity = std::numeric_limits<double>::infinity();
    const struct {
        double framesPerSecond;
        uint32_t microSecPerFrame;
        uint32_t rate;
    } cases[] = {
        {10.0, 100000, 1000000},
        {29.97, 33366, 2997000},
        {2.3, 434782, 229999},  // 229999.99999999997
        {0.5, 2000000, 50000},
        {0.0, 0, 0},     // no frame period
        {1e-300, 0, 0},  // period far beyond 64 bits
        {1e30, 0, 0},    // rate far beyond 64 bits
        {infinity, 0, 0},
        {nan, 0, 0},
        {50000.0, 20, 705032704},  // 5e9 keeps its low 32 bits
    };
    for (const auto& c : cases) {
        const Bytes header = writtenHeader(2, 2, c.framesPerSecond);
        EXPECT_EQ(le32(header, 32), c.microSecPerFrame) << c.framesPerSecond;
        EXPECT_EQ(le32(header, 132), c.rate) << c.framesPerSecond;
    }
}

TEST(AviHeader, ImageSizeKeepsTheLow32Bits) {
    const Bytes header = writtenHeader(65536, 65536, 10.0);
    EXPECT_EQ(le32(header, 200), 0u);
    EXPECT_EQ(le32(writtenHeader(40000, 30000, 10.0), 200), 2400000000u);
}

}  // namespace
