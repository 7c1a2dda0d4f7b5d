#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/file_system.h"

std::FILE* openFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool removeFile(const std::string& path) {
    return unlink(path.c_str()) == 0;
}

bool pathExists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

bool isSameFile(std::FILE* input, const std::string& outputPath) {
    struct stat inputInfo;
    struct stat outputInfo;
    if (fstat(fileno(input), &inputInfo) != 0 || stat(outputPath.c_str(), &outputInfo) != 0) {
        return false;
    }
    return inputInfo.st_dev == outputInfo.st_dev && inputInfo.st_ino == outputInfo.st_ino;
}

bool isRegularFile(std::FILE* stream) {
    struct stat info;
    return fstat(fileno(stream), &info) == 0 && S_ISREG(info.st_mode);
}

std::string resolvedPath(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;
    std::string result = resolved;
    std::free(resolved);
    return result;
}

ScratchResult createScratchFile(const char* prefix, std::string& path, std::FILE*& stream) {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string directory = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    if (directory.back() != '/') directory += '/';
    std::string pattern = directory + prefix + "XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // mkstemp creates the file with O_EXCL and mode 0600: no one else can have
    // it open or have linked it in advance.
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0) return ScratchResult::kNoName;
    path = name.data();
    stream = fdopen(descriptor, "wb");
    if (stream == nullptr) {
        close(descriptor);
        unlink(name.data());
        return ScratchResult::kNotOpened;
    }
    return ScratchResult::kCreated;
}
