// An independent reader of the AVI files the converter writes: walks the RIFF
// structure, checks every size, and decodes the RLE8 frames, so tests can
// compare pictures and fields instead of hex dumps.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "conversion_state.h"

using Bytes = std::vector<uint8_t>;

struct MovieChunk {
    std::string code;
    uint32_t offsetFromMovi = 0;  // from the "movi" code to the chunk's code
    Bytes data;
};

struct IndexEntry {
    std::string code;
    uint32_t flags = 0;
    uint32_t offset = 0;
    uint32_t length = 0;
    bool operator==(const IndexEntry&) const = default;
};

struct ParsedAvi {
    std::string problem;  // empty when the structure is sound
    uint32_t riffSize = 0, hdrlSize = 0, avihSize = 0, strlSize = 0, strhSize = 0;
    uint32_t strfSize = 0, moviSize = 0, idx1Size = 0;
    // MainAVIHeader
    uint32_t microSecPerFrame = 0, maxBytesPerSec = 0, avihFlags = 0, totalFrames = 0;
    uint32_t streams = 0, avihSuggestedBuffer = 0, width = 0, height = 0;
    // AVIStreamHeader
    std::string fccType, fccHandler;
    uint32_t strhFlags = 0, scale = 0, rate = 0, length = 0, strhSuggestedBuffer = 0;
    // BITMAPINFOHEADER
    uint32_t biSize = 0, biWidth = 0, biHeight = 0, biCompression = 0, biSizeImage = 0;
    uint32_t biClrUsed = 0;
    uint16_t biPlanes = 0, biBitCount = 0;
    Palette headerPalette{};
    std::vector<MovieChunk> movie;
    std::vector<IndexEntry> index;
    std::string tag;
};

uint32_t le32(const Bytes& bytes, size_t at);

ParsedAvi parseAvi(const Bytes& file);

// Decodes RLE8 data into width x height indexes, rows top first; false when the
// data is malformed or does not fill the frame's rows.
bool decodeRle8(const Bytes& data, int width, int height, std::vector<uint8_t>& pixels);

// Every frame as rgb24 (rows top first), applying each palette-change chunk to
// the palette in effect as a player does.
std::vector<Bytes> renderFrames(const ParsedAvi& avi, std::string* problem);
