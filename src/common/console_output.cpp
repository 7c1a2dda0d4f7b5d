#include "console_output.h"

#include <cstdarg>
#include <cstdio>

void printToStandardError(const char* format, ...) {
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
}
