// Checks on the output path before it is opened for writing.
#pragma once

#include <cstdio>
#include <string>

// True when anything stands at path, readable or not (a dangling link too).
bool outputExists(const std::string& path);

// True when outputPath names the very file that input (opened from inputPath)
// is, whatever the spelling: "./" prefixes, symbolic or hard links.
bool isSameFile(std::FILE* input, const std::string& inputPath, const std::string& outputPath);

// True when stream is a regular file, the only kind a failed run may remove.
bool isRegularFile(std::FILE* stream);

// The file that path names once every symbolic link is followed; path itself
// when it cannot be resolved. A failed run removes the file it wrote, not a
// link to it.
std::string resolvedPath(const std::string& path);

// Asks on standard output whether to overwrite path and reads one
// whitespace-delimited word from standard input: yes when it begins with "y"
// or "Y". The end of input before any word counts as no.
bool askOverwrite(const std::string& path);
