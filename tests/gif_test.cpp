// The GIF writer: generated animations, given as BI_RLE8 pairs, must decode to
// their true pixels in the plain decoder and in every real decoder installed,
// with the smallest changed rectangle, a local table exactly where the colours
// are not the global table's, and delays that keep the true time.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "gif/gif_timing.h"
#include "gif/gif_writer.h"
#include "gif_checks.h"
#include "gif_decoder.h"
#include "rm_writer.h"
#include "skip_notes.h"
#include "temp_dir.h"
#include "test_streams.h"

namespace {

enum class Look { kNoise, kRuns, kSame, kEdges, kBlocks, kBlocksOfEveryIndex };

struct GifCase {
    const char* name;
    int32_t width, height;
    int frames;
    Look look;
    bool ownTables;  // frames take three tables in turns of two (else the global one)
    bool raggedRows;  // rows short and long in randomly split pairs (else exact, split at 255)
    double fps;
    int transparent;  // later frames: 1 all transparent, 0 none, -1 either
};

const GifCase kCases[] = {
    {"OnePixel", 1, 1, 4, Look::kNoise, false, false, 10, -1},
    {"OneNoisyRow", 1000, 1, 3, Look::kNoise, false, true, 25, -1},
    {"NoiseThroughManyClears", 320, 200, 3, Look::kNoise, false, false, 29.97, -1},
    {"Runs", 700, 9, 4, Look::kRuns, false, true, 30, -1},
    {"SameFrames", 40, 30, 4, Look::kSame, false, false, 1, 1},
    {"CornersAndEdges", 33, 17, 9, Look::kEdges, false, true, 0.1, -1},
    {"BlocksOverNoise", 120, 90, 5, Look::kBlocks, false, false, 10, 1},
    {"BlocksOfEveryIndex", 120, 90, 4, Look::kBlocksOfEveryIndex, false, false, 10, 0},
    {"OwnTablesRuns", 64, 48, 12, Look::kRuns, true, true, 29.97, -1},
    {"OwnTablesSame", 20, 20, 8, Look::kSame, true, false, 30, -1},
    {"OwnTablesBlocks", 120, 90, 8, Look::kBlocks, true, false, 25, -1},
};

using Frame = std::vector<uint8_t>;

void fillRuns(Frame& frame, std::mt19937& rng) {
    for (size_t at = 0; at < frame.size();) {
        const size_t run = std::min<size_t>(1 + rng() % 600, frame.size() - at);
        std::fill_n(frame.begin() + static_cast<ptrdiff_t>(at), run, static_cast<uint8_t>(rng() % 8));
        at += run;
    }
}

// Two blocks near opposite corners: of one colour, or of all 256 indexes.
void drawBlocks(Frame& frame, const GifCase& c, int n, bool everyIndex) {
    const int32_t side = everyIndex ? 24 : 6;
    for (int32_t corner : {2, c.width * (c.height - side - 1) - side - 2}) {
        for (int32_t i = 0; i < side * side; ++i)
            frame[static_cast<size_t>(corner + i / side * c.width + i % side)] =
                static_cast<uint8_t>(everyIndex ? i * 7 + n : n);
    }
}

Frame nextFrame(const GifCase& c, Frame frame, int n, std::mt19937& rng) {
    const auto w = static_cast<size_t>(c.width);
    const bool runs = c.look == Look::kRuns || c.look == Look::kEdges;
    if (n == 0 || c.look == Look::kNoise || c.look == Look::kRuns) {
        frame.resize(w * static_cast<size_t>(c.height));
        if (!runs) std::generate(frame.begin(), frame.end(), [&] { return uint8_t(rng()); });
        if (runs) fillRuns(frame, rng);
    } else if (c.look == Look::kEdges) {  // top left, bottom right, right column, bottom row
        for (size_t at = 0; at < frame.size(); ++at) {
            const bool right = at % w == w - 1, bottom = at >= frame.size() - w;
            const int side = n % 4;
            frame[at] += static_cast<uint8_t>((side == 0 && at == 0) || (side == 1 && at == frame.size() - 1) ||
                         (side == 2 && right) || (side == 3 && bottom));
        }
    } else if (c.look != Look::kSame) {
        drawBlocks(frame, c, n, c.look == Look::kBlocksOfEveryIndex);
    }
    return frame;
}

// A frame's rows as pairs; ragged rows drop their trailing zeros or run on
// past the width, and split runs anywhere.
std::vector<uint8_t> framePairs(const Frame& frame, const GifCase& c, std::mt19937& rng) {
    std::vector<uint8_t> pairs;
    for (size_t top = 0; top < frame.size(); top += static_cast<size_t>(c.width)) {
        Frame row(frame.begin() + static_cast<ptrdiff_t>(top),
                  frame.begin() + static_cast<ptrdiff_t>(top) + c.width);
        const bool shorter = c.raggedRows && rng() % 2 == 0;
        while (shorter && !row.empty() && row.back() == 0)
            row.pop_back();
        for (auto extra = c.raggedRows && !shorter ? rng() % 300 : 0; extra > 0; --extra)
            row.push_back(static_cast<uint8_t>(rng()));
        for (size_t at = 0, run = 0; at < row.size(); at += run) {
            for (run = 1; at + run < row.size() && row[at + run] == row[at];)
                ++run;
            run = std::min<size_t>(run, c.raggedRows ? 1 + rng() % 255 : 255);
            pairs.insert(pairs.end(), {static_cast<uint8_t>(run), row[at]});
        }
        pairs.insert(pairs.end(), {0, 0});
    }
    if (c.raggedRows) pairs.insert(pairs.end(), {0, 1});
    return pairs;
}

struct Animation {
    std::vector<uint8_t> gif;
    std::vector<std::string> rgb;  // every frame in its own colours
    std::vector<bool> ownTable;    // the frame's table is not the global one
};

// The global table, the same turned by five entries (a colour cycle), and the
// same with new colours in entries 200 and up, which runs never use.
std::vector<Palette> makeTables(std::mt19937& rng) {
    std::vector<Palette> tables(3);
    for (Palette& table : tables) {
        for (PaletteEntry& entry : table)
            entry = {static_cast<uint8_t>(rng()), static_cast<uint8_t>(rng()),
                     static_cast<uint8_t>(rng())};
    }
    std::rotate_copy(tables[0].begin(), tables[0].begin() + 5, tables[0].end(), tables[1].begin());
    std::copy_n(tables[0].begin(), 200, tables[2].begin());
    return tables;
}

std::string frameRgb(const Frame& frame, const Palette& table) {
    std::string rgb;
    for (uint8_t index : frame)
        rgb += {static_cast<char>(table[index].red), static_cast<char>(table[index].green),
                static_cast<char>(table[index].blue)};
    return rgb;
}

// Writes the case's frames through pair rows, the global table's given as
// none and as the table itself in turns.
Animation writeAnimation(const GifCase& c) {
    std::mt19937 rng(7);
    const std::vector<Palette> tables = makeTables(rng);
    TestStreams streams;
    GifWriter writer;
    int written = startGif(writer, streams.output, c.width, c.height, tables[0], c.fps);
    Animation animation;
    Frame frame;
    for (int n = 0; n < c.frames; ++n) {
        frame = nextFrame(c, frame, n, rng);
        const std::vector<uint8_t> pairs = framePairs(frame, c, rng);
        PairRows rows;
        written &= indexPairRows(rows, pairs.data(), pairs.size(), c.width, c.height);
        const Palette& table = tables[c.ownTables ? static_cast<size_t>(n / 2 % 3) : 0];
        const Palette* given = c.ownTables || n % 2 == 1 ? &table : nullptr;
        written &= writeGifFrame(writer, streams.output, pairRowSource(rows), given);
        animation.rgb.push_back(frameRgb(frame, table));
        animation.ownTable.push_back(&table != &tables[0]);
    }
    EXPECT_EQ(written & finishGif(streams.output), 1) << gState.errorText;
    animation.gif = streams.outputBytes();
    return animation;
}

// The smallest rectangle holding the pixels that differ, 1 x 1 when none does:
// left, top, width, height.
std::vector<int> changedBox(const std::string& before, const std::string& after, int width) {
    int left = width, top = -1, right = -1, bottom = -1;
    for (size_t at = 0; at < after.size(); at += 3) {
        if (after.compare(at, 3, before, at, 3) == 0) continue;
        const int x = static_cast<int>(at / 3) % width, y = static_cast<int>(at / 3) / width;
        left = std::min(left, x), right = std::max(right, x), bottom = y;
        top = top < 0 ? y : top;
    }
    if (top < 0) return {0, 0, 1, 1};
    return {left, top, right - left + 1, bottom - top + 1};
}

void expectFrame(const DecodedGif& gif, const Animation& animation, const GifCase& c, size_t n) {
    const DecodedGifFrame& frame = gif.frames[n];
    SCOPED_TRACE("frame " + std::to_string(n + 1));
    EXPECT_TRUE(std::string(frame.rgb.begin(), frame.rgb.end()) == animation.rgb[n]);
    EXPECT_EQ(frame.localTable, animation.ownTable[n]);
    const std::vector<int> box = n == 0 ? std::vector<int>{0, 0, c.width, c.height}
                                        : changedBox(animation.rgb[n - 1], animation.rgb[n], c.width);
    EXPECT_EQ(std::vector<int>({frame.left, frame.top, frame.width, frame.height}), box);
    if (n > 0 && c.transparent >= 0) {
        EXPECT_EQ(frame.transparent >= 0, c.transparent == 1);
    }
}

TEST(GifWriter, FramesDecodeExactlyWithSmallestRectanglesTablesAndDelays) {
    for (const GifCase& c : kCases) {
        SCOPED_TRACE(c.name);
        const Animation animation = writeAnimation(c);
        const DecodedGif gif = decodeGif(animation.gif);
        ASSERT_EQ(gif.error + " " + std::to_string(gif.frames.size()),
                  " " + std::to_string(animation.rgb.size()));
        EXPECT_EQ(gif.loopCount, 0) << "loops forever";
        int total = 0;
        for (size_t n = 0; n < gif.frames.size(); ++n) {
            expectFrame(gif, animation, c, n);
            total += gif.frames[n].delay;
            EXPECT_LE(std::abs(total - static_cast<double>(n + 1) * 100 / c.fps), 0.5 + 1e-9)
                << "the time after frame " << n + 1;
        }
    }
}

// One noisy row of every length around the code counts where the code width
// grows (512, 1024, 2048) and the table fills (4096), so that the last code and
// the end code fall on each edge.
TEST(GifWriter, EveryLengthAroundTheCodeWidthEdges) {
    for (int32_t width = 1; width < 4300; ++width) {
        if ((width > 330 && width < 740) || (width > 840 && width < 1740) ||
            (width > 1900 && width < 3700)) {
            continue;  // far from every edge: noise takes a code for every pixel or two
        }
        const GifCase c{"", width, 1, 1, Look::kNoise, false, false, 10, -1};
        const Animation animation = writeAnimation(c);
        const DecodedGif gif = decodeGif(animation.gif);
        ASSERT_EQ(gif.error, "") << width;
        ASSERT_TRUE(std::string(gif.frames[0].rgb.begin(), gif.frames[0].rgb.end()) ==
                    animation.rgb[0]) << width;
    }
}

TEST(GifWriter, DelaysSizesAndRatesItCannotHold) {
    const int32_t delays[] = {gifFrameDelay(29.97, 0), gifFrameDelay(29.97, 1),
                              gifFrameDelay(29.97, 2), gifFrameDelay(0.1, 0), gifFrameDelay(8, 1)};
    EXPECT_EQ(std::vector<int32_t>(std::begin(delays), std::end(delays)),
              std::vector<int32_t>({3, 4, 3, 1000, 12}));
    EXPECT_TRUE(gifRateFitsDelays(100.0 / 65535) && gifRateFitsDelays(1000));
    EXPECT_FALSE(gifRateFitsDelays(100.0 / 65535.5) || gifRateFitsDelays(0));
    EXPECT_TRUE(gifRateTooFastForBrowsers(50.01) && !gifRateTooFastForBrowsers(50));
    EXPECT_TRUE(gifSizeFits(65535, 65535) && gifSizeFits(1, 1));
    EXPECT_FALSE(gifSizeFits(65536, 1) || gifSizeFits(1, 65536) || gifSizeFits(0, 5));
    TestStreams streams;
    GifWriter writer;
    ASSERT_EQ(startGif(writer, streams.output, 65535, 257, Palette{}, 10), 1);
    EXPECT_TRUE(writer.shown.empty()) << "a frame above the bound is kept";
    streams.output.limit = 100;
    EXPECT_EQ(finishGif(streams.output), 0);
    EXPECT_NE(gState.errorText, "");
}

class GifDecoders : public testing::TestWithParam<GifDecoderTool> {};

TEST_P(GifDecoders, EveryFrameExact) {
    TempDir dir;
    for (const GifCase& c : kCases) {
        if (c.width * c.height * c.frames > 100000) continue;  // keeps the browser's page small
        const Animation animation = writeAnimation(c);
        const std::string path = dir.file(std::string(c.name) + ".gif");
        rmw::writeFile(path, animation.gif);
        const GifCheck check = checkGifFrames(GetParam(), path, animation.rgb, c.width);
        if (check.missing) GTEST_SKIP() << skipNote(check.message);
        EXPECT_EQ(check.message, "") << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Tools, GifDecoders,
                         testing::Values(GifDecoderTool::kPlain, GifDecoderTool::kFfmpeg,
                                         GifDecoderTool::kImageMagick, GifDecoderTool::kPillow,
                                         GifDecoderTool::kChromium));

}  // namespace
