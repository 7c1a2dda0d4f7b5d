// Readers of a raster metafile frame's fixed fields.
#pragma once

#include <cstdio>

#include "conversion_state.h"

// Checks the frame starting at the input's position: mark, positive width and
// height, and, after the first frame, the first frame's size. Returns 1 with the
// input back at the frame's first byte, or 0 with gState.errorText set and the
// position left where the check stopped.
int checkFrameHeader(std::FILE* input);

// Reads the red, green and blue tables (768 words) at the input's position into
// palette. Never fails by itself: the input's end-of-file or error state tells.
void readPalette(std::FILE* input, Palette& palette);
