#include "rle8/rle8_kernels.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// The plain kernel works on blocks of eight words in 64-bit values and bytes,
// so that it needs no vector instructions and reads the words the same in
// either byte order.
constexpr unsigned kPlainWords = 8;
constexpr ptrdiff_t kPlainBlockIn = 2 * kPlainWords;
constexpr ptrdiff_t kPlainBlockOut = 2 * kPlainWords;

// The block's eight high bytes, and its eight low bytes, in one 64-bit value
// each: byte lane 2i holds word i's, lane 2i + 1 word i + 4's.
constexpr uint64_t kByteOnes = 0x0101010101010101;
constexpr uint64_t kByteTops = 0x8080808080808080;
constexpr uint64_t kEvenBytes = 0x00FF00FF00FF00FF;

uint64_t loadFourWords(const uint8_t* in) {
    uint64_t words = 0;
    std::memcpy(&words, in, sizeof words);
    if constexpr (std::endian::native == std::endian::big) words = __builtin_bswap64(words);
    return words;
}

// Bytes stored least significant first, in one store each.
void storeLittle32(uint8_t* at, uint32_t value) {
    if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap32(value);
    std::memcpy(at, &value, sizeof value);
}

void storeLittle64(uint8_t* at, uint64_t value) {
    if constexpr (std::endian::native == std::endian::big) value = __builtin_bswap64(value);
    std::memcpy(at, &value, sizeof value);
}

// Each byte lane's top bit set where the lane is zero.
constexpr uint64_t zeroBytes(uint64_t lanes) {
    return ~(((lanes & ~kByteTops) + ~kByteTops) | lanes) & kByteTops;
}

constexpr uint64_t bytesEqual(uint64_t lanes, uint64_t value) {
    return zeroBytes(lanes ^ (value * kByteOnes));
}

// The lanes' top bits as bits 0 to 7 in the words' order.
constexpr uint32_t wordBits(uint64_t tops) {
    return static_cast<uint32_t>(((tops >> 7) * 0x0110022004400880) >> 56);
}

struct PlainKinds {
    uint32_t singles;
    uint32_t counts;
    uint32_t colours;
    uint32_t rowEnds;
};

PlainKinds plainKinds(const uint8_t* in) {
    const uint64_t first = loadFourWords(in);
    const uint64_t second = loadFourWords(in + 8);
    const uint64_t highs = (first >> 8 & kEvenBytes) | (second & ~kEvenBytes);
    const uint64_t lows = (first & kEvenBytes) | (second << 8 & ~kEvenBytes);
    return {wordBits(bytesEqual(highs, kernel::kSingleHigh)),
            wordBits(bytesEqual(highs, kernel::kCountHigh) & ~zeroBytes(lows)),
            wordBits(bytesEqual(highs, kernel::kColourHigh)),
            wordBits(bytesEqual(highs & 0xF0 * kByteOnes, kernel::kRowEndHigh))};
}

// Writes every word of the block as its bytes: a single pixel as 01 and its
// colour, an end of row as its end-of-line pair 00 00, any other word as its
// low byte. Returns how many words fit before the first that is of none of the
// four kinds or is a colour word not straight after a count; alone and rowEnds
// get the words of two bytes and the ends of row.
unsigned plainBlock(const uint8_t* in, bool countBefore, uint8_t* out, uint32_t& alone,
                    uint32_t& rowEnds) {
    const PlainKinds kinds = plainKinds(in);
    alone = kinds.singles | kinds.rowEnds;
    rowEnds = kinds.rowEnds;
    const uint32_t colourWanted = (kinds.counts << 1 | (countBefore ? 1 : 0)) & 0xFF;
    const uint32_t misfits =
        (~(alone | kinds.counts | kinds.colours) | (kinds.colours ^ colourWanted)) & 0xFF;
    if (alone == 0 || kinds.singles == 0xFF) {
        // Counts and colours alone give their low bytes; single pixels alone 01
        // and their colours.
        for (unsigned half = 0; half < 2; ++half) {
            const uint64_t lows = loadFourWords(in + 8 * half) & kEvenBytes;
            if (alone == 0) {
                const uint64_t pairs = (lows | lows >> 8) & 0x0000FFFF0000FFFF;
                storeLittle32(out + 4 * half, static_cast<uint32_t>(pairs | pairs >> 16));
            } else {
                storeLittle64(out + 8 * half, lows << 8 | 0x0001000100010001);
            }
        }
        return static_cast<unsigned>(std::countr_zero(misfits | uint32_t{1} << kPlainWords));
    }
    // Without a branch per word: masks of all ones or zero choose the bytes.
    unsigned at = 0;
    for (unsigned word = 0; word < kPlainWords; ++word) {
        const uint32_t low = in[2 * word];
        const uint32_t single = kinds.singles >> word & 1;
        const uint32_t twoBytes = alone >> word & 1;
        const uint32_t rowEnd = kinds.rowEnds >> word & 1;
        out[at] = static_cast<uint8_t>((low & (twoBytes - 1)) | single);
        out[at + 1] = static_cast<uint8_t>(low & (rowEnd - 1));
        at += twoBytes + 1;
    }
    return static_cast<unsigned>(std::countr_zero(misfits | uint32_t{1} << kPlainWords));
}

