#include "palette/slot_rule.h"

#include <tuple>

#include "palette/colour_keys.h"

namespace {

// The slot table has 2 * 256 places.
constexpr int kSlotTableBits = 9;
static_assert(size_t{1} << kSlotTableBits == std::tuple_size_v<decltype(LiveTable::slotKeys)>);

size_t liveHome(uint32_t key) {
    return keySlot(key, kSlotTableBits);
}

// The slot that colour took, or -1.
int liveSlot(const LiveTable& live, uint32_t key) {
    for (size_t at = liveHome(key);; at = (at + 1) % live.slotKeys.size()) {
        if (live.slotKeys[at] == key) return live.slotOf[at];
        if (live.slotKeys[at] == 0) return -1;
    }
}

void takeSlot(LiveTable& live, unsigned slot, const PaletteEntry& colour) {
    live.table[slot] = colour;
    live.taken[slot / 64] |= uint64_t{1} << (slot % 64);
    const uint32_t key = colourKey(colour);
    size_t at = liveHome(key);
    while (live.slotKeys[at] != 0 && live.slotKeys[at] != key)
        at = (at + 1) % live.slotKeys.size();
    if (live.slotKeys[at] == key) return;  // the colour has a slot already
    live.slotKeys[at] = key;
    live.slotOf[at] = static_cast<uint8_t>(slot);
    ++live.colours;
}

// The lowest free slot that holds colour, else the lowest free one; -1 when
// none is left.
int freeSlotFor(LiveTable& live, const PaletteEntry& colour) {
    while (live.nextFree < kPaletteEntries && indexUsed(live.taken, live.nextFree))
        ++live.nextFree;
    for (unsigned slot = live.nextFree; slot < kPaletteEntries; ++slot) {
        if (!indexUsed(live.taken, slot) && live.table[slot] == colour)
            return static_cast<int>(slot);
    }
    if (live.nextFree == kPaletteEntries) return -1;
    return static_cast<int>(live.nextFree);
}

// The slot for the colour at index of a frame's table, by the exact table's
// rule (slot_rule.h); -1 when no slot is left.
int exactSlot(LiveTable& live, unsigned index, const PaletteEntry& colour) {
    const bool holdsIt = live.table[index] == colour;
    if (holdsIt && indexUsed(live.taken, index)) return static_cast<int>(index);
    if (holdsIt && !live.oneSlotPerColour) {
        takeSlot(live, index, colour);
        return static_cast<int>(index);
    }
    const int taken = liveSlot(live, colourKey(colour));
    if (taken >= 0) return taken;
    const int slot = freeSlotFor(live, colour);
    if (slot >= 0) takeSlot(live, static_cast<unsigned>(slot), colour);
    return slot;
}

bool covers(const UsedIndexes& all, const UsedIndexes& some) {
    for (size_t i = 0; i < all.size(); ++i) {
        if ((some[i] & ~all[i]) != 0) return false;
    }
    return true;
}

}  // namespace

int finishedSlot(const LiveTable& live, unsigned index, const PaletteEntry& colour) {
    if (indexUsed(live.taken, index) && live.table[index] == colour) return static_cast<int>(index);
    return liveSlot(live, colourKey(colour));
}

bool mapLiveFrame(LiveTable& live, const Palette& table, const UsedIndexes& used,
                  ColourIndexes& map) {
    if (live.failed) return false;
    if (live.frames == 0) {
        live.table = table;
        live.firstTable = table;
    } else if (samePalette(table, live.lastTable) && covers(live.lastUsed, used)) {
        map = live.lastMap;  // the commonest case: the table and colours of the frame before
        ++live.frames;
        return true;
    }
    map = identityIndexes();
    for (unsigned index = 0; index < kPaletteEntries; ++index) {
        if (!indexUsed(used, index)) continue;
        const int slot = exactSlot(live, index, table[index]);
        if (slot < 0) {
            live.failed = true;
            return false;
        }
        map[index] = static_cast<uint8_t>(slot);
    }
    live.lastTable = table;
    live.lastUsed = used;
    live.lastMap = map;
    ++live.frames;
    return true;
}

bool secondTableFindsHalfFull(LiveTable& live, const Palette& table) {
    if (live.frames == 0 || live.secondTableSeen || samePalette(table, live.firstTable)) {
        return false;
    }
    live.secondTableSeen = true;
    return live.colours > kPaletteEntries / 2;
}
