// The GIF variant of LZW: 8-bit pixels in, codes of 9 to 12 bits out, packed
// least significant bit first into data sub-blocks of at most 255 bytes. It
// streams: pixels come in pieces of any size and the sub-blocks go out to the
// writer as they fill, so no frame's codes are ever held.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "gif/gif_format.h"
#include "io/stream_buffers.h"

// The string table in two parts. A string that ends in a second copy of its
// own last pixel (the next step of a run) is found from its prefix alone, in
// runChild. Any other string is found in a hash of (prefix code, pixel) with
// open addressing in 32-bit slots (32 KiB), behind a one-entry cache per
// prefix. A reset clears all three (56 KiB, once in at most 3838 codes).
inline constexpr int kLzwHashBits = 13;  // 8192 slots for at most 3838 strings
inline constexpr size_t kLzwHashSlots = size_t{1} << kLzwHashBits;

struct LzwEncoder {
    std::vector<uint32_t> slots;  // kLzwHashSlots; prefix << 20 | pixel << 12 | code, 0 empty
    // The string each code last gained in the hash, as pixel << 16 | code (0
    // for none): where a pattern repeats, the next string is found here.
    std::vector<uint32_t> lastChild;  // kLzwCodeLimit
    std::vector<uint16_t> runChild;  // kLzwCodeLimit; code of the string and its last pixel, 0 none
    int prefix = -1;                 // code of the string read so far, -1 before the first pixel
    uint8_t lastPixel = 0;           // the last pixel of that string
    int nextCode = kLzwFirstFreeCode;
    int codeWidth = kLzwMinimumCodeSize + 1;
    uint64_t bits = 0;  // bits not yet in a byte, lowest first
    int bitCount = 0;
    std::array<uint8_t, kGifMaxSubBlock> block{};  // the sub-block being filled
    size_t blockUsed = 0;
};

// Readies encoder for a new image and writes the minimum code size byte and a
// clear code. Allocates the table on first use only.
void startLzw(LzwEncoder& encoder, OutputWriter& output);

// Encodes count pixels. Writes full sub-blocks to output as they fill.
void encodeLzw(LzwEncoder& encoder, OutputWriter& output, const uint8_t* pixels, size_t count);

// Writes the last string's code, the end code, the last sub-block and the
// block terminator. Write errors are left in the writer's state.
void finishLzw(LzwEncoder& encoder, OutputWriter& output);
