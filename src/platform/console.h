// Console text: messages that may carry names, which the program holds as
// UTF-8, reach the reader as the characters they encode.
#pragma once

#include <cstdio>
#include <string>

// Writes UTF-8 text to stream (standard output or error), after what the
// stream already holds. A file or pipe receives the bytes themselves.
void writeConsoleText(std::FILE* stream, const std::string& text);
