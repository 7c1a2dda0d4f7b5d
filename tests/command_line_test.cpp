// Command-line parsing: argument vectors against the options and result they give.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "conversion_state.h"

namespace {

struct ParseCase {
    std::vector<const char*> arguments;  // after the program name
    int result;
    const char* input;  // nullptr: absent
    const char* output;
    bool help, quiet, noPrompt, multiPalette;
    int dotInterval;
    double framesPerSecond;
    const char* errorText;  // "" when none is set
    const char* errorLine;  // what goes to standard error directly
    bool sharedPalette = false;
};

// clang-format off
const ParseCase kCases[] = {
    {{"anim"}, 1, "anim", nullptr, false, false, false, false, 0, 10.0, "", ""},
    {{"a", "b"}, 1, "a", "b", false, false, false, false, 0, 10.0, "", ""},
    {{"-q", "a", "-y", "b", "-m"}, 1, "a", "b", false, true, true, true, 0, 10.0, "", ""},
    {{"a", "b", "c"}, 0, "a", "b", false, false, false, false, 0, 10.0, "Too many file names", ""},
    {{"-"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "'-' missing option command", ""},
    {{"-help"}, 1, nullptr, nullptr, true, false, false, false, 0, 10.0, "", ""},
    {{"-hurry", "a"}, 1, "a", nullptr, true, false, false, false, 0, 10.0, "", ""},
    {{"-H"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "", "Unrecognized option -H\n"},
    {{"-1"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "", "Unrecognized option -1\n"},
    // Progress dots: a following argument that starts with a digit is the interval.
    {{"-d", "5", "a"}, 1, "a", nullptr, false, false, false, false, 5, 10.0, "", ""},
    {{"-d", "2frames.rm"}, 1, nullptr, nullptr, false, false, false, false, 2, 10.0, "", ""},
    {{"a", "-d"}, 1, "a", nullptr, false, false, false, false, 10, 10.0, "", ""},
    {{"-d", "0", "a"}, 1, "a", nullptr, false, false, false, false, 0, 10.0, "", ""},
    {{"-dots", "a"}, 1, "a", nullptr, false, false, false, false, 10, 10.0, "", ""},
    {{"-d", "99999999999"}, 1, nullptr, nullptr, false, false, false, false, 2147483647, 10.0, "", ""},
    {{"-d", "3", "-d"}, 1, nullptr, nullptr, false, false, false, false, 10, 10.0, "", ""},
    // Frame rate: digits or a leading "." are the rate.
    {{"-s", "29.97", "a"}, 1, "a", nullptr, false, false, false, false, 0, 29.97, "", ""},
    {{"-speed", ".5"}, 1, nullptr, nullptr, false, false, false, false, 0, 0.5, "", ""},
    {{"-s", "2.3"}, 1, nullptr, nullptr, false, false, false, false, 0, 2.3, "", ""},
    {{"-s", "4", "-s"}, 1, nullptr, nullptr, false, false, false, false, 0, 10.0, "", ""},
    {{"-s", "0"}, 1, nullptr, nullptr, false, false, false, false, 0, 0.0, "", ""},
    {{"-s", "-3"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "", "Unrecognized option -3\n"},
    {{"-s", "anim"}, 1, "anim", nullptr, false, false, false, false, 0, 10.0, "", ""},
    // One colour table for every frame.
    {{"-p", "a", "-m"}, 1, "a", nullptr, false, false, false, true, 0, 10.0, "", "", true},
    {{"-palette", "-s", "5"}, 1, nullptr, nullptr, false, false, false, false, 0, 5.0, "", "", true},
    {{"-P"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "", "Unrecognized option -P\n"},
};
// clang-format on

TEST(CommandLine, ParsesEveryCaseOfTheTable) {
    for (const ParseCase& expected : kCases) {
        std::vector<const char*> argv{"kestrup"};
        argv.insert(argv.end(), expected.arguments.begin(), expected.arguments.end());
        std::string shown;
        for (const char* argument : expected.arguments)
            shown += std::string(argument) + " ";
        SCOPED_TRACE("arguments: " + shown);

        resetConversionState();
        Options options;
        options.dotInterval = 77;  // every field must be reset by the parser
        options.help = true;
        testing::internal::CaptureStderr();
        const int result = parseCommandLine(static_cast<int>(argv.size()), argv.data(), options);
        const std::string errorLine = testing::internal::GetCapturedStderr();

        EXPECT_EQ(result, expected.result);
        EXPECT_EQ(gState.errorText, expected.errorText);
        EXPECT_EQ(errorLine, expected.errorLine);
        if (expected.result == 0) continue;  // the fields are not defined after a refusal
        const auto same = [](const char* a, const char* b) {
            return a == nullptr ? b == nullptr : b != nullptr && std::strcmp(a, b) == 0;
        };
        EXPECT_TRUE(same(options.inputName, expected.input));
        EXPECT_TRUE(same(options.outputName, expected.output));
        EXPECT_EQ(options.help, expected.help);
        EXPECT_EQ(options.quiet, expected.quiet);
        EXPECT_EQ(options.noPrompt, expected.noPrompt);
        EXPECT_EQ(options.multiPalette, expected.multiPalette);
        EXPECT_EQ(options.sharedPalette, expected.sharedPalette);
        EXPECT_EQ(options.dotInterval, expected.dotInterval);
        EXPECT_DOUBLE_EQ(options.framesPerSecond, expected.framesPerSecond);
    }
}

TEST(CommandLine, FileNamesPointAtTheArguments) {
    const char* argv[] = {"kestrup", "anim", "out.avi"};
    Options options;
    ASSERT_EQ(parseCommandLine(3, argv, options), 1);
    EXPECT_EQ(options.inputName, argv[1]);
    EXPECT_EQ(options.outputName, argv[2]);
}

}  // namespace
