#include "cli/command_line.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "avi/avi_header.h"
#include "conversion_state.h"
#include "io/console_output.h"

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

// A rate: a decimal number, or a fraction of two such as 30000/1001.
double frameRate(const char* text) {
    char* end = nullptr;
    const double rate = std::strtod(text, &end);
    if (*end != '/' || !(isDigit(end[1]) || end[1] == '.')) return rate;
    return rate / std::strtod(end + 1, nullptr);
}

// The value written onto the option's letter, as in -d5 or -s29.97; nullptr
// when the letter is followed by a word, as in -dots or -speed.
const char* joinedValue(const char* argument, bool decimalPoint) {
    const char* value = argument + 2;
    return isDigit(value[0]) || (decimalPoint && value[0] == '.') ? value : nullptr;
}

// The option's value: the one written onto its letter, else the next argument
// when it is one (and then taken), else nullptr.
const char* optionValue(const char* argument, const char* next, bool decimalPoint, int& i) {
    if (const char* joined = joinedValue(argument, decimalPoint)) return joined;
    if (next == nullptr || !(isDigit(next[0]) || (decimalPoint && next[0] == '.'))) return nullptr;
    ++i;
    return next;
}

// The two long options; every other argument beginning with "--" is unknown.
int takeLongOption(const char* argument, Options& options) {
    if (std::strcmp(argument, "--help") == 0) {
        options.help = true;
    } else if (std::strcmp(argument, "--version") == 0) {
        options.version = true;
    } else {
        printToStandardError("Unrecognized option %s\n", argument);
        return 0;
    }
    return 1;
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
        if (argument[1] == '-') {
            if (!takeLongOption(argument, options)) return 0;
            continue;
        }
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        // An option is its second character alone: -h, -help and -hx are one option.
        switch (argument[1]) {
            case '\0':
                setErrorText("'-' missing option command");
                return 0;
            case 'd': {
                const char* value = optionValue(argument, next, false, i);
                options.dotInterval = value != nullptr ? leadingNumber(value) : kDefaultDotInterval;
                break;
            }
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
                options.rateText = optionValue(argument, next, true, i);
                options.framesPerSecond = options.rateText != nullptr ? frameRate(options.rateText)
                                                                      : kDefaultFramesPerSecond;
                break;
            case 'y':
                options.noPrompt = true;
                break;
            default:
                printToStandardError("Unrecognized option %s\n", argument);
                return 0;
        }
    }
    // Checked once the last -s has spoken, before any file is touched.
    if (!frameRateFitsHeader(options.framesPerSecond)) {
        setErrorText("Frame rate out of range: %s", options.rateText);
        return 0;
    }
    return 1;
}
