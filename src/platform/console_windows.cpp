#include <io.h>
#include <windows.h>

#include "platform/console.h"
#include "platform/wide_text_windows.h"

namespace {

// Line ends as the C runtime writes them to a console in text mode.
std::wstring withCarriageReturns(const std::wstring& text) {
    std::wstring result;
    for (const wchar_t character : text) {
        if (character == L'\n') result += L'\r';
        result += character;
    }
    return result;
}

}  // namespace

// A console shows text in its own code page, which seldom holds every
// character of a name; it is given UTF-16 instead, which it shows whole, and
// its code page is left as the shell set it.
void writeConsoleText(std::FILE* stream, const std::string& text) {
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    DWORD mode = 0;
    if (handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
        std::fflush(stream);
        const std::wstring wide = withCarriageReturns(toWide(text));
        DWORD written = 0;
        if (WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written,
                          nullptr)) {
            return;
        }
    }
    std::fputs(text.c_str(), stream);
}
