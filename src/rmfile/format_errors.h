// Format errors found deep in a frame's data: the message names the place by
// its number, as it always has, and says on a second line what was found, in
// which frame and where in the input.
#pragma once

#include <cstdint>

// Sets the message for the internal error number (one of the kError numbers)
// found in the frame at hand, which follows gState.frameCount frames; offset
// is the input position of the word found, or where the input ended.
void setFormatError(int number, int64_t offset);

// As setFormatError for a word where a row's word should be, when what was
// found is the end of the input.
void setRowCutShortError(int number, int64_t offset);
