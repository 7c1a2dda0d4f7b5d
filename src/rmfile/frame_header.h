// Readers of a raster metafile frame's fixed fields.
#pragma once

#include <cstdio>

#include "conversion_state.h"
#include "stream_buffers.h"

// Checks the frame starting at the input's position: mark, positive width and
// height, and, after the first frame, the first frame's size. Returns 1 with the
// input back at the frame's first byte, or 0 with gState.errorText set and the
// position left where the check stopped.
int checkFrameHeader(InputReader& input);

// Reads the red, green and blue tables (768 words) at the input's position into
// palette. Never fails by itself: the reader's ended or failed flag tells.
void readPalette(InputReader& input, Palette& palette);

// True when the file of stream, read from its position, begins with a frame's
// mark, as every raster metafile does.
bool beginsWithFrameMark(std::FILE* stream);
