#include "avi/movie_chunks.h"

#include <cinttypes>
#include <cstdint>
#include <new>
#include <vector>

#include "avi/avi_format.h"
#include "avi/avi_header.h"
#include "avi/rle8_transcoder.h"
#include "byte_order.h"
#include "rmfile/rm_format.h"

namespace {

void writeChunkRecord(std::FILE* scratch, const ChunkRecord& record) {
    writeU32(scratch, static_cast<uint32_t>(record.isPalette));
    writeU32(scratch, record.sizeFieldOffset);
    writeU32(scratch, record.dataSize);
}

// Common end of both chunk kinds: the largest-chunk figure and the scratch record.
int finishChunk(std::FILE* output, std::FILE* scratch, int32_t isPalette, int64_t sizeFieldPos,
                int64_t dataSize) {
    if (streamPosition(output) > kMaxAviFileSize) {
        setErrorText("The converted AVI file would grow past %" PRId64
                     " bytes, the largest size an AVI file can have.",
                     kMaxAviFileSize);
        return 0;
    }
    if (dataSize > gState.largestChunk) gState.largestChunk = dataSize;
    writeChunkRecord(scratch, ChunkRecord{isPalette, static_cast<uint32_t>(sizeFieldPos),
                                          static_cast<uint32_t>(dataSize)});
    if (std::ferror(scratch)) {
        setErrorText("i/o error writing to temp file \"%s\".", gState.scratchPath.c_str());
        return 0;
    }
    return 1;
}

// Positions of every row's first word, found by walking to each end-of-row word,
// and of the byte after the end-of-image word. The table grows only with rows
// actually found, so a header's height never reserves memory by itself.
int findRows(std::FILE* input, std::vector<int64_t>& rowStarts, int64_t& frameEnd) {
    rowStarts.push_back(streamPosition(input));
    uint16_t word = 0;
    uint16_t lastKind = kWordKindMask;
    for (int32_t row = 1; row < gState.height; ++row) {
        do {
            if (!readU16(input, word)) {
                setErrorText(kInternalErrorFormat, lastKind == kEndOfImage
                                                       ? kErrorRowEndMissingAfterImageEnd
                                                       : kErrorRowEndMissing);
                return 0;
            }
            lastKind = wordKind(word);
        } while (lastKind != kEndOfRow);
        rowStarts.push_back(streamPosition(input));
    }
    do {
        if (!readU16(input, word)) {
            setErrorText(kInternalErrorFormat, kErrorImageEndMissing);
            return 0;
        }
    } while (wordKind(word) != kEndOfImage);
    frameEnd = streamPosition(input);
    return 1;
}

// Size of the frame as an uncompressed 8-bit bitmap, rows padded to 4 bytes.
int64_t uncompressedFrameSize() {
    const int64_t paddedRow = (static_cast<int64_t>(gState.width) + 3) & ~int64_t{3};
    return paddedRow * gState.height;
}

}  // namespace

int writePaletteChunk(const Palette& palette, std::FILE* output, std::FILE* scratch) {
    writeFourCC(output, kCodePaletteChunk);
    const int64_t sizeFieldPos = streamPosition(output);
    writeU32(output, kPaletteChunkDataSize);
    writeU8(output, 0);                          // first entry
    writeU8(output, 0);                          // number of entries: 0 means 256
    writeU16(output, 0);                         // flags
    for (const PaletteEntry& entry : palette) {  // PALETTEENTRY: red, green, blue, 0
        writeU8(output, entry.red);
        writeU8(output, entry.green);
        writeU8(output, entry.blue);
        writeU8(output, 0);
    }
    return finishChunk(output, scratch, 1, sizeFieldPos, kPaletteChunkDataSize);
}

int writeFrameChunk(std::FILE* input, std::FILE* output, std::FILE* scratch) {
    std::vector<int64_t> rowStarts;
    int64_t frameEnd = 0;
    try {
        if (!findRows(input, rowStarts, frameEnd)) return 0;
    } catch (const std::bad_alloc&) {
        setErrorText("Out of memory.");
        return 0;
    }

    int64_t sizeFieldPos = 0;
    writeChunkHeader(output, kCodeFrameChunk, &sizeFieldPos);
    int64_t dataSize = 0;
    int ok = 1;
    for (auto row = rowStarts.rbegin(); row != rowStarts.rend() && ok; ++row) {
        seekStream(input, *row, SEEK_SET);
        dataSize += transcodeRow(input, output, ok);
    }
    gState.totalEncodedBytes += static_cast<double>(dataSize);
    writeU8(output, kRleEscape);
    writeU8(output, kRleEndOfBitmap);
    dataSize += 2;
    if (!ok) return 0;
    // A chunk of exactly the uncompressed size is taken for an uncompressed frame
    // by some decoders; a second end-of-bitmap pair, never reached, avoids that.
    if (dataSize == uncompressedFrameSize()) {
        writeU8(output, kRleEscape);
        writeU8(output, kRleEndOfBitmap);
        dataSize += 2;
    }
    seekStream(input, frameEnd, SEEK_SET);
    return finishChunk(output, scratch, 0, sizeFieldPos, dataSize);
}
