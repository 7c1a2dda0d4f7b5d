// Every name goes to the system as UTF-16 through the wide-character calls, so
// that a name outside the ANSI code page reaches the file it names.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstring>

#include "platform/file_system.h"
#include "platform/system_errors.h"
#include "platform/wide_text_windows.h"

namespace {

// Files this program opens can be removed while open: an interrupt removes
// the scratch file and the output by name while the streams on them are
// still open, and the system refuses that unless every handle shares delete.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// A C stream on handle, which it then owns; nullptr, with the handle closed,
// when no stream can be made.
std::FILE* streamOnHandle(HANDLE handle, int flags, const char* mode) {
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* stream = _fdopen(descriptor, mode);
    if (stream == nullptr) _close(descriptor);
    return stream;
}

HANDLE createHandle(const std::string& path, DWORD access, DWORD creation) {
    return CreateFileW(toWide(path).c_str(), access, kShareAll, nullptr, creation,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// The directory part of path, with its separator ("" for a bare name).
std::string directoryOf(const std::string& path) {
    const size_t separator = path.find_last_of("/\\");
    if (separator != std::string::npos) return path.substr(0, separator + 1);
    if (path.size() >= 2 && path[1] == ':') return path.substr(0, 2);  // "C:name"
    return std::string();
}

// Six characters that differ between processes, moments and attempts.
std::string uniqueSuffix(unsigned attempt) {
    constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    constexpr unsigned kDigitCount = sizeof kDigits - 1;
    unsigned long long mix = GetTickCount64() ^
                             (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) ^
                             (attempt * 7919ull);
    mix *= 0x9E3779B97F4A7C15ull;  // every input bit reaches the digits
    mix ^= mix >> 32;
    std::string suffix;
    for (int i = 0; i < 6; ++i) {
        suffix += kDigits[mix % kDigitCount];
        mix /= kDigitCount;
    }
    return suffix;
}

}  // namespace

std::FILE* openFile(const std::string& path, const char* mode) {
    // The modes of std::fopen this program uses: r, w or a, then + and b.
    DWORD access = 0;
    DWORD creation = 0;
    int flags = 0;
    switch (mode[0]) {
        case 'r':
            access = GENERIC_READ;
            creation = OPEN_EXISTING;
            flags = _O_RDONLY;
            break;
        case 'w':
            access = GENERIC_WRITE;
            creation = CREATE_ALWAYS;
            flags = _O_WRONLY;
            break;
        case 'a':
            access = FILE_APPEND_DATA;
            creation = OPEN_ALWAYS;
            flags = _O_WRONLY | _O_APPEND;
            break;
        default:
            return nullptr;
    }
    if (std::strchr(mode, '+') != nullptr) {
        access |= GENERIC_READ | GENERIC_WRITE;
        flags = (flags & _O_APPEND) | _O_RDWR;
    }
    if (std::strchr(mode, 'b') == nullptr) flags |= _O_TEXT;
    const HANDLE handle = createHandle(path, access, creation);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return streamOnHandle(handle, flags, mode);
}

bool removeFile(const std::string& path) {
    return DeleteFileW(toWide(path).c_str()) != 0;
}

bool pathExists(const std::string& path) {
    // The attributes of a link itself, so a dangling link counts too.
    return GetFileAttributesW(toWide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool isSameFile(std::FILE* input, const std::string& outputPath) {
    // Volume serial number and file index play the part of device and inode.
    const auto inputHandle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(input)));
    const HANDLE outputHandle = CreateFileW(toWide(outputPath).c_str(), 0, kShareAll, nullptr,
                                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

PathKind pathKind(const std::string& path) {
    // Opened for no access at all: devices such as NUL and CON, pipes and
    // directories open too, and say what they are.
    const HANDLE handle = CreateFileW(toWide(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
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

bool mayWriteFile(const std::string& path) {
    // A file another process holds for writing alone is waited for when the
    // conversion is copied over it.
    const HANDLE handle = createHandle(path, GENERIC_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(handle);
    return true;
}

bool mayReplaceFile(const std::string& /*path*/) {
    return true;  // a new file in the folder takes the folder's access list
}

std::FILE* openRegularFile(const std::string& path) {
    if (pathKind(path) != PathKind::kRegular) return nullptr;
    return openFile(path, "rb");
}

std::FILE* openInPlace(const std::string& path) {
    if (pathKind(path) != PathKind::kRegular) return nullptr;
    // Names are not resolved here, so a link is followed by this open; the
    // file is held by its handle from then on, whatever is put at its name.
    int flags = _O_RDWR;
    const char* mode = "r+b";
    HANDLE handle = createHandle(path, GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING);
    if (handle == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED) {
        flags = _O_WRONLY;
        mode = "wb";  // a file that may be written but not read
        handle = createHandle(path, GENERIC_WRITE, OPEN_EXISTING);
    }
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    if (GetFileType(handle) != FILE_TYPE_DISK) {
        CloseHandle(handle);
        return nullptr;
    }
    return streamOnHandle(handle, flags, mode);
}

namespace {

HANDLE handleOf(std::FILE* stream) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
}

}  // namespace

bool isSameOpenFile(std::FILE* one, std::FILE* other) {
    BY_HANDLE_FILE_INFORMATION oneInfo;
    BY_HANDLE_FILE_INFORMATION otherInfo;
    return GetFileInformationByHandle(handleOf(one), &oneInfo) &&
           GetFileInformationByHandle(handleOf(other), &otherInfo) &&
           oneInfo.dwVolumeSerialNumber == otherInfo.dwVolumeSerialNumber &&
           oneInfo.nFileIndexHigh == otherInfo.nFileIndexHigh &&
           oneInfo.nFileIndexLow == otherInfo.nFileIndexLow;
}

bool lockForWriting(std::FILE* stream) {
    // The whole file, however long it grows; released when the handle closes.
    // Another run's lock is waited for; while it is held, no one else may
    // read or write the file.
    OVERLAPPED from = {};
    return LockFileEx(handleOf(stream), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &from) != 0;
}

ReserveResult reserveFileSize(std::FILE* stream, int64_t size) {
    // A file grown to its new end has its room taken on the disk; the new
    // bytes go over the zeros it is grown with.
    const HANDLE handle = handleOf(stream);
    LARGE_INTEGER before;
    if (!GetFileSizeEx(handle, &before)) return ReserveResult::kNotSupported;
    if (size <= before.QuadPart) return ReserveResult::kReserved;
    LARGE_INTEGER end;
    end.QuadPart = size;
    if (SetFilePointerEx(handle, end, nullptr, FILE_BEGIN) && SetEndOfFile(handle)) {
        return ReserveResult::kReserved;
    }
    const KeptSystemError kept;
    if (SetFilePointerEx(handle, before, nullptr, FILE_BEGIN)) SetEndOfFile(handle);
    return ReserveResult::kFailed;
}

int descriptorNamedBy(const std::string& path) {
    // CON is the console, which is standard output while that is not
    // redirected.
    if (_stricmp(path.c_str(), "CON") != 0 && _stricmp(path.c_str(), "CONOUT$") != 0) return -1;
    DWORD mode = 0;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(kStandardOutputDescriptor));
    return GetConsoleMode(handle, &mode) ? kStandardOutputDescriptor : -1;
}

std::FILE* openDescriptorForWriting(int descriptor) {
    const int copy = _dup(descriptor);
    if (copy < 0) return nullptr;
    _setmode(copy, _O_BINARY);
    std::FILE* stream = _fdopen(copy, "wb");
    if (stream == nullptr) _close(copy);
    return stream;
}

bool canSeek(std::FILE* stream) {
    const HANDLE handle = handleOf(stream);
    DWORD mode = 0;
    switch (GetFileType(handle)) {
        case FILE_TYPE_DISK:
            return true;
        case FILE_TYPE_CHAR:
            return !GetConsoleMode(handle, &mode);  // NUL, not the console
        default:
            return false;
    }
}

bool readFileStamp(std::FILE* stream, FileStamp& stamp) {
    const HANDLE handle = handleOf(stream);
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return false;
    }
    stamp.size =
        static_cast<int64_t>(static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow);
    stamp.modified =
        static_cast<int64_t>(static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 |
                             info.ftLastWriteTime.dwLowDateTime);
    return true;
}

bool emptyFile(std::FILE* stream) {
    if (std::fseek(stream, 0, SEEK_SET) != 0) return false;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    return SetEndOfFile(handle) != 0;
}

ScratchResult createScratchFile(const char* prefix, std::string& path, std::FILE*& stream) {
    wchar_t directory[MAX_PATH + 1] = {};
    wchar_t name[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathW(MAX_PATH + 1, directory);
    if (length == 0 || length > MAX_PATH) return ScratchResult::kNoName;
    // Uses the prefix's first three characters and creates the file exclusively.
    if (GetTempFileNameW(directory, toWide(prefix).c_str(), 0, name) == 0) {
        return ScratchResult::kNoName;
    }
    path = toUtf8(name);
    const HANDLE handle = CreateFileW(name, GENERIC_WRITE, kShareAll, nullptr, TRUNCATE_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    stream = handle == INVALID_HANDLE_VALUE ? nullptr : streamOnHandle(handle, _O_WRONLY, "wb");
    if (stream == nullptr) {
        const KeptSystemError kept;
        DeleteFileW(name);
        return ScratchResult::kNotOpened;
    }
    return ScratchResult::kCreated;
}

void openMissingStandardStreams() {
    // In order, so that each reopened stream takes its own descriptor, the
    // lowest free one, and no file opened later can take it.
    struct Standard {
        int descriptor;
        std::FILE* stream;
        const wchar_t* mode;
    };
    const Standard standards[] = {{0, stdin, L"r"}, {1, stdout, L"w"}, {2, stderr, L"w"}};
    for (const Standard& standard : standards) {
        const intptr_t handle = _get_osfhandle(standard.descriptor);
        if (handle != -1 && handle != -2) continue;
        _wfreopen(L"NUL", standard.mode, standard.stream);
    }
}

bool createSiblingTempFile(const std::string& target, std::string& tempPath, std::FILE*& stream) {
    const std::string directory = directoryOf(target);
    const std::string prefix = directory + "." + target.substr(directory.size()) + ".";
    constexpr unsigned kAttempts = 100;
    for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
        const std::string candidate = prefix + uniqueSuffix(attempt);
        const HANDLE handle = createHandle(candidate, GENERIC_WRITE, CREATE_NEW);
        if (handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) continue;
            return false;
        }
        stream = streamOnHandle(handle, _O_WRONLY, "wb");
        if (stream == nullptr) {
            removeFile(candidate);
            return false;
        }
        tempPath = candidate;
        return true;
    }
    return false;
}

bool setUsualPermissions(std::FILE* /*stream*/) {
    return true;  // a new file has them already: the folder's access list
}

bool copyPermissions(const std::string& /*from*/, std::FILE* /*to*/) {
    // The read-only attribute is the only permission bit a file carries, and a
    // read-only output cannot be replaced at all. Who may use the new file is
    // set by the access list it inherits from the folder; an access list given
    // to the old file alone is not carried over.
    return true;
}

bool replaceFile(const std::string& from, const std::string& to) {
    // Both names are in one folder, so the move is a rename in one step; no
    // copy is ever made, so there is nothing to write through.
    return MoveFileExW(toWide(from).c_str(), toWide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool cutFile(std::FILE* stream, int64_t size) {
    if (std::fflush(stream) != 0) return false;
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
    LARGE_INTEGER position;
    position.QuadPart = size;
    return SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) != 0 &&
           SetEndOfFile(handle) != 0;
}

bool seekStream(std::FILE* stream, int64_t offset, int whence) {
    return _fseeki64(stream, offset, whence) == 0;
}
