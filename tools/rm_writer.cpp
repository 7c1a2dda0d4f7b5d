#include "rm_writer.h"

#include <cstdio>

namespace rmw {

namespace {
constexpr uint16_t kFiller = 0xFFFF;
constexpr uint32_t kFrameMark = 0xE0000000;
constexpr int kUnreadHeaderBytes = 500;
constexpr int kMaxRepeat = 4095;
}  // namespace

void appendU16(Bytes& bytes, uint16_t value) {
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void appendU32(Bytes& bytes, uint32_t value) {
    appendU16(bytes, static_cast<uint16_t>(value));
    appendU16(bytes, static_cast<uint16_t>(value >> 16));
}

void appendFrameHeader(Bytes& bytes, int32_t width, int32_t height, const Palette& palette,
                       const FrameStyle& style) {
    appendU32(bytes, kFrameMark);
    appendU32(bytes, static_cast<uint32_t>(width));
    appendU32(bytes, static_cast<uint32_t>(height));
    bytes.insert(bytes.end(), kUnreadHeaderBytes, style.headerFill);
    const auto tableWord = [&style](uint8_t intensity) {
        return static_cast<uint16_t>(intensity | style.tableNoise << 8);
    };
    for (const PaletteEntry& entry : palette)
        appendU16(bytes, tableWord(entry.red));
    for (const PaletteEntry& entry : palette)
        appendU16(bytes, tableWord(entry.green));
    for (const PaletteEntry& entry : palette)
        appendU16(bytes, tableWord(entry.blue));
}

std::vector<uint16_t> rowWords(const uint8_t* pixels, int32_t width, bool singlePixels) {
    std::vector<uint16_t> words;
    for (int32_t x = 0; x < width;) {
        int32_t run = 1;
        while (!singlePixels && x + run < width && pixels[x + run] == pixels[x] &&
               run < kMaxRepeat) {
            ++run;
        }
        if (run == 1) {
            words.push_back(static_cast<uint16_t>(kSinglePixel | pixels[x]));
        } else {
            words.push_back(static_cast<uint16_t>(run));
            words.push_back(static_cast<uint16_t>(kColour | pixels[x]));
        }
        x += run;
    }
    return words;
}

void appendFrame(Bytes& bytes, const Picture& picture, const Palette& palette,
                 const FrameStyle& style) {
    appendFrameHeader(bytes, picture.width, picture.height, palette, style);
    appendU16(bytes, kBeginImage);
    for (int32_t y = 0; y < picture.height; ++y) {
        const uint8_t* row =
            picture.pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(picture.width);
        for (uint16_t word : rowWords(row, picture.width, style.singlePixels)) {
            appendU16(bytes, word);
        }
        appendU16(bytes, kEndOfRow);
    }
    appendU16(bytes, kEndOfImage);
}

void appendGap(Bytes& bytes, int fillerWords, int junkWords32) {
    for (int i = 0; i < fillerWords; ++i)
        appendU16(bytes, kFiller);
    for (int i = 0; i < junkWords32; ++i)
        appendU32(bytes, 0x5A5A0000u + static_cast<uint32_t>(i));
}

Palette makePalette(uint32_t seed) {
    Palette palette{};
    uint32_t state = seed * 2654435761u + 12345u;
    for (PaletteEntry& entry : palette) {
        state = state * 1664525u + 1013904223u;
        entry.red = static_cast<uint8_t>(state >> 24);
        entry.green = static_cast<uint8_t>(state >> 16);
        entry.blue = static_cast<uint8_t>(state >> 8);
    }
    return palette;
}

bool writeFile(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

Bytes readFile(const std::string& path) {
    Bytes bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return bytes;
    uint8_t buffer[65536];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + count);
    }
    std::fclose(file);
    return bytes;
}

}  // namespace rmw
