#include "conversion_fixture.h"

#include "conversion_state.h"
#include "driver/convert_file.h"

Conversion convertBytes(const TempDir& dir, const rmw::Bytes& rm,
                        const ConversionSettings& settings) {
    const std::string input = dir.file("in.rm");
    const std::string output = dir.file("out.avi");
    rmw::writeFile(input, rm);
    std::remove(output.c_str());
    resetConversionState();
    Conversion conversion;
    conversion.result =
        convertFile(input.c_str(), output.c_str(), true, settings.dotInterval,
                    settings.multiPalette, settings.framesPerSecond, settings.sharedPalette);
    conversion.errorText = gState.errorText;
    conversion.warningText = gState.warningText;
    conversion.outputLeft = fileExists(output);
    if (conversion.outputLeft) {
        conversion.output = rmw::readFile(output);
        conversion.avi = parseAvi(conversion.output);
    }
    return conversion;
}

rmw::Picture picture(int width, int height, std::initializer_list<uint8_t> pixels) {
    return rmw::Picture{width, height, std::vector<uint8_t>(pixels)};
}

rmw::Bytes twoByTwoFile(const Palette& palette) {
    rmw::Bytes bytes;
    rmw::appendFrame(bytes, picture(2, 2, {1, 2, 3, 3}), palette);
    return bytes;
}
