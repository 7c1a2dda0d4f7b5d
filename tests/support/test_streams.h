// An input reader and an output writer over temporary files, the chunk
// writer's state and a scratch stream, for tests that drive the conversion's
// stages directly.
#pragma once

#include <cstdio>
#include <vector>

#include "avi/movie_chunks.h"
#include "io/stream_buffers.h"

using Bytes = std::vector<uint8_t>;

struct TestStreams {
    std::FILE* inputFile = std::tmpfile();
    std::FILE* outputFile = std::tmpfile();
    std::FILE* scratch = std::tmpfile();
    InputReader input;
    OutputWriter output;
    ChunkWriterState chunks;

    explicit TestStreams(const Bytes& inputBytes = {}, size_t windowSize = 1 << 16,
                         size_t bufferSize = 1 << 16);
    ~TestStreams();
    TestStreams(const TestStreams&) = delete;
    TestStreams& operator=(const TestStreams&) = delete;

    Bytes outputBytes();  // everything written so far
    Bytes scratchBytes();
};

// The whole contents of a stream, from its start.
Bytes streamContents(std::FILE* file);
