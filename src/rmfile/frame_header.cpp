#include "rmfile/frame_header.h"

#include <cstdint>

#include "io/little_endian.h"
#include "platform/file_system.h"
#include "rmfile/format_errors.h"
#include "rmfile/rm_format.h"

FrameHeaderFault readFrameHeader(InputReader& input, const FrameSize* first, FrameSize& size) {
    if (readU32(input) != kFrameMark) return FrameHeaderFault::kNoMark;
    size.width = static_cast<int32_t>(readU32(input));
    size.height = static_cast<int32_t>(readU32(input));
    // Both bad: the height is the one reported, as it always was.
    if (size.height <= 0) return FrameHeaderFault::kHeight;
    if (size.width <= 0) return FrameHeaderFault::kWidth;
    if (first != nullptr && (size.width != first->width || size.height != first->height)) {
        return FrameHeaderFault::kSizeDiffers;
    }
    return FrameHeaderFault::kNone;
}

bool readBeginImage(InputReader& input) {
    uint16_t word = 0;
    return readU16(input, word) && wordKind(word) == kBeginImage;
}

int checkFrameHeader(InputReader& input) {
    const int frameNumber = gState.frameCount + 1;
    const int64_t frameStart = readerPosition(input);
    const FrameSize first{gState.width, gState.height};
    FrameSize size;
    switch (readFrameHeader(input, gState.frameCount > 0 ? &first : nullptr, size)) {
        case FrameHeaderFault::kNone:
            seekReader(input, frameStart);
            return 1;
        case FrameHeaderFault::kNoMark:
            setFormatError(kErrorFrameMark, frameStart);
            return 0;
        case FrameHeaderFault::kWidth:
            setErrorText("Width of frame %d must be > 0", frameNumber);
            return 0;
        case FrameHeaderFault::kHeight:
            setErrorText("Height of frame %d must be > 0", frameNumber);
            return 0;
        case FrameHeaderFault::kSizeDiffers:
            setErrorText(
                "\nWidth and/or height of frame %d is not equal to the width\n"
                "and/or height of the first frame.\n"
                "Frame 1   width:  %d\n"
                "Frame 1   height: %d\n"
                "Frame %d  width:  %d\n"
                "Frame %d  height: %d\n",
                frameNumber, first.width, first.height, frameNumber, size.width, frameNumber,
                size.height);
            return 0;
    }
    return 0;
}

void readPalette(InputReader& input, Palette& palette) {
    // Each table word carries its intensity in the low byte; the high byte is noise.
    constexpr auto kEntries = static_cast<size_t>(kPaletteEntries);
    constexpr size_t kTablesBytes = 3 * 2 * kEntries;
    if (input.filled - input.next >= kTablesBytes) {  // straight from the window
        const uint8_t* const tables = input.window.data() + input.next;
        for (size_t i = 0; i < kEntries; ++i) {
            palette[i] = {tables[2 * i], tables[2 * (kEntries + i)],
                          tables[2 * (2 * kEntries + i)]};
        }
        input.next += kTablesBytes;
        return;
    }
    uint16_t word = 0;
    for (PaletteEntry& entry : palette) {
        entry.red = readU16(input, word) ? static_cast<uint8_t>(word) : 0;
    }
    for (PaletteEntry& entry : palette) {
        entry.green = readU16(input, word) ? static_cast<uint8_t>(word) : 0;
    }
    for (PaletteEntry& entry : palette) {
        entry.blue = readU16(input, word) ? static_cast<uint8_t>(word) : 0;
    }
}

void skipFiller(InputReader& input) {
    uint16_t word = 0;
    while (readU16(input, word) && word == kFillerWord && !readerAtEnd(input)) {
    }
    seekReader(input, readerPosition(input) - 2);
}

bool findNextFrame(InputReader& input) {
    uint32_t window = 0xFFFFFFFF;  // the last four bytes passed over, newest in the top byte
    bool missedMark = false;
    while (!readerAtEnd(input)) {
        uint32_t value = 0;
        int bytesRead = 0;
        for (; bytesRead < 4; ++bytesRead) {
            const int byte = readByte(input);
            if (byte == EOF) break;
            value |= static_cast<uint32_t>(byte) << (8 * bytesRead);
            window = (window >> 8) | (static_cast<uint32_t>(byte) << 24);
            if (window == kFrameMark && bytesRead < 3) missedMark = true;
        }
        if (bytesRead == 4 && value == kFrameMark) {
            seekReader(input, readerPosition(input) - 4);
            return false;
        }
    }
    return missedMark;
}

bool beginsWithFrameMark(std::FILE* stream) {
    uint8_t mark[4];
    return std::fread(mark, 1, sizeof mark, stream) == sizeof mark && getLe32(mark) == kFrameMark;
}

bool readFirstFrameSize(std::FILE* stream, FrameSize& size) {
    uint8_t fields[kHeightOffset + 4];
    if (!canSeek(stream) || !seekStream(stream, 0, SEEK_SET)) return false;
    const bool read = std::fread(fields, 1, sizeof fields, stream) == sizeof fields;
    if (!seekStream(stream, 0, SEEK_SET) || !read || getLe32(fields) != kFrameMark) return false;
    size.width = static_cast<int32_t>(getLe32(fields + kWidthOffset));
    size.height = static_cast<int32_t>(getLe32(fields + kHeightOffset));
    return true;
}
