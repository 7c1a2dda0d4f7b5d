// The vector kernels, built for processors with SSSE3 and with AVX2 whatever
// the build's own target; the program runs one only where the processor has it.
#include "rle8/rle8_kernels.h"

#if defined(KESTRUP_X86_KERNELS)

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <bit>

#include "rmfile/rm_format.h"

namespace {

// For a lane of eight words, by the mask of the words that give two bytes
// (bit i for word i): the byte order that gathers the words' bytes, and how
// many there are. The words come in with a single pixel's high byte turned
// into 01, so that a two-byte word gives its high byte, then its low byte (01
// and its colour; an end of row's bytes are overwritten by its end-of-line
// pair), and any other word its low byte.
struct alignas(32) LaneOrder {
    uint8_t order[16];
    uint8_t bytes;
};
static_assert(sizeof(LaneOrder) == 32);

struct LaneOrders {
    LaneOrder lane[256];
};

constexpr LaneOrders makeLaneOrders() {
    LaneOrders lanes{};
    for (unsigned twoBytes = 0; twoBytes < 256; ++twoBytes) {
        LaneOrder& lane = lanes.lane[twoBytes];
        unsigned at = 0;
        for (unsigned word = 0; word < 8; ++word) {
            if ((twoBytes >> word & 1) != 0) lane.order[at++] = static_cast<uint8_t>(2 * word + 1);
            lane.order[at++] = static_cast<uint8_t>(2 * word);
        }
        lane.bytes = static_cast<uint8_t>(at);
        for (; at < 16; ++at)
            lane.order[at] = 0x80;  // a zero byte
    }
    return lanes;
}

constexpr LaneOrders kLanes = makeLaneOrders();

// XORed into every word: a single pixel's high byte 0x10 becomes 01, its count.
constexpr short kSingleToCount = 0x1100;

// ---- SSSE3: eight words a block ----

constexpr ptrdiff_t kSsse3BlockIn = 16;  // and at most as many bytes out

// One loop, longer than a function should be: split, its state would leave
// the registers and the vectors between calls, which is what the kernel is for.
__attribute__((target("ssse3"))) void takeBlocksSsse3(KernelSpan& span, RowEnds& rows) {
    const uint8_t* const start = span.in;
    const uint8_t* in = span.in;
    uint8_t* out = span.out;
    if (rows.rowsLeft > 0 && span.inEnd - in >= kSsse3BlockIn &&
        span.outEnd - out >= kSsse3BlockIn) {
        const uint8_t* const inLast = span.inEnd - kSsse3BlockIn;
        const uint8_t* const outLast = span.outEnd - kSsse3BlockIn;
        const __m128i zero = _mm_setzero_si128();
        const __m128i singleHigh = _mm_set1_epi16(kernel::kSingleHigh);
        const __m128i colourHigh = _mm_set1_epi16(kernel::kColourHigh);
        const __m128i kindBits = _mm_set1_epi16(static_cast<short>(kWordKindMask));
        const __m128i rowEndKind = _mm_set1_epi16(static_cast<short>(kEndOfRow));
        const __m128i singleToCount = _mm_set1_epi16(kSingleToCount);
        __m128i lastCounts = zero;  // of the words before the block
        do {
            const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
            const __m128i high = _mm_srli_epi16(words, 8);
            const __m128i single = _mm_cmpeq_epi16(high, singleHigh);
            const __m128i colour = _mm_cmpeq_epi16(high, colourHigh);
            const __m128i count =
                _mm_andnot_si128(_mm_cmpeq_epi16(words, zero), _mm_cmpeq_epi16(high, zero));
            const __m128i rowEnd = _mm_cmpeq_epi16(_mm_and_si128(words, kindBits), rowEndKind);
            const __m128i alone = _mm_or_si128(single, rowEnd);
            // Of the four kinds, each colour word straight after a count.
            const __m128i countBefore = _mm_alignr_epi8(count, lastCounts, 14);
            const __m128i fit = _mm_andnot_si128(_mm_xor_si128(colour, countBefore),
                                                 _mm_or_si128(_mm_or_si128(alone, colour), count));
            // Bits 0-7: the words of two bytes; bits 8-15: the ends of row.
            const auto masks =
                static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(alone, rowEnd)));
            const uint32_t aloneMask = masks & 0xFF;
            const __m128i order =
                _mm_load_si128(reinterpret_cast<const __m128i*>(kLanes.lane[aloneMask].order));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out),
                             _mm_shuffle_epi8(_mm_xor_si128(words, singleToCount), order));
            const auto fitMask = static_cast<unsigned>(_mm_movemask_epi8(fit));
            if (fitMask != 0xFFFF) {
                kernel::takeFitWords(in, out, static_cast<unsigned>(std::countr_one(fitMask)) / 2,
                                     aloneMask, masks >> 8, span.outBase, rows);
                if (rows.rowsLeft == 0 ||
                    !kernel::takeLongRun(in, start, span.inEnd, out, span.outEnd))
                    break;
                lastCounts = zero;  // the run's colour word came last
                continue;
            }
            if (masks > 0xFF) {
                const unsigned taken =
                    kernel::takeRowEnds(masks >> 8, aloneMask, 8, out, span.outBase, rows);
                if (taken < 8 || rows.rowsLeft == 0) {
                    in += 2 * taken;
                    out += kernel::bytesOf(aloneMask, taken);
                    break;
                }
            }
            in += kSsse3BlockIn;
            out += kLanes.lane[aloneMask].bytes;
            lastCounts = count;
        } while (in <= inLast && out <= outLast);
    }
    kernel::leaveNoCountWaiting(span, start, in, out);
}

