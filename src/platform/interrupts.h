// Removal of this run's files when the process is interrupted (SIGINT, SIGTERM,
// SIGHUP, SIGPIPE, SIGQUIT and every other signal from outside that would end
// it): the scratch file, and the output file this run is writing.
#pragma once

#if !defined(_WIN32)
#include <csignal>
#endif

// Installs the handlers for the lifetime of the object and restores the
// previous ones afterwards. The paths handed over must stay valid while armed.
struct InterruptCleanup {
    InterruptCleanup();
    ~InterruptCleanup();
    InterruptCleanup(const InterruptCleanup&) = delete;
    InterruptCleanup& operator=(const InterruptCleanup&) = delete;
};

// Names the file an interrupt removes, or stops removing it (nullptr).
void setInterruptScratchPath(const char* path);
void setInterruptOutputPath(const char* path);

// Holds the interrupts off for its lifetime, so that creating or removing a
// file and naming it to the handler happen as one step. A signal that comes
// meanwhile is delivered at the end.
struct InterruptHold {
    InterruptHold();
    ~InterruptHold();
    InterruptHold(const InterruptHold&) = delete;
    InterruptHold& operator=(const InterruptHold&) = delete;
#if !defined(_WIN32)
    sigset_t previousMask;
#endif
};
