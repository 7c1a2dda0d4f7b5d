// The conversion driver as a user meets it: the overwrite prompt, refusing to
// write over the input, and leaving no scratch or partial file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "conversion_fixture.h"
#include "conversion_state.h"
#include "driver/convert_file.h"
#include "driver/file_naming.h"
#include "generated_frames.h"
#include "gif_decoder.h"
#include "platform/file_system.h"
#include "process_runner.h"
#include "skip_notes.h"

namespace {

const char kOldContents[] = "an older file";

// A working directory with the input anim.rm and an empty scratch directory
// that TMPDIR names, so that every test can see what a run left behind.
struct Workspace {
    TempDir dir;
    std::string scratchDir = dir.file("tmp");
    Workspace() {
        mkdir(scratchDir.c_str(), 0700);
        rmw::writeFile(dir.file("anim.rm"), twoByTwoFile());
    }
    ProcessResult run(std::vector<std::string> arguments, const std::string& answer = "") const {
        ProcessRequest request;
        request.arguments = std::move(arguments);
        request.workingDirectory = dir.path;
        request.environment = {"TMPDIR=" + scratchDir};
        request.standardInput = answer;
        request.closedInput = answer.empty();
        return runKestrupProcess(request);
    }
    std::vector<std::string> scratchLeft() const { return directoryEntries(scratchDir); }
    void writeOld(const std::string& name) const {
        rmw::writeFile(dir.file(name), rmw::Bytes(kOldContents, kOldContents + 13));
    }
    std::string contents(const std::string& name) const {
        const rmw::Bytes bytes = rmw::readFile(dir.file(name));
        return std::string(bytes.begin(), bytes.end());
    }
};

const char kPrompt[] = "File \"anim.avi\" exists. Do you want to overwrite it? (y/n) ";

TEST(Driver, OverwritePromptAnswers) {
    const struct {
        const char* answer;  // "" is the end of input
        bool overwrite;
    } cases[] = {
        {"y\n", true},      {"Yes\n", true}, {"  \n yes please\n", true},
        {"Y", true},        {"n\n", false},  {"no\n", false},
        {"maybe\n", false}, {"", false},     {" \n", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("answer: '") + c.answer + "'");
        Workspace space;
        space.writeOld("anim.avi");
        const ProcessResult result = space.run({"-q", "anim"}, c.answer);
        EXPECT_EQ(result.out, kPrompt);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitStatus, c.overwrite ? 0 : 1);
        if (c.overwrite) {
            EXPECT_TRUE(parseAvi(rmw::readFile(space.dir.file("anim.avi"))).problem.empty());
        } else {
            EXPECT_EQ(space.contents("anim.avi"), kOldContents);
        }
        EXPECT_TRUE(space.scratchLeft().empty());
    }
}

TEST(Driver, NoPromptWithYesOrWhenTheOutputIsNew) {
    Workspace space;
    space.writeOld("anim.avi");
    EXPECT_EQ(space.run({"-q", "-y", "anim"}).out, "");
    EXPECT_TRUE(parseAvi(rmw::readFile(space.dir.file("anim.avi"))).problem.empty());
    space.writeOld("anim.avi");  // -yq, as -qy, is -q -y: no question, nothing printed
    const ProcessResult together = space.run({"-yq", "anim"});
    EXPECT_EQ(together.exitStatus, 0);
    EXPECT_EQ(together.out, "");
    EXPECT_EQ(space.run({"-q", "anim", "other.avi"}).out, "");
    EXPECT_TRUE(fileExists(space.dir.file("other.avi")));
}

TEST(Driver, ExistenceIsDecidedByThePathNotByReadability) {
    TempDir dir;
    const std::string unreadable = dir.file("unreadable.avi");
    rmw::writeFile(unreadable, {1, 2, 3});
    chmod(unreadable.c_str(), 0200);
    symlink("nowhere", dir.file("dangling.avi").c_str());
    EXPECT_TRUE(pathExists(unreadable));
    EXPECT_TRUE(pathExists(dir.file("dangling.avi")));
    EXPECT_TRUE(pathExists(dir.path));
    EXPECT_FALSE(pathExists(dir.file("absent.avi")));
}

