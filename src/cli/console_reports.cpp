#include "cli/console_reports.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

#include "avi/truncation.h"
#include "conversion_state.h"
#include "io/console_output.h"
#include "platform/console.h"

namespace {

#if defined(KESTRUP_BUILD_DATE)
constexpr const char* kBuildDate = KESTRUP_BUILD_DATE;
#else
constexpr const char* kBuildDate = __DATE__;
#endif

constexpr const char* kNoticeText =
    "Written by the kestrup developers; free to use, copy and change.";

}  // namespace

const char* const kUsageText =
    "\n"
    "Usage:\n"
    "kestrup [options] filename[.rm] [outputfilename]\n"
    "kestrup -b [options] filename[.rm] ...\n"
    "\n"
    "filename is the name of the raster metafile to convert.\n"
    "Only one filename may be specified, unless the -b option is used.\n"
    "The input file must end with the '.rm' extension, although it does\n"
    "not have to be specified on the command line.\n"
    "\n"
    "[outputfilename] is the name of the converted output avi file.\n"
    "If the output file name is not specified, the input file name is used\n"
    "with an 'avi' extension. For example:\n"
    "\n"
    "kestrup test.rm will create the file: test.avi\n"
    "\n"
    "If the output file exists, kestrup will prompt to overwrite it\n"
    "unless the -y option is used (see below).\n"
    "If any of the filenames contain spaces, they must be enclosed in quotes.\n"
    "\n"
    "[options] are described as follows:\n"
    "\n"
    "-help    Prints help information.\n"
    "-q       Suppress startup banner and file information messages\n"
    "-y       Suppress query to overwrite an existing avi file\n"
    "-b       Batch: every filename is a raster metafile to convert, each\n"
    "         into its own avi file as if converted alone. A file that\n"
    "         fails is named, and the next one is converted.\n"
    "\n"
    "-d [nn]  Progress indicator. Prints a dot ('.') every [nn] frames processed.\n"
    "         If [nn] is not specified, it defaults to 10.\n"
    "\n"
    "-m  Use multiple color palettes in the converted avi file.\n"
    "    Each frame of an avi or raster metafile animation is\n"
    "    limited to 256 colors. AVI animations can use either\n"
    "    one set of 256 colors for the entire animation or a separate\n"
    "    set of 256 colors for each frame. If you use the -m option, then\n"
    "    each frame of the output avi file will use a separate set of 256\n"
    "    colors. Note that since color information is read from the input\n"
    "    raster metafile, this option only affects the output avi animation\n"
    "    if the raster metafile was originally exported using multiple\n"
    "    color palettes. Players that do not apply palette changes\n"
    "    show such a file wrong: for them, use -p.\n"
    "\n"
    "-p  Use one shared color palette for every frame of the converted\n"
    "    avi file, with no palette changes, so that every player shows\n"
    "    the frames alike. The colors that all frames use are gathered\n"
    "    first. If they number 256 or fewer, every frame keeps its exact\n"
    "    colors. Otherwise the palette holds the 256 colors that come\n"
    "    closest to them, and a warning tells how far a color moved;\n"
    "    -m keeps every color exact, for players that apply palette\n"
    "    changes. With -m, -p is used only when it keeps every color.\n"
    "\n"
    "-g  Write an animated GIF instead of an avi file, named with a\n"
    "    'gif' extension when no output file name is given. Browsers,\n"
    "    chat apps and image viewers play it, looping forever, in the\n"
    "    colors the options above give: with -m each frame keeps its own.\n"
    "    Frames may be at most 65535 x 65535 pixels.\n"
    "\n"
    "-speed [nn]  Sets the speed of the output avi file to nn frames per second.\n"
    "             The default is 10.0.\n"
    "\n"
    "Options without a value may be written together: -qy is -q -y.\n";

void printBanner(std::FILE* console) {
    std::fprintf(console, "kestrup Version %s [%s]\n%s\n", kVersionText, kBuildDate, kNoticeText);
}

void printUsage() {
    std::fputs(kUsageText, stdout);
}

int averageCompression(double totalEncodedBytes, int frameCount, int width, int height) {
    // The pixel count is a 32-bit product that may wrap, as it always has.
    const auto pixels =
        static_cast<int32_t>(static_cast<uint32_t>(width) * static_cast<uint32_t>(height));
    if (pixels <= 0 || frameCount <= 0) return 0;
    const double ratio = totalEncodedBytes / frameCount / pixels;
    return static_cast<int32_t>(truncateToField((1.0 - ratio) * 100.0));
}

void reportStatistics(std::FILE* console) {
    // With -p, one line more after the palette changes.
    const std::string sharedLine =
        gState.sharedPalette
            ? formatText("Colors in shared palette:     %d\n", gState.sharedPaletteColours)
            : std::string();
    writeConsoleText(
        console,
        formatText("\n%s statistics:\n"
                   "--------------------------------------\n"
                   "Number of frames:             %d\n"
                   "Largest frame size:           %" PRId64 "\n"
                   "Frame width:                  %d\n"
                   "Frame height:                 %d\n"
                   "Number of color map changes:  %d\n"
                   "%s"
                   "Average frame compression:    %d%%\n",
                   gState.outputPath.c_str(), gState.frameCount, gState.largestChunk, gState.width,
                   gState.height, gState.paletteChangeCount, sharedLine.c_str(),
                   averageCompression(gState.totalEncodedBytes, gState.frameCount, gState.width,
                                      gState.height)));
}

void printErrorReport(const char* inputName) {
    if (inputName != nullptr) {
        // The message may say nothing of the file (a fault in its data), or
        // be empty (a declined overwrite): the name tells which file failed.
        const char* message =
            gState.errorText.empty() ? "not converted." : gState.errorText.c_str();
        printToStandardError("\n*** Error: ***\n%s: %s\n", inputName, message);
        return;
    }
    if (gState.errorText.empty()) return;
    printToStandardError("\n*** Error: ***\n%s\n", gState.errorText.c_str());
}

void reportBatchCount(int converted, int failed, bool quiet) {
    const std::string line = formatText("\n%d of %d files converted, %d failed.\n", converted,
                                        converted + failed, failed);
    if (!quiet) {
        writeConsoleText(stdout, line);
    } else if (failed > 0) {
        printToStandardError("%s", line.c_str());
    }
}

void printWarningReport() {
    if (gState.warningText.empty()) return;
    printToStandardError("\n*** Warning: ***\n%s\n", gState.warningText.c_str());
}
