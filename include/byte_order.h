// Little-endian values in byte arrays, and 64-bit seeks on C streams.
#pragma once

#include <cstdint>
#include <cstdio>

inline void putLe32(uint8_t* bytes, uint32_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
    bytes[2] = static_cast<uint8_t>(value >> 16);
    bytes[3] = static_cast<uint8_t>(value >> 24);
}

inline uint32_t getLe32(const uint8_t* bytes) {
    return static_cast<uint32_t>(bytes[0]) | static_cast<uint32_t>(bytes[1]) << 8 |
           static_cast<uint32_t>(bytes[2]) << 16 | static_cast<uint32_t>(bytes[3]) << 24;
}

// Seeks like fseek with a 64-bit offset; true on success.
inline bool seekStream(std::FILE* stream, int64_t offset, int whence) {
#if defined(_WIN32)
    return _fseeki64(stream, offset, whence) == 0;
#else
    return fseeko(stream, static_cast<off_t>(offset), whence) == 0;
#endif
}
