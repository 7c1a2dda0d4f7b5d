// Eight pixels at a time in one 64-bit word: loads and stores at any address,
// and masks that mark bytes with 0x80. Counts and tests of such masks do not
// depend on the byte order; where a mark lies does, and markedByte finds it.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

inline constexpr size_t kGifWordBytes = 8;
inline constexpr uint64_t kGifLowSevenBits = 0x7F7F7F7F7F7F7F7F;
inline constexpr uint64_t kGifHighBits = 0x8080808080808080;
inline constexpr uint64_t kGifEveryByte = 0x0101010101010101;

inline uint64_t loadWord(const uint8_t* bytes) {
    uint64_t word = 0;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

inline void storeWord(uint8_t* bytes, uint64_t word) {
    std::memcpy(bytes, &word, sizeof word);
}

// 0x80 in each byte of word that is not zero, 0 in the others.
inline uint64_t nonzeroBytes(uint64_t word) {
    return (((word & kGifLowSevenBits) + kGifLowSevenBits) | word) & kGifHighBits;
}

// How many bytes a mask of nonzeroBytes marks: the marks, moved to bit 0 of
// their bytes, summed into the top byte.
inline int64_t markedBytes(uint64_t marks) {
    return static_cast<int64_t>(((marks >> 7) * kGifEveryByte) >> 56);
}

// 0xFF in each byte that a mask of nonzeroBytes marks, 0 in the others.
inline uint64_t widenMarks(uint64_t marks) {
    return (marks >> 7) * 0xFF;
}

// Where in its word the lowest bit of a nonzero mask of nonzeroBytes lies: a
// byte's offset from the word's first byte.
inline size_t markedByte(uint64_t marks) {
    const auto byte = static_cast<size_t>(std::countr_zero(marks)) / 8;
    if constexpr (std::endian::native == std::endian::little) return byte;
    return kGifWordBytes - 1 - byte;
}
