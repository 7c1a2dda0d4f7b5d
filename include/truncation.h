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
