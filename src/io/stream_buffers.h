// The conversion's input reader and output writer: C streams read and written
// through windows of their own, so that reading a word, asking for the position
// or seeking back to a row costs no call into the C library while the bytes are
// in the window. Little-endian values are read and written here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>

#include "io/little_endian.h"
#include "platform/system_errors.h"

// Blocks start on a cache line: the system copies a read into a buffer that
// does not several times slower (four times, measured on an x86-64 machine).
inline constexpr std::align_val_t kBlockAlignment{64};

struct AlignedRelease {
    void operator()(uint8_t* bytes) const { ::operator delete[](bytes, kBlockAlignment); }
};

// A block of bytes left uninitialised: a window or buffer is only ever read
// where it was filled, and untouched pages of a large one cost nothing. It is
// its own, or lent by a caller who keeps it for as long as it is used.
struct ByteBlock {
    std::unique_ptr<uint8_t[], AlignedRelease> owned;
    uint8_t* bytes = nullptr;
    size_t length = 0;
    void allocate(size_t size) {
        owned.reset(static_cast<uint8_t*>(::operator new[](size, kBlockAlignment)));
        bytes = owned.get();
        length = size;
    }
    void allocateOrBorrow(uint8_t* lent, size_t size) {
        if (lent == nullptr) return allocate(size);
        owned.reset();
        bytes = lent;
        length = size;
    }
    uint8_t* data() const { return bytes; }
    size_t size() const { return length; }
    uint8_t& operator[](size_t at) const { return bytes[at]; }
};

struct InputReader {
    std::FILE* stream = nullptr;
    ByteBlock window;
    size_t next = 0;          // index in window of the next byte to read
    size_t filled = 0;        // bytes of window that hold input
    int64_t windowStart = 0;  // input position of window[0]
    int64_t keepFrom = -1;    // moving on keeps the bytes from here, while they fit
    bool ended = false;       // a read found the end of the input (cleared by a seek)
    bool failed = false;      // a read or seek failed
    SystemError error;        // the system's reason for the first failure
};

// Reads stream, from its start, through a window of the given size.
// The window is window's windowSize bytes when given, else the reader's own.
void attachReader(InputReader& reader, std::FILE* stream, size_t windowSize,
                  uint8_t* window = nullptr);

// Moves the window on, keeping the last few bytes read and the bytes from
// keepFrom (the first of a run of rows, which their seeks come back to) when
// they leave room to read on; false, with ended or failed set, when nothing
// more came.
bool refillReader(InputReader& reader);

// Seeks to an absolute input position and clears ended; false when the stream
// cannot seek there. A seek backwards past the window loads the bytes before the
// target too, since rows are visited bottom row first.
bool seekReader(InputReader& reader, int64_t position);

inline int64_t readerPosition(const InputReader& reader) {
    return reader.windowStart + static_cast<int64_t>(reader.next);
}

inline bool readerAtEnd(const InputReader& reader) {
    return reader.ended || reader.failed;
}

// The next byte, or EOF at the end of the input.
inline int readByte(InputReader& reader) {
    if (reader.next == reader.filled && !refillReader(reader)) return EOF;
    return reader.window[reader.next++];
}

// Reads a 16-bit value; false (value undefined) when the input ends or fails
// before the whole value was read.
inline bool readU16(InputReader& reader, uint16_t& value) {
    if (reader.filled - reader.next >= 2) {
        value = getLe16(reader.window.data() + reader.next);
        reader.next += 2;
        return true;
    }
    uint8_t bytes[2];
    for (uint8_t& byte : bytes) {
        const int read = readByte(reader);
        if (read == EOF) return false;
        byte = static_cast<uint8_t>(read);
    }
    value = getLe16(bytes);
    return true;
}

// Reads a 32-bit value; bytes missing at the end of the input read as 0 and the
// reader's ended or failed flag tells.
inline uint32_t readU32(InputReader& reader) {
    uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int byte = readByte(reader);
        if (byte == EOF) return value;
        value |= static_cast<uint32_t>(byte) << shift;
    }
    return value;
}

struct OutputWriter {
    std::FILE* stream = nullptr;  // unbuffered: the writer's buffer is the only one
    ByteBlock buffer;
    size_t used = 0;
    int64_t bufferStart = 0;  // output position of buffer[0]
    int64_t streamAt = 0;     // where the stream's own position stands
    int64_t limit = 0;        // the file never grows past this many bytes
    bool failed = false;      // a write or seek failed
    bool overLimit = false;   // bytes past the limit were refused
    SystemError error;        // the system's reason for the first failure
};

// Writes stream, from its start, through a buffer of the given size; bytes at
// that would take the file past limit bytes are never written.
// The buffer is buffer's bufferSize bytes when given, else the writer's own.
void attachWriter(OutputWriter& writer, std::FILE* stream, size_t bufferSize, int64_t limit,
                  uint8_t* buffer = nullptr);

// Starts writing the file again at its first byte, over what it holds. The
// file is not emptied (emptying a file the system is still writing out can
// cost more than writing it), so the caller cuts what is left past the end.
void restartWriter(OutputWriter& writer);

// Writes bytes at the current position.
void writeBytes(OutputWriter& writer, const uint8_t* bytes, size_t count);

// Writes out the buffer; false when the writer has failed or gone over its limit.
bool flushWriter(OutputWriter& writer);

// Writes a 32-bit value at an earlier position, then goes on where it was.
bool patchU32(OutputWriter& writer, int64_t position, uint32_t value);

inline int64_t writerPosition(const OutputWriter& writer) {
    return writer.bufferStart + static_cast<int64_t>(writer.used);
}

inline bool writerFailed(const OutputWriter& writer) {
    return writer.failed || writer.overLimit;
}

inline void writeU8(OutputWriter& writer, uint8_t value) {
    if (writer.used == writer.buffer.size()) flushWriter(writer);
    writer.buffer[writer.used++] = value;
}

inline void writeU16(OutputWriter& writer, uint16_t value) {
    uint8_t bytes[2];
    putLe16(bytes, value);
    writeU8(writer, bytes[0]);
    writeU8(writer, bytes[1]);
}

inline void writeU32(OutputWriter& writer, uint32_t value) {
    uint8_t bytes[4];
    putLe32(bytes, value);
    for (const uint8_t byte : bytes)
        writeU8(writer, byte);
}

// A four-character code as its four ASCII bytes.
inline void writeFourCC(OutputWriter& writer, const char code[5]) {
    for (int i = 0; i < 4; ++i)
        writeU8(writer, static_cast<uint8_t>(code[i]));
}
