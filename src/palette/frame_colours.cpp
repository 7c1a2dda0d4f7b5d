#include "palette/frame_colours.h"

#include <algorithm>
#include <bit>
#include <string>

namespace {

// The indexes frame number frame uses, as the first pass noted them; every
// index for a frame past the notes.
UsedIndexes indexesOfFrame(const ColourCount& count, int32_t frame) {
    UsedIndexes used;
    used.fill(~uint64_t{0});
    if (frame >= 0 && static_cast<size_t>(frame) < count.usedByFrame.size()) {
        used = count.usedByFrame[static_cast<size_t>(frame)];
    }
    return used;
}

// The entry of the chosen table that colour index i of a frame's table goes to.
void mapChosenIndex(ChosenTable& chosen, unsigned i, const PaletteEntry& colour) {
    if (chosen.exact) {
        // The slot the rule gave it; an index no frame used has none.
        const int slot = finishedSlot(chosen.slots, i, colour);
        if (slot >= 0) chosen.lastMap[i] = static_cast<uint8_t>(slot);
        return;
    }
    const uint8_t entry = nearestEntry(chosen.nearest, chosen.table, colour);
    chosen.lastMap[i] = entry;
    chosen.largestDifference =
        std::max(chosen.largestDifference, largestChannelDifference(colour, chosen.table[entry]));
}

void mapOntoChosen(FrameColours& colours, int32_t frame, const Palette& table, ColourIndexes& map) {
    ChosenTable& chosen = colours.chosen;
    const UsedIndexes used = indexesOfFrame(colours.count, frame);
    if (!samePalette(table, chosen.lastFrameTable)) {
        // Unused indexes as they are, so that a map that changes nothing is seen as such.
        chosen.lastFrameTable = table;
        chosen.lastMapped = UsedIndexes{};
        chosen.lastMap = identityIndexes();
    }
    // Only the indexes used that the map does not hold yet.
    for (size_t word = 0; word < used.size(); ++word) {
        for (uint64_t left = used[word] & ~chosen.lastMapped[word]; left != 0; left &= left - 1) {
            const auto i =
                static_cast<unsigned>(64 * word + static_cast<size_t>(std::countr_zero(left)));
            mapChosenIndex(chosen, i, table[i]);
        }
        chosen.lastMapped[word] |= used[word];
    }
    map = chosen.lastMap;
}

bool mapOntoLive(FrameColours& colours, const Palette& table, const StagedPieces* staged,
                 ColourIndexes& map) {
    UsedIndexes used{};
    if (staged != nullptr) {
        markUsedIndexes(staged->bytes.data(), staged->bytes.data() + staged->used, used);
    }
    colours.tableFilled = staged == nullptr || secondTableFindsHalfFull(colours.live, table) ||
                          !mapLiveFrame(colours.live, table, used, map);
    return !colours.tableFilled;
}

}  // namespace

void chooseSharedTable(FrameColours& colours, bool multiPalette) {
    ChosenTable& chosen = colours.chosen;
    chosen = ChosenTable{};
    chosen.exact = histogramFitsOneTable(colours.count.histogram);
    colours.tables = chosen.exact || !multiPalette ? FrameTables::kChosen : FrameTables::kOwn;
    if (colours.tables != FrameTables::kChosen) return;
    if (chosen.exact) {
        // With at most 256 colours the rule with one slot per colour always fits.
        const ColourCount& count = colours.count;
        chosen.slots = count.exactTable.failed ? count.exactTableOneSlot : count.exactTable;
        chosen.table = chosen.slots.table;
        chosen.colours = chosen.slots.colours;
    } else {
        chosen.colours = chooseTableOfColours(colours.count.histogram, chosen.table);
        startNearestSearch(chosen.nearest, chosen.table, chosen.colours);
    }
}

bool mapFrameColours(FrameColours& colours, int32_t frame, const Palette& table,
                     const StagedPieces* staged, ColourIndexes& map) {
    switch (colours.tables) {
        case FrameTables::kOwn:
            map = identityIndexes();
            return true;
        case FrameTables::kBuiltAsTheyCome:
            return mapOntoLive(colours, table, staged, map);
        case FrameTables::kChosen:
            mapOntoChosen(colours, frame, table, map);
            return true;
    }
    return false;
}

const Palette& headerTable(const FrameColours& colours, const Palette& firstFrameTable) {
    return colours.tables == FrameTables::kChosen ? colours.chosen.table : firstFrameTable;
}

const Palette* tableKnownAtTheEnd(const FrameColours& colours) {
    return colours.tables == FrameTables::kBuiltAsTheyCome ? &colours.live.table : nullptr;
}

int sharedTableColours(const FrameColours& colours) {
    switch (colours.tables) {
        case FrameTables::kOwn:
            return 0;
        case FrameTables::kBuiltAsTheyCome:
            return colours.live.colours;
        case FrameTables::kChosen:
            return colours.chosen.colours;
    }
    return 0;
}

bool sharedTableApproximate(const FrameColours& colours) {
    return colours.tables == FrameTables::kChosen && !colours.chosen.exact;
}

void setSharedPaletteWarning(const FrameColours& colours) {
    const ColourHistogram& histogram = colours.count.histogram;
    // At most the histogram's 16384 bins.
    const std::string counted =
        histogram.droppedBits == 0
            ? formatText("%d", static_cast<int>(histogram.used))
            : formatText("at least %d", static_cast<int>(histogram.coloursWhenFull));
    addWarningText(
        "The frames use %s colors, more than one palette holds: in the shared palette of %d, "
        "a pixel's red, green or blue value differs by up to %d from its own. "
        "The -m option keeps every color exact.",
        counted.c_str(), colours.chosen.colours, colours.chosen.largestDifference);
}
