#include "test_streams.h"

TestStreams::TestStreams(const Bytes& inputBytes, size_t windowSize, size_t bufferSize) {
    // An empty vector's data may be null, which fwrite must not be given.
    if (!inputBytes.empty()) std::fwrite(inputBytes.data(), 1, inputBytes.size(), inputFile);
    std::rewind(inputFile);
    attachReader(input, inputFile, windowSize);
    attachWriter(output, outputFile, bufferSize, 0xFFFFFFFF);
    attachChunkWriter(chunks, bufferSize);
}

TestStreams::~TestStreams() {
    for (std::FILE* file : {inputFile, outputFile, scratch})
        std::fclose(file);
}

Bytes TestStreams::outputBytes() {
    flushWriter(output);
    return streamContents(outputFile);
}

Bytes TestStreams::scratchBytes() {
    return streamContents(scratch);
}

Bytes streamContents(std::FILE* file) {
    std::fflush(file);
    std::fseek(file, 0, SEEK_END);
    Bytes bytes(static_cast<size_t>(std::ftell(file)));
    std::rewind(file);
    if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) bytes.clear();
    return bytes;
}
