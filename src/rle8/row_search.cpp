#include "rle8/row_search.h"

#include <algorithm>

#include "conversion_state.h"
#include "rle8/word_vectors.h"
#include "rmfile/format_errors.h"
#include "rmfile/rm_format.h"

int64_t skipWordsOfKind(InputReader& input, uint16_t kind, int64_t count, uint16_t& lastKind) {
    const auto kindInHighByte = static_cast<uint8_t>(kind >> 8);
    int64_t passed = 0;
    while (passed < count) {
        const uint8_t* const start = input.window.data() + input.next;
        const uint8_t* const end = start + ((input.filled - input.next) & ~size_t{1});
        const uint8_t* word = start;
        // Sixteen words at a time while the words wanted lie further on.
        constexpr auto kStep = static_cast<ptrdiff_t>(2 * wordvec::kBytes);
        for (; end - word >= kStep; word += kStep) {
            const unsigned mask = wordvec::kindMask(word, kind) |
                                  wordvec::kindMask(word + wordvec::kBytes, kind) << 8;
            if (mask == 0) continue;
            const int found =
                mask == 0xFFFF ? 16
                               : wordvec::countWords(mask & 0xFF) + wordvec::countWords(mask >> 8);
            if (passed + found >= count) break;
            passed += found;
        }
        for (; word != end; word += 2) {
            if ((word[1] & 0xF0) == kindInHighByte && ++passed == count) {
                input.next = static_cast<size_t>(word + 2 - input.window.data());
                lastKind = kind;
                return passed;
            }
        }
        if (end != start) lastKind = static_cast<uint16_t>((end[-1] << 8) & kWordKindMask);
        input.next = static_cast<size_t>(end - input.window.data());
        // The window is used up, or one odd byte is left in it: read on word by word.
        uint16_t value = 0;
        if (!readU16(input, value)) return passed;
        lastKind = wordKind(value);
        if (lastKind == kind) ++passed;
    }
    return passed;
}

int findRowMarks(InputReader& input, int32_t height, size_t maxMarks, RowMarks& marks) {
    marks.starts.clear();
    marks.stride = 1;
    marks.starts.push_back(readerPosition(input));
    uint16_t lastKind = kWordKindMask;
    const int64_t rowEnds = int64_t{height} - 1;  // the last row's end is not looked for
    for (int64_t row = 0; row < rowEnds;) {
        const int64_t nextMark = std::min(rowEnds, (row / marks.stride + 1) * marks.stride);
        row += skipWordsOfKind(input, kEndOfRow, nextMark - row, lastKind);
        if (row < nextMark) {
            setFormatError(
                lastKind == kEndOfImage ? kErrorRowEndMissingAfterImageEnd : kErrorRowEndMissing,
                readerPosition(input));
            return 0;
        }
        if (row % marks.stride != 0) continue;
        marks.starts.push_back(readerPosition(input));
        if (marks.starts.size() > maxMarks) {  // keep rows 0, 2 * stride, 4 * stride, ...
            for (size_t i = 0; 2 * i < marks.starts.size(); ++i)
                marks.starts[i] = marks.starts[2 * i];
            marks.starts.resize((marks.starts.size() + 1) / 2);
            marks.stride *= 2;
        }
    }
    if (skipWordsOfKind(input, kEndOfImage, 1, lastKind) != 1) {
        setFormatError(kErrorImageEndMissing, readerPosition(input));
        return 0;
    }
    marks.frameEnd = readerPosition(input);
    return 1;
}
