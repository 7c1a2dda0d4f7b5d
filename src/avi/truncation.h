// Turning a double into a 32-bit header or report field.
#pragma once

#include <cmath>
#include <cstdint>

// Rounds toward zero to a signed 64-bit integer and keeps its low 32 bits.
// NaN, infinities and values outside the signed 64-bit range give 0.
inline uint32_t truncateToField(double value) {
    constexpr double kInt64Limit = 9223372036854775808.0;  // 2^63
    if (!std::isfinite(value) || value >= kInt64Limit || value < -kInt64Limit) return 0;
    return static_cast<uint32_t>(static_cast<uint64_t>(static_cast<int64_t>(value)));
}

inline constexpr double kFieldLimit = 4294967296.0;  // 2^32

// True when value, rounded toward zero, is a whole number from 1 to 2^32 - 1:
// it fits the field and is not 0 there.
inline bool fitsFieldAboveZero(double value) {
    return std::isfinite(value) && value >= 1.0 && value < kFieldLimit;
}

// As truncateToField for a value that cannot be below 0, but held at 2^32 - 1
// where it would go past it.
inline uint32_t truncateToFieldHeld(double value) {
    if (value >= kFieldLimit) return UINT32_MAX;
    return truncateToField(value);
}
