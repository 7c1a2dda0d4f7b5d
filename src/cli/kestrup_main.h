// The program's whole run, from argument vector to exit status.
#pragma once

// Parses the command line, converts, and prints the reports; returns the exit
// status: 0 for success, help or usage, 1 for any failure.
int runKestrup(int argc, const char* const* argv);
