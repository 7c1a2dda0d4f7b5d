// One colour table for every frame: the colours the frames' pixels use, counted
// in a bounded histogram, the table chosen from them (the colours themselves
// when at most 256, else the 256 that keep the squared error over all pixels
// small), and each frame's indexes mapped onto it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "conversion_state.h"
#include "io/stream_buffers.h"
#include "rle8/rle8_transcoder.h"
#include "rle8/row_staging.h"

// The indexes of a frame's table that its pixels use, one bit each.
using UsedIndexes = std::array<uint64_t, kPaletteEntries / 64>;

inline bool indexUsed(const UsedIndexes& used, size_t index) {
    return (used[index / 64] >> (index % 64) & 1) != 0;
}

// Pixels counted per colour index of one frame.
using IndexCounts = std::array<uint64_t, kPaletteEntries>;

// One colour of the histogram: its key (the colour with the histogram's
// dropped low bits gone) and the pixels' weighted sums, for the mean colour.
struct HistogramBin {
    uint32_t key = 0;  // 0: empty; else 1 << 24 | red << 16 | green << 8 | blue, coarsened
    uint64_t pixels = 0;
    double red = 0;
    double green = 0;
    double blue = 0;
};

// A fixed table of bins; when it fills, every channel drops one more low bit
// and the bins that become one are merged, so that it never grows.
struct ColourHistogram {
    std::vector<HistogramBin> bins;
    size_t used = 0;
    int droppedBits = 0;         // per channel; 0 while every colour is its own bin
    size_t coloursWhenFull = 0;  // distinct colours counted when it first filled
};

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

struct SharedPalette {
    // What the first pass found: the histogram, and the exact table by its
    // rule, and by its rule with one slot per colour, as long as they fit.
    ColourHistogram histogram;
    LiveTable exactTable;
    LiveTable exactTableOneSlot;
    std::vector<UsedIndexes> usedByFrame;  // the first frames' (at most kMaxFramesNoted)
    int32_t framesCounted = 0;

    // The table chosen, and whether the frames are written through it.
    bool inUse = false;
    bool exact = false;  // every pixel keeps its colour
    Palette table{};
    int colours = 0;  // entries of table that hold a colour the frames use

    // Mapping, frame by frame.
    std::vector<uint32_t> cachedColours;  // 1 << 24 | colour, or 0
    std::vector<uint8_t> cachedEntries;   // the nearest entry of each cached colour
    std::vector<uint8_t> byGreen;         // the entries searched, by their green values
    Palette lastFrameTable{};
    UsedIndexes lastMapped{};  // indexes of lastFrameTable that lastMap holds
    ColourIndexes lastMap = identityIndexes();
    int largestDifference = 0;  // of a red, green or blue value, over the pixels mapped

    // One pass instead of two: the table built as the frames are converted,
    // for as long as their colours fit it (onePassFailed when they did not).
    bool onePass = false;
    bool onePassFailed = false;
    LiveTable live;
    int32_t framesShown = 0;  // frames whose progress dots a run before this one printed
};

// The per-frame notes kept: 32 bytes each, 4 MiB in all; later frames have
// every index mapped.
inline constexpr size_t kMaxFramesNoted = size_t{1} << 17;

// Empties shared and readies its histogram for a first pass, in the memory its
// histogram already has, if any.
void startColourCount(SharedPalette& shared);

// Adds one frame's pixels: counts[i] pixels of colour table[i]; clears counts.
void addFrameColours(SharedPalette& shared, const Palette& table, IndexCounts& counts);

// Chooses the table from the colours counted. The frames are written through
// it (inUse) when it is exact or when multiPalette does not ask for every
// colour kept.
void chooseSharedTable(SharedPalette& shared, bool multiPalette);

// The index each colour index of frame number frame (from 0), whose table is
// table, is written as; only the indexes the frame uses are sure to be mapped.
const ColourIndexes& mapFrameColours(SharedPalette& shared, int32_t frame, const Palette& table);

// The warning for a table that is not exact: how many colours the frames use,
// the largest difference a pixel got, and that -m keeps every colour.
void setSharedPaletteWarning(const SharedPalette& shared);

// The indexes that the staged pairs (of a frame transcoded through the
// identity map) use.
void markStagedColours(const StagedPieces& staged, UsedIndexes& used);

// The map of the frame after live.frames frames, whose table is table and
// whose pixels use the indexes used, by the exact table's rule: false, with
// live.failed set, when one of its colours finds no slot left.
bool mapLiveFrame(LiveTable& live, const Palette& table, const UsedIndexes& used,
                  ColourIndexes& map);

// Whether a conversion in one pass had better give up before the frame whose
// table is table: a second table that finds the table already more than half
// full will most likely not fit, and giving up now costs the frames so far,
// not all of them. The two passes then write the same bytes.
bool secondTableFindsHalfFull(LiveTable& live, const Palette& table);
