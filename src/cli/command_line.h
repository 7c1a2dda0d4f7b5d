// The command line: options and file names.
#pragma once

#include <cstdint>
#include <vector>

struct Options {
    std::vector<const char*> fileNames;  // every file name, in order; into the argument vector
    const char* inputName = nullptr;     // the first file name
    const char* outputName = nullptr;    // the second, unless batch
    bool batch = false;                  // every file name an input, each converted alone
    bool help = false;
    bool version = false;
    bool quiet = false;
    bool noPrompt = false;
    int32_t dotInterval = 0;  // 0: no progress dots
    bool multiPalette = false;
    double framesPerSecond = 10.0;
    const char* rateText = nullptr;  // the rate as typed, when one was
    bool sharedPalette = false;      // one colour table for every frame
    bool gif = false;                // an animated GIF instead of an AVI file
};

// Fills options from the arguments after the program name, resetting every field
// first. Returns 1 when the whole command line was accepted; 0 with
// gState.errorText set (a frame rate the output cannot hold among them, or
// more than two file names without batch), or, for an unrecognized option,
// after printing its own line on standard error.
int parseCommandLine(int argc, const char* const* argv, Options& options);
