// The command line: options and file names.
#pragma once

#include <cstdint>

struct Options {
    const char* inputName = nullptr;  // points into the argument vector
    const char* outputName = nullptr;
    bool help = false;
    bool quiet = false;
    bool noPrompt = false;
    int32_t dotInterval = 0;  // 0: no progress dots
    bool multiPalette = false;
    double framesPerSecond = 10.0;
    bool sharedPalette = false;  // one colour table for every frame
};

// Fills options from the arguments after the program name, resetting every field
// first. Returns 1 when the whole command line was accepted; 0 with
// gState.errorText set, or, for an unrecognized option, after printing its own
// line on standard error.
int parseCommandLine(int argc, const char* const* argv, Options& options);
