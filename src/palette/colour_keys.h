// A colour packed into one 32-bit key for the palette's hash tables, and the
// one hash that spreads such keys over a table's slots.
#pragma once

#include <cstddef>
#include <cstdint>

#include "conversion_state.h"

// The top byte marks a key as held, so that 0 means an empty slot.
inline constexpr uint32_t kKeyHeld = uint32_t{1} << 24;

// The colour with droppedBits low bits of each channel gone.
inline uint32_t colourKey(const PaletteEntry& colour, int droppedBits = 0) {
    return kKeyHeld | uint32_t{static_cast<uint8_t>(colour.red >> droppedBits)} << 16 |
           uint32_t{static_cast<uint8_t>(colour.green >> droppedBits)} << 8 |
           uint32_t{static_cast<uint8_t>(colour.blue >> droppedBits)};
}

// Multiplicative hashing: the key's bits reach the product's high bits, from
// which a table of 2^bits slots takes its slot.
inline size_t keySlot(uint32_t key, int bits) {
    return static_cast<size_t>((key * 2654435761u) >> (32 - bits));
}
