#include <unistd.h>

#include <atomic>
#include <csignal>

#include "platform/interrupts.h"

namespace {

// Read by the handler: lock-free pointers to strings that outlive the arming.
std::atomic<const char*> gScratchPath{nullptr};
std::atomic<const char*> gOutputPath{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

// SIGPIPE too: a reader that closes the pipe of the dots or the statistics
// ends the run as surely as Ctrl-C does.
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
struct sigaction gPreviousActions[kSignalCount];

void removeFile(const char* path) {
    if (path != nullptr) unlink(path);  // async-signal-safe, unlike remove
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
    for (size_t i = 0; i < kSignalCount; ++i) {
        sigaction(kSignals[i], nullptr, &gPreviousActions[i]);
        if (gPreviousActions[i].sa_handler == SIG_IGN) continue;  // as under nohup
        struct sigaction action = {};
        action.sa_handler = removeFilesAndDie;
        sigemptyset(&action.sa_mask);
        for (int other : kSignals)
            sigaddset(&action.sa_mask, other);
        sigaction(kSignals[i], &action, nullptr);
    }
}

InterruptCleanup::~InterruptCleanup() {
    gScratchPath = nullptr;
    gOutputPath = nullptr;
    for (size_t i = 0; i < kSignalCount; ++i)
        sigaction(kSignals[i], &gPreviousActions[i], nullptr);
}

void setInterruptScratchPath(const char* path) {
    gScratchPath = path;
}
void setInterruptOutputPath(const char* path) {
    gOutputPath = path;
}

InterruptHold::InterruptHold() {
    sigset_t held;
    sigemptyset(&held);
    for (int signalNumber : kSignals)
        sigaddset(&held, signalNumber);
    sigprocmask(SIG_BLOCK, &held, &previousMask);
}
InterruptHold::~InterruptHold() {
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
}
