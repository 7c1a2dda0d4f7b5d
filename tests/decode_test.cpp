// Converted files decoded by a real decoder (ffmpeg), pixel for pixel against
// the pictures that were written.
#include <gtest/gtest.h>

#include <cstdio>

#include "conversion_fixture.h"
#include "process_runner.h"
#include "skip_notes.h"

namespace {

struct Animation {
    std::vector<rmw::Picture> pictures;
    std::vector<Palette> tables;
    rmw::Bytes file;
};

// Moving bands over 37 x 23 (odd sizes: rows are padded when decoded), three
// tables in the order A, B, A.
Animation bandsAnimation() {
    Animation animation;
    const Palette tables[] = {rmw::makePalette(5), rmw::makePalette(6), rmw::makePalette(5)};
    for (int frame = 0; frame < 3; ++frame) {
        rmw::Picture picture{37, 23, std::vector<uint8_t>(37 * 23)};
        for (int y = 0; y < 23; ++y) {
            for (int x = 0; x < 37; ++x) {
                picture.pixels[static_cast<size_t>(y * 37 + x)] =
                    static_cast<uint8_t>((x / 3 + y * 7 + frame * 11) % 256);
            }
        }
        animation.pictures.push_back(picture);
        animation.tables.push_back(tables[frame]);
        rmw::appendFrame(animation.file, picture, tables[frame]);
    }
    return animation;
}

Bytes expectedRgb(const rmw::Picture& picture, const Palette& palette) {
    Bytes rgb;
    for (uint8_t index : picture.pixels) {
        rgb.insert(rgb.end(), {palette[index].red, palette[index].green, palette[index].blue});
    }
    return rgb;
}

// Decodes with ffmpeg to rgb24; empty when ffmpeg reports anything.
Bytes ffmpegDecode(const std::string& avi, std::string& report) {
    const std::string raw = avi + ".rgb";
    const int status = runShell("ffmpeg -nostdin -v warning -y -i '" + avi +
                                    "' -f rawvideo -pix_fmt rgb24 '" + raw + "' 2>&1",
                                &report);
    if (status != 0) return {};
    return rmw::readFile(raw);
}

void expectDecodesAs(const std::string& avi, const std::vector<Bytes>& frames) {
    std::string report;
    const Bytes decoded = ffmpegDecode(avi, report);
    EXPECT_EQ(report, "") << "ffmpeg must decode without a warning";
    size_t frameBytes = frames.empty() ? 0 : frames[0].size();
    ASSERT_EQ(decoded.size(), frameBytes * frames.size());
    for (size_t i = 0; i < frames.size(); ++i) {
        const Bytes got(decoded.begin() + static_cast<long>(i * frameBytes),
                        decoded.begin() + static_cast<long>((i + 1) * frameBytes));
        EXPECT_TRUE(got == frames[i]) << "frame " << i + 1 << " differs";
    }
}

class Decode : public testing::Test {
protected:
    void SetUp() override {
        if (!haveProgram("ffmpeg"))
            GTEST_SKIP() << skipNote("ffmpeg is not installed; decode not checked");
    }
};

TEST_F(Decode, EveryFrameInItsOwnColoursWithMultiplePalettes) {
    TempDir dir;
    const Animation animation = bandsAnimation();
    const Conversion conversion = convertBytes(dir, animation.file, {.multiPalette = true});
    ASSERT_EQ(conversion.result, 1) << conversion.errorText;
    std::vector<Bytes> frames;
    for (size_t i = 0; i < animation.pictures.size(); ++i) {
        frames.push_back(expectedRgb(animation.pictures[i], animation.tables[i]));
    }
    expectDecodesAs(dir.file("out.avi"), frames);
}

TEST_F(Decode, EveryFrameInTheFirstColoursWithoutThem) {
    TempDir dir;
    const Animation animation = bandsAnimation();
    const Conversion conversion = convertBytes(dir, animation.file);
    ASSERT_EQ(conversion.result, 1) << conversion.errorText;
    std::vector<Bytes> frames;
    for (const rmw::Picture& picture : animation.pictures) {
        frames.push_back(expectedRgb(picture, animation.tables[0]));
    }
    expectDecodesAs(dir.file("out.avi"), frames);
}

// Colour cycling: 12 frames of one picture, each table the one before turned by
// an entry. With -p one table holds every colour: no palette change, and every
// frame in its own colours.
TEST_F(Decode, ColourCyclingInOneSharedTable) {
    TempDir dir;
    const Palette base = rmw::makePalette(7);
    rmw::Picture picture{32, 16, std::vector<uint8_t>(32 * 16)};
    for (size_t i = 0; i < picture.pixels.size(); ++i)
        picture.pixels[i] = static_cast<uint8_t>(i % 32 + 2 * (i / 32));
    rmw::Bytes file;
    std::vector<Bytes> frames;
    for (size_t frame = 0; frame < 12; ++frame) {
        Palette table{};
        for (size_t i = 0; i < table.size(); ++i)
            table[i] = base[(i + frame) % table.size()];
        rmw::appendFrame(file, picture, table);
        frames.push_back(expectedRgb(picture, table));
    }
    for (const bool multiPalette : {false, true}) {
        const Conversion conversion =
            convertBytes(dir, file, {.multiPalette = multiPalette, .sharedPalette = true});
        ASSERT_EQ(conversion.result, 1) << conversion.errorText;
        EXPECT_EQ(conversion.warningText, "");
        ASSERT_EQ(conversion.avi.movie.size(), 12u);
        for (const MovieChunk& chunk : conversion.avi.movie)
            EXPECT_EQ(chunk.code, "00dc");
        expectDecodesAs(dir.file("out.avi"), frames);
    }
}

// Frames that share one table (some of its colours twice) convert with -p to
// the bytes they convert to without it.
TEST(SharedPalette, OneTableConvertsAsWithout) {
    TempDir dir;
    Palette table = rmw::makePalette(5);
    table[200] = table[3];
    table[201] = table[3];
    rmw::Bytes file;
    for (int frame = 0; frame < 3; ++frame) {
        rmw::Picture picture{37, 23, std::vector<uint8_t>(37 * 23)};
        for (size_t i = 0; i < picture.pixels.size(); ++i)
            picture.pixels[i] =
                static_cast<uint8_t>((i / 3 + static_cast<size_t>(frame) * 97) % 256);
        rmw::appendFrame(file, picture, table);
    }
    const Conversion without = convertBytes(dir, file);
    ASSERT_EQ(without.result, 1) << without.errorText;
    const Conversion shared = convertBytes(dir, file, {.sharedPalette = true});
    ASSERT_EQ(shared.result, 1) << shared.errorText;
    EXPECT_TRUE(shared.output == without.output);
}

// A chunk as long as an uncompressed frame must still decode as RLE8.
TEST_F(Decode, FrameOfTheUncompressedSize) {
    TempDir dir;
    const rmw::Picture picture =
        ::picture(5, 4, {1, 2, 3, 3, 3, 4, 5, 6, 6, 6, 7, 8, 9, 9, 9, 10, 10, 11, 11, 11});
    const Palette palette = rmw::makePalette(9);
    rmw::Bytes file;
    rmw::appendFrame(file, picture, palette);
    const Conversion conversion = convertBytes(dir, file);
    ASSERT_EQ(conversion.result, 1) << conversion.errorText;
    ASSERT_EQ(conversion.avi.movie.at(0).data.size(), 34u);
    expectDecodesAs(dir.file("out.avi"), {expectedRgb(picture, palette)});
}

// A frame whose chunk outgrows the staging is written in bands, bottom band
// first: the input window fills with the rows kept for the seeks back while the
// output buffer fills and empties, each in its own part of the memory they share.
TEST_F(Decode, FrameWrittenInBandsThroughTheWholeWindowAndBuffer) {
    TempDir dir;
    rmw::Picture picture{1024, 1280, std::vector<uint8_t>(1024 * 1280)};
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            picture.pixels[static_cast<size_t>(y * picture.width + x)] =
                static_cast<uint8_t>(x % 97 < 5 ? y : x * 7 + y * 13 + x * y % 5);
        }
    }
    const Palette palette = rmw::makePalette(4);
    rmw::Bytes file;
    rmw::appendFrame(file, picture, palette);
    const Conversion conversion = convertBytes(dir, file);
    ASSERT_EQ(conversion.result, 1) << conversion.errorText;
    ASSERT_GT(conversion.avi.movie.at(0).data.size(), size_t{2} << 20);
    expectDecodesAs(dir.file("out.avi"), {expectedRgb(picture, palette)});
}

}  // namespace
