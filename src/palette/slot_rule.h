// The one rule that gives each colour of the frames a slot of one exact table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "conversion_state.h"
#include "rle8/rle8_transcoder.h"

// The indexes of a frame's table that its pixels use, one bit each.
using UsedIndexes = std::array<uint64_t, kPaletteEntries / 64>;

inline bool indexUsed(const UsedIndexes& used, size_t index) {
    return (used[index / 64] >> (index % 64) & 1) != 0;
}

inline void markIndexUsed(UsedIndexes& used, size_t index) {
    used[index / 64] |= uint64_t{1} << (index % 64);
}

// The exact table: the colours themselves, each given a slot by one rule, frame
// by frame in file order and, within a frame, index by index. The table starts
// as the first frame's, and the colour at index i of a frame goes to
//   1. slot i, when slot i is taken and holds that colour;
//   2. slot i, when slot i is free and holds it (left out with oneSlotPerColour);
//   3. the slot the colour took before;
//   4. the lowest free slot that holds it;
//   5. the lowest free slot, which then holds it;
// and the rule fails when no slot is free. So the first frame keeps its
// indexes, and a file of one table converts as it does without a shared one.
// When the first frame's table holds a colour at several indexes and room
// runs short, the rule is run again with oneSlotPerColour, which cannot fail
// while the frames use at most 256 colours. Both the conversion in one pass
// (the table built as the frames come, written into the header at the end)
// and the two passes (the table built by the first) follow this rule, so they
// write the same bytes.
struct LiveTable {
    Palette table{};
    UsedIndexes taken{};    // slots that hold a colour some frame uses
    int colours = 0;        // distinct colours the frames use
    int32_t frames = 0;     // frames mapped so far
    unsigned nextFree = 0;  // no slot below it is free
    bool oneSlotPerColour = false;
    bool failed = false;  // a frame's colour found no slot
    Palette firstTable{};
    bool secondTableSeen = false;  // a frame with a table other than the first's came
    // Where each colour taken stands: open addressing on its packed value.
    std::array<uint32_t, 2 * kPaletteEntries> slotKeys{};  // 1 << 24 | colour, or 0
    std::array<uint8_t, 2 * kPaletteEntries> slotOf{};
    // The last frame's table and map, for the frames after it with that table.
    Palette lastTable{};
    UsedIndexes lastUsed{};
    ColourIndexes lastMap = identityIndexes();
};

// The map of the frame after live.frames frames, whose table is table and
// whose pixels use the indexes used, by the exact table's rule: false, with
// live.failed set, when one of its colours finds no slot left.
bool mapLiveFrame(LiveTable& live, const Palette& table, const UsedIndexes& used,
                  ColourIndexes& map);

// Where the colour at index of a frame's table stands in the finished table:
// the slot mapLiveFrame gave it, since a slot once taken keeps its colour; -1
// for a colour no frame used.
int finishedSlot(const LiveTable& live, unsigned index, const PaletteEntry& colour);

// Whether a conversion in one pass had better give up before the frame whose
// table is table: a second table that finds the table already more than half
// full will most likely not fit, and giving up now costs the frames so far,
// not all of them. The two passes then write the same bytes.
bool secondTableFindsHalfFull(LiveTable& live, const Palette& table);
