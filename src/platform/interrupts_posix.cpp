#include <unistd.h>

#include <atomic>
#include <csignal>

#include "platform/interrupts.h"

namespace {

// Read by the handler: lock-free pointers to strings that outlive the arming.
std::atomic<const char*> gScratchPath{nullptr};
std::atomic<const char*> gOutputPath{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

// Every signal from outside whose default action ends the process: a user, a
// terminal, a timer, a CPU limit or another program. SIGPIPE too: a reader
// that closes the pipe of the dots or the statistics ends the run as surely as
// Ctrl-C does. Faults of the program itself (SIGSEGV, SIGBUS, SIGILL, SIGFPE,
// SIGABRT, SIGTRAP, SIGSYS) keep their default action, so that no handler runs
// over memory that may be damaged and the core shows the fault as it was.
constexpr int kNamedSignals[] = {
    SIGHUP,    SIGINT,  SIGQUIT, SIGPIPE,   SIGALRM, SIGTERM,
    SIGUSR1,   SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF,
#if defined(SIGPOLL)
    SIGPOLL,
#endif
#if defined(SIGSTKFLT)
    SIGSTKFLT,
#endif
#if defined(SIGPWR)
    SIGPWR,
#endif
};

// Ignored instead, so that a write past the file-size limit fails and the
// run ends through its usual error path.
constexpr int kFileSizeSignal = SIGXFSZ;

struct sigaction gPreviousActions[NSIG];

template <typename Visit>
void forEachHandledSignal(Visit visit) {
    for (int signalNumber : kNamedSignals)
        visit(signalNumber);
#if defined(SIGRTMIN)
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber)
        visit(signalNumber);
#endif
}

sigset_t handledSignals() {
    sigset_t set;
    sigemptyset(&set);
    forEachHandledSignal([&set](int signalNumber) { sigaddset(&set, signalNumber); });
    return set;
}

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

// Sets action for signalNumber unless a disposition other than the default
// was inherited or installed before (an "ignore" under nohup stays).
void replaceDefaultAction(int signalNumber, const struct sigaction& action) {
    struct sigaction& previous = gPreviousActions[signalNumber];
    sigaction(signalNumber, nullptr, &previous);
    if ((previous.sa_flags & SA_SIGINFO) != 0 || previous.sa_handler != SIG_DFL) return;
    sigaction(signalNumber, &action, nullptr);
}

}  // namespace

InterruptCleanup::InterruptCleanup() {
    struct sigaction action = {};
    action.sa_handler = removeFilesAndDie;
    action.sa_mask = handledSignals();
    forEachHandledSignal(
        [&action](int signalNumber) { replaceDefaultAction(signalNumber, action); });
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    replaceDefaultAction(kFileSizeSignal, ignore);
}

InterruptCleanup::~InterruptCleanup() {
    gScratchPath = nullptr;
    gOutputPath = nullptr;
    forEachHandledSignal([](int signalNumber) {
        sigaction(signalNumber, &gPreviousActions[signalNumber], nullptr);
    });
    sigaction(kFileSizeSignal, &gPreviousActions[kFileSizeSignal], nullptr);
}

void setInterruptScratchPath(const char* path) {
    gScratchPath = path;
}
void setInterruptOutputPath(const char* path) {
    gOutputPath = path;
}

InterruptHold::InterruptHold() {
    const sigset_t held = handledSignals();
    sigprocmask(SIG_BLOCK, &held, &previousMask);
}
InterruptHold::~InterruptHold() {
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
}
