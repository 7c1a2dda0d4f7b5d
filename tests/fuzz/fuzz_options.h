// How the fuzz target draws the converter's options, and the way it runs the
// frame scan, from its input; shared with the seed corpus generator so that
// seeds can ask for particular ones.
//
// They come from the bytes at offsets 12 to 14, the first of the frame
// header's unread bytes: the converter never looks at them, so seed files
// stay valid metafiles and the mutator changes a choice by changing one byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace fuzzopt {

inline constexpr size_t kOptionByteOffset = 12;

// Bit 0: -m; bits 1-2: index into kDotIntervals; bits 3-5: index into kFrameRates;
// bits 6 and 7 both set: -p. A conversion with -p costs several without (a
// colour histogram, the table's choice, often a second go), so a quarter of
// the inputs rather than half ask for it.
inline constexpr int kDotIntervals[] = {0, 1, 7, std::numeric_limits<int32_t>::max()};
// The default rate, then the rates the command line can give that stress the
// header's truncated fields: zero, a fraction, tiny, huge, and infinity ("-s 1e999").
inline constexpr double kFrameRates[] = {
    10.0, 0.0, 29.97, 0.5, 1e-300, 1e30, 1e6, std::numeric_limits<double>::infinity()};

struct Options {
    bool multiPalette = false;
    int dotInterval = 0;
    double framesPerSecond = 10.0;
    bool sharedPalette = false;
};

inline Options decode(uint8_t bits) {
    return Options{(bits & 1u) != 0, kDotIntervals[(bits >> 1) & 3u], kFrameRates[(bits >> 3) & 7u],
                   (bits & 0xC0u) == 0xC0u};
}

inline constexpr uint8_t encode(bool multiPalette, unsigned dotIndex, unsigned rateIndex,
                                bool sharedPalette = false) {
    return static_cast<uint8_t>((multiPalette ? 1u : 0u) | (dotIndex & 3u) << 1 |
                                (rateIndex & 7u) << 3 | (sharedPalette ? 0xC0u : 0u));
}

// Byte 13 chooses how the frame scan meets the input. Bits 0-1: the kernel,
// counted modulo the kernels this processor runs (plain, SSSE3, AVX2); bits
// 2-4: the input window's size; bits 5-7: the output buffer's, whose staging
// is twice as large and holds a piece per 8 bytes. Tiny odd windows make
// every word cross a window edge; 17, 33 and 67 lie just above a block of the
// SSSE3 kernel (8 words, 16 bytes), of the AVX2 kernel (32 words, 64 bytes)
// and of the room a kernel asks for (64 bytes). Buffers of 7 and 9 bytes
// stage too little for most rows, so that frames go row by row and word by
// word; 33 and 67 stage a few rows at a time (bands); 1031 and 4099 stage
// small frames whole and larger ones in bands.
inline constexpr size_t kScanByteOffset = 13;
inline constexpr size_t kWindowSizes[] = {5, 9, 17, 33, 61, 67, 131, size_t{1} << 20};
inline constexpr size_t kBufferSizes[] = {7, 9, 33, 67, 257, 1031, 4099, size_t{1} << 20};

// Byte 14. Bits 0-4 all clear: the whole program converts the input too, from
// a file to a file (one input in 32, and every input too short to hold the
// byte). Bits 6 and 7 both set, with -p: the frame scan counts the colours in
// a first pass before converting, as for an output the program writes in
// place, instead of building the table in one pass as the frames come (and
// counting them only when they do not fit it). Bit 5: -g, an animated GIF
// instead of an AVI file (a rate too slow for its delays becomes the default,
// as the command line refuses it).
inline constexpr size_t kRunByteOffset = 14;

struct ScanChoice {
    unsigned kernel = 0;
    size_t window = kWindowSizes[0];
    size_t buffer = kBufferSizes[0];
    bool wholeProgram = true;
    bool twoPasses = false;
    bool gif = false;
};

inline ScanChoice decodeScan(uint8_t scanBits, uint8_t runBits) {
    return ScanChoice{scanBits & 3u,
                      kWindowSizes[(scanBits >> 2) & 7u],
                      kBufferSizes[(scanBits >> 5) & 7u],
                      (runBits & 0x1Fu) == 0,
                      (runBits & 0xC0u) == 0xC0u,
                      (runBits & 0x20u) != 0};
}

inline constexpr uint8_t encodeScan(unsigned kernel, unsigned windowIndex, unsigned bufferIndex) {
    return static_cast<uint8_t>((kernel & 3u) | (windowIndex & 7u) << 2 | (bufferIndex & 7u) << 5);
}

inline constexpr uint8_t encodeRun(bool wholeProgram, bool twoPasses, bool gif = false) {
    return static_cast<uint8_t>((wholeProgram ? 0u : 1u) | (twoPasses ? 0xC0u : 0u) |
                                (gif ? 0x20u : 0u));
}

}  // namespace fuzzopt