// As a user who is not root: an existing output that cannot be read may be a
// raster metafile, so it is refused unchecked, before any question, with -y too.
TEST(Driver, WriteOnlyOutputIsNotReplacedUnchecked) {
    std::string prefix;
    if (geteuid() == 0) {
        if (!haveProgram("setpriv")) GTEST_SKIP() << skipNote("setpriv is needed to drop root");
        prefix = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
    }
    Workspace space;
    chmod(space.dir.path.c_str(), 01777);  // sticky, as /tmp: another's file cannot be replaced
    chmod(space.scratchDir.c_str(), 0777);
    space.writeOld("anim.avi");
    chmod(space.dir.file("anim.avi").c_str(), 0222);
    for (const char* options : {"-q", "-q -y"}) {
        std::string out;
        const int status =
            runShell("cd '" + space.dir.path + "' && echo y | TMPDIR='" + space.scratchDir + "' " +
                         prefix + KESTRUP_BINARY_PATH + " " + options + " anim 2>&1",
                     &out);
        EXPECT_EQ(status, 1) << options;
        EXPECT_EQ(out,
                  "\n*** Error: ***\nOutput file anim.avi cannot be read to check that it is not a "
                  "raster metafile; it is not replaced.\nPermission denied\n")
            << options;
    }
    chmod(space.dir.file("anim.avi").c_str(), 0644);
    EXPECT_EQ(space.contents("anim.avi"), std::string(kOldContents, 13));
    EXPECT_TRUE(space.scratchLeft().empty());
}

// A closed standard stream is no place for a file of the conversion, nor a
// file of the conversion a place for console text: the same status and AVI.
TEST(Driver, ClosedStandardStreamsChangeNothing) {
    Workspace space;
    const std::string run = "cd '" + space.dir.path + "' && TMPDIR='" + space.scratchDir + "' " +
                            KESTRUP_BINARY_PATH + " -m -d 1 ";
    ASSERT_EQ(runShell(run + "anim open.avi 2>/dev/null"), 0);
    const rmw::Bytes expected = rmw::readFile(space.dir.file("open.avi"));
    for (const char* closing : {"-y 2>&-", "-y >&- 2>/dev/null", "-y <&- 2>/dev/null",
                                "-y <&- >&- 2>&-", ">&- 2>/dev/null <<< y"}) {
        SCOPED_TRACE(closing);
        space.writeOld("a.avi");  // answered "y" or overwritten with -y
        EXPECT_EQ(runShell("bash -c \"" + run + "anim a.avi " + closing + "\""), 0);
        EXPECT_EQ(rmw::readFile(space.dir.file("a.avi")), expected);
        EXPECT_TRUE(space.scratchLeft().empty());
    }
}

// Neither the input nor another metafile (by its contents, whatever its name)
// is replaced, asked about or not: "kestrup -y a.rm b.rm" from "*.rm" keeps b.rm.
TEST(Driver, RefusesToWriteOverTheInputOrAMetafile) {
    Workspace space;
    symlink("anim.rm", space.dir.file("link.rm").c_str());
    link(space.dir.file("anim.rm").c_str(), space.dir.file("hard.rm").c_str());
    rmw::writeFile(space.dir.file("other.rm"), twoByTwoFile(rmw::makePalette(2)));
    rmw::writeFile(space.dir.file("frames.avi"), twoByTwoFile(rmw::makePalette(3)));
    const char kSame[] = " is the same file as the input.\n";
    const char kMetafile[] =
        " is a raster metafile; it is not replaced.\nTo convert several files, add the -b "
        "option: every name is then an input.\n";
    const struct {
        const char* output;
        const char* option;  // -q asks, and is answered "y"
        const char* reason;
    } cases[] = {{"anim.rm", "-y", kSame},       {"./anim.rm", "-y", kSame},
                 {"link.rm", "-y", kSame},       {"hard.rm", "-y", kSame},
                 {"other.rm", "-y", kMetafile},  {"other.rm", "-q", kMetafile},
                 {"frames.avi", "-y", kMetafile}};
    for (const auto& c : cases) {
        const rmw::Bytes original = rmw::readFile(space.dir.file(c.output));
        const std::vector<std::string> before = space.dir.entries();
        const ProcessResult result = space.run({"-q", c.option, "anim.rm", c.output}, "y\n");
        EXPECT_EQ(result.exitStatus, 1) << c.output;
        EXPECT_EQ(result.out, "") << "no question asked";
        EXPECT_EQ(result.err, std::string("\n*** Error: ***\nOutput file ") + c.output + c.reason);
        EXPECT_EQ(rmw::readFile(space.dir.file(c.output)), original);
        EXPECT_EQ(space.dir.entries(), before);
        EXPECT_TRUE(space.scratchLeft().empty());
    }
}

