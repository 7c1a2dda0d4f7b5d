#include "avi_reader.h"

#include "io/little_endian.h"

uint32_t le32(const Bytes& bytes, size_t at) {
    if (at + 4 > bytes.size()) return 0;
    return getLe32(bytes.data() + at);
}

namespace {

uint16_t le16(const Bytes& bytes, size_t at) {
    return getLe16(bytes.data() + at);
}

std::string code(const Bytes& bytes, size_t at) {
    if (at + 4 > bytes.size()) return std::string();
    return std::string(bytes.begin() + static_cast<long>(at),
                       bytes.begin() + static_cast<long>(at) + 4);
}

// The fixed header: checks codes and reads every field at its offset.
bool readHeader(const Bytes& f, ParsedAvi& avi) {
    if (f.size() < 1256) return false;
    if (code(f, 0) != "RIFF" || code(f, 8) != "AVI " || code(f, 12) != "LIST" ||
        code(f, 20) != "hdrl" || code(f, 24) != "avih" || code(f, 88) != "LIST" ||
        code(f, 96) != "strl" || code(f, 100) != "strh" || code(f, 172) != "strf" ||
        code(f, 1244) != "LIST" || code(f, 1252) != "movi") {
        return false;
    }
    avi.riffSize = le32(f, 4);
    avi.hdrlSize = le32(f, 16);
    avi.avihSize = le32(f, 28);
    avi.microSecPerFrame = le32(f, 32);
    avi.maxBytesPerSec = le32(f, 36);
    avi.avihFlags = le32(f, 44);
    avi.totalFrames = le32(f, 48);
    avi.streams = le32(f, 56);
    avi.avihSuggestedBuffer = le32(f, 60);
    avi.width = le32(f, 64);
    avi.height = le32(f, 68);
    avi.strlSize = le32(f, 92);
    avi.strhSize = le32(f, 104);
    avi.fccType = code(f, 108);
    avi.fccHandler = code(f, 112);
    avi.strhFlags = le32(f, 116);
    avi.scale = le32(f, 128);
    avi.rate = le32(f, 132);
    avi.length = le32(f, 140);
    avi.strhSuggestedBuffer = le32(f, 144);
    avi.strfSize = le32(f, 176);
    avi.biSize = le32(f, 180);
    avi.biWidth = le32(f, 184);
    avi.biHeight = le32(f, 188);
    avi.biPlanes = le16(f, 192);
    avi.biBitCount = le16(f, 194);
    avi.biCompression = le32(f, 196);
    avi.biSizeImage = le32(f, 200);
    avi.biClrUsed = le32(f, 212);
    for (size_t i = 0; i < 256; ++i) {
        const size_t at = 220 + 4 * i;
        avi.headerPalette[i] = {f[at + 2], f[at + 1], f[at]};
    }
    avi.moviSize = le32(f, 1248);
    return true;
}

}  // namespace

ParsedAvi parseAvi(const Bytes& f) {
    ParsedAvi avi;
    if (!readHeader(f, avi)) {
        avi.problem = "header codes are not where they belong";
        return avi;
    }
    if (avi.riffSize + 8ull != f.size()) {
        avi.problem = "RIFF size does not match the file";
        return avi;
    }
    const size_t moviCode = 1252;
    const size_t moviEnd = moviCode + avi.moviSize;
    if (moviEnd > f.size()) {
        avi.problem = "movi list runs past the file";
        return avi;
    }
    for (size_t at = moviCode + 4; at < moviEnd;) {
        const uint32_t size = le32(f, at + 4);
        if (at + 8 + size > moviEnd) {
            avi.problem = "movie chunk runs past the list";
            return avi;
        }
        MovieChunk chunk{code(f, at), static_cast<uint32_t>(at - moviCode),
                         Bytes(f.begin() + static_cast<long>(at + 8),
                               f.begin() + static_cast<long>(at + 8 + size))};
        avi.movie.push_back(chunk);
        at += 8 + size + (size & 1);
    }
    size_t at = moviEnd;
    if (code(f, at) != "idx1") {
        avi.problem = "no idx1 after the movie list";
        return avi;
    }
    avi.idx1Size = le32(f, at + 4);
    if (at + 8 + avi.idx1Size > f.size() || avi.idx1Size % 16 != 0) {
        avi.problem = "idx1 size is wrong";
        return avi;
    }
    for (size_t entry = at + 8; entry < at + 8 + avi.idx1Size; entry += 16) {
        avi.index.push_back(
            {code(f, entry), le32(f, entry + 4), le32(f, entry + 8), le32(f, entry + 12)});
    }
    at += 8 + avi.idx1Size;
    if (code(f, at) != "JUNK") {
        avi.problem = "no JUNK chunk after the index";
        return avi;
    }
    const uint32_t tagSize = le32(f, at + 4);
    if (at + 8 + tagSize != f.size()) {
        avi.problem = "JUNK chunk is not the file's last";
        return avi;
    }
    avi.tag.assign(f.begin() + static_cast<long>(at + 8), f.end());
    return avi;
}

bool decodeRle8(const Bytes& data, int width, int height, std::vector<uint8_t>& pixels) {
    pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
    int x = 0;
    int row = 0;  // counted from the bottom
    for (size_t at = 0; at + 1 < data.size(); at += 2) {
        const uint8_t count = data[at];
        const uint8_t value = data[at + 1];
        if (count == 0) {
            if (value == 0) {  // end of line
                ++row;
                x = 0;
                continue;
            }
            if (value == 1) return row == height;  // end of bitmap
            return false;                          // absolute runs and deltas are never written
        }
        if (row >= height || x + count > width) return false;
        for (int i = 0; i < count; ++i) {
            pixels[static_cast<size_t>(height - 1 - row) * static_cast<size_t>(width) +
                   static_cast<size_t>(x++)] = value;
        }
    }
    return false;  // no end of bitmap
}

std::vector<Bytes> renderFrames(const ParsedAvi& avi, std::string* problem) {
    std::vector<Bytes> frames;
    Palette palette = avi.headerPalette;
    const int width = static_cast<int>(avi.width);
    const int height = static_cast<int>(avi.height);
    for (const MovieChunk& chunk : avi.movie) {
        if (chunk.code == "00pc") {
            if (chunk.data.size() != 1028) {
                if (problem != nullptr) *problem = "palette chunk of the wrong size";
                return {};
            }
            for (size_t i = 0; i < 256; ++i) {
                palette[i] = {chunk.data[4 + 4 * i], chunk.data[5 + 4 * i], chunk.data[6 + 4 * i]};
            }
            continue;
        }
        std::vector<uint8_t> pixels;
        if (!decodeRle8(chunk.data, width, height, pixels)) {
            if (problem != nullptr)
                *problem = "frame " + std::to_string(frames.size() + 1) + " does not decode";
            return {};
        }
        Bytes rgb;
        rgb.reserve(pixels.size() * 3);
        for (uint8_t index : pixels) {
            rgb.push_back(palette[index].red);
            rgb.push_back(palette[index].green);
            rgb.push_back(palette[index].blue);
        }
        frames.push_back(std::move(rgb));
    }
    return frames;
}
