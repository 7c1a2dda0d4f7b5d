// Little-endian value readers and writers over C buffered streams, and the
// 64-bit stream positioning every stage uses.
#pragma once

#include <cstdint>
#include <cstdio>

#if defined(_WIN32)
#define KESTRUP_GETC _getc_nolock
#define KESTRUP_PUTC _putc_nolock
#else
#define KESTRUP_GETC getc_unlocked
#define KESTRUP_PUTC putc_unlocked
#endif

// Each conversion stream has one user, so the per-call stream lock buys nothing.
inline int readByte(std::FILE* stream) {
    return KESTRUP_GETC(stream);
}
inline void writeByte(std::FILE* stream, uint8_t value) {
    KESTRUP_PUTC(value, stream);
}

// Reads a 16-bit value; false (value undefined) when the stream ends or fails
// before the whole value was read.
inline bool readU16(std::FILE* stream, uint16_t& value) {
    const int low = readByte(stream);
    const int high = readByte(stream);
    if (high == EOF || low == EOF) return false;
    value = static_cast<uint16_t>(low | (high << 8));
    return true;
}

// Reads a 32-bit value; missing bytes at the end of the stream read as 0 and
// the stream's end-of-file or error state tells the caller.
inline uint32_t readU32(std::FILE* stream) {
    uint32_t value = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const int byte = readByte(stream);
        if (byte == EOF) return value;
        value |= static_cast<uint32_t>(byte) << shift;
    }
    return value;
}

inline void writeU8(std::FILE* stream, uint8_t value) {
    writeByte(stream, value);
}

inline void writeU16(std::FILE* stream, uint16_t value) {
    writeByte(stream, static_cast<uint8_t>(value));
    writeByte(stream, static_cast<uint8_t>(value >> 8));
}

inline void writeU32(std::FILE* stream, uint32_t value) {
    writeByte(stream, static_cast<uint8_t>(value));
    writeByte(stream, static_cast<uint8_t>(value >> 8));
    writeByte(stream, static_cast<uint8_t>(value >> 16));
    writeByte(stream, static_cast<uint8_t>(value >> 24));
}

// A four-character code as its four ASCII bytes.
inline void writeFourCC(std::FILE* stream, const char code[5]) {
    for (int i = 0; i < 4; ++i)
        writeByte(stream, static_cast<uint8_t>(code[i]));
}

// Current position, -1 on failure.
inline int64_t streamPosition(std::FILE* stream) {
#if defined(_WIN32)
    return _ftelli64(stream);
#else
    return static_cast<int64_t>(ftello(stream));
#endif
}

// Seeks like fseek with a 64-bit offset; true on success.
inline bool seekStream(std::FILE* stream, int64_t offset, int whence) {
#if defined(_WIN32)
    return _fseeki64(stream, offset, whence) == 0;
#else
    return fseeko(stream, static_cast<off_t>(offset), whence) == 0;
#endif
}
