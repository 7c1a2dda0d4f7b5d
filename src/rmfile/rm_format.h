// Layout of a raster metafile frame and the kinds of its 16-bit image words.
#pragma once

#include <cstdint>

inline constexpr uint32_t kFrameMark = 0xE0000000;  // bytes 00 00 00 E0 at a frame's start
inline constexpr int kWidthOffset = 4;
inline constexpr int kHeightOffset = 8;
inline constexpr int kColourTablesOffset = 512;  // red, green, blue tables of 256 words each
inline constexpr int kFrameHeaderSize = 512;
inline constexpr int kImageWordsOffset = 2048;
inline constexpr uint16_t kFillerWord = 0xFFFF;  // may stand between frames

// An image word's kind is its top four bits, its value the low twelve.
inline constexpr uint16_t kWordKindMask = 0xF000;
inline constexpr uint16_t kWordValueMask = 0x0FFF;
inline constexpr uint16_t kRepeatCount = 0x0000;  // 0000 vvvv vvvv vvvv: run length
inline constexpr uint16_t kSinglePixel = 0x1000;  // 0001 cccc cccc cccc: one pixel of colour c
inline constexpr uint16_t kColour = 0x3000;       // 0011 cccc cccc cccc: colour of the run
inline constexpr uint16_t kBeginImage = 0x4000;   // 0100 xxxx xxxx xxxx: first image word
inline constexpr uint16_t kEndOfRow = 0x6000;     // 0110 xxxx xxxx xxxx
inline constexpr uint16_t kEndOfImage = 0x7000;   // 0111 xxxx xxxx xxxx

inline constexpr uint16_t wordKind(uint16_t word) {
    return word & kWordKindMask;
}
inline constexpr uint16_t wordValue(uint16_t word) {
    return word & kWordValueMask;
}

inline constexpr int kMaxColourIndex = 255;

// Internal-error numbers naming the place a format error was found.
inline constexpr int kErrorFrameMark = 1240;
inline constexpr int kErrorBeginImage = 1380;
inline constexpr int kErrorRowEndMissing = 805;
inline constexpr int kErrorRowEndMissingAfterImageEnd = 815;
inline constexpr int kErrorImageEndMissing = 829;
inline constexpr int kErrorColourWordMissing = 632;
inline constexpr int kErrorWordNotInRow = 641;
inline constexpr int kErrorZeroRepeat = 656;
