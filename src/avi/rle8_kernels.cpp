#include "avi/rle8_kernels.h"

#include <algorithm>

namespace {

// The plain kernel works on blocks of eight words, a byte at a time, so that it
// gives the same results on every processor and in either byte order.
constexpr unsigned kPlainWords = 8;
constexpr ptrdiff_t kPlainBlockIn = 2 * kPlainWords;
constexpr ptrdiff_t kPlainBlockOut = 2 * kPlainWords;

// Writes every word of the block as its bytes: a single pixel as 01 and its
// colour, an end of row as its end-of-line pair 00 00, any other word as its
// low byte. Returns how many words fit before the first
// that is of none of the four kinds or is a colour word not straight after a
// count; alone and rowEnds get the words of two bytes and the ends of row.
unsigned plainBlock(const uint8_t* in, bool countBefore, uint8_t* out, uint32_t& alone,
                    uint32_t& rowEnds) {
    uint32_t counts = 0;
    uint32_t misfits = 0;
    unsigned at = 0;
    for (unsigned word = 0; word < kPlainWords; ++word) {
        const uint8_t low = in[2 * word];
        const uint8_t high = in[2 * word + 1];
        const bool single = high == kernel::kSingleHigh;
        const bool rowEnd = (high & 0xF0) == kernel::kRowEndHigh;
        const bool count = high == kernel::kCountHigh && low != 0;
        const bool colour = high == kernel::kColourHigh;
        const bool afterCount = word == 0 ? countBefore : (counts >> (word - 1) & 1) != 0;
        const uint32_t bit = uint32_t{1} << word;
        alone |= single || rowEnd ? bit : 0;
        rowEnds |= rowEnd ? bit : 0;
        counts |= count ? bit : 0;
        misfits |= (single || rowEnd || count || colour) && colour == afterCount ? 0 : bit;
        out[at] = single ? 1 : rowEnd ? 0 : low;
        out[at + 1] = rowEnd ? 0 : low;
        at += single || rowEnd ? 2 : 1;
    }
    return static_cast<unsigned>(std::countr_zero(misfits | uint32_t{1} << kPlainWords));
}

void takeBlocksPlain(KernelSpan& span, RowEnds& rows) {
    const uint8_t* const start = span.in;
    const uint8_t* const inEnd = span.inEnd;
    const uint8_t* const outEnd = span.outEnd;
    const uint8_t* in = span.in;
    uint8_t* out = span.out;
    while (rows.rowsLeft > 0 && inEnd - in >= kPlainBlockIn && outEnd - out >= kPlainBlockOut) {
        const bool countBefore = in != start && in[-1] == kernel::kCountHigh;
        uint32_t alone = 0;
        uint32_t blockRowEnds = 0;
        const unsigned fitWords = plainBlock(in, countBefore, out, alone, blockRowEnds);
        if (fitWords < kPlainWords) {
            kernel::takeFitWords(in, out, fitWords, alone, blockRowEnds, span.outBase, rows);
            break;
        }
        const unsigned taken =
            blockRowEnds == 0
                ? kPlainWords
                : kernel::takeRowEnds(blockRowEnds, alone, kPlainWords, out, span.outBase, rows);
        in += 2 * taken;
        out += kernel::bytesOf(alone, taken);
        if (taken < kPlainWords) break;
    }
    kernel::leaveNoCountWaiting(span, start, in, out);
}

constexpr Rle8Kernel kPlainKernel{"plain", takeBlocksPlain};

std::vector<Rle8Kernel> findRunnableKernels() {
    std::vector<Rle8Kernel> kernels{kPlainKernel};
#if defined(KESTRUP_X86_KERNELS)
    __builtin_cpu_init();
    if (__builtin_cpu_supports("ssse3")) kernels.push_back(kSsse3Kernel);
    if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
        __builtin_cpu_supports("bmi2")) {
        kernels.push_back(kAvx2Kernel);
    }
#endif
    return kernels;
}

// Best last.
const std::vector<Rle8Kernel>& runnableKernels() {
    static const std::vector<Rle8Kernel> kernels = findRunnableKernels();
    return kernels;
}

}  // namespace

const Rle8Kernel& bestKernel() {
    return runnableKernels().back();
}

const std::vector<Rle8Kernel>& kernelsForTesting() {
    return runnableKernels();
}
