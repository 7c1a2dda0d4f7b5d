// How each frame's colour indexes are written: in the frame's own table's
// indexes, or through one table shared by every frame (-p), built as the
// frames come or chosen by a first pass that counted their colours.
#pragma once

#include <cstdint>

#include "conversion_state.h"
#include "palette/colour_count.h"
#include "palette/quantizer.h"
#include "palette/slot_rule.h"
#include "rle8/rle8_transcoder.h"
#include "rle8/row_staging.h"

enum class FrameTables {
    kOwn,              // each frame's own table, as it is
    kBuiltAsTheyCome,  // one table, built by the slot rule as the frames come
    kChosen,           // one table, chosen from what a first pass counted
};

// The table a first pass chose, and the maps of the frames onto it.
struct ChosenTable {
    bool exact = false;  // every pixel keeps its colour
    Palette table{};
    int colours = 0;            // entries of table that hold a colour the frames use
    LiveTable slots;            // exact: where the slot rule put each colour
    NearestSearch nearest;      // not exact: the search for each colour's entry
    int largestDifference = 0;  // of a red, green or blue value, over the pixels mapped
    // The last frame's table and map, kept for the frames after it.
    Palette lastFrameTable{};
    UsedIndexes lastMapped{};  // indexes of lastFrameTable that lastMap holds
    ColourIndexes lastMap = identityIndexes();
};

struct FrameColours {
    FrameTables tables = FrameTables::kOwn;
    ColourCount count;         // what the first pass counted
    ChosenTable chosen;        // the table it chose
    LiveTable live;            // the table built as the frames come
    bool tableFilled = false;  // a frame's colours found no slot in live, or it could not be staged
};

// Chooses the shared table from what count holds. With multiPalette a table
// that is not exact is not used: every frame keeps its own (kOwn).
void chooseSharedTable(FrameColours& colours, bool multiPalette);

// The map of frame number frame (from 0), whose table is table; staged holds
// its pairs, or is null when the frame is too large to stage. False, with
// tableFilled set, when a table built as the frames come has no room for its
// colours or needs its pairs and has none: the frames are then converted
// again through a chosen table.
bool mapFrameColours(FrameColours& colours, int32_t frame, const Palette& table,
                     const StagedPieces* staged, ColourIndexes& map);

// The table the AVI header holds when the conversion starts: the shared one
// when it is known by then, else the first frame's.
const Palette& headerTable(const FrameColours& colours, const Palette& firstFrameTable);

// The table that goes into the header once every frame is written, or null.
const Palette* tableKnownAtTheEnd(const FrameColours& colours);

// Entries of the shared table that hold a colour the frames use; 0 without one.
int sharedTableColours(const FrameColours& colours);

// Whether the shared table lost colours; its warning then says how many
// colours the frames use, the largest difference a pixel got, and that -m
// keeps every colour.
bool sharedTableApproximate(const FrameColours& colours);
void setSharedPaletteWarning(const FrameColours& colours);
