#include "io/stream_buffers.h"

#include <algorithm>
#include <cstring>

#include "io/little_endian.h"
#include "platform/file_system.h"

void attachReader(InputReader& reader, std::FILE* stream, size_t windowSize, uint8_t* window) {
    reader = InputReader{};
    reader.stream = stream;
    reader.window.allocateOrBorrow(window, windowSize);
    std::setvbuf(stream, nullptr, _IONBF, 0);  // the window is the buffer
}

namespace {

// A failure is kept with the system's reason for it; the first one is the cause.
void noteReadFailure(InputReader& reader) {
    if (!reader.failed) reader.error = lastSystemError();
    reader.failed = true;
}

void noteWriteFailure(OutputWriter& writer) {
    if (!writer.failed) writer.error = lastSystemError();
    writer.failed = true;
}

// The last bytes read stay in the window when it moves on, so that stepping
// back over a word or a frame mark just read needs no new read. Bytes are kept
// in whole cache lines, so that the read after them lands on one (the window
// starts on one): the system copies into a misaligned buffer several times
// slower.
constexpr size_t kReadAlignment = 64;
constexpr size_t kStepBackReach = kReadAlignment;

// The input is read a piece at a time, so that the bytes just read are still
// in the processor's cache when they are used. A piece goes to the window's
// start, which is cached too, unless bytes from keepFrom are kept for seeks
// back: then it goes after them while there is room.
constexpr size_t kLargestReadPiece = size_t{256} << 10;

size_t readPieceSize(const InputReader& reader) {
    return std::clamp<size_t>(reader.window.size() / 4, 1, kLargestReadPiece);
}

bool keepsRows(const InputReader& reader) {
    return reader.keepFrom >= reader.windowStart &&
           reader.keepFrom < reader.windowStart + static_cast<int64_t>(reader.filled);
}

// Moves the bytes worth keeping to the window's start.
void slideWindow(InputReader& reader) {
    const int64_t windowEnd = reader.windowStart + static_cast<int64_t>(reader.filled);
    size_t kept = std::min(reader.filled, std::min(kStepBackReach, reader.window.size() / 2));
    if (keepsRows(reader) &&
        windowEnd - reader.keepFrom <= static_cast<int64_t>(reader.window.size() / 8 * 7)) {
        kept = std::max(kept, static_cast<size_t>(windowEnd - reader.keepFrom));
        const size_t wholeLines = (kept + kReadAlignment - 1) / kReadAlignment * kReadAlignment;
        if (wholeLines <= reader.filled && wholeLines < reader.window.size()) kept = wholeLines;
    }
    std::memmove(reader.window.data(), reader.window.data() + reader.filled - kept, kept);
    reader.windowStart = windowEnd - static_cast<int64_t>(kept);
    reader.next -= reader.filled - kept;
    reader.filled = kept;
}

// Reads a piece into the room after the bytes held; false when fewer bytes
// came (the end of the input, or failed set).
bool readPiece(InputReader& reader) {
    const size_t wanted = std::min(readPieceSize(reader), reader.window.size() - reader.filled);
    const size_t got = std::fread(reader.window.data() + reader.filled, 1, wanted, reader.stream);
    reader.filled += got;
    if (got == wanted) return true;
    if (std::ferror(reader.stream)) noteReadFailure(reader);
    return false;
}

}  // namespace

bool refillReader(InputReader& reader) {
    if (reader.failed) return false;
    if (!keepsRows(reader) || reader.window.size() - reader.filled < readPieceSize(reader)) {
        slideWindow(reader);
    }
    const size_t held = reader.filled;
    readPiece(reader);
    if (reader.filled > held) return true;
    if (!reader.failed) reader.ended = true;
    return false;
}

bool seekReader(InputReader& reader, int64_t position) {
    if (position < 0) return false;
    reader.ended = false;
    const int64_t windowEnd = reader.windowStart + static_cast<int64_t>(reader.filled);
    if (position >= reader.windowStart && position <= windowEnd) {
        reader.next = static_cast<size_t>(position - reader.windowStart);
        return true;
    }
    // Going back, the rows above the target come next: keep most of the window
    // before it. Going forward, the window starts at the target.
    int64_t start = position;
    if (position < reader.windowStart) {
        const auto before = static_cast<int64_t>(reader.window.size() / 4 * 3);
        start = position > before ? position - before : 0;
    }
    if (!seekStream(reader.stream, start, SEEK_SET)) {
        noteReadFailure(reader);
        return false;
    }
    reader.windowStart = start;
    reader.next = 0;
    reader.filled = 0;
    if (start == position) return true;
    if (reader.failed) return false;
    while (reader.filled < reader.window.size() && readPiece(reader)) {
    }
    if (reader.filled == 0) {
        if (!reader.failed) reader.ended = true;
        return false;
    }
    const auto offset = static_cast<size_t>(position - start);
    if (offset > reader.filled) return false;  // the input is shorter than the target
    reader.next = offset;
    return true;
}

void attachWriter(OutputWriter& writer, std::FILE* stream, size_t bufferSize, int64_t limit,
                  uint8_t* buffer) {
    writer = OutputWriter{};
    writer.stream = stream;
    writer.buffer.allocateOrBorrow(buffer, bufferSize);
    writer.limit = limit;
    std::setvbuf(stream, nullptr, _IONBF, 0);  // the buffer is the writer's own
}

void writeBytes(OutputWriter& writer, const uint8_t* bytes, size_t count) {
    while (count > 0) {
        if (writer.used == writer.buffer.size()) flushWriter(writer);
        const size_t piece = std::min(count, writer.buffer.size() - writer.used);
        std::memcpy(writer.buffer.data() + writer.used, bytes, piece);
        writer.used += piece;
        bytes += piece;
        count -= piece;
    }
}

bool flushWriter(OutputWriter& writer) {
    const int64_t end = writerPosition(writer);
    if (end > writer.limit) writer.overLimit = true;
    if (!writerFailed(writer) && writer.used > 0) {
        if (writer.streamAt != writer.bufferStart &&
            !seekStream(writer.stream, writer.bufferStart, SEEK_SET)) {
            noteWriteFailure(writer);
        } else if (std::fwrite(writer.buffer.data(), 1, writer.used, writer.stream) !=
                   writer.used) {
            noteWriteFailure(writer);
        }
        writer.streamAt = end;
    }
    // After a failure the bytes are dropped but positions still advance, so
    // that callers see where the file would have stood.
    writer.bufferStart = end;
    writer.used = 0;
    return !writerFailed(writer);
}

bool patchU32(OutputWriter& writer, int64_t position, uint32_t value) {
    if (position < 0 || position + 4 > writerPosition(writer)) return false;
    uint8_t bytes[4];
    putLe32(bytes, value);
    int copied = 0;
    // The bytes still in the buffer change there; the rest go to the file.
    for (int i = 0; i < 4; ++i) {
        if (position + i >= writer.bufferStart) {
            writer.buffer[static_cast<size_t>(position + i - writer.bufferStart)] = bytes[i];
            ++copied;
        }
    }
    if (copied == 4 || writerFailed(writer)) return !writerFailed(writer);
    const auto onFile = static_cast<size_t>(4 - copied);
    if (!seekStream(writer.stream, position, SEEK_SET) ||
        std::fwrite(bytes, 1, onFile, writer.stream) != onFile) {
        noteWriteFailure(writer);
        return false;
    }
    writer.streamAt = position + static_cast<int64_t>(onFile);
    return true;
}

void restartWriter(OutputWriter& writer) {
    writer.used = 0;
    writer.bufferStart = 0;
}
