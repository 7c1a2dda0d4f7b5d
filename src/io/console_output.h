// Messages on standard error, in order with standard output.
#pragma once

#include "conversion_state.h"

// Prints a printf-style text on standard error after flushing standard output,
// so that a log of both streams reads in the order things happened.
void printToStandardError(const char* format, ...) KESTRUP_PRINTF_FORMAT;
