// Writes the benchmark's raster metafiles, deterministically, straight to disk
// one frame at a time (the large ones never fit in memory as a whole).
//   make_bench_input KIND MEBIBYTES OUTPUT.rm
// realistic: 1024 x 768 frames of smooth colour bands and contour lines that
//            move from frame to frame, in four colour tables;
// large4k, large8k: the same pictures at 4096 x 4096 and 8192 x 8192;
// worst:     1024 x 768 frames where every pixel differs from its neighbour;
// long:      frames of 8 x 4 pixels (MEBIBYTES is then the frame count / 1000);
// empty-rows: one frame 1 pixel wide whose rows are all empty, as many as fit;
// endless:   one frame of the largest height whose input ends among its rows;
// mixed-P[-MEAN[-WxH[-SEED]]]: frames of seeded random rows (default 1024 x 768,
//            seed 1): each item a single pixel with probability P percent, else a
//            repeat pair of exponentially distributed length (mean MEAN, default
//            12), one in 500 of them 256 to 1000 pixels long; random colours.
// For one shared colour table (-p), frames of 320 x 200 over which the tables change:
// cycle:     12 frames of one picture, each table the one before turned by an entry;
// fade:      30 frames of moving bands in 40 colours, each table darker than the
//            one before (about 1200 colours in all);
// own-tables: frames of 8 x 4, each with a table of its own (MEBIBYTES is then
//            the frame count / 1000, as for long).
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "rm_writer.h"

namespace {

constexpr int kWidth = 1024;
constexpr int kHeight = 768;
constexpr int32_t kLargestHeight = 0x7FFFFFFF;
using rmw::kBeginImage;
using rmw::kColour;
using rmw::kEndOfImage;
using rmw::kEndOfRow;
using rmw::kSinglePixel;

Palette tableFor(int table) {
    Palette palette{};
    for (int i = 0; i < kPaletteEntries; ++i) {
        const double t = i / 255.0;
        palette[static_cast<size_t>(i)] = {
            static_cast<uint8_t>(127.5 + 127.5 * std::sin(6.28 * t + table)),
            static_cast<uint8_t>(127.5 + 127.5 * std::sin(6.28 * t + table + 2.1)),
            static_cast<uint8_t>(127.5 + 127.5 * std::sin(6.28 * t + table + 4.2))};
    }
    return palette;
}

// Bands of a smooth field, with a dark contour line where the field crosses a
// multiple of 32; the field drifts with the frame number.
void realisticPicture(rmw::Picture& picture, int frame) {
    const double phase = frame * 0.05;
    std::vector<double> across(static_cast<size_t>(picture.width));
    for (int x = 0; x < picture.width; ++x)
        across[static_cast<size_t>(x)] = 96.0 * std::sin(x * 0.004 + phase) + x * 0.05;
    for (int y = 0; y < picture.height; ++y) {
        const double down = 96.0 * std::cos(y * 0.006 - phase * 0.7);
        for (int x = 0; x < picture.width; ++x) {
            const double field = across[static_cast<size_t>(x)] + down;
            const int level = static_cast<int>(field + 256.0);
            const bool contour = level % 32 == 0;
            picture.pixels[static_cast<size_t>(y) * static_cast<size_t>(picture.width) +
                           static_cast<size_t>(x)] =
                contour ? 0 : static_cast<uint8_t>(1 + (level / 8) % 255);
        }
    }
}

// A smooth table of 256 colours, around the colour wheel.
Palette wheelTable() {
    Palette palette{};
    for (int i = 0; i < kPaletteEntries; ++i) {
        const double t = 6.28318 * i / 256.0;
        palette[static_cast<size_t>(i)] = {static_cast<uint8_t>(128 + 120 * std::sin(t)),
                                           static_cast<uint8_t>(128 + 120 * std::sin(t + 2.1)),
                                           static_cast<uint8_t>(128 + 120 * std::sin(t + 4.2))};
    }
    return palette;
}

Palette cycleTable(int frame) {
    const Palette wheel = wheelTable();
    Palette palette{};
    for (size_t i = 0; i < palette.size(); ++i)
        palette[i] = wheel[(i + static_cast<size_t>(frame)) % palette.size()];
    return palette;
}

// The wheel's colours, each channel scaled down by 2.5 % more every frame.
Palette fadeTable(int frame) {
    Palette palette = wheelTable();
    const double scale = 1.0 - 0.025 * frame;
    for (PaletteEntry& entry : palette) {
        entry = {static_cast<uint8_t>(entry.red * scale), static_cast<uint8_t>(entry.green * scale),
                 static_cast<uint8_t>(entry.blue * scale)};
    }
    return palette;
}

Palette randomTable(std::mt19937& random) {
    Palette palette{};
    for (PaletteEntry& entry : palette) {
        entry = {static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                 static_cast<uint8_t>(random())};
    }
    return palette;
}

// Diagonal bands; with colours 40 of them, six entries apart, that move with the
// frame, else every index in turn.
void bandsPicture(rmw::Picture& picture, int frame, int colours) {
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const int band = (x + 2 * y + 5 * frame) / 6;
            picture.pixels[static_cast<size_t>(y) * static_cast<size_t>(picture.width) +
                           static_cast<size_t>(x)] =
                static_cast<uint8_t>(colours > 0 ? 6 * (band % colours) : (x + 2 * y) % 256);
        }
    }
}

