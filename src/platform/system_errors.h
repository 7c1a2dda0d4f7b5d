// The system's own reason for a failed call, taken as soon as the call fails
// (later calls may change it) and put into words when the failure is reported.
#pragma once

#include <string>

struct SystemError {
    int libraryCode = 0;             // the C library's errno; 0: none
    unsigned long platformCode = 0;  // on Windows, the system's last error; 0: none
};

// The reason for the call that has just failed.
SystemError lastSystemError();

// The reason in words, one line without a final full stop; empty when the
// system gave none.
std::string describeSystemError(const SystemError& error);

// Keeps errno across cleanups (closing, removing) after a failure, so that the
// failure's own reason is the one reported.
struct KeptSystemError {
    SystemError error = lastSystemError();
    KeptSystemError() = default;
    KeptSystemError(const KeptSystemError&) = delete;
    KeptSystemError& operator=(const KeptSystemError&) = delete;
    ~KeptSystemError();
};
