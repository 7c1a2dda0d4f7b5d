// Writes everything of the AVI file before the first movie chunk.
#pragma once

#include <cstdint>

#include "conversion_state.h"
#include "io/stream_buffers.h"

// The frame period of the main header and the rate of the stream header for a
// rate in frames per second, before they are cut to their 32-bit fields.
double microSecondsPerFrame(double framesPerSecond);
double streamRate(double framesPerSecond);

// True when the rate is above 0 and gives both fields a value from 1 to
// 2^32 - 1 (rates from about 0.000233 to 42949.67 frames per second).
bool frameRateFitsHeader(double framesPerSecond);

// Writes a four-character code; when sizePos is given, notes there the current
// position (that of the size field) and writes a 32-bit 0 as the open size.
void writeChunkHeader(OutputWriter& output, const char code[5], int64_t* sizePos = nullptr);

// The 56 bytes of MainAVIHeader.
void writeMainHeader(OutputWriter& output, int32_t width, int32_t height, double framesPerSecond);

// The 64 bytes of AVIStreamHeader.
void writeStreamHeader(OutputWriter& output, double framesPerSecond);

// The 40 bytes of BITMAPINFOHEADER (the colour table follows separately).
void writeStreamFormat(OutputWriter& output, int32_t width, int32_t height);

// Writes palette over the stream format's colour table of a header written
// before; false when the writer failed.
bool patchHeaderPalette(OutputWriter& output, const Palette& palette);

// Writes the RIFF header, "hdrl" with "avih" and "strl", and opens "movi", every
// size left 0 and its position noted in gState.layout. No failure of its own: a
// failed write shows in the writer's state. Leaves the output just after
// the "movi" code.
void writeAviHeader(OutputWriter& output, int32_t width, int32_t height, double framesPerSecond,
                    const Palette& referencePalette);
