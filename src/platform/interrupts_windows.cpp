#include <windows.h>

#include <atomic>
#include <csignal>
#include <string>

#include "platform/interrupts.h"
#include "platform/wide_text_windows.h"

namespace {

// The names an interrupt removes, already in the form the system takes, so
// that the handler converts nothing. The handler runs on a thread of its own:
// a name is written only while its pointer is null, then published.
struct ArmedName {
    std::wstring wide;
    std::atomic<const wchar_t*> published{nullptr};
};
ArmedName gScratchName;
ArmedName gOutputName;

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGBREAK};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];
void (*gPreviousHandlers[kSignalCount])(int);

void arm(ArmedName& name, const char* path) {
    name.published = nullptr;
    if (path == nullptr) return;
    name.wide = toWide(path);
    name.published = name.wide.c_str();
}

void removeArmed(const ArmedName& name) {
    const wchar_t* path = name.published;
    if (path != nullptr) DeleteFileW(path);
}

// A hold is a lock that the handler takes before it removes anything: an
// interrupt during a hold waits, on the handler's thread, for the hold to end.
// It is never released by the handler, whose thread ends the process.
struct HoldLock {
    CRITICAL_SECTION section;
    HoldLock() { InitializeCriticalSection(&section); }
};
HoldLock gHoldLock;

// Removes what this run created, then dies of the same signal so that the
// parent sees the conventional status.
extern "C" void removeFilesAndDie(int signalNumber) {
    EnterCriticalSection(&gHoldLock.section);
    removeArmed(gScratchName);
    removeArmed(gOutputName);
    std::signal(signalNumber, SIG_DFL);
    std::raise(signalNumber);
}

}  // namespace

InterruptCleanup::InterruptCleanup() {
    for (size_t i = 0; i < kSignalCount; ++i)
        gPreviousHandlers[i] = std::signal(kSignals[i], removeFilesAndDie);
}

InterruptCleanup::~InterruptCleanup() {
    arm(gScratchName, nullptr);
    arm(gOutputName, nullptr);
    for (size_t i = 0; i < kSignalCount; ++i)
        std::signal(kSignals[i], gPreviousHandlers[i]);
}

void setInterruptScratchPath(const char* path) {
    arm(gScratchName, path);
}
void setInterruptOutputPath(const char* path) {
    arm(gOutputName, path);
}

// A hold may be taken again within a hold: the lock counts its entries.
InterruptHold::InterruptHold() {
    EnterCriticalSection(&gHoldLock.section);
}
InterruptHold::~InterruptHold() {
    LeaveCriticalSection(&gHoldLock.section);
}
