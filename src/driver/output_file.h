// How the output of a conversion is written, and how a complete conversion
// reaches it.
#pragma once

#include <cstdio>
#include <string>

#include "driver/run_files.h"

// How the output is written:
// - kBeside: into a new file beside it, which takes its place once complete;
// - kCopied: into a file of the run's own in the temporary directory, copied
//   over the output once complete: an existing file that cannot be replaced
//   (another user's, which keeps its owner so) or beside which no new file
//   can be made, and which so keeps its bytes until there is an AVI to copy;
// - kStreamed: into a file of the run's own in the temporary directory,
//   copied to the output once complete: an output that cannot seek (a pipe,
//   a terminal), or an open descriptor of this process named as the output
//   (standard output), written to as it stands, never replaced;
// - kDirect: into the output itself: a device that can seek, or a new file
//   that cannot be made beside it.
enum class OutputWay { kBeside, kCopied, kStreamed, kDirect };

struct OutputPlan {
    PathKind kind = PathKind::kAbsent;
    OutputWay way = OutputWay::kDirect;
    int descriptor = -1;   // the descriptor of this process the output names, if any
    std::string target;    // the output file itself, behind any link the user named
    std::string tempPath;  // the file written instead of the output, if any
    bool named = false;    // the output's name was typed, not derived from the input's
    // kCopied: the output, open from before the conversion on, so that the
    // file checked is the file written, whatever is put at its path
    // meanwhile; kStreamed: the stream the AVI is copied to.
    StreamOwner destination;
};

// True when the existing output is a raster metafile, most likely an input
// the shell's "*.rm" put in the output's place. Only a regular file is read.
bool isRasterMetafile(const std::string& path);

// True when the output path names this process's standard output, which then
// receives the AVI and nothing else.
bool namesStandardOutput(const std::string& outputPath);

// Finds out what the output is and which file it names, once: an open
// descriptor of this process, or the file behind a link the user named.
// Refuses, before anything is asked or written, the input itself and an
// existing raster metafile. Returns 1, or 0 with the message.
int examineOutput(OutputPlan& plan, std::FILE* input);

// Chooses how the examined output is written and opens the file the
// conversion writes into output, armed in outputFile. An output written over
// in place is opened now, and checked again itself as examineOutput checked
// its path. Returns 1, or 0 with the message; nothing existing is changed.
int openOutput(OutputPlan& plan, std::FILE* input, StreamOwner& output, CreatedFile& outputFile);

// Brings a complete conversion to the output: the file beside it takes its
// place, with the replaced file's permissions or a new file's usual ones, or
// the temporary file is copied over it or to it. A complete output, wherever
// written, is no longer removed by an interrupt. Returns 1, or 0 with the
// message.
int deliverOutput(OutputPlan& plan, StreamOwner& output, CreatedFile& outputFile);
