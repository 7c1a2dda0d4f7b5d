// How the output of a conversion is written, and how a complete conversion
// reaches it.
#pragma once

#include <string>

#include "driver/run_files.h"

// How the output is written:
// - kBeside: into a new file beside it, which takes its place once complete;
// - kCopied: into a file of the run's own in the temporary directory, copied
//   over the output once complete: an existing file that cannot be replaced
//   (another user's, which keeps its owner so) or beside which no new file
//   can be made, and which so keeps its bytes until there is an AVI to copy;
// - kDirect: into the output itself: a device, a pipe, or a new file that
//   cannot be made beside it.
enum class OutputWay { kBeside, kCopied, kDirect };

struct OutputPlan {
    PathKind kind = PathKind::kAbsent;
    OutputWay way = OutputWay::kDirect;
    std::string target;    // the output file itself, behind any link
    std::string tempPath;  // the file written instead of the output, if any
};

// True when the existing output is a raster metafile, most likely an input
// the shell's "*.rm" put in the output's place. Only a regular file is read.
bool isRasterMetafile(const std::string& path);

// Chooses how the output is written and opens the file the conversion writes
// into output, armed in outputFile. Returns 1, or 0 with the message; nothing
// existing is changed.
int openOutput(OutputPlan& plan, StreamOwner& output, CreatedFile& outputFile);

// Brings a complete conversion to the output: the file beside it takes its
// place, with the replaced file's permissions or a new file's usual ones, or
// the temporary file is copied over it. A complete output, wherever written,
// is no longer removed by an interrupt. Returns 1, or 0 with the message.
int deliverOutput(const OutputPlan& plan, StreamOwner& output, CreatedFile& outputFile);