// ---- AVX2: thirty-two words a step, four lanes of eight ----

constexpr ptrdiff_t kAvx2StepIn = 64;  // and at most as many bytes out

// A lane's entry, from its mask already shifted into place as the entry's
// offset in the table (the mask times 32).
inline const LaneOrder& laneAt(uint32_t offset) {
    return *reinterpret_cast<const LaneOrder*>(reinterpret_cast<const uint8_t*>(kLanes.lane) +
                                               offset);
}

__attribute__((target("avx2"))) inline __m256i avx2Order(const LaneOrder& low,
                                                         const LaneOrder& high) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(low.order))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(high.order)), 1);
}

// Writes the step's words at out in their lanes' byte orders, by the mask of
// the words that give two bytes; returns the bytes written.
__attribute__((target("avx2"))) inline uint32_t storeInByteOrder(__m256i first, __m256i second,
                                                                 uint32_t aloneMask, uint8_t* out) {
    const __m256i singleToCount = _mm256_set1_epi16(kSingleToCount);
    // Bit i: word i gives two bytes; each lane's byte of it, times 32, is its
    // entry's offset in the table.
    const LaneOrder& lane0 = laneAt(std::rotr(aloneMask, 27) & 0x1FE0);
    const LaneOrder& lane1 = laneAt(std::rotr(aloneMask, 3) & 0x1FE0);
    const LaneOrder& lane2 = laneAt(std::rotr(aloneMask, 11) & 0x1FE0);
    const LaneOrder& lane3 = laneAt(std::rotr(aloneMask, 19) & 0x1FE0);
    const uint32_t at1 = lane0.bytes;
    const uint32_t at2 = at1 + lane1.bytes;
    const uint32_t at3 = at2 + lane2.bytes;
    const __m256i firstBytes =
        _mm256_shuffle_epi8(_mm256_xor_si256(first, singleToCount), avx2Order(lane0, lane1));
    const __m256i secondBytes =
        _mm256_shuffle_epi8(_mm256_xor_si256(second, singleToCount), avx2Order(lane2, lane3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(firstBytes));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at1),
                     _mm256_extracti128_si256(firstBytes, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at2), _mm256_castsi256_si128(secondBytes));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at3),
                     _mm256_extracti128_si256(secondBytes, 1));
    return at3 + lane3.bytes;
}

