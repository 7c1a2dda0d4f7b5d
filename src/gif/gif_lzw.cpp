#include "gif/gif_lzw.h"

#include <algorithm>

namespace {

constexpr int kSlotCodeBits = kLzwMaxCodeWidth;
constexpr uint32_t kSlotCodeMask = (uint32_t{1} << kSlotCodeBits) - 1;
constexpr size_t kSlotIndexMask = kLzwHashSlots - 1;
constexpr int kPixelBits = 8;
constexpr int kLastChildPixelShift = 16;
constexpr uint32_t kLastChildCodeMask = 0xFFFF;

void writeSubBlock(LzwEncoder& encoder, OutputWriter& output) {
    writeU8(output, static_cast<uint8_t>(encoder.blockUsed));
    writeBytes(output, encoder.block.data(), encoder.blockUsed);
    encoder.blockUsed = 0;
}

// Moves the lowest eight bits into the sub-block, which goes out when full.
inline void putByte(LzwEncoder& encoder, OutputWriter& output) {
    encoder.block[encoder.blockUsed++] = static_cast<uint8_t>(encoder.bits);
    encoder.bits >>= 8;
    encoder.bitCount -= 8;
    if (encoder.blockUsed == kGifMaxSubBlock) writeSubBlock(encoder, output);
}

// Appends a code of the current width, lowest bit first.
inline void putCode(LzwEncoder& encoder, OutputWriter& output, int code) {
    encoder.bits |= static_cast<uint64_t>(code) << encoder.bitCount;
    encoder.bitCount += encoder.codeWidth;
    while (encoder.bitCount >= 8)
        putByte(encoder, output);
}

// Empties the table.
void resetTable(LzwEncoder& encoder) {
    std::fill(encoder.slots.begin(), encoder.slots.end(), 0);
    std::fill(encoder.lastChild.begin(), encoder.lastChild.end(), 0);
    std::fill(encoder.runChild.begin(), encoder.runChild.end(), 0);
    encoder.nextCode = kLzwFirstFreeCode;
    encoder.codeWidth = kLzwMinimumCodeSize + 1;
}

// One more code is taken, by a string or (at the end) by the decoder's guess;
// the width grows when the next code no longer fits, as the decoder's does.
inline void countCode(LzwEncoder& encoder) {
    ++encoder.nextCode;
    if (encoder.nextCode > 1 << encoder.codeWidth) ++encoder.codeWidth;
}

inline size_t slotOf(uint32_t key) {
    return (key * 0x9E3779B1u) >> (32 - kLzwHashBits);
}

// Writes prefix, whose string the next pixel does not extend, and takes the
// next code for that longer string (which the caller records first). Clears
// the table when it is full.
inline void endString(LzwEncoder& encoder, OutputWriter& output, int prefix) {
    putCode(encoder, output, prefix);
    countCode(encoder);
    if (encoder.nextCode == kLzwCodeLimit) {
        putCode(encoder, output, kLzwClearCode);
        resetTable(encoder);
    }
}

// The code of prefix's string followed by pixel, not its last pixel; or, when
// the table has no such string, -1 after adding it and writing prefix.
inline int extendByOther(LzwEncoder& encoder, OutputWriter& output, int prefix, uint8_t pixel) {
    const uint32_t cached = encoder.lastChild[static_cast<size_t>(prefix)];
    if (cached >> kLastChildPixelShift == pixel && cached != 0)
        return static_cast<int>(cached & kLastChildCodeMask);
    const uint32_t wanted = (static_cast<uint32_t>(prefix) << kPixelBits | pixel) << kSlotCodeBits;
    size_t slot = slotOf(wanted >> kSlotCodeBits);
    uint32_t entry = encoder.slots[slot];
    while (entry != 0 && (entry & ~kSlotCodeMask) != wanted) {
        slot = (slot + 1) & kSlotIndexMask;
        entry = encoder.slots[slot];
    }
    if (entry != 0) return static_cast<int>(entry & kSlotCodeMask);
    const auto code = static_cast<uint32_t>(encoder.nextCode);
    encoder.slots[slot] = wanted | code;
    encoder.lastChild[static_cast<size_t>(prefix)] = uint32_t{pixel} << kLastChildPixelShift | code;
    endString(encoder, output, prefix);
    return -1;
}

}  // namespace

void startLzw(LzwEncoder& encoder, OutputWriter& output) {
    if (encoder.slots.empty()) encoder.slots.assign(kLzwHashSlots, 0);
    if (encoder.lastChild.empty()) encoder.lastChild.assign(kLzwCodeLimit, 0);
    if (encoder.runChild.empty()) encoder.runChild.assign(kLzwCodeLimit, 0);
    resetTable(encoder);
    encoder.prefix = -1;
    encoder.bits = 0;
    encoder.bitCount = 0;
    encoder.blockUsed = 0;
    writeU8(output, kLzwMinimumCodeSize);
    putCode(encoder, output, kLzwClearCode);
}

void encodeLzw(LzwEncoder& encoder, OutputWriter& output, const uint8_t* pixels, size_t count) {
    if (count == 0) return;
    size_t at = 0;
    if (encoder.prefix < 0) {
        encoder.prefix = pixels[0];
        encoder.lastPixel = pixels[0];
        at = 1;
    }
    int prefix = encoder.prefix;
    uint8_t last = encoder.lastPixel;
    for (; at < count; ++at) {
        const uint8_t pixel = pixels[at];
        if (pixel == last) {
            const uint16_t next = encoder.runChild[static_cast<size_t>(prefix)];
            if (next != 0) {
                prefix = next;
                continue;
            }
            encoder.runChild[static_cast<size_t>(prefix)] = static_cast<uint16_t>(encoder.nextCode);
            endString(encoder, output, prefix);
            prefix = pixel;
            continue;
        }
        const int next = extendByOther(encoder, output, prefix, pixel);
        prefix = next >= 0 ? next : pixel;
        last = pixel;
    }
    encoder.prefix = prefix;
    encoder.lastPixel = last;
}

void finishLzw(LzwEncoder& encoder, OutputWriter& output) {
    if (encoder.prefix >= 0) {
        putCode(encoder, output, encoder.prefix);
        countCode(encoder);
    }
    putCode(encoder, output, kLzwEndCode);
    if (encoder.bitCount > 0) {  // the last bits, padded with zeros to a byte
        encoder.bitCount = 8;
        putByte(encoder, output);
    }
    if (encoder.blockUsed > 0) writeSubBlock(encoder, output);
    writeU8(output, kGifBlockTerminator);
    encoder.prefix = -1;
}
