// Frame delays of an animated GIF: whole hundredths of a second, chosen so that
// the animation keeps the true time of the frame rate.
#pragma once

#include <cstdint>

// Browsers show a delay below this many hundredths as 10 hundredths.
inline constexpr int32_t kGifSmallestBrowserDelay = 2;

// The delay of frame frameIndex (0 is the first) in hundredths: the difference
// of the running totals before and after it, each the true time rounded to the
// nearest hundredth, so the total stays within half a hundredth of the true
// time (29.97 frames per second gives 3, 4, 3, 3, 4, 3, ...).
int32_t gifFrameDelay(double framesPerSecond, int64_t frameIndex);

// True when the rate is above 0 and no delay exceeds 65535 hundredths (rates
// of 100 / 65535, about 0.0015259, frames per second and up).
bool gifRateFitsDelays(double framesPerSecond);

// True when some delays would be below kGifSmallestBrowserDelay (rates above 50
// frames per second), which browsers stretch.
bool gifRateTooFastForBrowsers(double framesPerSecond);
