// Turns one run-coded metafile row into BI_RLE8 encoded-mode pairs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream_buffers.h"

// Transcodes the row starting at the input's position up to its end-of-row word,
// which becomes the end-of-line pair. Returns the number of bytes written and
// sets ok to 1, or to 0 when the row is malformed (gState.errorText set, or, for
// a colour index over 255, a line on standard error). After a zero repeat count
// the rest of the row is still transcoded but gets no end-of-line pair.
int64_t transcodeRow(InputReader& input, OutputWriter& output, int& ok);

enum class TranscodeStop { kEndOfRow, kCareful };

// The most bytes one repeat count can become: 4095 pixels in pairs of up to 255.
inline constexpr ptrdiff_t kLongestRunBytes = 2 * ((0x0FFF + 255 - 1) / 255);

// Converts the common words of a row from in to out, both moved on: single
// pixels and repeat runs of colours up to 255, and the row's end (kEndOfRow,
// after writing its end-of-line pair). Stops with kCareful, before the word, at
// anything else and where the input or the room for the longest run ends.
TranscodeStop transcodeSpan(const uint8_t*& in, const uint8_t* inEnd, uint8_t*& out,
                            uint8_t* outEnd);
