// How the input and output paths are derived from the names typed.
#pragma once

#include <string>

// 1 when name is at least 4 characters long and ends in "." followed by "rm" in
// any letter case; otherwise 0.
int hasRmExtension(const std::string& name);

// The input name, with ".rm" appended when it lacks that ending.
std::string inputPathFor(const std::string& inputName);

// What the output is.
enum class OutputFormat { kAvi, kGif };

// The output name when one was given, verbatim; otherwise the input name without
// its ".rm" ending (when it was typed) and with ".avi" (or ".gif") appended.
std::string outputPathFor(const std::string& inputName, const char* outputName,
                          OutputFormat format = OutputFormat::kAvi);
