#include "cli/kestrup_main.h"

#include <cstdio>

#include "cli/command_line.h"
#include "cli/console_reports.h"
#include "conversion_state.h"
#include "driver/convert_file.h"
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
    if (!options.quiet) {
        printBanner();
        writeConsoleText(stdout, formatText("Converting \"%s\"...\n", options.inputName));
    }
    if (!convertFile(options.inputName, options.outputName, options.noPrompt, options.dotInterval,
                     options.multiPalette, options.framesPerSecond, options.sharedPalette)) {
        return fail();
    }
    printWarningReport();
    if (!options.quiet) reportStatistics();
    return kExitSuccess;
}
