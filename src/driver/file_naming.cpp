#include "driver/file_naming.h"

#include <cctype>

namespace {
constexpr const char* kRmExtension = ".rm";
constexpr const char* kAviExtension = ".avi";
constexpr const char* kGifExtension = ".gif";
}  // namespace

int hasRmExtension(const std::string& name) {
    const size_t length = name.size();
    if (length < 4) return 0;
    const auto lowered = [&name, length](size_t fromEnd) {
        return std::tolower(static_cast<unsigned char>(name[length - fromEnd]));
    };
    return name[length - 3] == '.' && lowered(2) == 'r' && lowered(1) == 'm' ? 1 : 0;
}

std::string inputPathFor(const std::string& inputName) {
    return hasRmExtension(inputName) ? inputName : inputName + kRmExtension;
}

std::string outputPathFor(const std::string& inputName, const char* outputName,
                          OutputFormat format) {
    if (outputName != nullptr) return outputName;
    // The input path less three characters: a typed ".rm" goes, a name that got
    // ".rm" appended keeps all its characters.
    const size_t keep = inputPathFor(inputName).size() - 3;
    return inputName.substr(0, keep) +
           (format == OutputFormat::kGif ? kGifExtension : kAviExtension);
}