// The inputs of a batch: two animations, the second of two tables; a file
// that is no metafile; x.rm, whose output x.avi is a metafile already.
void writeBatchInputs(const Workspace& space) {
    rmw::writeFile(space.dir.file("a.rm"), twoByTwoFile());
    rmw::Bytes twoTables = twoByTwoFile(rmw::makePalette(2));
    const rmw::Bytes second = twoByTwoFile(rmw::makePalette(3));
    twoTables.insert(twoTables.end(), second.begin(), second.end());
    rmw::writeFile(space.dir.file("c.rm"), twoTables);
    rmw::writeFile(space.dir.file("bad.rm"), {1, 2, 3, 4});
    rmw::writeFile(space.dir.file("x.rm"), twoByTwoFile());
    rmw::writeFile(space.dir.file("x.avi"), twoByTwoFile(rmw::makePalette(4)));
}

// A batch converts each file as it would be converted alone, asks about each
// existing output, never replaces a metafile, and goes on after a failure.
TEST(Driver, BatchConvertsEachFileAsAlone) {
    Workspace batch;
    Workspace alone;
    writeBatchInputs(batch);
    writeBatchInputs(alone);
    batch.writeOld("a.avi");  // answered "n"
    batch.writeOld("c.avi");  // answered "y"
    const rmw::Bytes metafile = rmw::readFile(batch.dir.file("x.avi"));
    EXPECT_EQ(batch.run({"-b", "-q", "-p", "a", "bad", "x", "c.rm"}, "n\ny\n").exitStatus, 1);
    EXPECT_EQ(alone.run({"-q", "-y", "-p", "c.rm"}).exitStatus, 0);
    EXPECT_EQ(rmw::readFile(batch.dir.file("c.avi")), rmw::readFile(alone.dir.file("c.avi")));
    EXPECT_FALSE(fileExists(batch.dir.file("bad.avi")));
    EXPECT_EQ(rmw::readFile(batch.dir.file("x.avi")), metafile);
    EXPECT_EQ(batch.contents("a.avi"), kOldContents);
    for (const std::string options : {"-qyp", "-qym"}) {
        EXPECT_EQ(batch.run({"-b" + options.substr(1), "a", "c.rm"}).exitStatus, 0);
        for (const std::string name : {"a", "c.rm"}) {
            EXPECT_EQ(alone.run({options, name}).exitStatus, 0);
            const std::string output = outputPathFor(name, nullptr);
            EXPECT_EQ(rmw::readFile(batch.dir.file(output)), rmw::readFile(alone.dir.file(output)))
                << options << " " << name;
        }
    }
    EXPECT_TRUE(batch.scratchLeft().empty());
}

TEST(Driver, FailuresLeaveNeitherScratchNorOutput) {
    Workspace space;
    mkdir(space.dir.file("outdir").c_str(), 0755);
    symlink("loop.avi", space.dir.file("loop.avi").c_str());
    rmw::writeFile(space.dir.file("notes.txt"), {'n'});
    const struct {
        std::vector<std::string> arguments;
        const char* err;     // the system's reason on the second line
        const char* output;  // must not exist afterwards
    } cases[] = {
        {{"missing"},
         "Could not open missing.rm for reading.\nNo such file or directory",
         "missing.avi"},
        {{"notes.txt"},
         "Could not open notes.txt.rm for reading.\nThe name \"notes.txt\" does not end in "
         "\".rm\", so \".rm\" was added to it; \"notes.txt\" itself exists.",
         "notes.txt.avi"},
        {{"anim", "no/such/dir.avi"},
         "Could not open file no/such/dir.avi for writing.\nNo such file or directory",
         "no/such/dir.avi"},
        {{"-y", "anim", "outdir"},
         "Could not open file outdir for writing.\nIs a directory",
         "outdir/anim.avi"},
        {{"-y", "anim", "loop.avi"},
         "Could not open file loop.avi for writing.\nToo many levels of symbolic links",
         nullptr},
        {{"-y", "anim", ""}, "The output file name is empty.", nullptr},
    };
    for (const auto& c : cases) {
        const ProcessResult result = space.run(c.arguments);
        EXPECT_EQ(result.exitStatus, 1) << c.err;
        EXPECT_EQ(result.err, std::string("\n*** Error: ***\n") + c.err + "\n");
        if (c.output != nullptr) {
            EXPECT_FALSE(fileExists(space.dir.file(c.output))) << c.output;
        }
        EXPECT_TRUE(space.scratchLeft().empty()) << c.err;
    }
}

