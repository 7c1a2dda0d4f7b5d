#include "gif/gif_lzw.h"

#include <algorithm>

namespace {

// A slot: generation << 32 | (prefix code << 8 | pixel) << 12 | code.
constexpr int kSlotCodeBits = kLzwMaxCodeWidth;
constexpr uint64_t kSlotCodeMask = (uint64_t{1} << kSlotCodeBits) - 1;
constexpr int kSlotGenerationShift = 32;
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

// Empties the table: strings of the old generation no longer match.
void resetTable(LzwEncoder& encoder) {
    if (++encoder.generation == 0) {  // wrapped: old slots could match again
        std::fill(encoder.slots.begin(), encoder.slots.end(), 0);
        encoder.generation = 1;
    }
    std::fill(encoder.lastChild.begin(), encoder.lastChild.end(), 0);
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

}  // namespace

void startLzw(LzwEncoder& encoder, OutputWriter& output) {
    if (encoder.slots.empty()) encoder.slots.assign(kLzwHashSlots, 0);
    if (encoder.lastChild.empty()) encoder.lastChild.assign(kLzwCodeLimit, 0);
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
    if (encoder.prefix < 0) encoder.prefix = pixels[at++];
    int prefix = encoder.prefix;
    for (; at < count; ++at) {
        const uint32_t cached = encoder.lastChild[static_cast<size_t>(prefix)];
        if (cached >> kLastChildPixelShift == pixels[at] && cached != 0) {
            prefix = static_cast<int>(cached & kLastChildCodeMask);
            continue;
        }
        const uint32_t key = static_cast<uint32_t>(prefix) << kPixelBits | pixels[at];
        const uint64_t wanted =
            uint64_t{encoder.generation} << (kSlotGenerationShift - kSlotCodeBits) | key;
        size_t slot = slotOf(key);
        uint64_t entry = encoder.slots[slot];
        while ((entry >> kSlotCodeBits) != wanted &&
               (entry >> kSlotGenerationShift) == encoder.generation) {
            slot = (slot + 1) & kSlotIndexMask;
            entry = encoder.slots[slot];
        }
        if ((entry >> kSlotCodeBits) == wanted) {
            prefix = static_cast<int>(entry & kSlotCodeMask);
            continue;
        }
        putCode(encoder, output, prefix);
        encoder.slots[slot] = wanted << kSlotCodeBits | static_cast<uint64_t>(encoder.nextCode);
        encoder.lastChild[static_cast<size_t>(prefix)] =
            uint32_t{pixels[at]} << kLastChildPixelShift | static_cast<uint32_t>(encoder.nextCode);
        countCode(encoder);
        if (encoder.nextCode == kLzwCodeLimit) {
            putCode(encoder, output, kLzwClearCode);
            resetTable(encoder);
        }
        prefix = pixels[at];
    }
    encoder.prefix = prefix;
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
