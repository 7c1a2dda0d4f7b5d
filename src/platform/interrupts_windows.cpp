#include <atomic>
#include <csignal>
#include <cstdio>

#include "platform/interrupts.h"

namespace {

std::atomic<const char*> gScratchPath{nullptr};
std::atomic<const char*> gOutputPath{nullptr};

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGBREAK};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
void (*gPreviousHandlers[kSignalCount])(int);

void removeFile(const char* path) {
    if (path != nullptr) std::remove(path);
}

// Removes what this run created, then dies of the same signal so that the
// parent sees the conventional status.
extern "C" void removeFilesAndDie(int signalNumber) {
    removeFile(gScratchPath);
    removeFile(gOutputPath);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

}  // namespace

InterruptCleanup::InterruptCleanup() {
    for (size_t i = 0; i < kSignalCount; ++i)
        gPreviousHandlers[i] = std::signal(kSignals[i], removeFilesAndDie);
}

InterruptCleanup::~InterruptCleanup() {
    gScratchPath = nullptr;
    gOutputPath = nullptr;
    for (size_t i = 0; i < kSignalCount; ++i)
        std::signal(kSignals[i], gPreviousHandlers[i]);
}

void setInterruptScratchPath(const char* path) {
    gScratchPath = path;
}
void setInterruptOutputPath(const char* path) {
    gOutputPath = path;
}

// There is no signal mask to hold interrupts off with.
InterruptHold::InterruptHold() {}
InterruptHold::~InterruptHold() {}
