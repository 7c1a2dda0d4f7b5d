// Whole conversions run in this process, for tests that look at the output's
// bytes and the conversion state rather than at the console.
#pragma once

#include <string>

#include "avi_reader.h"
#include "rm_writer.h"
#include "temp_dir.h"

struct Conversion {
    int result = 0;
    std::string errorText;
    std::string warningText;
    Bytes output;   // the AVI file, empty when none was left
    ParsedAvi avi;  // parsed from output when there is one
    bool outputLeft = false;
};

struct ConversionSettings {
    bool multiPalette = false;
    double framesPerSecond = 10.0;
    int dotInterval = 0;
    bool sharedPalette = false;
};

// Writes rm as in.rm in dir, converts it to out.avi with -y and the settings,
// and collects what came of it.
Conversion convertBytes(const TempDir& dir, const rmw::Bytes& rm,
                        const ConversionSettings& settings = {});

// One frame of the given size, every pixel given by row-major colours.
rmw::Picture picture(int width, int height, std::initializer_list<uint8_t> pixels);

// The smallest useful file: one 2 x 2 frame, top row colours 1 and 2, bottom row
// two pixels of colour 3; 2064 bytes.
rmw::Bytes twoByTwoFile(const Palette& palette = rmw::makePalette(1));
