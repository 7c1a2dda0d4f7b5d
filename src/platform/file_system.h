// The file services a conversion needs, with the platform's own calls behind
// them. Paths are held as UTF-8 text; the conversion code calls these and
// never the platform directly.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// Opens path as a C stream, mode as for std::fopen; nullptr on failure.
std::FILE* openFile(const std::string& path, const char* mode);

// Removes the file at path (a link itself, not what it points to); false when
// nothing was removed.
bool removeFile(const std::string& path);

// True when anything stands at path, readable or not (a dangling link too).
bool pathExists(const std::string& path);

// True when outputPath names the very file that input is, whatever the
// spelling: "./" prefixes, symbolic or hard links.
bool isSameFile(std::FILE* input, const std::string& outputPath);

// True when stream is a regular file, the only kind a failed run may remove.
bool isRegularFile(std::FILE* stream);

// The file that path names once every symbolic link is followed; path itself
// when it cannot be resolved.
std::string resolvedPath(const std::string& path);

enum class ScratchResult { kCreated, kNoName, kNotOpened };

// Creates a new, empty, uniquely named file whose name begins with prefix in
// the platform's directory for temporary files, exclusively and readable by
// its owner alone, stores its name in path and opens it for binary writing
// into stream. kNoName: no directory or no unique name (nothing created).
// kNotOpened: the file was created, and removed again, but could not be opened.
ScratchResult createScratchFile(const char* prefix, std::string& path, std::FILE*& stream);

// Opens each of standard input, output and error that is not open on the null
// device, so that no file of the conversion can take its descriptor and
// receive console text. Called before anything else is opened.
void openMissingStandardStreams();

enum class PathKind { kAbsent, kRegular, kOther };

// What stands at path, following symbolic links: nothing at all, a regular
// file, or anything else (a device, a pipe, a directory, a dangling link).
PathKind pathKind(const std::string& path);

// Creates exclusively a new, empty file readable by its owner alone in the
// directory of target, named ".NAME." and a unique suffix (NAME being target's
// last component), stores its name in tempPath and opens it for binary writing
// into stream. False, with nothing created, when no such file can be made.
bool createSiblingTempFile(const std::string& target, std::string& tempPath, std::FILE*& stream);

// Gives the open file to the permission bits (and, where allowed, the owner)
// of the existing file from; false when from cannot be read or nothing changed.
bool copyPermissions(const std::string& from, std::FILE* to);

// Gives the open file the permissions a plainly created new file gets.
bool setUsualPermissions(std::FILE* stream);

// Puts the file from in place of to in one step: anyone opening to sees the
// old file or the new one, never a mix. False, with both left as they were,
// on failure.
bool replaceFile(const std::string& from, const std::string& to);

// True when this process may write the existing file at path; nothing is
// changed, and the file is not opened.
bool mayWriteFile(const std::string& path);

// True when this process may put a new file in place of the existing, writable
// file at path without taking it from another owner; nothing is changed.
bool mayReplaceFile(const std::string& path);

// Opens path for binary reading only when it is a regular file: a device or a
// pipe is not even opened. nullptr otherwise, or on failure.
std::FILE* openRegularFile(const std::string& path);

// Opens the existing regular file at path for binary writing in place, its
// bytes kept, and for reading too where that is allowed. A symbolic link as
// its last component is not followed (one the user named is resolved
// first), and a pipe put there is not waited for. nullptr, with nothing
// changed, on failure.
std::FILE* openInPlace(const std::string& path);

// True when the two streams are on the very same file.
bool isSameOpenFile(std::FILE* one, std::FILE* other);

// Waits until this process alone holds the file of stream for writing: a
// process that asked the same is waited for, and others who ask wait until
// the stream is closed. An interrupt ends the wait with the process. False
// when the file cannot be held so.
bool lockForWriting(std::FILE* stream);

enum class ReserveResult { kReserved, kNotSupported, kFailed };

// Makes the file of stream take room on its disk for its first size bytes,
// its bytes kept, so that writing them over it cannot run out of room.
// kNotSupported: the file or its file system cannot reserve (nothing changed).
// kFailed: no room (the system's reason kept), the file as it was.
ReserveResult reserveFileSize(std::FILE* stream, int64_t size);

// The descriptor of standard output, on every platform.
inline constexpr int kStandardOutputDescriptor = 1;

// The descriptor of this process that path names: /dev/stdout, /dev/fd/N or
// /proc/self/fd/N, or a symbolic link to one (on Windows: CON, while standard
// output is the console); -1 when it names none.
int descriptorNamedBy(const std::string& path);

// A binary stream that writes to the open descriptor as it stands: at its
// position, or at the end when it appends. nullptr on failure, and for a
// standard descriptor that was closed when the run began.
std::FILE* openDescriptorForWriting(int descriptor);

// True when stream can seek back over what was written to it: a regular file
// or a device such as the null device, not a pipe, a socket or a terminal.
bool canSeek(std::FILE* stream);

// What tells whether a file changed while it was open: its size and the time
// of its last change, in the system's own units.
struct FileStamp {
    int64_t size = 0;
    int64_t modified = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of the regular file of stream; false for any other kind of file.
bool readFileStamp(std::FILE* stream, FileStamp& stamp);

// Cuts the file of stream to no bytes, the stream at its start; false when the
// file could not be cut.
bool emptyFile(std::FILE* stream);

// Cuts the file of stream, whose buffered bytes are written, to its first
// size bytes; false when it could not be cut.
bool cutFile(std::FILE* stream, int64_t size);

// Seeks like fseek with a 64-bit offset; true on success.
bool seekStream(std::FILE* stream, int64_t offset, int whence);
