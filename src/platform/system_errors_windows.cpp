#include <windows.h>

#include <cerrno>
#include <cstring>

#include "platform/system_errors.h"
#include "platform/wide_text_windows.h"

SystemError lastSystemError() {
    return SystemError{errno, GetLastError()};
}

namespace {

// The system's own text for code, in the user's language, without the line
// break and full stop it ends with; empty when it has none.
std::string systemText(unsigned long code) {
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    if (length == 0 || text == nullptr) return std::string();
    std::wstring wide(text, length);
    LocalFree(text);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' ||
                             wide.back() == L'.')) {
        wide.pop_back();
    }
    return toUtf8(wide.c_str());
}

}  // namespace

// The system's reason where it gave one: the C library maps the system's
// errors onto a few errno values, and its words for them are vaguer.
std::string describeSystemError(const SystemError& error) {
    if (error.platformCode != 0) {
        std::string text = systemText(error.platformCode);
        if (!text.empty()) return text;
    }
    if (error.libraryCode == 0) return std::string();
    return std::strerror(error.libraryCode);
}

KeptSystemError::~KeptSystemError() {
    errno = error.libraryCode;
    SetLastError(static_cast<DWORD>(error.platformCode));
}
