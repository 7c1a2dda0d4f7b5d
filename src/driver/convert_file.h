// One conversion from file names to a finished AVI file.
#pragma once

// Derives the paths, creates the scratch index file, asks before overwriting,
// runs the frame scan and the finaliser, and closes and removes files by the
// outcome. Returns 1 when the AVI file was produced (gState.warningText may hold
// a warning), or 0 with the reason in gState.errorText: empty when the user
// declined to overwrite, or after a colour index over 255 in a later frame.
// With sharedPalette a first pass over the input chooses one colour table for
// every frame; the input must then be a regular file, which can be read twice.
int convertFile(const char* inputName, const char* outputName, bool noPrompt, int dotInterval,
                bool multiPalette, double framesPerSecond, bool sharedPalette = false);
