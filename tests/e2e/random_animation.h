// Seeded random raster metafiles for the end-to-end tests: every seed gives the
// same file on every platform (the generator draws from std::mt19937 only), and
// the pictures and colour tables the file was meant to show.
#pragma once

#include <cstdint>
#include <vector>

#include "rm_writer.h"

namespace e2e {

// What the generator put into a file, beyond its bytes, so that tests can check
// that the generator exercises what it should.
struct Coverage {
    int longestRepeat = 0;   // largest repeat count written
    int repeatsOver255 = 0;  // repeat counts a single RLE8 pair cannot hold
    int singlePixelWords = 0;
    int repeatsOfOne = 0;          // a lone pixel written as repeat count 1 and colour
    int sameColourNeighbours = 0;  // adjacent runs of one colour, kept apart
    int noisyFrames = 0;           // frames with noise in ignored bits and bytes
    int offStrideMarks = 0;        // frame marks planted in junk where the search never looks
    int tableReturns = 0;          // frames whose table was in effect before, then left
};

struct RandomAnimation {
    uint32_t seed = 0;
    int32_t width = 0;
    int32_t height = 0;
    std::vector<rmw::Picture> pictures;  // one per frame, rows top first
    std::vector<Palette> tables;         // each frame's colour table (the words' low bytes)
    Coverage coverage;
    rmw::Bytes file;
    bool colourCycle = false;  // made by makeColourCycle
};

RandomAnimation makeRandomAnimation(uint32_t seed);

// A colour cycle: the pictures of seed's animation, frame after frame in its
// first table turned seven entries further, so that one table of at most 256
// colours holds them all while every frame's indexes mean other colours.
RandomAnimation makeColourCycle(uint32_t seed);

}  // namespace e2e
