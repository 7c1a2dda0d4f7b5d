#include "gif_decoder.h"

#include <algorithm>
#include <cstring>

namespace {

struct Reader {
    const std::vector<uint8_t>& bytes;
    size_t at = 0;
    bool ended = false;
    int u8() {
        if (at >= bytes.size()) ended = true;
        return ended ? 0 : bytes[at++];
    }
    int u16() { return u8() | u8() << 8; }
    std::vector<uint8_t> table(int flags) {  // a colour table of 2 << size entries, if flagged
        std::vector<uint8_t> colours;
        for (int i = 0; (flags & 0x80) != 0 && i < 3 * (2 << (flags & 7)); ++i)
            colours.push_back(static_cast<uint8_t>(u8()));
        return colours;
    }
    std::vector<std::vector<uint8_t>> subBlocks() {
        std::vector<std::vector<uint8_t>> blocks;
        for (int length = u8(); length != 0 && !ended; length = u8()) {
            blocks.emplace_back();
            for (int i = 0; i < length; ++i)
                blocks.back().push_back(static_cast<uint8_t>(u8()));
        }
        return blocks;
    }
};

int readCode(const std::vector<uint8_t>& data, size_t& bit, int width) {
    int code = 0;
    for (int i = 0; i < width; ++i, ++bit)
        code |= (data[bit / 8] >> (bit % 8) & 1) << i;
    return code;
}

// The string of a code in the table, or, for the code about to be added, the
// previous string and its own first pixel.
std::vector<uint8_t> stringOf(int code, int next, int previous, const std::vector<int>& prefix,
                              const std::vector<int>& suffix) {
    std::vector<uint8_t> string;
    for (int c = code == next ? previous : code; c >= 0; c = prefix[static_cast<size_t>(c)])
        string.push_back(static_cast<uint8_t>(suffix[static_cast<size_t>(c)]));
    std::reverse(string.begin(), string.end());
    if (code == next) string.push_back(string[0]);
    return string;
}

// Decodes exactly count pixels; returns an error text or "".
std::string decodeLzw(const std::vector<uint8_t>& data, int minimumSize, size_t count,
                      std::vector<uint8_t>& pixels) {
    const int clear = 1 << minimumSize;
    std::vector<int> prefix(4096, -1), suffix(4096);
    for (int c = 0; c < clear; ++c)
        suffix[static_cast<size_t>(c)] = c;
    int width = minimumSize + 1, next = clear + 2, previous = -1;
    size_t bit = 0;
    for (int code = 0; code != clear + 1; previous = code) {
        if (bit + static_cast<size_t>(width) > 8 * data.size()) return "no end code";
        code = readCode(data, bit, width);
        if (code == clear) width = minimumSize + 1, next = clear + 2, code = -1;
        if (code < 0 || code == clear + 1) continue;
        if (code > next || (code == next && previous < 0)) return "code beyond the table";
        const std::vector<uint8_t> string = stringOf(code, next, previous, prefix, suffix);
        pixels.insert(pixels.end(), string.begin(), string.end());
        if (previous >= 0 && next < 4096) {
            prefix[static_cast<size_t>(next)] = previous,
            suffix[static_cast<size_t>(next)] = string[0];
            if (++next == 1 << width && width < 12) ++width;
        }
    }
    if ((bit + 7) / 8 != data.size()) return "bytes after the end code";
    return pixels.size() == count ? "" : "wrong number of pixels";
}

// Reads one image and draws it over the canvas; returns an error text or "".
std::string drawImage(Reader& in, DecodedGif& gif, const std::vector<uint8_t>& global,
                      DecodedGifFrame& frame, int disposal) {
    frame.left = in.u16(), frame.top = in.u16(), frame.width = in.u16(), frame.height = in.u16();
    const int flags = in.u8();
    const std::vector<uint8_t> local = in.table(flags);
    frame.localTable = !local.empty();
    const std::vector<uint8_t>& table = frame.localTable ? local : global;
    const int minimumSize = in.u8();
    std::vector<uint8_t> data;
    for (const auto& block : in.subBlocks())
        data.insert(data.end(), block.begin(), block.end());
    if (in.ended) return "file ended in an image";
    if ((flags & 0x40) != 0 || disposal > 1) return "interlace or disposal not handled";
    if (frame.left + frame.width > gif.width || frame.top + frame.height > gif.height)
        return "image outside the screen";
    std::vector<uint8_t> pixels;
    const size_t count = static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
    const std::string error = decodeLzw(data, minimumSize, count, pixels);
    if (!error.empty()) return error;
    for (size_t i = 0; i < count; ++i) {
        const size_t at = static_cast<size_t>(frame.top + static_cast<int>(i) / frame.width) *
                              static_cast<size_t>(gif.width) +
                          static_cast<size_t>(frame.left + static_cast<int>(i) % frame.width);
        if (pixels[i] == frame.transparent) continue;
        if (3u * pixels[i] >= table.size()) return "index beyond the colour table";
        frame.indexes[at] = pixels[i];
        std::memcpy(&frame.rgb[3 * at], &table[3u * pixels[i]], 3);
    }
    return "";
}

// Reads the graphic control of the next image, or the loop count; returns an
// error text or "".
std::string readExtension(Reader& in, DecodedGif& gif, DecodedGifFrame& canvas, int& disposal) {
    const int label = in.u8();
    const auto blocks = in.subBlocks();
    if (label == 0xF9 && blocks.size() == 1 && blocks[0].size() == 4) {
        disposal = blocks[0][0] >> 2 & 7;
        canvas.delay = blocks[0][1] | blocks[0][2] << 8;
        canvas.transparent = (blocks[0][0] & 1) != 0 ? blocks[0][3] : -1;
        return "";
    }
    if (label == 0xFF && blocks.size() == 2 && blocks[1].size() == 3 && blocks[1][0] == 1 &&
        std::string(blocks[0].begin(), blocks[0].end()) == "NETSCAPE2.0") {
        gif.loopCount = blocks[1][1] | blocks[1][2] << 8;
        return "";
    }
    return "unknown extension";
}

}  // namespace

DecodedGif decodeGif(const std::vector<uint8_t>& file) {
    DecodedGif gif;
    Reader in{file};
    if (file.size() < 6 || std::memcmp(file.data(), "GIF89a", 6) != 0) {
        gif.error = "no GIF89a signature";
        return gif;
    }
    in.at = 6;
    gif.width = in.u16(), gif.height = in.u16();
    const int flags = in.u8();
    in.u16();  // background index, pixel aspect
    const std::vector<uint8_t> global = in.table(flags);
    gif.globalTable = global;
    DecodedGifFrame canvas;
    canvas.indexes.assign(static_cast<size_t>(gif.width) * static_cast<size_t>(gif.height), 0);
    canvas.rgb.assign(3 * canvas.indexes.size(), 0);
    int disposal = 0;
    for (int block = in.u8(); gif.error.empty(); block = in.u8()) {
        if (in.ended || block == 0x3B) {
            gif.error = in.ended ? "no trailer" : in.at != file.size() ? "bytes after trailer" : "";
            break;
        }
        if (block == 0x2C) {
            gif.error = drawImage(in, gif, global, canvas, disposal);
            gif.frames.push_back(canvas);
            canvas.delay = 0, canvas.transparent = -1, disposal = 0;
        } else {
            gif.error = block == 0x21 ? readExtension(in, gif, canvas, disposal) : "unknown block";
        }
    }
    return gif;
}
