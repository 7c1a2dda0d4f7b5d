// Faults around a conversion: outputs that cannot take the data, directories
// that cannot take a file. Each is a clear failure that leaves nothing behind.
#include <gtest/gtest.h>

#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
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
    EXPECT_EQ(err, std::string(kReport) +
                       "i/o error writing to \"/dev/full\".\nNo space left on device\n");
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
            EXPECT_EQ(
                err, std::string(kReport) + "i/o error writing to \"anim.avi\".\nFile too large\n");
            EXPECT_EQ(space.dir.entries(), before);
            if (existing) {
                EXPECT_EQ(rmw::readFile(space.dir.file("anim.avi")), rmw::Bytes({1, 2, 3}));
            }
            EXPECT_TRUE(directoryEntries(space.scratchDir).empty());
        }
    }
}

// Holds the lock on path that a run copying to it takes, and gives it up after
// a while; the holder's status tells whether the file kept its bytes meanwhile.
pid_t holdLock(const std::string& path) {
    int ready[2];
    if (pipe(ready) != 0) return -1;
    const pid_t holder = fork();
    if (holder == 0) {
        const rmw::Bytes before = rmw::readFile(path);
        struct flock lock = {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        const int descriptor = open(path.c_str(), O_RDWR);
        if (fcntl(descriptor, F_SETLK, &lock) != 0) _exit(2);
        (void)!write(ready[1], "", 1);
        usleep(300000);
        _exit(rmw::readFile(path) == before ? 0 : 1);
    }
    char byte = 0;
    (void)!read(ready[0], &byte, 1);
    close(ready[0]);
    close(ready[1]);
    return holder;
}

// Directories without write permission, as an ordinary user meets them. A
// writable file in one keeps its bytes until the run has a complete AVI in the
// temporary directory, which it then copies over the file, after any run that
// holds it; the file keeps its owner and mode.
TEST(Faults, UnwritableDirectories) {
    std::string asUser;
    if (geteuid() == 0) {
        if (!haveProgram("setpriv")) GTEST_SKIP() << skipNote("setpriv is needed to drop root");
        asUser = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    Workspace space;
    const rmw::Bytes animation = rmw::readFile(space.dir.file("anim.rm"));
    for (const auto& [name, length] : {std::pair{"first.rm", 1000}, {"mid.rm", 90000}}) {
        rmw::writeFile(space.dir.file(name),
                       rmw::Bytes(animation.begin(), animation.begin() + length));
    }
    std::string err;
    ASSERT_EQ(space.shell("$K -q -y anim whole.avi", &err), 0);
    const std::string old = space.dir.file("locked/old.avi");
    const rmw::Bytes oldBytes = {1, 2, 3};
    mkdir(space.dir.file("locked").c_str(), 0755);
    rmw::writeFile(old, oldBytes);
    chmod(old.c_str(), 0666);
    chmod(space.dir.file("locked").c_str(), 0555);
    struct stat oldInfo;
    ASSERT_EQ(stat(old.c_str(), &oldInfo), 0);
    const struct {
        const char* commandLine;
        int status;
        const char* message;  // the error report begins so
        bool waitsForLock;
    } cases[] = {
        {"TMPDIR=locked $K -q -y anim", 1, "Could not create temp file name.\n", false},
        {"$K -q -y anim locked/anim.avi", 1, "Could not open file locked/anim.avi for writing.\n",
         false},
        {"$K -q -y first locked/old.avi", 1, "\"first.rm\" is not a valid raster metafile\n",
         false},
        {"$K -q -y mid locked/old.avi", 1, "Internal error: (805)\n", false},
        {"TMPDIR=tmp prlimit --fsize=50000 $K -q -y anim locked/old.avi", 1,
         "i/o error writing to temp file \"tmp/kesavi", false},
        {"$K -q -y anim locked/old.avi", 0, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commandLine);
        const std::string line = c.commandLine;
        if (line.find("prlimit") != std::string::npos && !haveProgram("prlimit")) continue;
        const pid_t holder = c.waitsForLock ? holdLock(old) : 0;
        ASSERT_GE(holder, 0);
        const size_t converter = line.find("$K");
        EXPECT_EQ(space.shell(line.substr(0, converter) + asUser + line.substr(converter), &err),
                  c.status);
        const std::string report = c.status == 0 ? "" : kReport + std::string(c.message);
        EXPECT_EQ(err.substr(0, report.size()), report);
        int holderStatus = 0;
        if (holder > 0) waitpid(holder, &holderStatus, 0);
        EXPECT_EQ(holderStatus, 0) << "the file changed while another run held it";
        EXPECT_EQ(rmw::readFile(old),
                  c.status == 0 ? rmw::readFile(space.dir.file("whole.avi")) : oldBytes);
        struct stat info;
        ASSERT_EQ(stat(old.c_str(), &info), 0);
        EXPECT_EQ(info.st_uid, oldInfo.st_uid);
        EXPECT_EQ(info.st_mode, oldInfo.st_mode);
        EXPECT_EQ(directoryEntries(space.dir.file("locked")), std::vector<std::string>{"old.avi"});
        EXPECT_FALSE(fileExists(space.dir.file("anim.avi")));
        EXPECT_TRUE(directoryEntries(space.scratchDir).empty());
    }
}

}  // namespace
