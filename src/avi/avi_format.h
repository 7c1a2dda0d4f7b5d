// Codes, flags and fixed sizes of the AVI file this converter writes.
#pragma once

#include <cstdint>

inline constexpr char kCodeRiff[] = "RIFF";
inline constexpr char kCodeAvi[] = "AVI ";
inline constexpr char kCodeList[] = "LIST";
inline constexpr char kCodeHdrl[] = "hdrl";
inline constexpr char kCodeAvih[] = "avih";
inline constexpr char kCodeStrl[] = "strl";
inline constexpr char kCodeStrh[] = "strh";
inline constexpr char kCodeStrf[] = "strf";
inline constexpr char kCodeVids[] = "vids";
inline constexpr char kCodeMovi[] = "movi";
inline constexpr char kCodeFrameChunk[] = "00dc";  // also the stream's handler code
inline constexpr char kCodePaletteChunk[] = "00pc";
inline constexpr char kCodeIdx1[] = "idx1";
inline constexpr char kCodeJunk[] = "JUNK";

inline constexpr uint32_t kAvifHasIndex = 0x10;
inline constexpr uint32_t kAvifTrustChunkType = 0x800;
inline constexpr uint32_t kAvisfVideoPaletteChanges = 0x10000;
inline constexpr uint32_t kAviifKeyFrame = 0x10;
inline constexpr uint32_t kAviifNoTime = 0x100;

inline constexpr uint32_t kStreamRateScale = 100000;  // dwRate / dwScale = frames per second
inline constexpr uint32_t kBitmapInfoHeaderSize = 40;
inline constexpr uint32_t kBiRle8 = 1;
inline constexpr uint32_t kStreamFormatSize = 1064;      // BITMAPINFOHEADER + 256 RGBQUADs
inline constexpr uint32_t kPaletteChunkDataSize = 1028;  // AVIPALCHANGE with 256 entries
inline constexpr int kChunkHeaderSize = 8;
inline constexpr int kIndexEntrySize = 16;

// Offsets of the fields the finaliser fills, from the size field of their chunk.
inline constexpr int kAvihMaxBytesPerSec = 8;
inline constexpr int kAvihTotalFrames = 20;
inline constexpr int kAvihSuggestedBufferSize = 32;
inline constexpr int kStrhFlags = 12;
inline constexpr int kStrhLength = 36;
inline constexpr int kStrhSuggestedBufferSize = 40;

// A RIFF size is 32 bits, so no AVI file may grow past this.
inline constexpr int64_t kMaxAviFileSize = 0xFFFFFFFF;
// Above this many bytes some players refuse a file; it is still written whole.
inline constexpr uint32_t kPlayerFileSizeLimit = 0x3FFFFFFF;
