// The question asked before an existing output file is overwritten.
#pragma once

#include <cstdio>
#include <string>

// Asks on console (standard output, or standard error when standard output
// is the output) whether to overwrite path and reads one
// whitespace-delimited word from standard input: yes when it begins with "y"
// or "Y". The end of input before any word counts as no.
bool askOverwrite(const std::string& path, std::FILE* console);
