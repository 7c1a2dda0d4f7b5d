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
    bool version = false;
    bool sharedPalette = false;
    std::vector<const char*> batchInputs = {};  // -b and these inputs, when not empty
    bool gif = false;
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
    // Long options: these two, exactly.
    {{"--help"}, 1, nullptr, nullptr, true, false, false, false, 0, 10.0, "", ""},
    {{"a", "--version"}, 1, "a", nullptr, false, false, false, false, 0, 10.0, "", "", true},
    {{"--hel"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "", "Unrecognized option --hel\n"},
    {{"--versions"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "", "Unrecognized option --versions\n"},
    {{"--"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "", "Unrecognized option --\n"},
    // Progress dots: a following argument that starts with a digit is the interval.
    {{"-d", "5", "a"}, 1, "a", nullptr, false, false, false, false, 5, 10.0, "", ""},
    {{"-d", "2frames.rm"}, 1, nullptr, nullptr, false, false, false, false, 2, 10.0, "", ""},
    {{"a", "-d"}, 1, "a", nullptr, false, false, false, false, 10, 10.0, "", ""},
    {{"-d", "0", "a"}, 1, "a", nullptr, false, false, false, false, 0, 10.0, "", ""},
    {{"-dots", "a"}, 1, "a", nullptr, false, false, false, false, 10, 10.0, "", ""},
    {{"-d", "99999999999"}, 1, nullptr, nullptr, false, false, false, false, 2147483647, 10.0, "", ""},
    {{"-d", "3", "-d"}, 1, nullptr, nullptr, false, false, false, false, 10, 10.0, "", ""},
    // A value written onto the letter; the next argument is then a file name.
    {{"-d5", "7"}, 1, "7", nullptr, false, false, false, false, 5, 10.0, "", ""},
    {{"-d12x", "a"}, 1, "a", nullptr, false, false, false, false, 12, 10.0, "", ""},
    // Frame rate: digits or a leading "." are the rate.
    {{"-s", "29.97", "a"}, 1, "a", nullptr, false, false, false, false, 0, 29.97, "", ""},
    {{"-speed", ".5"}, 1, nullptr, nullptr, false, false, false, false, 0, 0.5, "", ""},
    {{"-s", "2.3"}, 1, nullptr, nullptr, false, false, false, false, 0, 2.3, "", ""},
    {{"-s", "4", "-s"}, 1, nullptr, nullptr, false, false, false, false, 0, 10.0, "", ""},
    {{"-s29.97", "8"}, 1, "8", nullptr, false, false, false, false, 0, 29.97, "", ""},
    {{"-s.5"}, 1, nullptr, nullptr, false, false, false, false, 0, 0.5, "", ""},
    {{"-sx", "4"}, 1, nullptr, nullptr, false, false, false, false, 0, 4.0, "", ""},
    {{"-s", "30000/1001"}, 1, nullptr, nullptr, false, false, false, false, 0, 30000.0 / 1001, "", ""},
    {{"-s24000/1001"}, 1, nullptr, nullptr, false, false, false, false, 0, 24000.0 / 1001, "", ""},
    {{"-s", "25/x"}, 1, nullptr, nullptr, false, false, false, false, 0, 25.0, "", ""},
    // Rates the header cannot hold, as typed; the last -s decides.
    {{"-s", "0"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "Frame rate out of range: 0", ""},
    {{"-s", "50000"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "Frame rate out of range: 50000", ""},
    {{"-s42949.68"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "Frame rate out of range: 42949.68", ""},
    {{"-s", "1e300"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "Frame rate out of range: 1e300", ""},
    {{"-s", ".0000001"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "Frame rate out of range: .0000001", ""},
    {{"-s", "1/0"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "Frame rate out of range: 1/0", ""},
    {{"-s", "0", "-s", "42949.67"}, 1, nullptr, nullptr, false, false, false, false, 0, 42949.67, "", ""},
    {{"-s", "0.000233"}, 1, nullptr, nullptr, false, false, false, false, 0, 0.000233, "", ""},
    {{"-s", "-3"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "", "Unrecognized option -3\n"},
    {{"-s", "anim"}, 1, "anim", nullptr, false, false, false, false, 0, 10.0, "", ""},
    // One colour table for every frame.
    {{"-p", "a", "-m"}, 1, "a", nullptr, false, false, false, true, 0, 10.0, "", "", false, true},
    {{"-palette", "-s", "5"}, 1, nullptr, nullptr, false, false, false, false, 0, 5.0, "", "", false, true},
    {{"-P"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "", "Unrecognized option -P\n"},
    // Flag letters written together set each of them, in any order.
    {{"-qy", "a"}, 1, "a", nullptr, false, true, true, false, 0, 10.0, "", ""},
    {{"-yq", "a"}, 1, "a", nullptr, false, true, true, false, 0, 10.0, "", ""},
    {{"-my", "a"}, 1, "a", nullptr, false, false, true, true, 0, 10.0, "", ""},
    {{"-mpy", "a"}, 1, "a", nullptr, false, false, true, true, 0, 10.0, "", "", false, true},
    {{"-yh"}, 1, nullptr, nullptr, true, false, true, false, 0, 10.0, "", ""},
    {{"-qq", "a"}, 1, "a", nullptr, false, true, false, false, 0, 10.0, "", ""},
    // Any other letter among them: the second character alone, as before.
    {{"-qd", "5"}, 1, "5", nullptr, false, true, false, false, 0, 10.0, "", ""},
    {{"-yQ", "a"}, 1, "a", nullptr, false, false, true, false, 0, 10.0, "", ""},
    {{"-quiet", "a"}, 1, "a", nullptr, false, true, false, false, 0, 10.0, "", ""},
    {{"-m5", "a"}, 1, "a", nullptr, false, false, false, true, 0, 10.0, "", ""},
    // Batch: every file name an input, wherever -b stands; none is the output.
    {{"-b", "a", "b", "c"}, 1, "a", nullptr, false, false, false, false, 0, 10.0, "", "", false, false, {"a", "b", "c"}},
    {{"a", "-d", "3", "b", "-qb"}, 1, "a", nullptr, false, true, false, false, 3, 10.0, "", "", false, false, {"a", "b"}},
    {{"-batch", "a.rm", "b.rm"}, 1, "a.rm", nullptr, false, false, false, false, 0, 10.0, "", "", false, false, {"a.rm", "b.rm"}},
    {{"-bmy", "a"}, 1, "a", nullptr, false, false, true, true, 0, 10.0, "", "", false, false, {"a"}},
    {{"a", "b", "c", "-x"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "", "Unrecognized option -x\n"},
    {{"-Qy"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "", "Unrecognized option -Qy\n"},
    // Every spelling of the usage text and the manual, as it always read.
    {{"-h"}, 1, nullptr, nullptr, true, false, false, false, 0, 10.0, "", ""},
    {{"-hx"}, 1, nullptr, nullptr, true, false, false, false, 0, 10.0, "", ""},
    {{"-q", "-y", "-m", "-p", "a"}, 1, "a", nullptr, false, true, true, true, 0, 10.0, "", "", false, true},
    {{"-speed", "5", "a"}, 1, "a", nullptr, false, false, false, false, 0, 5.0, "", ""},
    {{"-m", "-d", "25", "-s", "29.97", "anim", "movie.avi"}, 1, "anim", "movie.avi", false, false, false, true, 25, 29.97, "", ""},
    {{"-p", "-d", "25", "-s", "29.97", "anim", "movie.avi"}, 1, "anim", "movie.avi", false, false, false, false, 25, 29.97, "", "", false, true},
    {{"-b", "-q", "-y", "-p", "a.rm", "b.rm", "c.rm"}, 1, "a.rm", nullptr, false, true, true, false, 0, 10.0, "", "", false, true, {"a.rm", "b.rm", "c.rm"}},
    {{"-bqyp", "a.rm"}, 1, "a.rm", nullptr, false, true, true, false, 0, 10.0, "", "", false, true, {"a.rm"}},
    {{"-m", "-s", "30000/1001", "anim"}, 1, "anim", nullptr, false, false, false, true, 0, 30000.0 / 1001, "", ""},
    {{"-q", "-y", "-m", "anim.rm", "/dev/stdout"}, 1, "anim.rm", "/dev/stdout", false, true, true, true, 0, 10.0, "", ""},
    // An animated GIF: a flag letter like the others.
    {{"-g", "a"}, 1, "a", nullptr, false, false, false, false, 0, 10.0, "", "", false, false, {}, true},
    {{"-gy", "a", "b.gif"}, 1, "a", "b.gif", false, false, true, false, 0, 10.0, "", "", false, false, {}, true},
    {{"-mg", "a"}, 1, "a", nullptr, false, false, false, true, 0, 10.0, "", "", false, false, {}, true},
    {{"-gq", "-p", "a"}, 1, "a", nullptr, false, true, false, false, 0, 10.0, "", "", false, true, {}, true},
    {{"-bqymg", "a", "c"}, 1, "a", nullptr, false, true, true, true, 0, 10.0, "", "", false, false, {"a", "c"}, true},
    {{"-gd", "5"}, 1, "5", nullptr, false, false, false, false, 0, 10.0, "", "", false, false, {}, true},
    {{"-G"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "", "Unrecognized option -G\n"},
    // Its rates: a delay up to 65535 hundredths, and any rate above; the AVI's limits do not apply.
    {{"-g", "-s", "0.001526"}, 1, nullptr, nullptr, false, false, false, false, 0, 0.001526, "", "", false, false, {}, true},
    {{"-g", "-s", "0.0015258"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "Frame rate out of range: 0.0015258", ""},
    {{"-s", "0.0015258", "a"}, 1, "a", nullptr, false, false, false, false, 0, 0.0015258, "", ""},
    {{"-s", "100/65536", "-g"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "Frame rate out of range: 100/65536", ""},
    {{"-s", "0", "-g"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "Frame rate out of range: 0", ""},
    {{"-g", "-s", "0/0"}, 0, nullptr, nullptr, false, false, false, false, 0, 10.0, "Frame rate out of range: 0/0", ""},
    {{"-g", "-s50000"}, 1, nullptr, nullptr, false, false, false, false, 0, 50000.0, "", "", false, false, {}, true},
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
        options.gif = true;
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
        EXPECT_EQ(options.version, expected.version);
        EXPECT_EQ(options.quiet, expected.quiet);
        EXPECT_EQ(options.noPrompt, expected.noPrompt);
        EXPECT_EQ(options.multiPalette, expected.multiPalette);
        EXPECT_EQ(options.sharedPalette, expected.sharedPalette);
        EXPECT_EQ(options.dotInterval, expected.dotInterval);
        EXPECT_DOUBLE_EQ(options.framesPerSecond, expected.framesPerSecond);
        EXPECT_EQ(options.gif, expected.gif);
        EXPECT_EQ(options.batch, !expected.batchInputs.empty());
        if (options.batch) {
            EXPECT_EQ(options.fileNames.size(), expected.batchInputs.size());
        }
        for (size_t i = 0; i < expected.batchInputs.size() && i < options.fileNames.size(); ++i)
            EXPECT_TRUE(same(options.fileNames[i], expected.batchInputs[i]));
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
