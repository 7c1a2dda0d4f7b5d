// Writes raster metafiles from pictures, for the tests, the sample and the
// benchmark: frames as data, not hex dumps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "conversion_state.h"

namespace rmw {

using Bytes = std::vector<uint8_t>;

// The kinds of image words the writers put down (the kind in the top four bits).
inline constexpr uint16_t kSinglePixel = 0x1000;
inline constexpr uint16_t kColour = 0x3000;
inline constexpr uint16_t kBeginImage = 0x4000;
inline constexpr uint16_t kEndOfRow = 0x6000;
inline constexpr uint16_t kEndOfImage = 0x7000;

// An 8-bit indexed picture, rows top first.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint8_t> pixels;  // width * height colour indexes
    uint8_t at(int x, int y) const {
        return pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
    }
};

struct FrameStyle {
    bool singlePixels = false;  // every pixel as its own word instead of runs
    uint16_t tableNoise = 0;    // high bytes of the colour-table words (ignored by readers)
    uint8_t headerFill = 0;     // the header bytes no reader looks at
};

void appendU16(Bytes& bytes, uint16_t value);
void appendU32(Bytes& bytes, uint32_t value);

// Frame mark, width, height, the unread header bytes and the three colour tables.
void appendFrameHeader(Bytes& bytes, int32_t width, int32_t height, const Palette& palette,
                       const FrameStyle& style = {});

// One row's image words, without its end-of-row word: runs of one colour as a
// repeat count (up to 4095) and a colour word, lone pixels as single-pixel words.
std::vector<uint16_t> rowWords(const uint8_t* pixels, int32_t width, bool singlePixels);

// A whole frame: header, begin-image word, rows with their end-of-row words,
// end-of-image word.
void appendFrame(Bytes& bytes, const Picture& picture, const Palette& palette,
                 const FrameStyle& style = {});

// What may stand between frames: filler words, then junk in 4-byte steps (the
// frame search's stride) that never holds the frame mark.
void appendGap(Bytes& bytes, int fillerWords, int junkWords32);

// A palette of distinct colours made from seed.
Palette makePalette(uint32_t seed);

bool writeFile(const std::string& path, const Bytes& bytes);
Bytes readFile(const std::string& path);

}  // namespace rmw