void worstPicture(rmw::Picture& picture, int frame) {
    for (size_t i = 0; i < picture.pixels.size(); ++i) {
        picture.pixels[i] = static_cast<uint8_t>((i + static_cast<size_t>(frame)) % 2 == 0
                                                     ? (i * 7 + static_cast<size_t>(frame)) % 128
                                                     : 128 + (i * 13) % 127);
    }
}

// One frame of width 1 whose rows are end-of-row words only, bytes long; with
// endless its height is the largest there is and the input ends among its rows.
bool writeEmptyRows(std::FILE* output, double bytes, bool endless) {
    const auto rows = static_cast<int64_t>((bytes - 2048 - 4) / 2);
    rmw::Bytes head;
    rmw::appendFrameHeader(head, 1, endless ? kLargestHeight : static_cast<int32_t>(rows),
                           tableFor(0));
    rmw::appendU16(head, kBeginImage);
    bool written = std::fwrite(head.data(), 1, head.size(), output) == head.size();
    rmw::Bytes block;
    for (int i = 0; i < 65536; ++i)
        rmw::appendU16(block, kEndOfRow);
    for (int64_t left = rows; written && left > 0; left -= 65536) {
        const auto words = static_cast<size_t>(std::min<int64_t>(left, 65536));
        written = std::fwrite(block.data(), 2, words, output) == words;
    }
    rmw::Bytes tail;
    if (!endless) rmw::appendU16(tail, kEndOfImage);
    return written && std::fwrite(tail.data(), 1, tail.size(), output) == tail.size();
}

// The shape of a mixed input, from its kind's text.
struct Mix {
    double singles = 0;  // share of items that are single pixels
    double mean = 12;    // of a repeat pair's length
    int32_t width = kWidth;
    int32_t height = kHeight;
    uint32_t seed = 1;
};

bool parseMix(const std::string& kind, Mix& mix) {
    double percent = 0;
    int width = kWidth;
    int height = kHeight;
    unsigned seed = 1;
    const int fields = std::sscanf(kind.c_str(), "mixed-%lf-%lf-%dx%d-%u", &percent, &mix.mean,
                                   &width, &height, &seed);
    if (fields < 1 || fields == 3 || percent < 0 || percent > 100 || mix.mean < 1 || width < 1 ||
        height < 1)
        return false;
    mix.singles = percent / 100;
    mix.width = width;
    mix.height = height;
    mix.seed = seed;
    return true;
}

