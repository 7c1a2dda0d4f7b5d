#include "avi/rle8_transcoder.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstring>

#include "avi/avi_format.h"
#include "avi/word_vectors.h"
#include "console_output.h"
#include "conversion_state.h"
#include "rmfile/rm_format.h"

namespace {

static_assert(kLongestRunBytes == 2 * ((kWordValueMask + kRleMaxRun - 1) / kRleMaxRun));

// A 32-bit value loaded from memory in the machine's order, as the file's.
inline uint32_t littleEndian32(uint32_t loaded) {
    if constexpr (std::endian::native == std::endian::big) return __builtin_bswap32(loaded);
    return loaded;
}

}  // namespace

TranscodeStop transcodeSpan(const uint8_t*& inAt, const uint8_t* inEnd, uint8_t*& outAt,
                            uint8_t* outEnd) {
    const uint8_t* in = inAt;
    uint8_t* out = outAt;
    const auto stopAt = [&](TranscodeStop stop) {
        inAt = in;
        outAt = out;
        return stop;
    };
    for (;;) {
        // Words that surely fit, unchecked: each has itself and the word after it
        // in the input, and room for its longest output.
        const ptrdiff_t words = std::min((inEnd - in) / 2 - 1, (outEnd - out) / kLongestRunBytes);
        if (words <= 0) return stopAt(TranscodeStop::kCareful);
        const uint8_t* const batchEnd = in + 2 * words;
        while (in < batchEnd) {
            // Most of a row is repeat runs or single pixels, several in a row;
            // the first word's high byte tells which may follow.
            // A full eight is taken as a sign that more of the same follow.
            constexpr auto kVectorReach = static_cast<ptrdiff_t>(2 * wordvec::kBytes);
            if (batchEnd - in >= kVectorReach) {
                if (in[1] == wordvec::kSingleHigh) {
                    // Sixteen at a time while all are singles, then the rest of them.
                    while (batchEnd - in >= kVectorReach && wordvec::sixteenSinglesToRle(in, out)) {
                        in += kVectorReach;
                        out += kVectorReach;
                    }
                    if (batchEnd - in >= kVectorReach) {
                        const size_t singles = wordvec::singlesToRle(in, out);
                        in += 2 * singles;
                        out += 2 * singles;
                    }
                    continue;
                }
                size_t pairs = wordvec::pairsToRle(in, out);
                if (pairs > 0) {
                    in += 4 * pairs;
                    out += 2 * pairs;
                    while (pairs == wordvec::kWords && batchEnd - in >= kVectorReach) {
                        pairs = wordvec::pairsToRle(in, out);
                        in += 4 * pairs;
                        out += 2 * pairs;
                    }
                    // Rows mostly end right after their runs.
                    if (in < batchEnd && wordKind(static_cast<uint16_t>(in[1] << 8)) == kEndOfRow) {
                        out[0] = kRleEscape;
                        out[1] = kRleEndOfLine;
                        out += 2;
                        in += 2;
                        return stopAt(TranscodeStop::kEndOfRow);
                    }
                    continue;
                }
            }
            // Two words at once: repeat counts of 1..255 with a colour up to 255
            // have the high bytes 0x00 and 0x30 exactly.
            uint32_t pair;
            std::memcpy(&pair, in, sizeof pair);
            pair = littleEndian32(pair);
            if ((pair & 0xFF00FF00u) == 0x30000000u && (pair & 0xFFu) != 0) {
                out[0] = static_cast<uint8_t>(pair);
                out[1] = static_cast<uint8_t>(pair >> 16);
                out += 2;
                in += 4;
                continue;
            }
            const auto word = static_cast<uint16_t>(pair);
            const uint16_t kind = wordKind(word);
            if (kind == kSinglePixel && wordValue(word) <= kMaxColourIndex) {
                out[0] = 1;
                out[1] = static_cast<uint8_t>(word);
                out += 2;
                in += 2;
                continue;
            }
            if (kind == kEndOfRow) {
                out[0] = kRleEscape;
                out[1] = kRleEndOfLine;
                out += 2;
                in += 2;
                return stopAt(TranscodeStop::kEndOfRow);
            }
            const auto colourWord = static_cast<uint16_t>(pair >> 16);
            int run = wordValue(word);
            if (kind != kRepeatCount || run == 0 || wordKind(colourWord) != kColour ||
                wordValue(colourWord) > kMaxColourIndex) {
                return stopAt(TranscodeStop::kCareful);
            }
            const auto colour = static_cast<uint8_t>(colourWord);
            for (; run > kRleMaxRun; run -= kRleMaxRun) {
                out[0] = kRleMaxRun;
                out[1] = colour;
                out += 2;
            }
            out[0] = static_cast<uint8_t>(run);
            out[1] = colour;
            out += 2;
            in += 4;
        }
    }
}

namespace {

// transcodeSpan from the input window into the output buffer.
TranscodeStop transcodeInWindow(InputReader& input, OutputWriter& output, int64_t& count) {
    const uint8_t* in = input.window.data() + input.next;
    uint8_t* out = output.buffer.data() + output.used;
    uint8_t* const outStart = out;
    const TranscodeStop stop = transcodeSpan(in, input.window.data() + input.filled, out,
                                             output.buffer.data() + output.buffer.size());
    input.next = static_cast<size_t>(in - input.window.data());
    output.used = static_cast<size_t>(out - output.buffer.data());
    count += out - outStart;
    return stop;
}

}  // namespace

int64_t transcodeRow(InputReader& input, OutputWriter& output, int& ok) {
    ok = 1;
    int64_t count = 0;
    for (;;) {
        // After a zero repeat count the row's end must not become an end of line.
        if (ok == 1 && transcodeInWindow(input, output, count) == TranscodeStop::kEndOfRow) {
            return count;
        }
        uint16_t word = 0;
        // The end of the input reads as a word of no row kind.
        const uint16_t kind = readU16(input, word) ? wordKind(word) : kWordKindMask;
        uint16_t colourWord = word;
        int runLength = 1;
        if (kind == kEndOfRow) {
            if (ok == 0) return count;
            writeU8(output, kRleEscape);
            writeU8(output, kRleEndOfLine);
            return count + 2;
        }
        if (kind == kRepeatCount) {
            runLength = wordValue(word);
            if (!readU16(input, colourWord) || wordKind(colourWord) != kColour) {
                setErrorText(kInternalErrorFormat, kErrorColourWordMissing);
                ok = 0;
                return count;
            }
        } else if (kind != kSinglePixel) {
            setErrorText(kInternalErrorFormat, kErrorWordNotInRow);
            ok = 0;
            return count;
        }
        const uint16_t colourIndex = wordValue(colourWord);
        if (colourIndex > kMaxColourIndex) {
            printToStandardError(
                "Cannot convert this file: color map number is greater than 255.\n");
            ok = 0;
            return count;
        }
        if (runLength == 0) {
            setErrorText(kInternalErrorFormat, kErrorZeroRepeat);
            ok = 0;
        }
        while (runLength > 0) {
            const int piece = runLength < kRleMaxRun ? runLength : kRleMaxRun;
            writeU8(output, static_cast<uint8_t>(piece));
            writeU8(output, static_cast<uint8_t>(colourIndex));
            count += 2;
            runLength -= piece;
        }
    }
}