// A failed run leaves the output path as it found it: the old file (through a
// link: the linked file), or nothing; and no file of its own beside it.
TEST(Driver, FailureLeavesTheOutputPathAsItWas) {
    for (const char* output : {"bad.avi", "link.avi", "new.avi"}) {
        SCOPED_TRACE(output);
        Workspace space;
        rmw::Bytes truncated = twoByTwoFile();
        truncated.resize(truncated.size() - 4);  // fails after the header is written
        rmw::writeFile(space.dir.file("bad.rm"), truncated);
        space.writeOld("bad.avi");
        space.writeOld("target.avi");
        symlink("target.avi", space.dir.file("link.avi").c_str());
        const std::vector<std::string> before = space.dir.entries();
        EXPECT_EQ(space.run({"-y", "bad", output}).exitStatus, 1);
        EXPECT_EQ(space.dir.entries(), before);
        EXPECT_EQ(space.contents("bad.avi"), kOldContents);
        EXPECT_EQ(space.contents("target.avi"), kOldContents);
        EXPECT_TRUE(space.scratchLeft().empty());
    }
}

TEST(Driver, UnusableTemporaryDirectory) {
    Workspace space;
    ProcessRequest request;
    request.arguments = {"anim"};
    request.workingDirectory = space.dir.path;
    request.environment = {"TMPDIR=" + space.dir.file("no-such-dir")};
    request.closedInput = true;
    const ProcessResult result = runKestrupProcess(request);
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err,
              "\n*** Error: ***\nCould not create temp file name.\nNo such file or directory\n");
    EXPECT_FALSE(fileExists(space.dir.file("anim.avi")));
}

// The first frame of twoByTwoFile as red, green and blue bytes.
std::string twoByTwoRgb() {
    const Palette table = rmw::makePalette(1);
    std::string rgb;
    for (size_t index : {1u, 2u, 3u, 3u})
        rgb += {static_cast<char>(table[index].red), static_cast<char>(table[index].green),
                static_cast<char>(table[index].blue)};
    return rgb;
}

// -g: the GIF's name, derived or as typed; the question before replacing a
// file; the warning of rates above 50 frames a second; a rate too slow for a
// GIF's delays and frames too large for it refused, the existing anim.gif
// left as it was and nothing else written.
TEST(Driver, GifNamesQuestionsRefusalsAndWarning) {
    const std::string kError = "\n*** Error: ***\n";
    const struct {
        std::vector<std::string> arguments;
        std::string answer;
        int status;
        std::string err;
        const char* gif;  // the GIF written; nullptr: anim.gif as it was
    } cases[] = {
        {{"-qyg", "anim"}, "", 0, "", "anim.gif"},
        {{"-q", "-g", "anim.rm", "movie"}, "", 0, "", "movie"},
        {{"-qg", "anim"}, "n\n", 1, "", nullptr},
        {{"-qg", "anim"}, "y\n", 0, "", "anim.gif"},
        {{"-qyg", "-s", "50", "anim"}, "", 0, "", "anim.gif"},
        {{"-qyg", "-s", "50.01", "anim"},
         "",
         0,
         "\n*** Warning: ***\nBrowsers show GIF delays under 2 hundredths of a second as 10 "
         "hundredths: this animation plays slower there.\n",
         "anim.gif"},
        {{"-qyg", "-s", "0.0015", "anim"},
         "",
         1,
         kError + "Frame rate out of range: 0.0015\n",
         nullptr},
        {{"-qyg", "wide", "anim.gif"},
         "",
         1,
         kError + "Frames of 65536 x 2 pixels are too large for a GIF file, which holds at most "
                  "65535 x 65535.\n",
         nullptr},
        {{"-qyg", "tall", "anim.gif"},
         "",
         1,
         kError + "Frames of 2 x 65536 pixels are too large for a GIF file, which holds at most "
                  "65535 x 65535.\n",
         nullptr},
        // A frame of no pixels is no frame, as for an AVI.
        {{"-qyg", "none", "anim.gif"},
         "",
         1,
         kError + "\"none.rm\" is not a valid raster metafile\n",
         nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments[0] + " ... " + c.arguments.back() + ", answer " + c.answer);
        Workspace space;
        space.writeOld("anim.gif");
        rmw::Bytes wide;
        gen::appendWordFrame(wide, 65536, 2, rmw::makePalette(1), {0x1001, 0x6000, 0x6000});
        rmw::writeFile(space.dir.file("wide.rm"), wide);
        rmw::Bytes tall;
        gen::appendWordFrame(tall, 2, 65536, rmw::makePalette(1), {0x1001, 0x6000});
        rmw::writeFile(space.dir.file("tall.rm"), tall);
        rmw::Bytes none;
        gen::appendWordFrame(none, 0, 2, rmw::makePalette(1), {0x6000, 0x6000});
        rmw::writeFile(space.dir.file("none.rm"), none);
        const std::vector<std::string> before = space.dir.entries();
        const ProcessResult result = space.run(c.arguments, c.answer);
        EXPECT_EQ(result.exitStatus, c.status);
        EXPECT_EQ(result.err, c.err);
        EXPECT_TRUE(space.scratchLeft().empty());
        EXPECT_FALSE(fileExists(space.dir.file("anim.avi")));
        if (c.gif == nullptr) {
            EXPECT_EQ(space.contents("anim.gif"), kOldContents);
            EXPECT_EQ(space.dir.entries(), before);
            continue;
        }
        const DecodedGif gif = decodeGif(rmw::readFile(space.dir.file(c.gif)));
        ASSERT_EQ(gif.error, "");
        ASSERT_EQ(gif.frames.size(), 1u);
        EXPECT_TRUE(std::string(gif.frames[0].rgb.begin(), gif.frames[0].rgb.end()) ==
                    twoByTwoRgb());
    }
}