// One frame of seeded random rows, written as words, not through pixels, so that
// neighbouring items of one colour stay apart as the mix has them.
void appendMixedFrame(rmw::Bytes& bytes, const Mix& mix, std::mt19937& random, int frame) {
    rmw::appendFrameHeader(bytes, mix.width, mix.height, tableFor(frame / 50 % 4));
    rmw::appendU16(bytes, kBeginImage);
    const auto uniform = [&random] { return (static_cast<double>(random()) + 0.5) / 4294967296.0; };
    for (int32_t y = 0; y < mix.height; ++y) {
        for (int32_t x = 0; x < mix.width;) {
            const auto colour = static_cast<uint16_t>(random() & 0xFF);
            if (uniform() < mix.singles) {
                rmw::appendU16(bytes, static_cast<uint16_t>(kSinglePixel | colour));
                ++x;
                continue;
            }
            const double length = random() % 500 == 0 ? static_cast<double>(256 + random() % 745)
                                                      : std::ceil(-mix.mean * std::log(uniform()));
            const auto run = static_cast<int32_t>(std::min<double>(length, mix.width - x));
            rmw::appendU16(bytes, static_cast<uint16_t>(run));
            rmw::appendU16(bytes, static_cast<uint16_t>(kColour | colour));
            x += run;
        }
        rmw::appendU16(bytes, kEndOfRow);
    }
    rmw::appendU16(bytes, kEndOfImage);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(
            stderr,
            "usage: make_bench_input realistic|large4k|large8k|worst|long|empty-rows|"
            "endless|mixed-P[-MEAN[-WxH[-SEED]]]|cycle|fade|own-tables MEBIBYTES OUTPUT.rm\n");
        return 1;
    }
    const std::string kind = argv[1];
    const double amount = std::atof(argv[2]);
    std::FILE* output = std::fopen(argv[3], "wb");
    if (output == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    const double target = amount * 1024 * 1024;
    if (kind == "empty-rows" || kind == "endless") {
        const bool written = writeEmptyRows(output, target, kind == "endless");
        return std::fclose(output) == 0 && written ? 0 : 1;
    }
    const bool mixed = kind.rfind("mixed-", 0) == 0;
    Mix mix;
    if (mixed && !parseMix(kind, mix)) {
        std::fprintf(stderr, "make_bench_input: %s: not a mix\n", kind.c_str());
        return 1;
    }
    std::mt19937 random(mix.seed);
    if (kind == "cycle" || kind == "fade" || kind == "own-tables") {
        const bool ownTables = kind == "own-tables";
        const long frames = ownTables         ? static_cast<long>(amount * 1000)
                            : kind == "cycle" ? 12
                                              : 30;
        rmw::Picture picture{ownTables ? 8 : 320, ownTables ? 4 : 200, {}};
        picture.pixels.resize(static_cast<size_t>(picture.width) *
                              static_cast<size_t>(picture.height));
        for (int frame = 0; frame < frames; ++frame) {
            bandsPicture(picture, frame, kind == "fade" ? 40 : 0);
            rmw::Bytes bytes;
            rmw::appendFrame(bytes, picture,
                             ownTables        ? randomTable(random)
                             : kind == "fade" ? fadeTable(frame)
                                              : cycleTable(frame));
            if (std::fwrite(bytes.data(), 1, bytes.size(), output) != bytes.size()) {
                std::perror(argv[3]);
                return 1;
            }
        }
        return std::fclose(output) == 0 ? 0 : 1;
    }
    const bool tiny = kind == "long";
    const int side = kind == "large4k" ? 4096 : kind == "large8k" ? 8192 : 0;
    rmw::Picture picture{tiny       ? 8
                         : side > 0 ? side
                                    : kWidth,
                         tiny       ? 4
                         : side > 0 ? side
                                    : kHeight,
                         {}};
    picture.pixels.resize(static_cast<size_t>(picture.width) * static_cast<size_t>(picture.height));
    const long frames = tiny ? static_cast<long>(amount * 1000) : 0;
    double written = 0;
    for (int frame = 0; tiny ? frame < frames : written < target; ++frame) {
        rmw::Bytes bytes;
        if (mixed) {
            appendMixedFrame(bytes, mix, random, frame);
        } else {
            if (tiny) {
                for (size_t i = 0; i < picture.pixels.size(); ++i) {
                    picture.pixels[i] =
                        static_cast<uint8_t>((i / 3 + static_cast<size_t>(frame)) % 256);
                }
            } else if (kind == "worst") {
                worstPicture(picture, frame);
            } else {
                realisticPicture(picture, frame);
            }
            rmw::appendFrame(bytes, picture, tableFor(frame / 50 % 4));
        }
        rmw::appendGap(bytes, frame % 3, 0);
        if (std::fwrite(bytes.data(), 1, bytes.size(), output) != bytes.size()) {
            std::perror(argv[3]);
            return 1;
        }
        written += static_cast<double>(bytes.size());
    }
    return std::fclose(output) == 0 ? 0 : 1;
}
