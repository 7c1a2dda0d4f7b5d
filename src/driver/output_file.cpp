#include "driver/output_file.h"

#include <cctype>
#include <cstdlib>

#include <sys/stat.h>
#if defined(_WIN32)
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

bool outputExists(const std::string& path) {
#if defined(_WIN32)
    struct _stat64 info;
    return _stat64(path.c_str(), &info) == 0;
#else
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
#endif
}

bool isSameFile(std::FILE* input, const std::string& inputPath, const std::string& outputPath) {
#if defined(_WIN32)
    // Volume serial number and file index play the part of device and inode.
    (void)inputPath;
    const auto inputHandle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input)));
    const HANDLE outputHandle =
        CreateFileA(outputPath.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (outputHandle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION inputInfo;
    BY_HANDLE_FILE_INFORMATION outputInfo;
    const bool same = GetFileInformationByHandle(inputHandle, &inputInfo) &&
                      GetFileInformationByHandle(outputHandle, &outputInfo) &&
                      inputInfo.dwVolumeSerialNumber == outputInfo.dwVolumeSerialNumber &&
                      inputInfo.nFileIndexHigh == outputInfo.nFileIndexHigh &&
                      inputInfo.nFileIndexLow == outputInfo.nFileIndexLow;
    CloseHandle(outputHandle);
    return same;
#else
    (void)inputPath;
    struct stat inputInfo;
    struct stat outputInfo;
    if (fstat(fileno(input), &inputInfo) != 0 || stat(outputPath.c_str(), &outputInfo) != 0) {
        return false;
    }
    return inputInfo.st_dev == outputInfo.st_dev && inputInfo.st_ino == outputInfo.st_ino;
#endif
}

bool isRegularFile(std::FILE* stream) {
#if defined(_WIN32)
    struct _stat64 info;
    return _fstat64(_fileno(stream), &info) == 0 && (info.st_mode & _S_IFREG) != 0;
#else
    struct stat info;
    return fstat(fileno(stream), &info) == 0 && S_ISREG(info.st_mode);
#endif
}

std::string resolvedPath(const std::string& path) {
#if defined(_WIN32)
    return path;
#else
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return path;
    std::string result = resolved;
    std::free(resolved);
    return result;
#endif
}

bool askOverwrite(const std::string& path) {
    std::printf("File \"%s\" exists. Do you want to overwrite it? (y/n) ", path.c_str());
    std::fflush(stdout);  // the question must be seen before the answer is read
    int character = std::getchar();
    while (character != EOF && std::isspace(character))
        character = std::getchar();
    std::string word;
    while (character != EOF && !std::isspace(character)) {
        word += static_cast<char>(character);
        character = std::getchar();
    }
    return !word.empty() && (word[0] == 'y' || word[0] == 'Y');
}
