#include "io/console_output.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "platform/console.h"

void printToStandardError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string text = formatArguments(format, args);
    va_end(args);
    std::fflush(stdout);
    writeConsoleText(stderr, text);
}
