#include "gif/gif_timing.h"

#include <cmath>

#include "gif/gif_format.h"

namespace {

constexpr double kHundredthsPerSecond = 100.0;

// The time at which frame frameIndex is shown, rounded to the nearest hundredth.
int64_t shownAt(double framesPerSecond, int64_t frameIndex) {
    return std::llround(static_cast<double>(frameIndex) * kHundredthsPerSecond / framesPerSecond);
}

}  // namespace

int32_t gifFrameDelay(double framesPerSecond, int64_t frameIndex) {
    return static_cast<int32_t>(shownAt(framesPerSecond, frameIndex + 1) -
                                shownAt(framesPerSecond, frameIndex));
}

bool gifRateFitsDelays(double framesPerSecond) {
    return framesPerSecond > 0 && kHundredthsPerSecond / framesPerSecond <= kGifMaxDelay;
}

bool gifRateTooFastForBrowsers(double framesPerSecond) {
    return framesPerSecond > kHundredthsPerSecond / kGifSmallestBrowserDelay;
}
