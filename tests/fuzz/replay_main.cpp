// Runs every file of the given directories, and every file given itself,
// through the fuzz target once, in name order, so that the corpus and the
// saved crash inputs are an ordinary test with any compiler. A broken check
// aborts in the target; a directory that does not exist is skipped, but a run
// with no input at all fails.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path directory = argv[i];
        if (fs::is_regular_file(directory)) {
            inputs.push_back(directory);
            continue;
        }
        if (!fs::is_directory(directory)) {
            std::printf("skipped %s: no such directory\n", argv[i]);
            continue;
        }
        for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
            if (entry.is_regular_file()) inputs.push_back(entry.path());
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::printf("no inputs to replay\n");
        return 1;
    }
    for (const fs::path& path : inputs) {
        std::ifstream file(path, std::ios::binary);
        std::vector<uint8_t> bytes(fs::file_size(path));
        file.read(reinterpret_cast<char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        if (!file) {
            std::printf("could not read %s\n", path.c_str());
            return 1;
        }
        // Named before the run, so that an abort shows which input it was.
        std::printf("%s (%zu bytes)\n", path.c_str(), bytes.size());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    }
    std::printf("%zu inputs replayed\n", inputs.size());
    return 0;
}
