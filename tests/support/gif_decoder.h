// A plain GIF decoder for the tests: the whole file in memory, LZW decoded
// code by code, each frame drawn over the canvas (disposal methods 0 and 1
// only; the writer uses no other) with its transparent index skipped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct DecodedGifFrame {
    std::vector<uint8_t> indexes;  // the canvas after the frame: the index last drawn there
    std::vector<uint8_t> rgb;      // ... and its colour through the table it was drawn with
    int delay = 0;                 // hundredths of a second
    int left = 0, top = 0, width = 0, height = 0;  // the frame's rectangle
    bool localTable = false;
    int transparent = -1;  // the transparent index, -1 for none
};

struct DecodedGif {
    int width = 0;
    int height = 0;
    int loopCount = -1;  // from the looping extension; -1 when there is none
    std::vector<uint8_t> globalTable;  // red, green, blue of each entry; empty when none
    std::vector<DecodedGifFrame> frames;
    std::string error;  // empty when the whole file was read as GIF89a
};

DecodedGif decodeGif(const std::vector<uint8_t>& file);
