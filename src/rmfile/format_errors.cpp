#include "rmfile/format_errors.h"

#include <cinttypes>

#include "conversion_state.h"
#include "rmfile/rm_format.h"

namespace {

// The second line of each internal error: %1$d is the frame (counted from 1),
// %2$lld the input position.
const char* explanationOf(int number) {
    switch (number) {
        case kErrorFrameMark:
            return "Frame %d does not start with the frame mark (bytes 00 00 00 E0) at byte "
                   "%" PRId64 ".";
        case kErrorBeginImage:
            return "The image data of frame %d, at byte %" PRId64
                   ", does not start with a begin-image word.";
        case kErrorRowEndMissing:
            return "The input ends inside frame %d, at byte %" PRId64
                   ", before the end of one of its rows.";
        case kErrorRowEndMissingAfterImageEnd:
            return "Frame %d has fewer rows than its height: the input ends at byte %" PRId64
                   ", after its end-of-image word.";
        case kErrorImageEndMissing:
            return "The input ends inside frame %d, at byte %" PRId64
                   ", before its end-of-image word.";
        case kErrorColourWordMissing:
            return "In frame %d, the word at byte %" PRId64
                   " follows a repeat count but is not a colour word.";
        case kErrorWordNotInRow:
            return "In frame %d, the word at byte %" PRId64
                   " is of a kind that does not belong inside a row.";
        case kErrorZeroRepeat:
            return "In frame %d, the repeat count at byte %" PRId64 " is zero.";
        default:
            return nullptr;
    }
}

void setInternalError(int number, const char* explanation, int64_t offset) {
    setErrorText(kInternalErrorFormat, number);
    if (explanation == nullptr) return;
    gState.errorText += '\n';
    gState.errorText += formatText(explanation, gState.frameCount + 1, offset);
}

}  // namespace

void setFormatError(int number, int64_t offset) {
    setInternalError(number, explanationOf(number), offset);
}

void setRowCutShortError(int number, int64_t offset) {
    setInternalError(number,
                     number == kErrorColourWordMissing
                         ? "The input ends inside frame %d, at byte %" PRId64
                           ", after a repeat count and before its colour word."
                         : "The input ends inside frame %d, at byte %" PRId64
                           ", inside one of its rows.",
                     offset);
}