// One loop, as the SSSE3 kernel, for the same reason.
__attribute__((target("avx2,bmi,bmi2"))) void takeBlocksAvx2(KernelSpan& span, RowEnds& rows) {
    const uint8_t* const start = span.in;
    const uint8_t* in = span.in;
    uint8_t* out = span.out;
    const __m256i zero = _mm256_setzero_si256();
    const __m256i singleHigh = _mm256_set1_epi8(static_cast<char>(kernel::kSingleHigh));
    const __m256i colourHigh = _mm256_set1_epi8(static_cast<char>(kernel::kColourHigh));
    const __m256i kindBits = _mm256_set1_epi8(static_cast<char>(0xF0));
    const __m256i rowEndHigh = _mm256_set1_epi8(static_cast<char>(kernel::kRowEndHigh));
    __m256i lastCounts = zero;  // of the words before the step, as their high bytes
    uint32_t lastSingles = 0;   // of the step before
    // Each step takes 64 bytes and gives at most 64.
    for (ptrdiff_t steps =
             rows.rowsLeft > 0 ? std::min(span.inEnd - in, span.outEnd - out) / kAvx2StepIn : 0;
         steps > 0; --steps) {
        __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in));
        __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + 32));
        // The 32 high bytes in the words' order.
        const __m256i high = _mm256_permute4x64_epi64(
            _mm256_packus_epi16(_mm256_srli_epi16(first, 8), _mm256_srli_epi16(second, 8)), 0xD8);
        const __m256i single = _mm256_cmpeq_epi8(high, singleHigh);
        const __m256i colour = _mm256_cmpeq_epi8(high, colourHigh);
        const __m256i count = _mm256_cmpeq_epi8(high, zero);  // or a word of zero
        const __m256i rowEnd = _mm256_cmpeq_epi8(_mm256_and_si256(high, kindBits), rowEndHigh);
        const __m256i alone = _mm256_or_si256(single, rowEnd);
        // Of the four kinds, each colour word straight after a count; the first
        // word's count-before is the last word of the step before.
        const __m256i countBefore =
            _mm256_alignr_epi8(count, _mm256_permute2x128_si256(lastCounts, count, 0x21), 15);
        const __m256i fit =
            _mm256_andnot_si256(_mm256_xor_si256(colour, countBefore),
                                _mm256_or_si256(_mm256_or_si256(alone, colour), count));
        auto aloneMask = static_cast<uint32_t>(_mm256_movemask_epi8(alone));
        const auto singleMask = static_cast<uint32_t>(_mm256_movemask_epi8(single));
        // A word of zero in either half clears its bytes' places.
        const __m256i anyZeros = _mm256_cmpeq_epi16(_mm256_min_epu16(first, second), zero);
        bool allFit = _mm256_movemask_epi8(_mm256_andnot_si256(anyZeros, fit)) == -1;
        // Steps of one kind, the commonest in drawn and in noisy pictures, need no
        // byte orders: counts and colour words give their low bytes, single
        // pixels 01 and their colours. (A branch a step, not a word: steps of
        // counts alone are looked for after a step without single pixels, so
        // that in rows of both kinds the branch is seldom taken.)
        const bool afterRuns = lastSingles == 0;
        lastSingles = singleMask;
        if (afterRuns && allFit && aloneMask == 0) {
            const __m256i lowBytes = _mm256_set1_epi16(0x00FF);
            _mm256_storeu_si256(
                reinterpret_cast<__m256i*>(out),
                _mm256_permute4x64_epi64(_mm256_packus_epi16(_mm256_and_si256(first, lowBytes),
                                                             _mm256_and_si256(second, lowBytes)),
                                         0xD8));
            in += kAvx2StepIn;
            out += 32;
            lastCounts = count;
            continue;
        }
        if (allFit && aloneMask == 0xFFFFFFFF && _mm256_testz_si256(rowEnd, rowEnd) != 0) {
            const __m256i countOne = _mm256_set1_epi16(1);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out),
                                _mm256_or_si256(_mm256_slli_epi16(first, 8), countOne));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 32),
                                _mm256_or_si256(_mm256_slli_epi16(second, 8), countOne));
            in += kAvx2StepIn;
            out += 64;
            lastCounts = zero;
            continue;
        }
        const uint32_t stepBytes = storeInByteOrder(first, second, aloneMask, out);
        if (!allFit) {
            const auto zeroMask = static_cast<uint32_t>(_mm256_movemask_epi8(
                _mm256_permute4x64_epi64(_mm256_packs_epi16(_mm256_cmpeq_epi16(first, zero),
                                                            _mm256_cmpeq_epi16(second, zero)),
                                         0xD8)));
            const auto fitMask = static_cast<uint32_t>(_mm256_movemask_epi8(fit)) & ~zeroMask;
            kernel::takeFitWords(in, out, static_cast<unsigned>(std::countr_one(fitMask)),
                                 aloneMask, static_cast<uint32_t>(_mm256_movemask_epi8(rowEnd)),
                                 span.outBase, rows);
            if (rows.rowsLeft == 0 || !kernel::takeLongRun(in, start, span.inEnd, out, span.outEnd))
                break;
            // A long run may give more bytes than it took: the room is counted again.
            steps = std::min(span.inEnd - in, span.outEnd - out) / kAvx2StepIn + 1;
            lastCounts = zero;  // the run's colour word came last
            lastSingles = 0;
            continue;
        }
        if (_mm256_testz_si256(rowEnd, rowEnd) == 0) {
            const unsigned taken =
                kernel::takeRowEnds(static_cast<uint32_t>(_mm256_movemask_epi8(rowEnd)), aloneMask,
                                    32, out, span.outBase, rows);
            if (taken < 32 || rows.rowsLeft == 0) {
                in += 2 * taken;
                out += kernel::bytesOf(aloneMask, taken);
                break;
            }
        }
        in += kAvx2StepIn;
        out += stepBytes;
        lastCounts = count;
    }
    kernel::leaveNoCountWaiting(span, start, in, out);
}

}  // namespace

const Rle8Kernel kSsse3Kernel{"ssse3", takeBlocksSsse3};
const Rle8Kernel kAvx2Kernel{"avx2", takeBlocksAvx2};

#endif