// Over 100 frames at 29.97 frames a second the delays add up to the true
// time within a hundredth of a second.
TEST(Driver, GifDelaysKeepTheTrueTime) {
    Workspace space;
    rmw::Bytes hundred;
    for (uint32_t frame = 0; frame < 100; ++frame) {
        const rmw::Bytes one = twoByTwoFile(rmw::makePalette(1 + frame % 2));
        hundred.insert(hundred.end(), one.begin(), one.end());
    }
    rmw::writeFile(space.dir.file("hundred.rm"), hundred);
    ASSERT_EQ(space.run({"-qymg", "-s", "29.97", "hundred"}).exitStatus, 0);
    const DecodedGif gif = decodeGif(rmw::readFile(space.dir.file("hundred.gif")));
    ASSERT_EQ(gif.error, "");
    ASSERT_EQ(gif.frames.size(), 100u);
    EXPECT_EQ(gif.loopCount, 0) << "loops forever";
    int total = 0;
    for (const DecodedGifFrame& frame : gif.frames)
        total += frame.delay;
    EXPECT_LE(std::abs(total - 100 * 100 / 29.97), 1.0) << total;
}

TEST(Driver, LongPathsAreNamedWhole) {
    Workspace space;
    std::string relative;
    for (int level = 0; level < 5; ++level) {
        relative += (level == 0 ? "" : "/") + std::string(200, static_cast<char>('a' + level));
        mkdir(space.dir.file(relative).c_str(), 0755);
    }
    const std::string longName = relative + "/anim";
    rmw::writeFile(space.dir.file(longName + ".rm"), twoByTwoFile());
    const ProcessResult converted = space.run({"-q", longName});
    EXPECT_EQ(converted.exitStatus, 0);
    EXPECT_TRUE(fileExists(space.dir.file(longName + ".avi")));
    const ProcessResult missing = space.run({"-q", relative + "/gone"});
    EXPECT_EQ(missing.err, "\n*** Error: ***\nCould not open " + relative +
                               "/gone.rm for reading.\nNo such file or directory\n");
}

// A conversion that takes a while: one frame, then a long stretch of filler.
void writeSlowInput(const std::string& path) {
    rmw::writeFile(path, twoByTwoFile());
    std::FILE* file = std::fopen(path.c_str(), "ab");
    const std::vector<uint8_t> filler(1 << 20, 0xFF);
    for (int megabyte = 0; megabyte < 384; ++megabyte) {
        std::fwrite(filler.data(), 1, filler.size(), file);
    }
    std::fclose(file);
}

