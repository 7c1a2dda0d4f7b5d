// Faults around a conversion: outputs that cannot take the data, directories
// that cannot take a file. Each is a clear failure that leaves nothing behind.
#include <gtest/gtest.h>

#include <string>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
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

// A file another user may write, in a directory that takes no new file, is
// written in place: the very file that was checked. A link to a metafile of
// the user's own, put in its place while the run waits for its answer or
// while it converts (its input, a pipe, held back meanwhile), is never
// written through: the run refuses the link, or writes the file it checked.
// Put before a command line, makes "$U" run what follows it as another user.
const char kAsAnotherUser[] = "U='setpriv --reuid=65534 --regid=65534 --clear-groups' && ";

TEST(Faults, InPlaceOutputIsTheFileChecked) {
    if (geteuid() != 0 || !haveProgram("setpriv")) {
        GTEST_SKIP() << skipNote("root and setpriv are needed to act as two users");
    }
    const char kSwap[] =
        "mv locked/old.avi locked/moved.avi && ln -s ../precious.rm locked/old.avi";
    const char kWaitForCopy[] =
        "for i in $(seq 1000); do ls tmp | grep -q kesavi && break; sleep 0.01; done";
    const struct {
        std::string commandLine;
        int status;
        const char* message;  // the error report begins so
    } cases[] = {
        {std::string("(for i in $(seq 1000); do [ -s question.txt ] && break; sleep 0.01; done; ") +
             kSwap + "; echo y) | $U $K -q anim locked/old.avi >question.txt",
         1, "Could not open file locked/old.avi for writing.\nToo many levels of symbolic links\n"},
        {std::string("{ (head -c 50000 anim.rm; ") + kWaitForCopy + "; " + kSwap +
             "; tail -c +50001 anim.rm) >pipe.rm & } ; { $U $K -q -y pipe locked/old.avi; s=$?; "
             "kill $! 2>/dev/null; (exit $s); }",
         0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commandLine);
        Workspace space;
        std::string err;
        ASSERT_EQ(space.shell("$K -q -y anim whole.avi", &err), 0);
        const rmw::Bytes animation = rmw::readFile(space.dir.file("anim.rm"));
        rmw::writeFile(space.dir.file("precious.rm"), animation);
        chown(space.dir.file("precious.rm").c_str(), 65534, 65534);
        mkfifo(space.dir.file("pipe.rm").c_str(), 0666);
        mkdir(space.dir.file("locked").c_str(), 0755);
        rmw::writeFile(space.dir.file("locked/old.avi"), {1, 2, 3});
        chmod(space.dir.file("locked/old.avi").c_str(), 0666);
        EXPECT_EQ(space.shell(kAsAnotherUser + c.commandLine, &err), c.status);
        const std::string report = c.status == 0 ? "" : kReport + std::string(c.message);
        EXPECT_EQ(err.substr(0, report.size()), report);
        EXPECT_EQ(rmw::readFile(space.dir.file("precious.rm")), animation);
        const rmw::Bytes moved =
            c.status == 0 ? rmw::readFile(space.dir.file("whole.avi")) : rmw::Bytes({1, 2, 3});
        EXPECT_EQ(rmw::readFile(space.dir.file("locked/moved.avi")), moved);
        EXPECT_TRUE(directoryEntries(space.scratchDir).empty());
    }
}

// Small file systems of their own, in a mount namespace of this process's
// own, unmounted at the end.
struct SmallFileSystems {
    std::vector<std::string> mounted;
    bool mount(const std::string& path, const char* size) {
        mkdir(path.c_str(), 0755);
        if (::mount("tmpfs", path.c_str(), "tmpfs", 0, size) != 0) return false;
        mounted.push_back(path);
        return true;
    }
    ~SmallFileSystems() {
        for (const std::string& path : mounted)
            umount2(path.c_str(), MNT_DETACH);
    }
};

// Disks that fill, each a small file system: a file written over in place
// keeps its bytes when the AVI does not fit on its disk, and so does every
// output when the temporary directory fills.
TEST(Faults, FullFileSystems) {
    if (geteuid() != 0 || !haveProgram("setpriv")) {
        GTEST_SKIP() << skipNote("root and setpriv are needed to mount and to act as a user");
    }
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr)) {
        GTEST_SKIP() << skipNote("no mount namespace here");
    }
    Workspace space;
    SmallFileSystems disks;
    ASSERT_TRUE(disks.mount(space.dir.file("small"), "size=64k") &&
                disks.mount(space.dir.file("large"), "size=4m") &&
                disks.mount(space.dir.file("smalltmp"), "size=64k"));
    chmod(space.dir.file("smalltmp").c_str(), 0777);
    std::string err;
    ASSERT_EQ(space.shell("$K -q -y anim whole.avi", &err), 0);
    const rmw::Bytes oldBytes = {1, 2, 3};
    const struct {
        const char* commandLine;  // "$U" runs the converter as another user
        const char* output;
        int status;
        const char* message;  // the error report begins so
    } cases[] = {
        {"$U $K -q -y anim small/old.avi", "small/old.avi", 1,
         "i/o error writing to \"small/old.avi\".\nNo space left on device\n"},
        {"$K -q -y anim small/old.avi", "small/old.avi", 1,
         "i/o error writing to \"small/old.avi\".\nNo space left on device\n"},
        {"TMPDIR=smalltmp $U $K -q -y anim large/old.avi", "large/old.avi", 1,
         "i/o error writing to temp file \"smalltmp/kesavi"},
        {"$U $K -q -y anim large/old.avi", "large/old.avi", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commandLine);
        for (const char* disk : {"small", "large"}) {
            chmod(space.dir.file(disk).c_str(), 0755);
            rmw::writeFile(space.dir.file(disk) + "/old.avi", oldBytes);
            chmod((space.dir.file(disk) + "/old.avi").c_str(), 0666);
            chmod(space.dir.file(disk).c_str(), 0555);
        }
        EXPECT_EQ(space.shell(kAsAnotherUser + std::string(c.commandLine), &err), c.status);
        const std::string report = c.status == 0 ? "" : kReport + std::string(c.message);
        EXPECT_EQ(err.substr(0, report.size()), report);
        EXPECT_EQ(rmw::readFile(space.dir.file(c.output)),
                  c.status == 0 ? rmw::readFile(space.dir.file("whole.avi")) : oldBytes);
        for (const char* disk : {"small", "large"}) {
            EXPECT_EQ(directoryEntries(space.dir.file(disk)), std::vector<std::string>{"old.avi"});
        }
        EXPECT_TRUE(directoryEntries(space.scratchDir).empty());
        EXPECT_TRUE(directoryEntries(space.dir.file("smalltmp")).empty());
    }
}

}  // namespace
