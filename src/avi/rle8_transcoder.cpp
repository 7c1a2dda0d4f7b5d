#include "avi/rle8_transcoder.h"

#include "avi/avi_format.h"
#include "byte_order.h"
#include "conversion_state.h"
#include "rmfile/rm_format.h"

int64_t transcodeRow(std::FILE* input, std::FILE* output, int& ok) {
    ok = 1;
    int64_t count = 0;
    for (;;) {
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
            std::fputs("Cannot convert this file: color map number is greater than 255.\n", stderr);
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
