// The files of one run: streams closed and files removed on every way out
// (an interrupt too), and the run's own files in the temporary directory.
#pragma once

#include <cstdio>
#include <string>

#include "platform/file_system.h"
#include "platform/interrupts.h"
#include "platform/system_errors.h"

// Closes its stream on every way out; close() reports whether all buffered
// data reached the file.
struct StreamOwner {
    std::FILE* stream = nullptr;
    StreamOwner() = default;
    StreamOwner(const StreamOwner&) = delete;
    StreamOwner& operator=(const StreamOwner&) = delete;
    ~StreamOwner() {
        if (stream != nullptr) std::fclose(stream);
    }
    bool close() {
        const bool closed = std::fclose(stream) == 0;
        stream = nullptr;
        return closed;
    }
};

// Removes the file at path on every way out unless released; also the file
// an interrupt removes while armed. Declared before the streams on the file,
// so that they are closed first.
struct CreatedFile {
    const std::string* path = nullptr;
    bool isOutput = false;
    CreatedFile() = default;
    CreatedFile(const CreatedFile&) = delete;
    CreatedFile& operator=(const CreatedFile&) = delete;
    void arm(const std::string& armedPath, bool output) {
        path = &armedPath;
        isOutput = output;
        name(path->c_str());
    }
    // Stops removing the file, on every way out and on an interrupt.
    void release() {
        if (path == nullptr) return;  // never armed: a device or pipe
        name(nullptr);
        path = nullptr;
    }
    ~CreatedFile() {
        if (path == nullptr) return;
        InterruptHold hold;
        name(nullptr);
        removeFile(*path);
    }

private:
    void name(const char* handlerPath) const {
        if (isOutput) {
            setInterruptOutputPath(handlerPath);
        } else {
            setInterruptScratchPath(handlerPath);
        }
    }
};

// Creates a file of this run's own in the temporary directory, named from
// prefix into path, opened for writing into owner and armed in file for
// removal (as the output for the interrupt handler when isOutput). Returns 1,
// or 0 with the message.
int createTempFile(const char* prefix, std::string& path, StreamOwner& owner, CreatedFile& file,
                   bool isOutput);
