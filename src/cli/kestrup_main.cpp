#include "cli/kestrup_main.h"

#include <cstdio>

#include "cli/command_line.h"
#include "cli/console_reports.h"
#include "conversion_state.h"
#include "driver/convert_file.h"
#include "driver/file_naming.h"
#include "driver/output_file.h"
#include "platform/console.h"
#include "platform/file_system.h"

namespace {
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

OutputFormat outputFormat(const Options& options) {
    return options.gif ? OutputFormat::kGif : OutputFormat::kAvi;
}

int fail() {
    printErrorReport();
    return kExitFailure;
}

// Converts one input into outputName (nullptr: the name derived from the
// input) and prints what a run prints about it, after the banner for the
// first file and a blank line for every other: the "Converting" line, then
// the warning and the statistics, or the error report, which in a batch names
// the input. Returns 1 when converted.
int convertAndReport(const Options& options, const char* inputName, const char* outputName,
                     bool first) {
    resetConversionState();
    // An AVI written to standard output gets nothing else there: what would
    // go with it goes to standard error.
    std::FILE* const console =
        namesStandardOutput(outputPathFor(inputName, outputName, outputFormat(options))) ? stderr
                                                                                         : stdout;
    if (!options.quiet) {
        if (first) printBanner(console);
        if (!first) writeConsoleText(console, "\n");
        writeConsoleText(console, formatText("Converting \"%s\"...\n", inputName));
    }
    // An interrupt ends the run without flushing: what was reported so far,
    // in a batch the files already converted, reaches a log the output went to.
    std::fflush(console);
    if (!convertFile(inputName, outputName, options.noPrompt, options.dotInterval,
                     options.multiPalette, options.framesPerSecond, options.sharedPalette, console,
                     outputFormat(options))) {
        printErrorReport(options.batch ? inputName : nullptr);
        return 0;
    }
    printWarningReport();
    if (!options.quiet) reportStatistics(console);
    return 1;
}

// Every file name an input, each converted as it would be alone, one after
// another whatever became of the one before; the count after more than one.
int convertBatch(const Options& options) {
    int converted = 0;
    for (size_t i = 0; i < options.fileNames.size(); ++i)
        converted += convertAndReport(options, options.fileNames[i], nullptr, i == 0);
    const int failed = static_cast<int>(options.fileNames.size()) - converted;
    if (options.fileNames.size() > 1) reportBatchCount(converted, failed, options.quiet);
    return failed == 0 ? kExitSuccess : kExitFailure;
}
}  // namespace

int runKestrup(int argc, const char* const* argv) {
    openMissingStandardStreams();
    if (argc < 2) {
        printBanner();
        printUsage();
        return kExitSuccess;
    }
    Options options;
    if (!parseCommandLine(argc, argv, options)) return fail();
    if (options.help) {
        printBanner();
        printUsage();
        return kExitSuccess;
    }
    if (options.version) {
        printBanner();
        return kExitSuccess;
    }
    // An empty file variable in a script must not look like success.
    if (options.inputName == nullptr) {
        setErrorText("No input file specified.");
        return fail();
    }
    if (options.batch) return convertBatch(options);
    return convertAndReport(options, options.inputName, options.outputName, true) ? kExitSuccess
                                                                                  : kExitFailure;
}
