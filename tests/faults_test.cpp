// Faults around a conversion: outputs that cannot take the data, directories
// that cannot take a file. Each is a clear failure that leaves nothing behind.
#include <gtest/gtest.h>

#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "conversion_fixture.h"
#include "process_runner.h"
#include "skip_notes.h"

namespace {

// Twenty frames of 64 x 64 single pixels: about 170 KB of AVI.
rmw::Bytes largeAnimation() {
    rmw::Bytes bytes;
    for (int frame = 0; frame < 20; ++frame) {
        rmw::Picture picture{64, 64, std::vector<uint8_t>(64 * 64)};
        for (size_t i = 0; i < picture.pixels.size(); ++i) {
            picture.pixels[i] = static_cast<uint8_t>(i + static_cast<size_t>(frame));
        }
        rmw::appendFrame(bytes, picture, rmw::makePalette(1));
    }
    return bytes;
}

struct Workspace {
    TempDir dir;
    std::string scratchDir = dir.file("tmp");
    Workspace() {
        mkdir(scratchDir.c_str(), 0777);
        chmod(dir.path.c_str(), 0777);
        chmod(scratchDir.c_str(), 0777);
        rmw::writeFile(dir.file("anim.rm"), largeAnimation());
    }
    // Runs a shell command line in the workspace with TMPDIR set; $K is the converter.
    int shell(const std::string& commandLine, std::string* err) const {
        const std::string errFile = dir.file("stderr.txt");
        const int status =
            runShell("cd '" + dir.path + "' && export TMPDIR='" + scratchDir + "' K='" +
                     KESTRUP_BINARY_PATH + "' && " + commandLine + " 2>'" + errFile + "'");
        const rmw::Bytes bytes = rmw::readFile(errFile);
        std::remove(errFile.c_str());
        *err = std::string(bytes.begin(), bytes.end());
        return status;
    }
};

const char kReport[] = "\n*** Error: ***\n";

TEST(Faults, OutputOnAFullDevice) {
    struct stat device;
    if (stat("/dev/full", &device) != 0) GTEST_SKIP() << skipNote("no /dev/full here");
    Workspace space;
    std::string err;
    EXPECT_EQ(space.shell("$K -q -y anim /dev/full", &err), 1);
    EXPECT_EQ(err, std::string(kReport) + "i/o error writing to \"/dev/full\".\n");
    EXPECT_TRUE(directoryEntries(space.scratchDir).empty());
    struct stat after;
    EXPECT_EQ(stat("/dev/full", &after), 0) << "a device written to is never removed";
}

// Past the limit a write fails, whether SIGXFSZ was ignored already or not;
// an existing output keeps its bytes.
TEST(Faults, OutputOverTheFileSizeLimit) {
    if (!haveProgram("prlimit")) GTEST_SKIP() << skipNote("prlimit is not installed");
    for (const char* trap : {"trap '' XFSZ; ", ""}) {
        for (const bool existing : {false, true}) {
            SCOPED_TRACE(std::string(trap) + (existing ? "over an existing file" : ""));
            Workspace space;
            if (existing) rmw::writeFile(space.dir.file("anim.avi"), {1, 2, 3});
            const std::vector<std::string> before = space.dir.entries();
            std::string err;
            EXPECT_EQ(space.shell(std::string(trap) + "prlimit --fsize=50000 $K -q -y anim", &err),
                      1);
            EXPECT_EQ(err, std::string(kReport) + "i/o error writing to \"anim.avi\".\n");
            EXPECT_EQ(space.dir.entries(), before);
            if (existing) {
                EXPECT_EQ(rmw::readFile(space.dir.file("anim.avi")), rmw::Bytes({1, 2, 3}));
            }
            EXPECT_TRUE(directoryEntries(space.scratchDir).empty());
        }
    }
}

// Directories without write permission, as an ordinary user meets them.
TEST(Faults, UnwritableDirectories) {
    std::string asUser;
    if (geteuid() == 0) {
        if (!haveProgram("setpriv")) GTEST_SKIP() << skipNote("setpriv is needed to drop root");
        asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    Workspace space;
    mkdir(space.dir.file("locked").c_str(), 0555);
    const struct {
        const char* commandLine;
        const char* message;
        const char* absent;
    } cases[] = {
        {"TMPDIR=locked $K -q -y anim", "Could not create temp file name.", "anim.avi"},
        {"$K -q -y anim locked/anim.avi", "Could not open file locked/anim.avi for writing.",
         "locked/anim.avi"},
    };
    for (const auto& c : cases) {
        std::string err;
        const std::string line = c.commandLine;
        const size_t converter = line.find("$K");
        EXPECT_EQ(space.shell(line.substr(0, converter) + asUser + line.substr(converter), &err), 1)
            << c.commandLine;
        EXPECT_EQ(err, std::string(kReport) + c.message + "\n");
        EXPECT_FALSE(fileExists(space.dir.file(c.absent)));
        EXPECT_TRUE(directoryEntries(space.scratchDir).empty());
    }
}

}  // namespace