// Blocks of one kind, the commonest in drawn and in noisy pictures, checked in a
// few operations before any classifying. Repeat counts of 1..255, each with its
// colour word of 0..255, give their low bytes: four whole pairs, or, after a
// count the block before left waiting, its colour word, three pairs and a
// count that waits in turn. Eight single pixels give 01 and their colours.
// Returns the bytes written, or 0 (nothing written) for a block of any other
// words.
unsigned oneKindBlock(const uint8_t* in, bool countBefore, uint8_t* out) {
    constexpr uint64_t kHighBytes = ~kEvenBytes;
    constexpr uint64_t kColourHighs = uint64_t{kernel::kColourHigh} * 0x0100000001000000;
    constexpr uint64_t kCountLows = 0x000000FF000000FF;
    constexpr uint64_t kSingleHighs = uint64_t{kernel::kSingleHigh} * 0x0100010001000100;
    // Words 1 and 3 of each half are the colours of whole pairs; after a
    // waiting count, words 0 and 2.
    const unsigned shift = countBefore ? 16 : 0;
    const uint64_t pairHighs = kColourHighs >> shift;
    const uint64_t notCountLows = ~(kCountLows << shift);
    const uint64_t first = loadFourWords(in);
    const uint64_t second = loadFourWords(in + 8);
    const uint64_t firstHighs = first & kHighBytes;
    const uint64_t secondHighs = second & kHighBytes;
    if (firstHighs == pairHighs && secondHighs == pairHighs &&
        (zeroBytes(first | notCountLows) | zeroBytes(second | notCountLows)) == 0) {
        const auto lowBytes = [](uint64_t words) {
            uint64_t lows = words & kEvenBytes;
            lows = (lows | lows >> 8) & 0x0000FFFF0000FFFF;
            return (lows | lows >> 16) & 0xFFFFFFFF;
        };
        storeLittle64(out, lowBytes(first) | lowBytes(second) << 32);
        return 8;
    }
    if (!countBefore && firstHighs == kSingleHighs && secondHighs == kSingleHighs) {
        storeLittle64(out, (first & kEvenBytes) << 8 | 0x0001000100010001);
        storeLittle64(out + 8, (second & kEvenBytes) << 8 | 0x0001000100010001);
        return 16;
    }
    return 0;
}

void takeBlocksPlain(KernelSpan& span, RowEnds& rows) {
    const uint8_t* const start = span.in;
    const uint8_t* const inEnd = span.inEnd;
    const uint8_t* const outEnd = span.outEnd;
    const uint8_t* in = span.in;
    uint8_t* out = span.out;
    while (rows.rowsLeft > 0 && inEnd - in >= kPlainBlockIn && outEnd - out >= kPlainBlockOut) {
        const bool countBefore = in != start && in[-1] == kernel::kCountHigh;
        if (const unsigned written = oneKindBlock(in, countBefore, out); written != 0) {
            in += kPlainBlockIn;
            out += written;
            continue;
        }
        uint32_t alone = 0;
        uint32_t blockRowEnds = 0;
        const unsigned fitWords = plainBlock(in, countBefore, out, alone, blockRowEnds);
        if (fitWords < kPlainWords) {
            kernel::takeFitWords(in, out, fitWords, alone, blockRowEnds, span.outBase, rows);
            if (rows.rowsLeft > 0 && kernel::takeLongRun(in, start, inEnd, out, outEnd)) continue;
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
