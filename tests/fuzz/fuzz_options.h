// How the fuzz target draws the converter's options from its input, shared with
// the seed corpus generator so that seeds can ask for particular options.
//
// The options come from the byte at offset 12, the first of the frame header's
// unread bytes: the converter never looks at it, so seed files stay valid
// metafiles and the mutator flips options by changing one byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>

namespace fuzzopt {

inline constexpr size_t kOptionByteOffset = 12;

// Bit 0: -m; bits 1-2: index into kDotIntervals; bits 3-5: index into kFrameRates;
// bit 6: -p.
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
                   (bits & 0x40u) != 0};
}

inline constexpr uint8_t encode(bool multiPalette, unsigned dotIndex, unsigned rateIndex,
                                bool sharedPalette = false) {
    return static_cast<uint8_t>((multiPalette ? 1u : 0u) | (dotIndex & 3u) << 1 |
                                (rateIndex & 7u) << 3 | (sharedPalette ? 0x40u : 0u));
}

}  // namespace fuzzopt
