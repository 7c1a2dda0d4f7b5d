// The input and output paths derived from the names typed.
#include <gtest/gtest.h>

#include <string>

#include "driver/file_naming.h"

namespace {

TEST(FileNaming, RecognisesTheRmEnding) {
    const struct {
        const char* name;
        int expected;
    } cases[] = {
        {"anim.rm", 1},  {"anim.RM", 1}, {"anim.Rm", 1},  {"a.rm", 1}, {".rm", 0}, {"anim", 0},
        {"anim.txt", 0}, {"animrm", 0},  {"anim.rmx", 0}, {"", 0},     {"x.r", 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hasRmExtension(c.name), c.expected) << c.name;
}

TEST(FileNaming, DerivesInputAndOutputPaths) {
    const struct {
        const char* typed;
        const char* outputName;
        const char* input;
        const char* output;
    } cases[] = {
        {"anim", nullptr, "anim.rm", "anim.avi"},
        {"anim.rm", nullptr, "anim.rm", "anim.avi"},
        {"anim.RM", nullptr, "anim.RM", "anim.avi"},
        {"anim.txt", nullptr, "anim.txt.rm", "anim.txt.avi"},
        {".rm", nullptr, ".rm.rm", ".rm.avi"},
        {"dir/anim", nullptr, "dir/anim.rm", "dir/anim.avi"},
        {"anim", "movie", "anim.rm", "movie"},  // an explicit name is used verbatim
        {"anim.rm", "out.rm", "anim.rm", "out.rm"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(inputPathFor(c.typed), c.input) << c.typed;
        EXPECT_EQ(outputPathFor(c.typed, c.outputName), c.output) << c.typed;
    }
}

}  // namespace
