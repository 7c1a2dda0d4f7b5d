// The scratch index file: a new, empty, uniquely named file in the platform's
// directory for temporary files.
#pragma once

#include <cstdio>
#include <string>

enum class ScratchResult { kCreated, kNoName, kNotOpened };

// Creates the scratch file, exclusively and readable by its owner alone, stores
// its name in path and opens it for binary writing into stream. kNoName: no
// directory or no unique name (nothing created). kNotOpened: the file was
// created, and removed again, but could not be opened.
ScratchResult createScratchFile(std::string& path, std::FILE*& stream);
