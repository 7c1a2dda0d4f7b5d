#include "platform/wide_text_windows.h"

#include <windows.h>

#include <climits>
#include <cwchar>

std::wstring toWide(const std::string& text) {
    if (text.empty() || text.size() > INT_MAX) return std::wstring();
    const auto bytes = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, nullptr, 0);
    if (length <= 0) return std::wstring();
    std::wstring wide(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), bytes, wide.data(), length);
    return wide;
}

std::string toUtf8(const wchar_t* text) {
    const size_t units = std::wcslen(text);
    if (units == 0 || units > INT_MAX / 4) return std::string();
    const auto count = static_cast<int>(units);
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, count, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string utf8(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, count, utf8.data(), length, nullptr, nullptr);
    return utf8;
}
