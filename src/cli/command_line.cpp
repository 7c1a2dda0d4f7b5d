#include "cli/command_line.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "console_output.h"
#include "conversion_state.h"

namespace {

constexpr int32_t kDefaultDotInterval = 10;
constexpr double kDefaultFramesPerSecond = 10.0;

bool isDigit(char character) {
    return std::isdigit(static_cast<unsigned char>(character)) != 0;
}

// The argument's leading decimal number; a value past the 32-bit range is held
// at its largest value.
int32_t leadingNumber(const char* text) {
    constexpr int64_t kLargest = std::numeric_limits<int32_t>::max();
    int64_t value = 0;
    for (; isDigit(*text); ++text) {
        value = value * 10 + (*text - '0');
        if (value > kLargest) return static_cast<int32_t>(kLargest);
    }
    return static_cast<int32_t>(value);
}

}  // namespace

int parseCommandLine(int argc, const char* const* argv, Options& options) {
    options = Options{};
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (argument[0] != '-') {
            if (options.inputName == nullptr) {
                options.inputName = argument;
            } else if (options.outputName == nullptr) {
                options.outputName = argument;
            } else {
                setErrorText("Too many file names");
                return 0;
            }
            continue;
        }
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        // An option is its second character alone: -h, -help and -hx are one option.
        switch (argument[1]) {
            case '\0':
                setErrorText("'-' missing option command");
                return 0;
            case 'd':
                options.dotInterval = kDefaultDotInterval;
                if (next != nullptr && isDigit(next[0])) {
                    options.dotInterval = leadingNumber(next);
                    ++i;
                }
                break;
            case 'h':
                options.help = true;
                break;
            case 'm':
                options.multiPalette = true;
                break;
            case 'p':
                options.sharedPalette = true;
                break;
            case 'q':
                options.quiet = true;
                break;
            case 's':
                options.framesPerSecond = kDefaultFramesPerSecond;
                if (next != nullptr && (isDigit(next[0]) || next[0] == '.')) {
                    options.framesPerSecond = std::strtod(next, nullptr);
                    ++i;
                }
                break;
            case 'y':
                options.noPrompt = true;
                break;
            default:
                printToStandardError("Unrecognized option %s\n", argument);
                return 0;
        }
    }
    return 1;
}
