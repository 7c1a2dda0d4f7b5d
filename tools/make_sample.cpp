// Writes the sample animation: moving colour bands and a ring, in three colour
// tables, so that converting with and without -m shows the difference.
//   make_sample OUTPUT.rm
#include <cmath>
#include <cstdio>

#include "rm_writer.h"

namespace {

constexpr int kWidth = 96;
constexpr int kHeight = 64;
constexpr int kFrames = 24;
constexpr int kFramesPerTable = 8;

// Three ramps over the 256 indexes: warm, cold, grey.
Palette rampPalette(int table) {
    Palette palette{};
    for (int i = 0; i < kPaletteEntries; ++i) {
        const auto level = static_cast<uint8_t>(i);
        const auto half = static_cast<uint8_t>(i / 2);
        switch (table) {
            case 0:
                palette[static_cast<size_t>(i)] = {level, half, 0};
                break;
            case 1:
                palette[static_cast<size_t>(i)] = {0, half, level};
                break;
            default:
                palette[static_cast<size_t>(i)] = {level, level, level};
                break;
        }
    }
    return palette;
}

rmw::Picture framePicture(int frame) {
    rmw::Picture picture{kWidth, kHeight, std::vector<uint8_t>(kWidth * kHeight)};
    const double centreX = kWidth / 2.0 + 20.0 * std::cos(frame * 0.26);
    const double centreY = kHeight / 2.0 + 12.0 * std::sin(frame * 0.26);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            const int band = ((x + y + frame * 3) / 8) % 8;
            const double distance = std::hypot(x - centreX, y - centreY);
            uint8_t colour = static_cast<uint8_t>(32 + band * 24);
            if (distance > 9.0 && distance < 13.0) colour = 255;
            picture.pixels[static_cast<size_t>(y * kWidth + x)] = colour;
        }
    }
    return picture;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_sample OUTPUT.rm\n");
        return 1;
    }
    rmw::Bytes bytes;
    for (int frame = 0; frame < kFrames; ++frame) {
        rmw::appendFrame(bytes, framePicture(frame), rampPalette(frame / kFramesPerTable));
        rmw::appendGap(bytes, frame % 3, 0);
    }
    if (!rmw::writeFile(argv[1], bytes)) {
        std::fprintf(stderr, "make_sample: could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
