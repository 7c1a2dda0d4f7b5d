// Reasons for skipped tests, kept for the summary that ctest prints after the
// run (ctest itself shows them only with -V).
#pragma once

#include <string>

// Appends "<test name>: <reason>" to the notes file and returns the reason, for
// GTEST_SKIP() << skipNote("groff is not installed").
std::string skipNote(const std::string& reason);
