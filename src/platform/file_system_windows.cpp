#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "platform/file_system.h"

std::FILE* openFile(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

bool removeFile(const std::string& path) {
    return DeleteFileA(path.c_str()) != 0;
}

bool pathExists(const std::string& path) {
    struct _stat64 info;
    return _stat64(path.c_str(), &info) == 0;
}

bool isSameFile(std::FILE* input, const std::string& outputPath) {
    // Volume serial number and file index play the part of device and inode.
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
}

bool isRegularFile(std::FILE* stream) {
    struct _stat64 info;
    return _fstat64(_fileno(stream), &info) == 0 && (info.st_mode & _S_IFREG) != 0;
}

std::string resolvedPath(const std::string& path) {
    return path;
}

ScratchResult createScratchFile(const char* prefix, std::string& path, std::FILE*& stream) {
    char directory[MAX_PATH + 1] = {};
    char name[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof directory, directory);
    if (length == 0 || length > MAX_PATH) return ScratchResult::kNoName;
    // Uses the prefix's first three characters and creates the file.
    if (GetTempFileNameA(directory, prefix, 0, name) == 0) return ScratchResult::kNoName;
    path = name;
    stream = std::fopen(name, "wb");
    if (stream == nullptr) {
        DeleteFileA(name);
        return ScratchResult::kNotOpened;
    }
    return ScratchResult::kCreated;
}
