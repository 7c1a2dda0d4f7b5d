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

bool writeChunkRecord(std::FILE* scratch, const ChunkRecord& record) {
    uint8_t bytes[kChunkRecordSize];
    putLe32(bytes, static_cast<uint32_t>(record.isPalette));
    putLe32(bytes + 4, record.sizeFieldOffset);
    putLe32(bytes + 8, record.dataSize);
    return std::fwrite(bytes, 1, sizeof bytes, scratch) == sizeof bytes;
}

// Common end of both chunk kinds: the largest-chunk figure and the scratch record.
int finishChunk(OutputWriter& output, std::FILE* scratch, int32_t isPalette, int64_t sizeFieldPos,
                int64_t dataSize) {
    if (outgrowsLimit(output, writerPosition(output))) return 0;
    if (dataSize > gState.largestChunk) gState.largestChunk = dataSize;
    const ChunkRecord record{isPalette, static_cast<uint32_t>(sizeFieldPos),
                             static_cast<uint32_t>(dataSize)};
    if (!writeChunkRecord(scratch, record) || std::ferror(scratch)) {
        setErrorText("i/o error writing to temp file \"%s\".", gState.scratchPath.c_str());
        return 0;
    }
    return 1;
}

// Reads words up to and including the first one of the given kind, scanning
// the input window directly. False when the input ends first; lastKind is then
// the kind of the last whole word read.
bool skipPastWordOfKind(InputReader& input, uint16_t kind, uint16_t& lastKind) {
    const auto kindInHighByte = static_cast<uint8_t>(kind >> 8);
    constexpr uint64_t kLaneKinds = 0xF000F000F000F000;
    constexpr uint64_t kLaneLowBits = 0x0001000100010001;
    constexpr uint64_t kLaneHighBits = 0x8000800080008000;
    const uint64_t wanted = kind * kLaneLowBits;
    for (;;) {
        const uint8_t* const start = input.window.data() + input.next;
        const uint8_t* const end = start + ((input.filled - input.next) & ~size_t{1});
        const uint8_t* word = start;
        // Four words at a time: a lane of the difference is zero only where the
        // kind is found (a borrow may flag the lane above a match too, so the
        // exact word is then looked for one by one).
        for (; end - word >= 8; word += 8) {
            uint64_t lanes = 0;
            for (int i = 0; i < 8; ++i)
                lanes |= static_cast<uint64_t>(word[i]) << (8 * i);
            const uint64_t difference = (lanes & kLaneKinds) ^ wanted;
            if (((difference - kLaneLowBits) & ~difference & kLaneHighBits) != 0) break;
        }
        for (; word != end; word += 2) {
            if ((word[1] & 0xF0) == kindInHighByte) {
                input.next = static_cast<size_t>(word + 2 - input.window.data());
                lastKind = kind;
                return true;
            }
        }
        if (end != start) lastKind = static_cast<uint16_t>((end[-1] << 8) & kWordKindMask);
        input.next = static_cast<size_t>(end - input.window.data());
        // The window is used up, or one odd byte is left in it: read on word by word.
        uint16_t value = 0;
        if (!readU16(input, value)) return false;
        lastKind = wordKind(value);
        if (lastKind == kind) return true;
    }
}

// Positions of every row's first word, found by walking to each end-of-row word,
// and of the byte after the end-of-image word. The table grows only with rows
// actually found, so a header's height never reserves memory by itself.
int findRows(InputReader& input, std::vector<int64_t>& rowStarts, int64_t& frameEnd) {
    rowStarts.push_back(readerPosition(input));
    uint16_t lastKind = kWordKindMask;
    for (int32_t row = 1; row < gState.height; ++row) {
        if (!skipPastWordOfKind(input, kEndOfRow, lastKind)) {
            setErrorText(kInternalErrorFormat, lastKind == kEndOfImage
                                                   ? kErrorRowEndMissingAfterImageEnd
                                                   : kErrorRowEndMissing);
            return 0;
        }
        rowStarts.push_back(readerPosition(input));
    }
    if (!skipPastWordOfKind(input, kEndOfImage, lastKind)) {
        setErrorText(kInternalErrorFormat, kErrorImageEndMissing);
        return 0;
    }
    frameEnd = readerPosition(input);
    return 1;
}

// Keeps the input window from the frame's first row on for the frame's time.
struct KeptFrame {
    InputReader& input;
    explicit KeptFrame(InputReader& reader) : input(reader) {
        input.keepFrom = readerPosition(input);
    }
    ~KeptFrame() { input.keepFrom = -1; }
    KeptFrame(const KeptFrame&) = delete;
    KeptFrame& operator=(const KeptFrame&) = delete;
};

// Size of the frame as an uncompressed 8-bit bitmap, rows padded to 4 bytes.
int64_t uncompressedFrameSize() {
    const int64_t paddedRow = (static_cast<int64_t>(gState.width) + 3) & ~int64_t{3};
    return paddedRow * gState.height;
}

}  // namespace

bool outgrowsLimit(const OutputWriter& output, int64_t fileSize) {
    if (!output.overLimit && fileSize <= output.limit) return false;
    setErrorText("The converted AVI file would grow past %" PRId64
                 " bytes, the largest size an AVI file can have.",
                 output.limit);
    return true;
}

int writePaletteChunk(const Palette& palette, OutputWriter& output, std::FILE* scratch) {
    writeFourCC(output, kCodePaletteChunk);
    const int64_t sizeFieldPos = writerPosition(output);
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

int writeFrameChunk(InputReader& input, OutputWriter& output, std::FILE* scratch) {
    std::vector<int64_t> rowStarts;
    int64_t frameEnd = 0;
    // The rows are visited again, bottom first: the window keeps them while it can.
    const KeptFrame keptFrame(input);
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
        seekReader(input, *row);
        dataSize += transcodeRow(input, output, ok);
        if (outgrowsLimit(output, writerPosition(output))) return 0;
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
    seekReader(input, frameEnd);
    return finishChunk(output, scratch, 0, sizeFieldPos, dataSize);
}
