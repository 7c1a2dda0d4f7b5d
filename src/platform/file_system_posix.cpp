#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
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

namespace {
// The standard descriptors that were closed when the run began, one bit each:
// the null device stands in for them, and is no output a user named.
unsigned gClosedAtStart = 0;
}  // namespace

void openMissingStandardStreams() {
    for (int descriptor = 0; descriptor <= 2; ++descriptor) {
        if (fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        gClosedAtStart |= 1u << descriptor;
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

std::FILE* openInPlace(const std::string& path) {
    struct stat before;
    if (lstat(path.c_str(), &before) != 0) return nullptr;
    // A link or a pipe put in the file's place is not opened at all.
    if (!S_ISREG(before.st_mode)) {
        errno = S_ISLNK(before.st_mode) ? ELOOP : EINVAL;
        return nullptr;
    }
    const int flags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    const char* mode = "r+b";
    int descriptor = open(path.c_str(), O_RDWR | flags);
    if (descriptor < 0 && errno == EACCES) {
        mode = "wb";  // a file that may be written but not read
        descriptor = open(path.c_str(), O_WRONLY | flags);
    }
    if (descriptor < 0) return nullptr;
    struct stat info;
    bool usable = fstat(descriptor, &info) == 0;
    if (usable && !S_ISREG(info.st_mode)) {
        errno = EINVAL;
        usable = false;
    }
    const int status = usable ? fcntl(descriptor, F_GETFL) : -1;
    if (status < 0 || fcntl(descriptor, F_SETFL, status & ~O_NONBLOCK) != 0) {
        const KeptSystemError kept;
        close(descriptor);
        return nullptr;
    }
    // "w" on a descriptor keeps the file's bytes.
    return streamOnDescriptor(descriptor, mode);
}

bool isSameOpenFile(std::FILE* one, std::FILE* other) {
    struct stat oneInfo;
    struct stat otherInfo;
    return fstat(fileno(one), &oneInfo) == 0 && fstat(fileno(other), &otherInfo) == 0 &&
           oneInfo.st_dev == otherInfo.st_dev && oneInfo.st_ino == otherInfo.st_ino;
}

bool lockForWriting(std::FILE* stream) {
    // The whole file, however long it grows; released when the descriptor closes.
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    while (fcntl(fileno(stream), F_SETLKW, &lock) != 0) {
        if (errno != EINTR) return false;
    }
    return true;
}

ReserveResult reserveFileSize(std::FILE* stream, int64_t size) {
    const int descriptor = fileno(stream);
    struct stat before;
    if (size <= 0) return ReserveResult::kReserved;
    if (fstat(descriptor, &before) != 0) return ReserveResult::kNotSupported;
    int status = 0;
    do {
        status = posix_fallocate(descriptor, 0, static_cast<off_t>(size));
    } while (status == EINTR);
    if (status == 0) return ReserveResult::kReserved;
    if (status == EOPNOTSUPP || status == EINVAL || status == ENODEV || status == EBADF ||
        status == ESPIPE) {
        return ReserveResult::kNotSupported;
    }
    // Room taken before the disk filled may have grown the file; it goes again.
    struct stat after;
    if (fstat(descriptor, &after) == 0 && after.st_size > before.st_size) {
        (void)!ftruncate(descriptor, before.st_size);
    }
    errno = status;
    return ReserveResult::kFailed;
}

namespace {

// Symbolic links followed from a name to the descriptor it names, at most.
constexpr int kMaxLinksFollowed = 40;
// A descriptor number has at most this many digits.
constexpr size_t kMaxDescriptorDigits = 9;

// The number that name spells in decimal digits alone, or -1.
int descriptorNumber(const std::string& name) {
    if (name.empty() || name.size() > kMaxDescriptorDigits) return -1;
    int number = 0;
    for (const char digit : name) {
        if (digit < '0' || digit > '9') return -1;
        number = number * 10 + (digit - '0');
    }
    return number;
}

}  // namespace

int descriptorNamedBy(const std::string& path) {
    // This process's descriptors are the links in its directory of them under
    // /proc, which /dev/fd and /proc/self/fd are names of, and /dev/stdout a
    // link into.
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return -1;
    const std::string process = "/proc/" + std::to_string(getpid());
    const std::string ownDirectories[] = {process + "/fd",
                                          process + "/task/" + std::to_string(getpid()) + "/fd"};
    std::string name = path;
    for (int links = 0; links < kMaxLinksFollowed; ++links) {
        if (links > 0 && (lstat(name.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))) return -1;
        const size_t slash = name.rfind('/');
        const std::string directory = slash == std::string::npos ? "./" : name.substr(0, slash + 1);
        const std::string resolvedDirectory = resolvedPath(directory);
        for (const std::string& own : ownDirectories) {
            if (resolvedDirectory == own) return descriptorNumber(name.substr(directory.size()));
        }
        std::vector<char> target(static_cast<size_t>(info.st_size > 0 ? info.st_size : 255) + 1);
        const ssize_t length = readlink(name.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<size_t>(length) >= target.size()) return -1;
        const std::string linked(target.data(), static_cast<size_t>(length));
        name = linked[0] == '/' ? linked : directory + linked;
    }
    return -1;
}

std::FILE* openDescriptorForWriting(int descriptor) {
    if (descriptor >= 0 && descriptor <= 2 && (gClosedAtStart >> descriptor & 1u) != 0) {
        errno = EBADF;
        return nullptr;
    }
    const int copy = fcntl(descriptor, F_DUPFD_CLOEXEC, 3);
    return streamOnDescriptor(copy, "wb");
}

bool canSeek(std::FILE* stream) {
    return lseek(fileno(stream), 0, SEEK_CUR) != -1;
}

bool readFileStamp(std::FILE* stream, FileStamp& stamp) {
    struct stat info;
    if (fstat(fileno(stream), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    constexpr int64_t kNanosecondsPerSecond = 1000000000;
    stamp.size = static_cast<int64_t>(info.st_size);
    stamp.modified = static_cast<int64_t>(info.st_mtim.tv_sec) * kNanosecondsPerSecond +
                     static_cast<int64_t>(info.st_mtim.tv_nsec);
    return true;
}

bool emptyFile(std::FILE* stream) {
    return std::fseek(stream, 0, SEEK_SET) == 0 && ftruncate(fileno(stream), 0) == 0;
}

bool cutFile(std::FILE* stream, int64_t size) {
    return std::fflush(stream) == 0 && ftruncate(fileno(stream), static_cast<off_t>(size)) == 0;
}

bool seekStream(std::FILE* stream, int64_t offset, int whence) {
    return fseeko(stream, static_cast<off_t>(offset), whence) == 0;
}
