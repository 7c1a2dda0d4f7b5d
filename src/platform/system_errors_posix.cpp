#include <cerrno>
#include <cstring>

#include "platform/system_errors.h"

SystemError lastSystemError() {
    return SystemError{errno, 0};
}

std::string describeSystemError(const SystemError& error) {
    if (error.libraryCode == 0) return std::string();
    return std::strerror(error.libraryCode);
}

KeptSystemError::~KeptSystemError() {
    errno = error.libraryCode;
}
