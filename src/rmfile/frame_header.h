// Readers of a raster metafile frame's fixed fields.
#pragma once

#include <cstdint>
#include <cstdio>

#include "conversion_state.h"
#include "io/stream_buffers.h"

// A frame's size, as its header gives it.
struct FrameSize {
    int32_t width = 0;
    int32_t height = 0;
};

// What is wrong with a frame's header, the first fault found.
enum class FrameHeaderFault {
    kNone,
    kNoMark,       // the frame mark is not there
    kWidth,        // the width is 0 or less (the height is not)
    kHeight,       // the height is 0 or less
    kSizeDiffers,  // not the first frame's size
};

// Reads the header of the frame starting at the input's position into size
// and checks it: mark, positive width and height, and the first frame's size
// when first is given. Writes no message. The input stands where the reading
// stopped: after the height, or after the mark when it is missing.
FrameHeaderFault readFrameHeader(InputReader& input, const FrameSize* first, FrameSize& size);

// Reads the word after a frame's colour tables: true when it begins the image.
bool readBeginImage(InputReader& input);

// Checks the frame starting at the input's position: mark, positive width and
// height, and, after the first frame, the first frame's size. Returns 1 with the
// input back at the frame's first byte, or 0 with gState.errorText set and the
// position left where the check stopped.
int checkFrameHeader(InputReader& input);

// Reads the red, green and blue tables (768 words) at the input's position into
// palette. Never fails by itself: the reader's ended or failed flag tells.
void readPalette(InputReader& input, Palette& palette);

// Passes over the filler words after a frame's end, leaving the input at the
// first word that is none.
void skipFiller(InputReader& input);

// Steps through 4-byte values until the frame mark, leaving the input at it.
// Returns true when the end of the input was reached and the bytes passed over
// held the mark at an offset the 4-byte steps did not land on.
bool findNextFrame(InputReader& input);

// True when the file of stream, read from its position, begins with a frame's
// mark, as every raster metafile does.
bool beginsWithFrameMark(std::FILE* stream);

// The size the first frame's header gives, read from a stream that can seek,
// which is left at its start; false when it cannot seek or holds no frame mark.
bool readFirstFrameSize(std::FILE* stream, FrameSize& size);
