// Seeded generators of raster metafiles for the tests, written word by word:
// every shape of row and run a user's file may hold (empty rows anywhere, rows
// shorter and longer than the width, runs of every length, single pixels and
// pairs mixed), frames anywhere in the file under several colour tables, and
// files padded so that a chosen row lands next to a buffer edge. Numbers come
// from std::mt19937 alone, never from a standard distribution, so one seed
// makes the same file on every platform.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "rm_writer.h"

namespace gen {

// How one frame's rows are made; percentages are chances per row or piece.
struct WordMix {
    int allEmptyPercent = 5;      // the frame has no pixels at all (every row empty)
    int emptyRowPercent = 15;     // a row with no pixels
    int shortRowPercent = 20;     // a row covering fewer pixels than the width
    int longRowPercent = 20;      // a row covering more pixels than the width
    int singlePixelPercent = 40;  // a piece written as a single-pixel word, not a run
    int edgeRunPercent = 40;      // a run of 1, 254, 255, 256, 257, 509, 510, 511 or 4095
    int sameColourPercent = 20;   // a piece of the same colour as the piece before
    int colourLimit = 256;        // colour indexes are drawn below this
};

// Run lengths that sit on the edges of an RLE8 pair (255) and of a count word.
inline constexpr int kEdgeRuns[] = {1, 254, 255, 256, 257, 509, 510, 511, 4095};

// What a generated file holds.
struct FileShape {
    int frames = 3;
    int32_t width = 16;
    int32_t height = 8;
    WordMix mix;

    // Colour tables: frame 0 has table 0, each later frame one of `tables` at
    // random (so A, B, A comes often).
    int tables = 1;
    // Tables that share colours: each is the one before with newColours entries
    // (below the mix's colourLimit) given colours never seen before, and
    // duplicates entries given the colour of another entry of the same table.
    // Many tables with new colours make more than 256 colours in all.
    bool sharedColours = false;
    int newColours = 4;
    int duplicates = 2;

    // Between frames: 0 to maxFiller filler words, then 0 to maxJunk 4-byte
    // values that are never the frame mark.
    int maxFiller = 3;
    int maxJunk = 2;

    // Buffer edges: when edgeFrame >= 0, that frame's row edgeRow is empty and
    // the file is padded (filler before the frame, or single pixels in the
    // row before, for frame 0) so that the row's end-of-row word ends
    // edgeDistance bytes before a multiple of edgeMultiple. edgeDistance is
    // rounded up to an even number; frame 0 needs edgeRow >= 1 (taken as 1).
    int edgeFrame = -1;
    int32_t edgeRow = 0;
    uint32_t edgeDistance = 0;
    uint32_t edgeMultiple = 256 * 1024;
};

// A number in [0, count) from rng; the same on every platform.
uint32_t pick(std::mt19937& rng, uint32_t count);

// The image words between a frame's begin-image and end-of-image words: rows
// top first, each closed by its end-of-row word.
std::vector<uint16_t> randomImageWords(std::mt19937& rng, int32_t width, int32_t height,
                                       const WordMix& mix);

// A whole metafile of the given shape, made from seed.
rmw::Bytes randomMetafile(uint32_t seed, const FileShape& shape);

// One frame, header to end-of-image word, with the given image words.
void appendWordFrame(rmw::Bytes& bytes, int32_t width, int32_t height, const Palette& palette,
                     const std::vector<uint16_t>& imageWords, const rmw::FrameStyle& style = {});

}  // namespace gen