// Starts the converter with the arguments in the workspace, its console on
// /dev/null, and stops it once it writes the file beside output; -1 when that
// file did not appear.
pid_t startStopped(const Workspace& space, const std::vector<std::string>& arguments,
                   const std::string& output, const std::string& standardOutput = "/dev/null") {
    std::vector<char*> argv{const_cast<char*>("kestrup")};
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        chdir(space.dir.path.c_str());
        setenv("TMPDIR", space.scratchDir.c_str(), 1);
        const int devNull = open("/dev/null", O_RDWR);
        dup2(devNull, 0);
        dup2(open(standardOutput.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        dup2(devNull, 2);
        std::signal(SIGPIPE, SIG_DFL);  // the test itself ignores it
        const rlimit noCore{0, 0};
        setrlimit(RLIMIT_CORE, &noCore);
        execv(KESTRUP_BINARY_PATH, argv.data());
        _exit(127);
    }
    for (int tries = 0; tries < 20000; ++tries) {
        for (const std::string& name : space.dir.entries()) {
            if (name.rfind("." + output + ".", 0) != 0) continue;
            kill(child, SIGSTOP);
            return child;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return -1;
}

// Sends the signal to a stopped run and lets it go on; returns the signal
// that ended it, 0 when it ended by itself.
int signalStopped(pid_t child, int signalNumber) {
    kill(child, signalNumber);
    kill(child, SIGCONT);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : 0;
}

// Every signal from outside ends a run over an existing output; the output
// keeps its bytes, and all but SIGKILL remove the scratch and the partial file.
TEST(Driver, InterruptsRemoveScratchAndOutput) {
    Workspace space;
    writeSlowInput(space.dir.file("slow.rm"));
    space.writeOld("slow.avi");
    const std::vector<std::string> before = space.dir.entries();
    for (int signalNumber : {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM,
                             SIGVTALRM, SIGPROF, SIGXCPU, SIGRTMIN, SIGKILL}) {
        SCOPED_TRACE("signal " + std::to_string(signalNumber));
        const pid_t child = startStopped(space, {"-q", "-y", "slow", "slow.avi"}, "slow.avi");
        ASSERT_GT(child, 0) << "no file was written beside the output";
        ASSERT_EQ(signalStopped(child, signalNumber), signalNumber)
            << "the run ended before the signal came";
        EXPECT_EQ(space.contents("slow.avi"), kOldContents);
        if (signalNumber == SIGKILL) break;  // leaves its files: no handler runs
        EXPECT_EQ(space.dir.entries(), before);
        EXPECT_TRUE(space.scratchLeft().empty());
    }
}

// An interrupt stops a batch at the file it converts: the files before stay
// converted, that one's output keeps its bytes, and the rest are not begun.
// What was reported of them stays in a log the standard output went to.
TEST(Driver, InterruptStopsABatchAtTheCurrentFile) {
    Workspace space;
    TempDir logs;
    writeSlowInput(space.dir.file("slow.rm"));
    rmw::writeFile(space.dir.file("other.rm"), twoByTwoFile());
    space.writeOld("slow.avi");
    ASSERT_EQ(space.run({"-q", "anim", "alone.avi"}).exitStatus, 0);
    const pid_t child =
        startStopped(space, {"-by", "anim", "slow", "other"}, "slow.avi", logs.file("log.txt"));
    ASSERT_GT(child, 0) << "no file was written beside the output";
    EXPECT_EQ(signalStopped(child, SIGINT), SIGINT);
    const rmw::Bytes logBytes = rmw::readFile(logs.file("log.txt"));
    const std::string log(logBytes.begin(), logBytes.end());
    EXPECT_NE(log.find("Converting \"anim\"..."), std::string::npos) << log;
    EXPECT_NE(log.find("statistics:"), std::string::npos) << log;
    EXPECT_NE(log.find("Converting \"slow\"..."), std::string::npos) << log;
    EXPECT_EQ(log.find("other"), std::string::npos) << log;
    EXPECT_EQ(rmw::readFile(space.dir.file("anim.avi")),
              rmw::readFile(space.dir.file("alone.avi")));
    EXPECT_EQ(space.contents("slow.avi"), kOldContents);
    EXPECT_EQ(space.dir.entries(),
              (std::vector<std::string>{"alone.avi", "anim.avi", "anim.rm", "other.rm", "slow.avi",
                                        "slow.rm", "tmp"}));
    EXPECT_TRUE(space.scratchLeft().empty());
}

// Two runs on one output: each writes its own file beside it, so a second run
// that fails takes nothing away, and one that succeeds mixes nothing in.
TEST(Driver, TwoRunsOnOneOutput) {
    Workspace space;
    writeSlowInput(space.dir.file("slow.rm"));
    rmw::writeFile(space.dir.file("bad.rm"), {1, 2, 3, 4});
    ASSERT_EQ(space.run({"-q", "slow", "alone.avi"}).exitStatus, 0);
    for (const char* second : {"bad", "anim"}) {
        SCOPED_TRACE(second);
        const pid_t first = startStopped(space, {"-q", "-y", "slow", "out.avi"}, "out.avi");
        ASSERT_GT(first, 0) << "no file was written beside the output";
        space.run({"-q", "-y", second, "out.avi"});
        kill(first, SIGCONT);
        int status = 0;
        waitpid(first, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(rmw::readFile(space.dir.file("out.avi")),
                  rmw::readFile(space.dir.file("alone.avi")));
    }
}

// A run that waits, for an answer or for a reader of its output pipe, still
// ends on an interrupt and removes its scratch file.
TEST(Driver, InterruptWhileWaitingKeepsTheExistingOutput) {
    const struct {
        const char* option;
        const char* output;
    } cases[] = {{"-q", "anim.avi"}, {"-y", "pipe.avi"}};
    for (const auto& [option, output] : cases) {
        SCOPED_TRACE(output);
        Workspace space;
        space.writeOld("anim.avi");
        mkfifo(space.dir.file("pipe.avi").c_str(), 0600);
        int toChild[2];
        ASSERT_EQ(pipe(toChild), 0);
        const pid_t child = fork();
        if (child == 0) {
            chdir(space.dir.path.c_str());
            setenv("TMPDIR", space.scratchDir.c_str(), 1);
            dup2(toChild[0], 0);
            close(toChild[1]);
            const int devNull = open("/dev/null", O_RDWR);
            dup2(devNull, 1);
            execl(KESTRUP_BINARY_PATH, "kestrup", option, "anim", output,
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(toChild[0]);
        // The scratch file exists while the run waits.
        for (int tries = 0; tries < 20000 && space.scratchLeft().empty(); ++tries) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        EXPECT_EQ(space.scratchLeft().size(), 1u);
        EXPECT_EQ(space.scratchLeft().at(0).rfind("kesidx", 0), 0u);
        struct stat info;
        ASSERT_EQ(stat((space.scratchDir + "/" + space.scratchLeft().at(0)).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u) << "the scratch file is its owner's alone";
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kill(child, SIGINT);
        int status = 0;
        pid_t ended = 0;
        for (int tries = 0; tries < 1000 && ended == 0; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            ended = waitpid(child, &status, WNOHANG);
        }
        if (ended == 0) kill(child, SIGKILL);  // the interrupt was held off
        if (ended == 0) waitpid(child, nullptr, 0);
        close(toChild[1]);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT);
        EXPECT_TRUE(space.scratchLeft().empty());
        EXPECT_EQ(space.contents("anim.avi"), kOldContents);
    }
}

// Frames of noise in 256 x 256: about 2.6 MB of AVI, more than every buffer
// of the run holds.
rmw::Bytes noisyAnimation() {
    rmw::Bytes bytes;
    uint32_t state = 1;
    for (int frame = 0; frame < 40; ++frame) {
        rmw::Picture picture{256, 256, std::vector<uint8_t>(256 * 256)};
        for (uint8_t& pixel : picture.pixels) {
            state = state * 1664525u + 1013904223u;
            pixel = static_cast<uint8_t>(state >> 24);
        }
        rmw::appendFrame(bytes, picture, rmw::makePalette(1));
    }
    return bytes;
}

// An output that names standard output, or that cannot seek, gets the AVI as
// a stream: after what the stream holds where it appends, with nothing else
// in it (the console's text goes to standard error), and nothing at all from
// a run that fails.
TEST(Driver, StreamsGetTheAviAsTheyAre) {
    Workspace space;
    const rmw::Bytes noise = noisyAnimation();
    rmw::writeFile(space.dir.file("noise.rm"), noise);
    rmw::writeFile(space.dir.file("cut.rm"), rmw::Bytes(noise.begin(), noise.end() - 1000));
    mkfifo(space.dir.file("fifo.avi").c_str(), 0600);
    symlink("/dev/stdout", space.dir.file("stdout.avi").c_str());
    ASSERT_EQ(space.run({"-q", "-m", "noise", "file.avi"}).exitStatus, 0);
    const rmw::Bytes avi = rmw::readFile(space.dir.file("file.avi"));
    ASSERT_GT(avi.size(), size_t{2} << 20);
    const struct {
        const char* commandLine;  // got.avi is what the stream received
        int status;
        const char* before;  // what got.avi held before the AVI
        bool statistics;     // on standard error
    } cases[] = {
        {"printf 'log\\n' > got.avi; $K -y -m noise /dev/stdout >> got.avi", 0, "log\n", true},
        {"$K -m -y noise /dev/fd/1 > got.avi", 0, "", true},
        {"$K -q -y -m noise /proc/self/fd/1 | cat > got.avi", 0, "", false},
        {"$K -m -y noise stdout.avi | cat > got.avi", 0, "", true},
        {"cat fifo.avi > got.avi & $K -q -y -m noise fifo.avi; s=$?; wait; exit $s", 0, "", false},
        {"$K -q -y -m cut /dev/stdout | cat > got.avi", 1, "", false},
        // A closed standard output is not the null device standing in for it.
        {"$K -q -y -m noise /dev/stdout >&-; s=$?; : > got.avi; exit $s", 1, "", false},
        {"cat fifo.avi > got.avi & $K -q -y -m cut fifo.avi; s=$?; wait; exit $s", 1, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.commandLine);
        rmw::writeFile(space.dir.file("case.sh"),
                       rmw::Bytes(c.commandLine, c.commandLine + std::strlen(c.commandLine)));
        std::remove(space.dir.file("got.avi").c_str());
        const int status =
            runShell("cd '" + space.dir.path + "' && TMPDIR='" + space.scratchDir + "' K='" +
                     KESTRUP_BINARY_PATH + "' bash -o pipefail case.sh 2>err.txt");
        EXPECT_EQ(status, c.status);
        rmw::Bytes expected(c.before, c.before + std::strlen(c.before));
        if (c.status == 0) expected.insert(expected.end(), avi.begin(), avi.end());
        EXPECT_EQ(rmw::readFile(space.dir.file("got.avi")), expected);
        EXPECT_EQ(space.contents("err.txt").find("statistics:") != std::string::npos, c.statistics);
        EXPECT_TRUE(space.scratchLeft().empty());
    }
}

// The conversion with -p reads its input more than once. An input changed
// between the passes (by a hook the conversion calls there) fails the run and
// leaves no output: changes its size or time shows, and frames the first pass
// did not count. A run that meets an input it cannot read after the first go
// names what this go found, as a run from the start would.
// One frame using every index of its own table: 256 colours a frame, so that
// the conversion in one pass gives up after the first frame.
rmw::Bytes manyColourFrame(uint32_t seed) {
    rmw::Picture picture{16, 16, std::vector<uint8_t>(256)};
    for (size_t i = 0; i < picture.pixels.size(); ++i)
        picture.pixels[i] = static_cast<uint8_t>(i * seed);
    rmw::Bytes bytes;
    rmw::appendFrame(bytes, picture, rmw::makePalette(seed));
    return bytes;
}

// What the hook does to the input: bytes written at a place (-1: appended),
// its size and time kept or not.
struct InputChange {
    std::string path;
    rmw::Bytes bytes;
    ptrdiff_t at = -1;
    bool keepStamp = false;
} gChange;

void setModified(const std::string& path, const timespec& modified) {
    const timespec times[2] = {modified, modified};
    utimensat(AT_FDCWD, path.c_str(), times, 0);
}

void changeInputBetweenPasses() {
    struct stat before;
    stat(gChange.path.c_str(), &before);
    rmw::Bytes contents = rmw::readFile(gChange.path);
    if (gChange.at < 0) contents.insert(contents.end(), gChange.bytes.begin(), gChange.bytes.end());
    if (gChange.at >= 0)
        std::copy(gChange.bytes.begin(), gChange.bytes.end(), contents.begin() + gChange.at);
    rmw::writeFile(gChange.path, contents);
    if (gChange.keepStamp) setModified(gChange.path, before.st_mtim);
}

TEST(Driver, InputChangedBetweenPasses) {
    const rmw::Bytes frame = manyColourFrame(1);
    const auto frameSize = static_cast<ptrdiff_t>(frame.size());
    const std::string kChanged = " changed while it was being converted.";
    const struct {
        const char* output;  // out.avi: a first go, then two passes; /dev/null: two passes
        InputChange change;  // none without bytes
        std::string error;   // after the input's path; "" for success
    } cases[] = {
        {"out.avi", {}, ""},
        {"/dev/null", {}, ""},
        {"out.avi", {"", manyColourFrame(9)}, kChanged},
        {"/dev/null", {"", manyColourFrame(9)}, kChanged},
        {"/dev/null", {"", manyColourFrame(11), 0}, kChanged},
        {"/dev/null", {"", manyColourFrame(7), 3 * frameSize, true}, kChanged},
        {"out.avi", {"", rmw::Bytes(64, 0x5A), 0, true}, "\" is not a valid raster metafile"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.output) + ", changed at " + std::to_string(c.change.at));
        TempDir dir;
        const std::string input = dir.file("in.rm");
        const std::string output = c.output[0] == '/' ? c.output : dir.file(c.output);
        // Three frames, then junk as long as one more frame.
        rmw::Bytes bytes;
        for (uint32_t seed : {1u, 3u, 5u}) {
            const rmw::Bytes another = manyColourFrame(seed);
            bytes.insert(bytes.end(), another.begin(), another.end());
        }
        rmw::appendGap(bytes, static_cast<int>(frameSize % 4 / 2), static_cast<int>(frameSize / 4));
        rmw::writeFile(input, bytes);
        setModified(input, timespec{time(nullptr) - 1, 0});  // a change shows within a tick
        gChange = c.change;
        gChange.path = input;
        gBetweenInputPasses = c.change.bytes.empty() ? nullptr : changeInputBetweenPasses;
        resetConversionState();
        const int result = convertFile(input.c_str(), output.c_str(), true, 0, false, 10.0, true);
        gBetweenInputPasses = nullptr;
        EXPECT_EQ(result, c.error.empty() ? 1 : 0);
        const std::string prefix = c.error == kChanged ? "Input file " + input : "\"" + input;
        EXPECT_EQ(gState.errorText, c.error.empty() ? "" : prefix + c.error);
        if (output != c.output) {
            EXPECT_EQ(fileExists(output), c.error.empty());
        }
    }
}

}  // namespace
