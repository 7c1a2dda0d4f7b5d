// The GIF writer's speed on families of generated frames: the LZW encoder
// alone, in MB of pixels a second, and whole frames through pair rows and the
// changed rectangles. Frames of 640 x 480; the output goes to a scratch file.
//   gif_speed [MEGAPIXELS]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "gif/gif_lzw.h"
#include "gif/gif_writer.h"

namespace {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;
constexpr size_t kPixels = size_t{kWidth} * kHeight;

enum class Family { kNoise, kFlat, kRuns, kSprites };
constexpr const char* kFamilyNames[] = {"noise", "flat", "runs of 1-64", "sprites over runs"};

// Frame n of a family: noise anew, one colour, runs anew, or a few small
// blocks moving over one picture of runs.
void makeFrame(std::vector<uint8_t>& frame, Family family, int n, std::mt19937& rng) {
    if (family == Family::kNoise) {
        for (uint8_t& pixel : frame)
            pixel = static_cast<uint8_t>(rng());
    } else if (family == Family::kFlat) {
        std::fill(frame.begin(), frame.end(), static_cast<uint8_t>(n));
    } else if (family == Family::kRuns || n == 0) {
        for (size_t at = 0; at < frame.size();) {
            const size_t run = std::min<size_t>(1 + rng() % 64, frame.size() - at);
            std::fill_n(frame.begin() + static_cast<ptrdiff_t>(at), run, static_cast<uint8_t>(rng()));
            at += run;
        }
    } else {
        for (int block = 0; block < 4; ++block) {
            const size_t left = rng() % (kWidth - 32), top = rng() % (kHeight - 32);
            for (size_t y = top; y < top + 32; ++y)
                std::fill_n(frame.begin() + static_cast<ptrdiff_t>(y * kWidth + left), 32,
                            static_cast<uint8_t>(n));
        }
    }
}

std::vector<uint8_t> pairsOf(const std::vector<uint8_t>& frame) {
    std::vector<uint8_t> pairs;
    for (size_t top = 0; top < frame.size(); top += kWidth) {
        for (size_t at = top, run = 0; at < top + kWidth; at += run) {
            for (run = 1; run < 255 && at + run < top + kWidth && frame[at + run] == frame[at];)
                ++run;
            pairs.insert(pairs.end(), {static_cast<uint8_t>(run), frame[at]});
        }
        pairs.insert(pairs.end(), {0, 0});
    }
    return pairs;
}

double seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void measure(Family family, int frames, std::FILE* scratch) {
    std::mt19937 rng(1);
    std::vector<std::vector<uint8_t>> pictures(4, std::vector<uint8_t>(kPixels));
    std::vector<std::vector<uint8_t>> pairs;
    for (int n = 0; n < 4; ++n) {
        if (n > 0) pictures[static_cast<size_t>(n)] = pictures[static_cast<size_t>(n) - 1];
        makeFrame(pictures[static_cast<size_t>(n)], family, n, rng);
        pairs.push_back(pairsOf(pictures[static_cast<size_t>(n)]));
    }
    OutputWriter output;
    attachWriter(output, scratch, size_t{1} << 20, INT64_MAX);
    LzwEncoder lzw;
    auto start = std::chrono::steady_clock::now();
    for (int n = 0; n < frames; ++n) {
        startLzw(lzw, output);
        encodeLzw(lzw, output, pictures[static_cast<size_t>(n % 4)].data(), kPixels);
        finishLzw(lzw, output);
    }
    const double lzwSeconds = seconds(start);
    const double lzwBytes = static_cast<double>(writerPosition(output));
    restartWriter(output);
    GifWriter writer;
    startGif(writer, output, kWidth, kHeight, Palette{}, 25);
    start = std::chrono::steady_clock::now();
    for (int n = 0; n < frames; ++n) {
        PairRows rows;
        const std::vector<uint8_t>& framePairs = pairs[static_cast<size_t>(n % 4)];
        indexPairRows(rows, framePairs.data(), framePairs.size(), kWidth, kHeight);
        writeGifFrame(writer, output, pairRowSource(rows), nullptr);
    }
    finishGif(output);
    const double megabytes = static_cast<double>(frames) * kPixels / 1e6;
    std::printf("%-18s LZW %7.1f MB/s (%5.2f bytes a pixel)   frames %7.1f MB/s (%5.2f)\n",
                kFamilyNames[static_cast<int>(family)], megabytes / lzwSeconds,
                lzwBytes / (megabytes * 1e6), megabytes / seconds(start),
                static_cast<double>(writerPosition(output)) / (megabytes * 1e6));
}

}  // namespace

int main(int argc, char** argv) {
    const double megapixels = argc > 1 ? std::atof(argv[1]) : 100;
    const int frames = std::max(4, static_cast<int>(megapixels * 1e6 / kPixels));
    std::FILE* scratch = std::tmpfile();
    if (scratch == nullptr) return 1;
    for (Family family : {Family::kNoise, Family::kFlat, Family::kRuns, Family::kSprites})
        measure(family, frames, scratch);
    std::fclose(scratch);
    return 0;
}
