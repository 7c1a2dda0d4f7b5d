#include "driver/scratch_file.h"

#include <cstdlib>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {
constexpr const char* kScratchPrefix = "kesidx";
}  // namespace

#if defined(_WIN32)

ScratchResult createScratchFile(std::string& path, std::FILE*& stream) {
    char directory[MAX_PATH + 1] = {};
    char name[MAX_PATH + 1] = {};
    const DWORD length = GetTempPathA(sizeof directory, directory);
    if (length == 0 || length > MAX_PATH) return ScratchResult::kNoName;
    // Uses the prefix's first three characters and creates the file.
    if (GetTempFileNameA(directory, kScratchPrefix, 0, name) == 0) return ScratchResult::kNoName;
    path = name;
    stream = std::fopen(name, "wb");
    if (stream == nullptr) {
        std::remove(name);
        return ScratchResult::kNotOpened;
    }
    return ScratchResult::kCreated;
}

#else

ScratchResult createScratchFile(std::string& path, std::FILE*& stream) {
    const char* tmpdir = std::getenv("TMPDIR");
    std::string directory = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
    if (directory.back() != '/') directory += '/';
    std::string pattern = directory + kScratchPrefix + "XXXXXX";
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

#endif
