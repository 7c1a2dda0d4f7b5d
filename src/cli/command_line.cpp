#include "cli/command_line.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "avi/avi_header.h"
#include "conversion_state.h"
#include "gif/gif_timing.h"
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

// The options that take no value, by letter: an argument made of these
// letters alone sets each of them (-qy is -q -y).
struct FlagLetter {
    char letter;
    bool Options::*flag;
};
constexpr FlagLetter kFlagLetters[] = {
    {'h', &Options::help},         {'q', &Options::quiet},         {'y', &Options::noPrompt},
    {'m', &Options::multiPalette}, {'p', &Options::sharedPalette}, {'b', &Options::batch},
    {'g', &Options::gif},
};

const FlagLetter* findFlag(char letter) {
    for (const FlagLetter& flag : kFlagLetters) {
        if (flag.letter == letter) return &flag;
    }
    return nullptr;
}

bool allFlagLetters(const char* letters) {
    if (*letters == '\0') return false;
    for (; *letters != '\0'; ++letters) {
        if (findFlag(*letters) == nullptr) return false;
    }
    return true;
}

// Sets the option of a flag letter; false for any other letter.
bool setFlag(char letter, Options& options) {
    const FlagLetter* flag = findFlag(letter);
    if (flag == nullptr) return false;
    options.*(flag->flag) = true;
    return true;
}

// An argument of one dash and more. Flag letters written together set each
// of them; any other option is its second character alone: -h, -help and -hx
// are one option. The value of -d or -s, when it is the next argument, is
// taken by moving i on. Returns 1, or 0 with the message given.
int takeOption(const char* argument, const char* next, Options& options, int& i) {
    if (allFlagLetters(argument + 1)) {
        for (const char* letter = argument + 1; *letter != '\0'; ++letter)
            setFlag(*letter, options);
        return 1;
    }
    switch (argument[1]) {
        case '\0':
            setErrorText("'-' missing option command");
            return 0;
        case 'd': {
            const char* value = optionValue(argument, next, false, i);
            options.dotInterval = value != nullptr ? leadingNumber(value) : kDefaultDotInterval;
            return 1;
        }
        case 's':
            options.rateText = optionValue(argument, next, true, i);
            options.framesPerSecond =
                options.rateText != nullptr ? frameRate(options.rateText) : kDefaultFramesPerSecond;
            return 1;
        default:
            if (setFlag(argument[1], options)) return 1;
            printToStandardError("Unrecognized option %s\n", argument);
            return 0;
    }
}

// The file names once every argument is read: the input and the output, or
// with -b, inputs all. Returns 1, or 0 with the message.
int assignFileNames(Options& options) {
    if (options.fileNames.empty()) return 1;
    options.inputName = options.fileNames[0];
    if (options.batch) return 1;
    if (options.fileNames.size() > 2) {
        setErrorText("Too many file names");
        return 0;
    }
    if (options.fileNames.size() == 2) options.outputName = options.fileNames[1];
    return 1;
}

}  // namespace

int parseCommandLine(int argc, const char* const* argv, Options& options) {
    options = Options{};
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (argument[0] != '-') {
            options.fileNames.push_back(argument);
            continue;
        }
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        const int taken = argument[1] == '-' ? takeLongOption(argument, options)
                                             : takeOption(argument, next, options, i);
        if (taken == 0) return 0;
    }
    if (!assignFileNames(options)) return 0;
    // Checked once the last -s has spoken, before any file is touched.
    if (options.gif ? !gifRateFitsDelays(options.framesPerSecond)
                    : !frameRateFitsHeader(options.framesPerSecond)) {
        setErrorText("Frame rate out of range: %s", options.rateText);
        return 0;
    }
    return 1;
}
