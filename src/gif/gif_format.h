// Bytes, flags and limits of the GIF89a file this converter writes: header,
// logical screen descriptor with a global colour table, the looping
// application extension, and per frame a graphic control extension, an image
// descriptor with an optional local colour table, and LZW data in sub-blocks.
#pragma once

#include <cstdint>

inline constexpr char kGifSignature[] = "GIF89a";  // six bytes, no terminator written
inline constexpr int kGifSignatureLength = 6;

// Every width, height and position is an unsigned 16-bit field.
inline constexpr int32_t kGifMaxSide = 0xFFFF;

// Logical screen descriptor's packed field: a global colour table follows
// (bit 7), 8 bits of colour resolution (bits 4-6 hold 8 - 1), not sorted
// (bit 3), and 2^(7 + 1) = 256 entries (bits 0-2).
inline constexpr uint8_t kGifColourTableFollows = 0x80;
inline constexpr uint8_t kGifColourResolution8 = 0x70;
inline constexpr uint8_t kGifColourTableSize256 = 0x07;
inline constexpr uint8_t kGifBackgroundIndex = 0;
inline constexpr uint8_t kGifPixelAspectUnset = 0;
inline constexpr int kGifColourTableEntries = 256;  // three bytes each: red, green, blue

// Blocks.
inline constexpr uint8_t kGifExtensionIntroducer = 0x21;
inline constexpr uint8_t kGifImageSeparator = 0x2C;
inline constexpr uint8_t kGifTrailer = 0x3B;
inline constexpr uint8_t kGifBlockTerminator = 0x00;  // a sub-block of length 0
inline constexpr int kGifMaxSubBlock = 255;

// Graphic control extension: four bytes of data. Its packed field holds the
// disposal method in bits 2-4 and the transparent-colour flag in bit 0.
inline constexpr uint8_t kGifGraphicControlLabel = 0xF9;
inline constexpr uint8_t kGifGraphicControlSize = 4;
inline constexpr uint8_t kGifDisposalShift = 2;
inline constexpr uint8_t kGifDisposeNone = 1;  // leave the frame in place under the next
inline constexpr uint8_t kGifTransparentFlag = 0x01;
inline constexpr int32_t kGifMaxDelay = 0xFFFF;  // hundredths of a second

// Application extension that makes players loop: "NETSCAPE2.0", then a
// three-byte sub-block: 1 and the 16-bit loop count, 0 meaning forever.
inline constexpr uint8_t kGifApplicationLabel = 0xFF;
inline constexpr char kGifLoopApplication[] = "NETSCAPE2.0";
inline constexpr uint8_t kGifLoopApplicationLength = 11;
inline constexpr uint8_t kGifLoopBlockSize = 3;
inline constexpr uint8_t kGifLoopBlockId = 1;
inline constexpr uint16_t kGifLoopForever = 0;

// Image descriptor's packed field: a local colour table follows (bit 7, as in
// the screen descriptor), not interlaced, not sorted, 256 entries (bits 0-2).

// LZW: codes of 9 to 12 bits over 8-bit pixels; 256 clears the table, 257 ends
// the data, and 258 is the first code of a string.
inline constexpr uint8_t kLzwMinimumCodeSize = 8;
inline constexpr int kLzwClearCode = 1 << kLzwMinimumCodeSize;
inline constexpr int kLzwEndCode = kLzwClearCode + 1;
inline constexpr int kLzwFirstFreeCode = kLzwClearCode + 2;
inline constexpr int kLzwMaxCodeWidth = 12;
inline constexpr int kLzwCodeLimit = 1 << kLzwMaxCodeWidth;  // codes 0..4095
