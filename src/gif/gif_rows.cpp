#include "gif/gif_rows.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "conversion_state.h"
#include "gif/gif_bytes.h"
#include "rle8/rle8_transcoder.h"

namespace {

constexpr size_t kStoreBytes = 2 * kGifWordBytes;
static_assert(kGifRowSlack >= kStoreBytes - 1, "a run's last store ends in the slack");

// Writes run copies of index (and up to 15 more into the slack) sixteen bytes
// a store.
inline void fillRun(uint8_t* pixels, uint8_t index, size_t run) {
    const uint64_t fill = kGifEveryByte * index;
    for (size_t x = 0; x < run; x += kStoreBytes) {
        storeWord(pixels + x, fill);
        storeWord(pixels + x + kGifWordBytes, fill);
    }
}

}  // namespace

size_t expandPairRow(const uint8_t* pairs, size_t length, int32_t width, uint8_t* pixels) {
    const auto total = static_cast<size_t>(width);
    size_t filled = 0;
    size_t at = 0;
    for (; at + 1 < length; at += 2) {
        const uint8_t count = pairs[at];
        if (count == kRleEscape) {
            at += 2;
            break;
        }
        const size_t run = std::min<size_t>(count, total - filled);
        fillRun(pixels + filled, pairs[at + 1], run);
        filled += run;
    }
    std::memset(pixels + filled, 0, total - filled);
    return std::min(at, length);
}

int indexPairRows(PairRows& rows, const uint8_t* pairs, size_t length, int32_t width,
                  int32_t height) {
    rows.pairs = pairs;
    rows.length = length;
    rows.width = width;
    try {
        rows.starts.assign(static_cast<size_t>(height), length);
    } catch (const std::bad_alloc&) {
        setErrorText("Out of memory.");
        return 0;
    }
    if (rows.starts.empty()) return 1;
    size_t row = 0;
    size_t at = 0;
    rows.starts[0] = 0;
    while (at + 1 < length && row + 1 < rows.starts.size()) {
        if (pairs[at] == kRleEscape) {
            if (pairs[at + 1] != kRleEndOfLine)
                break;  // the end of the bitmap, or no escape of rows
            rows.starts[++row] = at + 2;
        }
        at += 2;
    }
    return 1;
}

namespace {

int readPairRow(void* context, int32_t y, uint8_t* pixels) {
    const PairRows& rows = *static_cast<const PairRows*>(context);
    const size_t start = rows.starts[static_cast<size_t>(y)];
    expandPairRow(rows.pairs + start, rows.length - start, rows.width, pixels);
    return 1;
}

}  // namespace

GifRowSource pairRowSource(PairRows& rows) {
    return {readPairRow, &rows};
}
