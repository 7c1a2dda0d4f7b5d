// The file services a conversion needs, with the platform's own calls behind
// them. Paths are held as UTF-8 text; the conversion code calls these and
// never the platform directly.
#pragma once

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
// device, so that no file opened later takes its place and receives console
// text.
void openMissingStandardStreams();

// Creates, exclusively, a new file in target's directory named "." plus
// target's name, "." and a unique suffix, stores its name in tempPath and
// opens it for binary writing into stream. False, with nothing created, when
// no such file can be made.
bool createSiblingTempFile(const std::string& target, std::string& tempPath, std::FILE*& stream);

// Gives the file open as to the permissions of the file at from, as far as
// the platform keeps them on the file; false when they could not be given.
bool copyPermissions(const std::string& from, std::FILE* to);

// Renames from over to in one step, replacing a file at to; false when the
// file at to was left as it was.
bool replaceFile(const std::string& from, const std::string& to);
