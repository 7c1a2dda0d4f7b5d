#include "platform/console.h"

// A terminal shows UTF-8 as it is.
void writeConsoleText(std::FILE* stream, const std::string& text) {
    std::fputs(text.c_str(), stream);
}
