// Little-endian values in byte arrays.
#pragma once

#include <cstdint>

inline void putLe16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

inline uint16_t getLe16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
}

inline void putLe32(uint8_t* bytes, uint32_t value) {
    putLe16(bytes, static_cast<uint16_t>(value));
    putLe16(bytes + 2, static_cast<uint16_t>(value >> 16));
}

inline uint32_t getLe32(const uint8_t* bytes) {
    return getLe16(bytes) | static_cast<uint32_t>(getLe16(bytes + 2)) << 16;
}
