// The floor the conversion is measured against: reads the input in 1 MiB blocks
// and writes a new file of the converted output's size from them, as the
// conversion would with no work between reading and writing.
//   io_floor INPUT OUTPUT BYTES
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: io_floor INPUT OUTPUT BYTES\n");
        return 2;
    }
    std::FILE* input = std::fopen(argv[1], "rb");
    std::FILE* output = std::fopen(argv[2], "wb");
    if (input == nullptr || output == nullptr) {
        std::perror("io_floor");
        return 1;
    }
    const long long wanted = std::atoll(argv[3]);
    constexpr size_t kBlock = size_t{1} << 20;
    constexpr long long kBlockBytes = 1LL << 20;
    // Page-aligned, as dd's buffer is: a read into a misaligned buffer costs
    // several times more, which would make the floor no floor.
    constexpr std::align_val_t kPage{4096};
    const std::unique_ptr<char[], void (*)(char*)> block(
        static_cast<char*>(::operator new[](kBlock, kPage)),
        [](char* bytes) { ::operator delete[](bytes, kPage); });
    std::setvbuf(input, nullptr, _IONBF, 0);
    std::setvbuf(output, nullptr, _IONBF, 0);
    std::fseek(input, 0, SEEK_END);
    const long long inputSize = std::ftell(input);
    std::rewind(input);
    long long readSoFar = 0;
    long long written = 0;
    size_t got = 0;
    bool ok = true;
    // After each block, writes as much as the input read so far becomes at the
    // output's overall ratio; at the end, the rest.
    while (ok && (got = std::fread(block.get(), 1, kBlock, input)) > 0) {
        readSoFar += static_cast<long long>(got);
        const long long due = readSoFar >= inputSize
                                  ? wanted
                                  : static_cast<long long>(static_cast<double>(readSoFar) /
                                                           static_cast<double>(inputSize) *
                                                           static_cast<double>(wanted));
        while (ok && written < due) {
            const auto piece = static_cast<size_t>(std::min(due - written, kBlockBytes));
            ok = std::fwrite(block.get(), 1, piece, output) == piece;
            written += static_cast<long long>(piece);
        }
    }
    while (ok && written < wanted) {
        const auto piece = static_cast<size_t>(std::min(wanted - written, kBlockBytes));
        ok = std::fwrite(block.get(), 1, piece, output) == piece;
        written += static_cast<long long>(piece);
    }
    std::fclose(input);
    return std::fclose(output) == 0 && ok ? 0 : 1;
}
