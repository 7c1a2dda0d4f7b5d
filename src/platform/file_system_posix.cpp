#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "platform/file_system.h"
#include "platform/system_errors.h"

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
        const KeptSystemError kept;
        close(descriptor);
        unlink(name.data());
        return ScratchResult::kNotOpened;
    }
    return ScratchResult::kCreated;
}

void openMissingStandardStreams() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is this one, the lower ones being open.
        const int opened = open("/dev/null", descriptor == 0 ? O_RDONLY : O_WRONLY);
        if (opened > descriptor) {
            dup2(opened, descriptor);
            close(opened);
        }
    }
}

PathKind pathKind(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        return S_ISREG(info.st_mode) ? PathKind::kRegular : PathKind::kOther;
    }
    return pathExists(path) ? PathKind::kOther : PathKind::kAbsent;
}

namespace {
// Keeps the temporary file's name within the usual 255-byte limit of a name.
constexpr size_t kMaxTempBaseLength = 200;
}  // namespace

bool createSiblingTempFile(const std::string& target, std::string& tempPath, std::FILE*& stream) {
    const size_t slash = target.rfind('/');
    const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = target.substr(slash == std::string::npos ? 0 : slash + 1);
    const std::string pattern = directory + "." + base.substr(0, kMaxTempBaseLength) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    // O_EXCL and mode 0600: no one else can have it open or have linked it in
    // advance, nor read the conversion before it is complete.
    const int descriptor = mkstemp(name.data());
    if (descriptor < 0) return false;
    fcntl(descriptor, F_SETFD, FD_CLOEXEC);
    stream = fdopen(descriptor, "wb");
    if (stream == nullptr) {
        close(descriptor);
        unlink(name.data());
        return false;
    }
    tempPath = name.data();
    return true;
}

bool copyPermissions(const std::string& from, std::FILE* to) {
    struct stat info;
    if (stat(from.c_str(), &info) != 0) return false;
    const int descriptor = fileno(to);
    // Owner and group too where allowed (root, or a group of the user). When
    // they cannot be given, the set-id bits are dropped and the group the file
    // has instead gets no more than everyone else had.
    const mode_t others = info.st_mode & 07;
    mode_t mode = info.st_mode & 07777;
    if (fchown(descriptor, info.st_uid, info.st_gid) != 0) {
        mode = (info.st_mode & 0700) | (info.st_mode & 070 & (others << 3)) | others;
    }
    return fchmod(descriptor, mode) == 0;
}

bool setUsualPermissions(std::FILE* stream) {
    const mode_t mask = umask(0);
    umask(mask);
    return fchmod(fileno(stream), 0666 & ~mask) == 0;
}

bool replaceFile(const std::string& from, const std::string& to) {
    return rename(from.c_str(), to.c_str()) == 0;
}

bool mayWriteFile(const std::string& path) {
    // Asked, not tried: opening the file for writing would tell anyone
    // watching it that it was written.
    return faccessat(AT_FDCWD, path.c_str(), W_OK, AT_EACCESS) == 0;
}

bool mayReplaceFile(const std::string& path) {
    // Another user's file keeps its owner by being written over in place; a
    // directory such as /tmp would not even let it be replaced.
    struct stat info;
    return geteuid() == 0 || (stat(path.c_str(), &info) == 0 && info.st_uid == geteuid());
}

namespace {

// A descriptor on the regular file at path, opened with flags, or -1. The
// open never waits: a pipe put there after the check must not hold the run.
int openRegularDescriptor(const std::string& path, int flags) {
    if (pathKind(path) != PathKind::kRegular) return -1;
    const int descriptor = open(path.c_str(), flags | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (descriptor < 0) return -1;
    struct stat info;
    const int status = fcntl(descriptor, F_GETFL);
    if (fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode) || status < 0 ||
        fcntl(descriptor, F_SETFL, status & ~O_NONBLOCK) != 0) {
        const KeptSystemError kept;
        close(descriptor);
        return -1;
    }
    return descriptor;
}

std::FILE* streamOnDescriptor(int descriptor, const char* mode) {
    if (descriptor < 0) return nullptr;
    std::FILE* stream = fdopen(descriptor, mode);
    if (stream == nullptr) {
        const KeptSystemError kept;
        close(descriptor);
    }
    return stream;
}

}  // namespace

std::FILE* openRegularFile(const std::string& path) {
    return streamOnDescriptor(openRegularDescriptor(path, O_RDONLY), "rb");
}

std::FILE* openLockedForWriting(const std::string& path) {
    const int descriptor = openRegularDescriptor(path, O_WRONLY);
    if (descriptor < 0) return nullptr;
    // The whole file, however long it grows; released when the descriptor closes.
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    while (fcntl(descriptor, F_SETLKW, &lock) != 0) {
        if (errno != EINTR) {
            const KeptSystemError kept;
            close(descriptor);
            return nullptr;
        }
    }
    // "w" on a descriptor keeps the file's bytes.
    return streamOnDescriptor(descriptor, "wb");
}

bool emptyFile(std::FILE* stream) {
    return std::fseek(stream, 0, SEEK_SET) == 0 && ftruncate(fileno(stream), 0) == 0;
}

bool cutFile(std::FILE* stream, int64_t size) {
    return std::fflush(stream) == 0 && ftruncate(fileno(stream), static_cast<off_t>(size)) == 0;
}
