#include "avi/avi_finish.h"

#include <cinttypes>
#include <cstdint>
#include <string>

#include "avi/avi_format.h"
#include "avi/avi_header.h"
#include "avi/movie_chunks.h"
#include "avi/truncation.h"
#include "conversion_state.h"
#include "io/little_endian.h"

namespace {

// The scratch index file's records are checked against the chunks written.
constexpr int kErrorIndexCount = 1099;

// The index records, found of them (more when there were more than
// expected), are not the ones the frames and palette changes wrote.
void setIndexCountError(int64_t found, bool more, int64_t expected) {
    setErrorText(kInternalErrorFormat, kErrorIndexCount);
    const std::string count = more ? "more" : formatText("%" PRId64, found);
    gState.errorText += formatText(
        "\nThe scratch index file's records (%s) do not match the frames and palette changes "
        "converted (%" PRId64 ").",
        count.c_str(), expected);
}

constexpr const char* kCreatorTag = "19710423-{6B1E07C4-93A2-11d5-A7F1-00C04F8E2D19}";
constexpr const char* kTagKind = "W";
constexpr const char* kTagComment = "Converted with kestrup";

// "%s$s[%s]v[%s]![%s]" with creator, kind, version and comment ("$s" is literal),
// padded with spaces to an even length so that no pad byte follows the chunk.
std::string buildTagText() {
    std::string text = std::string(kCreatorTag) + "$s[" + kTagKind + "]v[" + kVersionText + "]![" +
                       kTagComment + "]";
    while (text.size() % 2 != 0)
        text += ' ';
    return text;
}

bool readChunkRecord(std::FILE* scratch, ChunkRecord& record) {
    uint8_t bytes[kChunkRecordSize];
    if (std::fread(bytes, 1, sizeof bytes, scratch) != sizeof bytes) return false;
    record.isPalette = static_cast<int32_t>(getLe32(bytes));
    record.sizeFieldOffset = getLe32(bytes + 4);
    record.dataSize = getLe32(bytes + 8);
    return true;
}

// Writes one index entry per scratch record, filling each chunk's size field on
// the way unless the chunk writer has filled them all. Returns the number of entries, or -1 when a
// size field could not be filled in; a record beyond the expected count is counted but not written,
// so the file never grows past the size planned for it.
int64_t writeIndexEntries(OutputWriter& output, bool chunkSizesFilled, std::FILE* scratch,
                          int64_t expected, bool& paletteSeen) {
    uint32_t chunkOffset = 4;  // from the "movi" code to the first chunk's code
    int64_t entries = 0;
    ChunkRecord record;
    while (readChunkRecord(scratch, record)) {
        if (entries == expected) return expected + 1;
        ++entries;
        if (!chunkSizesFilled && !patchU32(output, record.sizeFieldOffset, record.dataSize))
            return -1;
        if (record.isPalette != 0) {
            writeFourCC(output, kCodePaletteChunk);
            writeU32(output, kAviifNoTime);
            paletteSeen = true;
        } else {
            writeFourCC(output, kCodeFrameChunk);
            writeU32(output, kAviifKeyFrame);
        }
        writeU32(output, chunkOffset);
        writeU32(output, record.dataSize);
        chunkOffset += record.dataSize + kChunkHeaderSize;
    }
    return entries;
}

// The header's sizes and counts, known once every chunk is written.
bool patchHeaderSizes(OutputWriter& output, int64_t idx1SizePos, int64_t indexSize,
                      bool paletteSeen) {
    const AviLayout& layout = gState.layout;
    const auto frames = static_cast<uint32_t>(gState.frameCount);
    const auto largest = static_cast<uint32_t>(gState.largestChunk);
    const uint32_t maxBytesPerSec =
        truncateToFieldHeld(static_cast<double>(gState.largestChunk) * gState.framesPerSecond);
    return patchU32(output, layout.avihSizePos + kAvihTotalFrames, frames) &&
           patchU32(output, layout.strhSizePos + kStrhLength, frames) &&
           patchU32(output, layout.riffSizePos, static_cast<uint32_t>(layout.riffSize)) &&
           patchU32(output, layout.hdrlSizePos, static_cast<uint32_t>(layout.hdrlSize)) &&
           patchU32(output, layout.avihSizePos, static_cast<uint32_t>(layout.avihSize)) &&
           patchU32(output, layout.avihSizePos + kAvihMaxBytesPerSec, maxBytesPerSec) &&
           patchU32(output, layout.avihSizePos + kAvihSuggestedBufferSize, largest) &&
           patchU32(output, layout.strlSizePos, static_cast<uint32_t>(layout.strlSize)) &&
           patchU32(output, layout.strhSizePos, static_cast<uint32_t>(layout.strhSize)) &&
           patchU32(output, layout.strhSizePos + kStrhFlags,
                    paletteSeen ? kAvisfVideoPaletteChanges : 0) &&
           patchU32(output, layout.strhSizePos + kStrhSuggestedBufferSize, largest) &&
           patchU32(output, layout.strfSizePos, kStreamFormatSize) &&
           patchU32(output, layout.moviSizePos, static_cast<uint32_t>(layout.moviSize)) &&
           patchU32(output, idx1SizePos, static_cast<uint32_t>(indexSize));
}

}  // namespace

int finishAvi(OutputWriter& output, const ChunkWriterState& chunks, std::FILE* scratch) {
    AviLayout& layout = gState.layout;
    const int64_t expected = int64_t{gState.frameCount} + gState.paletteChangeCount;
    std::rewind(scratch);
    const int64_t moviEnd = writerPosition(output);
    layout.moviSize = moviEnd - layout.moviCodePos;

    const std::string tagText = buildTagText();
    const int64_t finalSize = moviEnd + kChunkHeaderSize + kIndexEntrySize * expected +
                              kChunkHeaderSize + static_cast<int64_t>(tagText.size());
    if (outgrowsLimit(output, finalSize)) return 0;

    int64_t idx1SizePos = 0;
    writeChunkHeader(output, kCodeIdx1, &idx1SizePos);
    const int64_t entriesStart = writerPosition(output);
    bool paletteSeen = false;
    const int64_t entries =
        writeIndexEntries(output, chunks.chunkSizesFilled, scratch, expected, paletteSeen);
    if (entries < 0) return outputWriteError(output.error);
    if (entries != expected) {
        setIndexCountError(entries, entries > expected, expected);
        return 0;
    }
    const int64_t indexSize = writerPosition(output) - entriesStart;

    writeChunkHeader(output, kCodeJunk);
    writeU32(output, static_cast<uint32_t>(tagText.size()));
    for (char character : tagText)
        writeU8(output, static_cast<uint8_t>(character));
    layout.riffSize = writerPosition(output) - layout.riffSizePos - 4;

    const bool patched = patchHeaderSizes(output, idx1SizePos, indexSize, paletteSeen);
    if (!patched || !flushWriter(output)) return outputWriteError(output.error);

    const uint32_t fileSize = static_cast<uint32_t>(layout.riffSize + 4);
    if (fileSize > kPlayerFileSizeLimit) {
        addWarningText(
            "The size of the converted AVI file is %u, which is greater than the maximum "
            "allowed AVI file size (%u). Some AVI players may be unable to play this animation.",
            fileSize, kPlayerFileSizeLimit);
    }
    return 1;
}
