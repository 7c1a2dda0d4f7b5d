// Names cross into the system's wide-character calls here: the program holds
// them as UTF-8, the system takes and gives UTF-16.
#pragma once

#include <string>

// The UTF-16 form of UTF-8 text; an invalid byte becomes U+FFFD.
std::wstring toWide(const std::string& text);

// The UTF-8 form of UTF-16 text; an unpaired surrogate becomes U+FFFD.
std::string toUtf8(const wchar_t* text);
