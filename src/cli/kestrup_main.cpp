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

int fail() {
    printErrorReport();
    return kExitFailure;
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
    // An AVI written to standard output gets nothing else there: what would
    // go with it goes to standard error.
    std::FILE* const console =
        namesStandardOutput(outputPathFor(options.inputName, options.outputName)) ? stderr : stdout;
    if (!options.quiet) {
        printBanner(console);
        writeConsoleText(console, formatText("Converting \"%s\"...\n", options.inputName));
    }
    if (!convertFile(options.inputName, options.outputName, options.noPrompt, options.dotInterval,
                     options.multiPalette, options.framesPerSecond, options.sharedPalette,
                     console)) {
        return fail();
    }
    printWarningReport();
    if (!options.quiet) reportStatistics(console);
    return kExitSuccess;
}
