// What the program prints, on which stream, with which exit status: usage,
// banner, error reports, statistics, progress dots and warnings.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "cli/console_reports.h"
#include "conversion_fixture.h"
#include "process_runner.h"

namespace {

const std::regex kBanner(
    "kestrup Version 1\\.0-3 \\[[A-Z][a-z]{2} [ 1-3][0-9] [0-9]{4}\\]\\n[^\\n]+\\n");

// Splits the banner off the front of standard output.
std::string afterBanner(const std::string& out) {
    std::smatch match;
    if (!std::regex_search(out, match, kBanner, std::regex_constants::match_continuous)) {
        ADD_FAILURE() << "no banner at the start of: " << out;
        return out;
    }
    return match.suffix();
}

ProcessResult run(const TempDir& dir, std::vector<std::string> arguments) {
    ProcessRequest request;
    request.arguments = std::move(arguments);
    request.workingDirectory = dir.path;
    request.closedInput = true;
    return runKestrupProcess(request);
}

TEST(Console, BannerAndUsageForNoArgumentsAndForHelp) {
    TempDir dir;
    for (const auto& arguments : std::vector<std::vector<std::string>>{
             {}, {"-help"}, {"--help"}, {"-hurry"}, {"missing", "-h", "-y"}, {"-q", "-h"}}) {
        const ProcessResult result = run(dir, arguments);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(afterBanner(result.out), kUsageText);
        EXPECT_EQ(result.err, "");
    }
    for (const auto& arguments :
         std::vector<std::vector<std::string>>{{"--version"}, {"-q", "missing", "--version"}}) {
        const ProcessResult result = run(dir, arguments);
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(afterBanner(result.out), "") << "the banner alone";
        EXPECT_EQ(result.err, "");
    }
    EXPECT_TRUE(dir.entries().empty()) << "help must not touch any file";
}

TEST(Console, ParseFailuresAndTheirReports) {
    TempDir dir;
    rmw::writeFile(dir.file("anim.rm"), twoByTwoFile());
    const struct {
        std::vector<std::string> arguments;
        const char* err;
    } cases[] = {
        {{"a", "b", "c"}, "\n*** Error: ***\nToo many file names\n"},
        {{"-"}, "\n*** Error: ***\n'-' missing option command\n"},
        {{"-x", "anim"}, "Unrecognized option -x\n"},
        {{"-s", "-3"}, "Unrecognized option -3\n"},
        {{"-q", "-y"}, "\n*** Error: ***\nNo input file specified.\n"},
        {{"-d", "5"}, "\n*** Error: ***\nNo input file specified.\n"},
        {{"--hel", "anim"}, "Unrecognized option --hel\n"},
        {{"-y", "anim", "-s", "0"}, "\n*** Error: ***\nFrame rate out of range: 0\n"},
        {{"-y", "anim", "-s50000"}, "\n*** Error: ***\nFrame rate out of range: 50000\n"},
        {{"-y", "anim", "-s", "1e300"}, "\n*** Error: ***\nFrame rate out of range: 1e300\n"},
        {{"-y", "anim", "-s", ".0000001"}, "\n*** Error: ***\nFrame rate out of range: .0000001\n"},
        {{"-yg", "anim", "-s", "0.001"}, "\n*** Error: ***\nFrame rate out of range: 0.001\n"},
    };
    for (const auto& c : cases) {
        const ProcessResult result = run(dir, c.arguments);
        EXPECT_EQ(result.exitStatus, 1) << c.err;
        EXPECT_EQ(result.out, "") << c.err;
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(dir.entries(), std::vector<std::string>{"anim.rm"}) << "nothing written";
    }
}

// The statistics block of twoByTwoFile converted into output; with -p, the
// line of the shared palette's colours given.
std::string twoByTwoStatistics(const std::string& output, const std::string& sharedLine = "") {
    // 10 encoded bytes for 4 pixels: the average compression is negative.
    return "\n" + output +
           " statistics:\n"
           "--------------------------------------\n"
           "Number of frames:             1\n"
           "Largest frame size:           12\n"
           "Frame width:                  2\n"
           "Frame height:                 2\n"
           "Number of color map changes:  0\n" +
           sharedLine + "Average frame compression:    -150%\n";
}

TEST(Console, StatisticsBlockAfterAConversion) {
    TempDir dir;
    rmw::writeFile(dir.file("anim.rm"), twoByTwoFile());
    const ProcessResult result = run(dir, {"anim"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(afterBanner(result.out), "Converting \"anim\"...\n" + twoByTwoStatistics("anim.avi"));
    // With -p one line more: the three colours of the frame.
    const ProcessResult shared = run(dir, {"-y", "-p", "anim"});
    EXPECT_EQ(shared.exitStatus, 0);
    EXPECT_EQ(shared.err, "");
    EXPECT_EQ(afterBanner(shared.out),
              "Converting \"anim\"...\n" +
                  twoByTwoStatistics("anim.avi", "Colors in shared palette:     3\n"));
}

// A batch: one banner, every file reported as alone, a file that fails named
// in its error report, and after more than one file the count: on standard
// output, or with -q on standard error after a failure.
TEST(Console, BatchReportsEveryFileAndTheCount) {
    const std::string kNotValid =
        "\n*** Error: ***\nb.rm: \"b.rm\" is not a valid raster metafile\n";
    const std::string kConvertedA = "Converting \"a\"...\n" + twoByTwoStatistics("a.avi");
    const struct {
        std::vector<std::string> arguments;
        int status;
        bool banner;
        std::string out;  // after the banner, if any
        std::string err;
        bool existingOutput = false;  // c.avi is there before, and the question declined
    } cases[] = {
        // clang-format off
        {{"-b", "-q", "-y", "-p", "a.rm", "b.rm", "c.rm"}, 1, false, "",
         kNotValid + "\n2 of 3 files converted, 1 failed.\n"},
        {{"-bqy", "a", "c"}, 0, false, "", ""},
        {{"-b", "-y", "a", "b.rm", "c"}, 1, true,
         kConvertedA + "\nConverting \"b.rm\"...\n\nConverting \"c\"...\n" +
             twoByTwoStatistics("c.avi") + "\n2 of 3 files converted, 1 failed.\n",
         kNotValid},
        {{"-b", "-q", "a", "c"}, 1, false, "File \"c.avi\" exists. Do you want to overwrite it? (y/n) ",
         "\n*** Error: ***\nc: not converted.\n\n1 of 2 files converted, 1 failed.\n", true},
        {{"-b", "-q", "-y", "x", "a"}, 1, false, "",
         "\n*** Error: ***\nx: Output file x.avi is a raster metafile; it is not replaced.\n"
         "\n1 of 2 files converted, 1 failed.\n"},
        // clang-format on
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[0] + " " + c.arguments[1] + " ...");
        TempDir dir;
        for (const char* name : {"a.rm", "c.rm", "x.rm", "x.avi"})
            rmw::writeFile(dir.file(name), twoByTwoFile());
        rmw::writeFile(dir.file("b.rm"), {1, 2, 3, 4});
        if (c.existingOutput) rmw::writeFile(dir.file("c.avi"), {1});
        const ProcessResult result = run(dir, c.arguments);
        EXPECT_EQ(result.exitStatus, c.status);
        EXPECT_EQ(c.banner ? afterBanner(result.out) : result.out, c.out);
        EXPECT_EQ(result.err, c.err);
    }
}

TEST(Console, QuietPrintsNothingOnStandardOutput) {
    TempDir dir;
    rmw::writeFile(dir.file("anim.rm"), twoByTwoFile());
    const ProcessResult result = run(dir, {"-q", "anim.rm"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(fileExists(dir.file("anim.avi")));
}

TEST(Console, FailedConversionReportsOnStandardError) {
    TempDir dir;
    rmw::writeFile(dir.file("empty.rm"), {});
    ASSERT_EQ(runShell("ln -s /dev/null '" + dir.file("device.rm") + "'"), 0);
    const struct {
        std::vector<std::string> arguments;
        const char* err;
    } cases[] = {
        {{"missing"},
         "\n*** Error: ***\nCould not open missing.rm for reading.\nNo such file or directory\n"},
        {{"empty.rm"}, "\n*** Error: ***\n\"empty.rm\" is not a valid raster metafile\n"},
        {{"empty.rm", "-p"}, "\n*** Error: ***\n\"empty.rm\" is not a valid raster metafile\n"},
        {{"device", "-p"},
         "\n*** Error: ***\nThe -p option reads device.rm twice, which only a regular file "
         "allows.\n"},
    };
    for (const auto& c : cases) {
        const ProcessResult result = run(dir, c.arguments);
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_EQ(afterBanner(result.out), "Converting \"" + c.arguments[0] + "\"...\n");
        EXPECT_EQ(result.err, c.err);
        // Both streams into one log: the report comes after the lines before it.
        std::string log;
        runShell("cd '" + dir.path + "' && '" KESTRUP_BINARY_PATH "' -y " + c.arguments[0] + " " +
                     (c.arguments.size() > 1 ? c.arguments[1] : "") + " 2>&1",
                 &log);
        EXPECT_EQ(log, result.out + result.err);
    }
}

TEST(Console, ProgressDotsAndTheMultipleTablesWarning) {
    TempDir dir;
    rmw::Bytes bytes;
    for (int frame = 0; frame < 7; ++frame) {
        rmw::appendFrame(bytes, picture(2, 2, {1, 2, 3, 3}), rmw::makePalette(frame == 3 ? 2 : 1));
    }
    rmw::writeFile(dir.file("seven.rm"), bytes);
    for (const char* interval : {"-d3", "-d 3"}) {
        std::vector<std::string> arguments{"-q", "-y", "seven"};
        if (interval[2] == ' ') {
            arguments.insert(arguments.end(), {"-d", interval + 3});
        } else {
            arguments.push_back(interval);
        }
        const ProcessResult dots = run(dir, arguments);
        EXPECT_EQ(dots.exitStatus, 0);
        EXPECT_EQ(dots.err,
                  "\n..\n"
                  "\nThis raster metafile has multiple color tables.\n"
                  "It is recommended that this file be converted using the '-m' option.\n"
                  "For players that do not apply palette changes, use the '-p' option.\n")
            << interval;
    }
    const ProcessResult withPalettes = run(dir, {"-q", "-y", "-m", "-d", "7", "seven"});
    EXPECT_EQ(withPalettes.exitStatus, 0);
    EXPECT_EQ(withPalettes.err, "\n.\n");
    const ProcessResult noDots = run(dir, {"-q", "-y", "-m", "-d", "0", "seven"});
    EXPECT_EQ(noDots.err, "");
    // One shared table holds the six colours: nothing to advise.
    const ProcessResult shared = run(dir, {"-q", "-y", "-p", "-d", "7", "seven"});
    EXPECT_EQ(shared.exitStatus, 0);
    EXPECT_EQ(shared.err, "\n.\n");
}

// Warnings come in order: the dots' closing line break, the frame mark the
// search stepped over, the colour tables.
TEST(Console, WarningsAfterTheProgressDotsInOrder) {
    TempDir dir;
    rmw::Bytes bytes;
    rmw::appendFrame(bytes, picture(2, 2, {1, 2, 3, 3}), rmw::makePalette(1));
    rmw::appendFrame(bytes, picture(2, 2, {1, 2, 3, 3}), rmw::makePalette(2));
    bytes.insert(bytes.end(), {0x55, 0x55});  // the next mark is off the 4-byte steps
    rmw::appendFrame(bytes, picture(2, 2, {1, 2, 3, 3}), rmw::makePalette(1));
    rmw::writeFile(dir.file("gap.rm"), bytes);
    const ProcessResult result = run(dir, {"-q", "-y", "-d", "1", "gap"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err,
              "\n..\n"
              "\nWarning: a frame mark after frame 2 was not found by the frame search; the "
              "frames from there on were not converted.\n"
              "\nThis raster metafile has multiple color tables.\n"
              "It is recommended that this file be converted using the '-m' option.\n"
              "For players that do not apply palette changes, use the '-p' option.\n");
}

// A colour index over 255 after the first frame is reported on its own line only.
TEST(Console, ColourIndexOver255InALaterFrame) {
    TempDir dir;
    rmw::Bytes bytes = twoByTwoFile();
    rmw::Bytes second = twoByTwoFile();
    second[2051] = 0x11;  // the first pixel word 0x1001 becomes 0x1101
    bytes.insert(bytes.end(), second.begin(), second.end());
    rmw::writeFile(dir.file("colours.rm"), bytes);
    const ProcessResult result = run(dir, {"-q", "-y", "colours"});
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "Cannot convert this file: color map number is greater than 255.\n");
    EXPECT_FALSE(fileExists(dir.file("colours.avi")));
}

TEST(Console, WarningReportFormat) {
    resetConversionState();
    testing::internal::CaptureStderr();
    printWarningReport();
    gState.warningText = "The size of the converted AVI file is 4000000000, which ...";
    printWarningReport();
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "\n*** Warning: ***\nThe size of the converted AVI file is 4000000000, which ...\n");
}

TEST(Console, AverageCompressionGuardsItsDivision) {
    const struct {
        double total;
        int frames, width, height;
        int expected;
    } cases[] = {
        {10, 1, 2, 2, -150},       {25, 2, 5, 10, 75},
        {99.9, 1, 10, 10, 0},       // 0.1% truncates toward zero
        {100, 1, 0, 5, 0},          // no pixels
        {100, 1, 65536, 65536, 0},  // the 32-bit product wraps to 0
        {100, 1, -2, 3, 0},        {100, 0, 2, 2, 0},
        {1e300, 1, 1, 1, 0},  // far outside the integer range
    };
    for (const auto& c : cases) {
        EXPECT_EQ(averageCompression(c.total, c.frames, c.width, c.height), c.expected)
            << c.total << " " << c.frames << " " << c.width << "x" << c.height;
    }
}

}  // namespace
