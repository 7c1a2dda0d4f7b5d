// GIF files read back by decoders and compared with the frames they should
// show: the tests' plain decoder, and the real ones where installed (ffmpeg,
// ImageMagick, Python's Pillow, and Chromium's ImageDecoder in a page).
#pragma once

#include <string>
#include <vector>

enum class GifDecoderTool { kPlain, kFfmpeg, kImageMagick, kPillow, kChromium };

struct GifCheck {
    bool missing = false;  // the decoder is not installed; message says which
    std::string message;   // empty when every frame decoded to the expected pixels
};

// "" when the decoder that tool names is installed (the plain one always is),
// else the reason its checks are skipped.
std::string missingGifDecoder(GifDecoderTool tool);

// Decodes the GIF at path with tool and compares every composed frame, as
// rgb24, with expected (width * height * 3 bytes a frame, rows top first).
GifCheck checkGifFrames(GifDecoderTool tool, const std::string& path,
                        const std::vector<std::string>& expected, int width);
