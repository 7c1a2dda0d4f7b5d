// One conversion from file names to a finished AVI or GIF file.
#pragma once

#include <cstdio>

#include "driver/file_naming.h"

// Derives the paths, creates the scratch index file, asks before overwriting,
// runs the frame scan and the finaliser, and closes and removes files by the
// outcome. Returns 1 when the AVI file was produced (gState.warningText may hold
// a warning), or 0 with the reason in gState.errorText: empty when the user
// declined to overwrite, or after a colour index over 255 in a later frame.
// With sharedPalette a first pass over the input chooses one colour table for
// every frame; the input must then be a regular file, which can be read twice.
// A regular input that changes while it is converted fails the conversion.
// The overwrite question goes to console (standard error when the output is
// standard output). With OutputFormat::kGif the output is an animated GIF.
int convertFile(const char* inputName, const char* outputName, bool noPrompt, int dotInterval,
                bool multiPalette, double framesPerSecond, bool sharedPalette = false,
                std::FILE* console = stdout, OutputFormat format = OutputFormat::kAvi);

// For tests alone: when set, called after every pass over the input that
// another pass follows (the colour count of -p, or a first go that gave up),
// so that a test can change the input between them. Null in the program.
extern void (*gBetweenInputPasses)();
