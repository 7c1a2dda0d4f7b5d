#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>

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

void openMissingStandardStreams() {
    // A stream without a console or file behind it writes into nothing.
    const struct {
        std::FILE* stream;
        const char* mode;
    } streams[] = {{stdin, "r"}, {stdout, "w"}, {stderr, "w"}};
    for (const auto& entry : streams) {
        const int descriptor = _fileno(entry.stream);
        if (descriptor >= 0 && _get_osfhandle(descriptor) != -1) continue;
        std::FILE* reopened = std::freopen("NUL", entry.mode, entry.stream);
        static_cast<void>(reopened);
    }
}

PathKind pathKind(const std::string& path) {
    // Opened for no access at all: devices such as NUL and CON, pipes and
    // directories open too, and say what they are.
    const HANDLE handle =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? PathKind::kAbsent
                                                                              : PathKind::kOther;
    }
    BY_HANDLE_FILE_INFORMATION info;
    const bool regular = GetFileType(handle) == FILE_TYPE_DISK &&
                         GetFileInformationByHandle(handle, &info) &&
                         (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    CloseHandle(handle);
    return regular ? PathKind::kRegular : PathKind::kOther;
}

bool createSiblingTempFile(const std::string& target, std::string& tempPath, std::FILE*& stream) {
    const size_t separator = target.find_last_of("/\\:");
    const size_t baseStart = separator == std::string::npos ? 0 : separator + 1;
    const std::string prefix = target.substr(0, baseStart) + "." + target.substr(baseStart) + ".";
    const unsigned long seed = GetCurrentProcessId() ^ GetTickCount();
    for (unsigned long attempt = 0; attempt < 100; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%08lx", (seed + attempt * 7919) & 0xFFFFFFFFUL);
        const std::string name = prefix + suffix;
        const int descriptor =
            _open(name.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
        if (descriptor < 0) {
            if (errno == EEXIST) continue;
            return false;
        }
        stream = _fdopen(descriptor, "wb");
        if (stream == nullptr) {
            _close(descriptor);
            DeleteFileA(name.c_str());
            return false;
        }
        tempPath = name;
        return true;
    }
    return false;
}

// The new file takes its access from the directory, as any new file there.
bool copyPermissions(const std::string&, std::FILE*) {
    return true;
}
bool setUsualPermissions(std::FILE*) {
    return true;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool mayReplaceFile(const std::string& path) {
    const HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    CloseHandle(handle);
    return true;
}
