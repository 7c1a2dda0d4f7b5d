#include "skip_notes.h"

#include <gtest/gtest.h>

#include <cstdio>

std::string skipNote(const std::string& reason) {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    const std::string name =
        test == nullptr ? "" : std::string(test->test_suite_name()) + "." + test->name();
    // One write per line: tests running in parallel append to the same file.
    const std::string line = name + ": " + reason + "\n";
    if (std::FILE* notes = std::fopen(KESTRUP_SKIP_NOTES, "a")) {
        std::fputs(line.c_str(), notes);
        std::fclose(notes);
    }
    return reason;
}
