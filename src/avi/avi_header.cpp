#include "avi/avi_header.h"

#include "avi/avi_format.h"
#include "avi/truncation.h"

double microSecondsPerFrame(double framesPerSecond) {
    return 1000000.0 / framesPerSecond;
}

double streamRate(double framesPerSecond) {
    return framesPerSecond * kStreamRateScale;
}

bool frameRateFitsHeader(double framesPerSecond) {
    return framesPerSecond > 0 && fitsFieldAboveZero(microSecondsPerFrame(framesPerSecond)) &&
           fitsFieldAboveZero(streamRate(framesPerSecond));
}

void writeChunkHeader(OutputWriter& output, const char code[5], int64_t* sizePos) {
    writeFourCC(output, code);
    if (sizePos == nullptr) return;
    *sizePos = writerPosition(output);
    writeU32(output, 0);
}

void writeMainHeader(OutputWriter& output, int32_t width, int32_t height, double framesPerSecond) {
    writeU32(output, truncateToField(microSecondsPerFrame(framesPerSecond)));  // dwMicroSecPerFrame
    writeU32(output, 0);                                    // dwMaxBytesPerSec, filled at the end
    writeU32(output, 0);                                    // dwPaddingGranularity
    writeU32(output, kAvifHasIndex | kAvifTrustChunkType);  // dwFlags
    writeU32(output, 0);                                    // dwTotalFrames, filled at the end
    writeU32(output, 0);                                    // dwInitialFrames
    writeU32(output, 1);                                    // dwStreams
    writeU32(output, 0);                                    // dwSuggestedBufferSize, at the end
    writeU32(output, static_cast<uint32_t>(width));         // dwWidth
    writeU32(output, static_cast<uint32_t>(height));        // dwHeight
    for (int i = 0; i < 4; ++i) {
        writeU32(output, 0);  // dwReserved
    }
}

void writeStreamHeader(OutputWriter& output, double framesPerSecond) {
    writeFourCC(output, kCodeVids);                                  // fccType
    writeFourCC(output, kCodeFrameChunk);                            // fccHandler
    writeU32(output, 0);                                             // dwFlags, at the end
    writeU16(output, 0);                                             // wPriority
    writeU16(output, 0);                                             // wLanguage
    writeU32(output, 0);                                             // dwInitialFrames
    writeU32(output, kStreamRateScale);                              // dwScale
    writeU32(output, truncateToField(streamRate(framesPerSecond)));  // dwRate
    writeU32(output, 0);                                             // dwStart
    writeU32(output, 0);                                             // dwLength, at the end
    writeU32(output, 0);  // dwSuggestedBufferSize, at the end
    writeU32(output, 0);  // dwQuality
    writeU32(output, 0);  // dwSampleSize
    for (int i = 0; i < 4; ++i) {
        writeU32(output, 0);  // rcFrame
    }
}

void writeStreamFormat(OutputWriter& output, int32_t width, int32_t height) {
    const uint32_t imageSize = 2u * static_cast<uint32_t>(width) * static_cast<uint32_t>(height);
    writeU32(output, kBitmapInfoHeaderSize);          // biSize
    writeU32(output, static_cast<uint32_t>(width));   // biWidth
    writeU32(output, static_cast<uint32_t>(height));  // biHeight: positive, bottom row first
    writeU16(output, 1);                              // biPlanes
    writeU16(output, 8);                              // biBitCount
    writeU32(output, kBiRle8);                        // biCompression
    writeU32(output, imageSize);                      // biSizeImage
    writeU32(output, 0);                              // biXPelsPerMeter
    writeU32(output, 0);                              // biYPelsPerMeter
    writeU32(output, kPaletteEntries);                // biClrUsed
    writeU32(output, 0);                              // biClrImportant
}

void writeAviHeader(OutputWriter& output, int32_t width, int32_t height, double framesPerSecond,
                    const Palette& referencePalette) {
    AviLayout& layout = gState.layout;
    writeChunkHeader(output, kCodeRiff, &layout.riffSizePos);
    writeChunkHeader(output, kCodeAvi);
    writeChunkHeader(output, kCodeList, &layout.hdrlSizePos);
    const int64_t hdrlStart = writerPosition(output);
    writeFourCC(output, kCodeHdrl);

    writeChunkHeader(output, kCodeAvih, &layout.avihSizePos);
    const int64_t avihStart = writerPosition(output);
    writeMainHeader(output, width, height, framesPerSecond);
    layout.avihSize = writerPosition(output) - avihStart;

    writeChunkHeader(output, kCodeList, &layout.strlSizePos);
    const int64_t strlStart = writerPosition(output);
    writeFourCC(output, kCodeStrl);

    writeChunkHeader(output, kCodeStrh, &layout.strhSizePos);
    const int64_t strhStart = writerPosition(output);
    writeStreamHeader(output, framesPerSecond);
    layout.strhSize = writerPosition(output) - strhStart;

    writeChunkHeader(output, kCodeStrf, &layout.strfSizePos);
    writeStreamFormat(output, width, height);
    for (const PaletteEntry& entry : referencePalette) {  // RGBQUAD: blue, green, red, 0
        writeU8(output, entry.blue);
        writeU8(output, entry.green);
        writeU8(output, entry.red);
        writeU8(output, 0);
    }
    const int64_t listsEnd = writerPosition(output);
    layout.hdrlSize = listsEnd - hdrlStart;
    layout.strlSize = listsEnd - strlStart;

    writeChunkHeader(output, kCodeList, &layout.moviSizePos);
    layout.moviCodePos = writerPosition(output);
    writeFourCC(output, kCodeMovi);
}

bool patchHeaderPalette(OutputWriter& output, const Palette& palette) {
    int64_t at = gState.layout.strfSizePos + 4 + kBitmapInfoHeaderSize;
    bool patched = true;
    for (const PaletteEntry& entry : palette) {  // RGBQUAD: blue, green, red, 0
        patched = patched && patchU32(output, at,
                                      uint32_t{entry.blue} | uint32_t{entry.green} << 8 |
                                          uint32_t{entry.red} << 16);
        at += 4;
    }
    return patched;
}
