// The conversion's loops over the frames of a raster metafile: the pass that
// writes them, the pass that counts their colours for a shared table, and
// the two together as -p needs them.
#pragma once

#include <cstdio>

#include "avi/movie_chunks.h"
#include "driver/file_naming.h"
#include "io/stream_buffers.h"
#include "palette/frame_colours.h"

struct ScanOptions {
    int dotInterval = 0;  // a progress dot every so many frames; 0: none
    bool multiPalette = false;
    double framesPerSecond = 0;
    OutputFormat format = OutputFormat::kAvi;
};

// Writes the AVI header from the first frame, then every frame's chunks, each
// frame's indexes through the map colours gives it, with palette-change chunks
// when multiPalette asks for them and the frames keep their own tables. For a
// GIF, the screen and the global table (the first frame's or the shared one),
// then every frame, with a local table when multiPalette asks for the frame's
// own colours, and the trailer.
// Returns 1 when every frame up to the end of the input converted and at
// least one did; otherwise 0 with the reason in gState.errorText (empty after
// a colour index over 255 in a frame after the first), or with
// colours.tableFilled set and no message. Progress dots and warnings go to
// standard error; a shared table that is not exact leaves its warning in
// gState.warningText. framesShown: frames whose dots a go before printed.
int scanFrames(InputReader& input, OutputWriter& output, ChunkWriterState& chunks,
               std::FILE* scratch, const ScanOptions& options, FrameColours& colours,
               int32_t framesShown = 0);

// Walks the frames from the input's start as scanFrames does and counts the
// pixels of every colour into colours.count, each frame's rows transcoded as
// scanFrames transcodes them (chunks' map must be the identity), then chooses
// the shared table. A frame the conversion would refuse ends the count where
// it stands; the scan then finds the fault. The input's position is undefined
// afterwards.
void countColoursAndChoose(InputReader& input, ChunkWriterState& chunks, FrameColours& colours,
                           bool multiPalette);

// How a conversion with one shared table went: whether its colours were
// counted (and of how many frames), and whether it started again.
struct SharedTableRun {
    bool counted = false;
    bool restarted = false;
};

// The frames with one shared table: in one pass, the table built as they
// come, when onePass allows it (the output can be written again from its
// start); when their colours do not fit, or without onePass, a first pass
// counts them and the table is chosen before they are written. Returns as
// scanFrames does.
int scanFramesSharingTable(InputReader& input, OutputWriter& output, ChunkWriterState& chunks,
                           std::FILE* scratch, const ScanOptions& options, FrameColours& colours,
                           bool onePass, SharedTableRun& run);

// Called after every pass over the input but the last (a test changes the
// input there); null by default.
extern void (*gBetweenInputPasses)();
