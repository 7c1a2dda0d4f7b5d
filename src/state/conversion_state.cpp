#include "conversion_state.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

#include "platform/system_errors.h"

ConversionState gState;

void resetConversionState() {
    gState = ConversionState{};
}

std::string formatArguments(const char* format, va_list args) {
    va_list sizing;
    va_copy(sizing, args);
    const int length = std::vsnprintf(nullptr, 0, format, sizing);
    va_end(sizing);
    if (length <= 0) return std::string();
    std::vector<char> buffer(static_cast<size_t>(length) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    return std::string(buffer.data(), static_cast<size_t>(length));
}

std::string formatText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::string text = formatArguments(format, args);
    va_end(args);
    return text;
}

void setErrorText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    gState.errorText = formatArguments(format, args);
    va_end(args);
}

void addErrorReason(const SystemError& error) {
    const std::string reason = describeSystemError(error);
    if (reason.empty()) return;
    gState.errorText += '\n';
    gState.errorText += reason;
}

void setWarningText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    gState.warningText = formatArguments(format, args);
    va_end(args);
}

void addWarningText(const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (!gState.warningText.empty()) gState.warningText += "\n\n";
    gState.warningText += formatArguments(format, args);
    va_end(args);
}

int inputReadError(const SystemError& error) {
    setErrorText("i/o error reading from \"%s\".", gState.inputPath.c_str());
    addErrorReason(error);
    return 0;
}

int outputWriteError(const SystemError& error) {
    setErrorText("i/o error writing to \"%s\".", gState.outputPath.c_str());
    addErrorReason(error);
    return 0;
}

int tempFileWriteError(const std::string& path, const SystemError& error) {
    setErrorText("i/o error writing to temp file \"%s\".", path.c_str());
    addErrorReason(error);
    return 0;
}
