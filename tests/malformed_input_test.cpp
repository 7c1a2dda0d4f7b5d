// Malformed input as a user meets it: one file per way the format can be
// broken, each with exactly its report and exit status, and nothing left
// behind afterwards, neither output nor scratch file.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "conversion_fixture.h"
#include "process_runner.h"

namespace {

const Palette kTable = rmw::makePalette(3);

rmw::Bytes oneFrame() {
    return twoByTwoFile(kTable);
}

// The first frame as it should be, then a second one built by the caller.
rmw::Bytes withSecond(const std::function<void(rmw::Bytes&)>& second) {
    rmw::Bytes bytes = oneFrame();
    second(bytes);
    return bytes;
}

std::function<void(rmw::Bytes&)> header(int32_t width, int32_t height) {
    return [width, height](rmw::Bytes& bytes) {
        rmw::appendFrameHeader(bytes, width, height, kTable);
        rmw::appendU16(bytes, 0x4000);
    };
}

std::function<void(rmw::Bytes&)> words(std::vector<uint16_t> image) {
    return [image](rmw::Bytes& bytes) {
        rmw::appendFrameHeader(bytes, 2, 2, kTable);
        for (uint16_t word : image)
            rmw::appendU16(bytes, word);
    };
}

// The first frame with its size fields replaced.
rmw::Bytes firstSized(int32_t width, int32_t height) {
    rmw::Bytes bytes;
    rmw::appendFrameHeader(bytes, width, height, kTable);
    const rmw::Bytes good = oneFrame();
    bytes.insert(bytes.end(), good.begin() + 2048, good.end());
    return bytes;
}

rmw::Bytes firstWithImage(std::vector<uint16_t> image) {
    rmw::Bytes bytes;
    words(std::move(image))(bytes);
    return bytes;
}

std::string report(const std::string& text) {
    return "\n*** Error: ***\n" + text + "\n";
}

struct Workspace {
    TempDir dir;
    std::string scratchDir = dir.file("tmp");
    Workspace() { mkdir(scratchDir.c_str(), 0700); }
    ProcessResult run(const std::string& name, const char* option = nullptr) const {
        ProcessRequest request;
        request.arguments = {"-q", "-y", name};
        if (option != nullptr) request.arguments.push_back(option);
        request.workingDirectory = dir.path;
        request.environment = {"TMPDIR=" + scratchDir};
        request.closedInput = true;
        return runKestrupProcess(request);
    }
};

TEST(MalformedInput, EachKindGivesItsOwnReport) {
    const std::string notValid = report("\"case.rm\" is not a valid raster metafile");
    const char kColourLine[] = "Cannot convert this file: color map number is greater than 255.\n";
    const struct {
        const char* what;
        rmw::Bytes file;
        std::string err;
    } cases[] = {
        // Anything wrong in the first frame: the file is not a metafile at all.
        {"empty file", {}, notValid},
        {"bad frame mark", {0, 0, 0, 0xE1, 2, 0, 0, 0, 2, 0, 0, 0}, notValid},
        {"width 0 in frame 1", firstSized(0, 2), notValid},
        {"height 0 in frame 1", firstSized(2, 0), notValid},
        {"negative size in frame 1", firstSized(-3, -4), notValid},
        {"no begin image in frame 1", firstWithImage({0x1001, 0x6000, 0x7000}), notValid},
        {"805 in frame 1", firstWithImage({0x4000, 0x1001}), notValid},
        {"632 in frame 1", firstWithImage({0x4000, 0x6000, 2, 0x1001, 0x6000, 0x7000}), notValid},
        {"colour over 255 in frame 1", firstWithImage({0x4000, 0x6000, 0x1100, 0x6000, 0x7000}),
         kColourLine + notValid},
        // In a later frame the report names what is wrong.
        {"width and height 0 in frame 2", withSecond(header(0, 0)),
         report("Height of frame 2 must be > 0")},
        {"negative height in frame 2", withSecond(header(2, -7)),
         report("Height of frame 2 must be > 0")},
        {"width 0 in frame 2", withSecond(header(0, 2)), report("Width of frame 2 must be > 0")},
        {"negative width in frame 2", withSecond(header(-5, 2)),
         report("Width of frame 2 must be > 0")},
        {"size mismatch", withSecond(header(2, 3)),
         report("\nWidth and/or height of frame 2 is not equal to the width\n"
                "and/or height of the first frame.\n"
                "Frame 1   width:  2\nFrame 1   height: 2\nFrame 2  width:  2\n"
                "Frame 2  height: 3\n")},
        // Frame 2's image words start at byte 4112.
        {"begin image missing", withSecond(words({0x1001, 0x6000})),
         report("Internal error: (1380)\nThe image data of frame 2, at byte 4112, does not start "
                "with a begin-image word.")},
        {"805", withSecond(words({0x4000, 0x1001})),
         report("Internal error: (805)\nThe input ends inside frame 2, at byte 4116, before the "
                "end of one of its rows.")},
        {"815", withSecond(words({0x4000, 0x1001, 0x7000})),
         report("Internal error: (815)\nFrame 2 has fewer rows than its height: the input ends "
                "at byte 4118, after its end-of-image word.")},
        {"829", withSecond(words({0x4000, 0x6000, 0x6000})),
         report("Internal error: (829)\nThe input ends inside frame 2, at byte 4118, before its "
                "end-of-image word.")},
        {"632", withSecond(words({0x4000, 0x6000, 2, 0x1001, 0x6000, 0x7000})),
         report("Internal error: (632)\nIn frame 2, the word at byte 4118 follows a repeat count "
                "but is not a colour word.")},
        {"641", withSecond(words({0x4000, 0x6000, 0x5000, 0x6000, 0x7000})),
         report("Internal error: (641)\nIn frame 2, the word at byte 4116 is of a kind that does "
                "not belong inside a row.")},
        {"656", withSecond(words({0x4000, 0x6000, 0, 0x3001, 0x6000, 0x7000})),
         report("Internal error: (656)\nIn frame 2, the repeat count at byte 4116 is zero.")},
        {"colour over 255 in frame 2", withSecond(words({0x4000, 0x6000, 0x1100, 0x6000, 0x7000})),
         kColourLine},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Workspace space;
        rmw::writeFile(space.dir.file("case.rm"), c.file);
        // -p's first pass stops at the fault without a word: the conversion reports it.
        for (const char* option : {static_cast<const char*>(nullptr), "-p"}) {
            const ProcessResult result = space.run("case", option);
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_EQ(result.err, c.err) << (option != nullptr ? option : "");
            EXPECT_FALSE(fileExists(space.dir.file("case.avi")));
            EXPECT_TRUE(directoryEntries(space.scratchDir).empty());
        }
    }
}

TEST(MalformedInput, DirectoriesAndDevicesAreNotMetafiles) {
    Workspace space;
    mkdir(space.dir.file("folder.rm").c_str(), 0755);
    symlink("/dev/zero", space.dir.file("zero.rm").c_str());
    symlink("/dev/null", space.dir.file("null.rm").c_str());
    const struct {
        const char* name;
        const char* reason;  // the system's, where reading failed
    } cases[] = {{"folder", "\nIs a directory"}, {"zero", ""}, {"null", ""}};
    for (const auto& [name, reason] : cases) {
        const ProcessResult result = space.run(name);
        EXPECT_EQ(result.exitStatus, 1) << name;
        EXPECT_EQ(result.err, report("\"" + std::string(name) +
                                     ".rm\" is not a valid raster metafile" + reason));
        EXPECT_FALSE(fileExists(space.dir.file(std::string(name) + ".avi")));
        EXPECT_TRUE(directoryEntries(space.scratchDir).empty());
    }
}

// Cut short anywhere, a file never converts wrongly: inside the first frame it is
// not a metafile; inside the second the first frame alone converts when the
// second's mark is incomplete, else the report names what is missing.
TEST(MalformedInput, TruncatedAtManyOffsets) {
    rmw::Bytes full = oneFrame();
    const size_t firstSize = full.size();
    const rmw::Bytes second = twoByTwoFile(rmw::makePalette(4));
    full.insert(full.end(), second.begin(), second.end());
    Workspace space;
    for (size_t cut = 0; cut < full.size();
         cut += cut < 16 || cut > full.size() - 24 ? size_t{1} : size_t{97}) {
        SCOPED_TRACE("cut at " + std::to_string(cut));
        rmw::writeFile(space.dir.file("case.rm"),
                       rmw::Bytes(full.begin(), full.begin() + static_cast<long>(cut)));
        const ProcessResult result = space.run("case");
        if (cut < firstSize) {
            EXPECT_EQ(result.err, report("\"case.rm\" is not a valid raster metafile"));
        } else if (cut < firstSize + 4) {
            EXPECT_EQ(result.exitStatus, 0);
            EXPECT_EQ(result.err, "");
        } else {
            EXPECT_EQ(result.exitStatus, 1);
            EXPECT_EQ(result.err.rfind("\n*** Error: ***\n", 0), 0u) << result.err;
        }
        EXPECT_EQ(fileExists(space.dir.file("case.avi")), result.exitStatus == 0);
        EXPECT_TRUE(directoryEntries(space.scratchDir).empty());
        std::remove(space.dir.file("case.avi").c_str());
    }
}

}  // namespace
