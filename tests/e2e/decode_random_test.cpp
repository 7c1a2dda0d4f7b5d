// Random animations through the real binary, read back by real tools: ffmpeg
// decodes every frame to rgb24 and must show exactly the pictures the generator
// meant (without -m every frame in the first frame's colours, with -m each in its
// own), ffprobe must see one msrle stream of the right size, frame count and rate,
// and mediainfo must read the same from the container. Each seed is converted
// with one of a rotating set of options. The animations are spread over a few
// shards per tool so that ctest can run them in parallel; a tool that is not
// installed skips its tests with a message.
//
// The default run checks seeds 0 to 119. For local runs:
//   KESTRUP_E2E_ANIMATIONS=1000  check seeds 0 to 999 instead
//   KESTRUP_E2E_SEED=17          check seed 17 alone (in shard 0)
//   KESTRUP_E2E_KEEP=/some/dir   copy the metafile of every failing seed there
//                                as seed-N.rm, to reproduce the failure by hand
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <map>
#include <numeric>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "avi_reader.h"
#include "generated_frames.h"
#include "gif_checks.h"
#include "gif_decoder.h"
#include "process_runner.h"
#include "random_animation.h"
#include "reference_converter.h"
#include "skip_notes.h"
#include "temp_dir.h"

namespace {

using e2e::RandomAnimation;

constexpr int kShards = 6;
constexpr uint32_t kDefaultAnimations = 120;
constexpr uint32_t kRateScale = 100000;  // the stream header's dwScale

struct OptionSet {
    std::vector<std::string> arguments;
    bool multiPalette = false;
    int dotInterval = 0;
    double framesPerSecond = 10.0;
    bool sharedPalette = false;
};

// Seed n is converted with entry n % 11: with and without -m and -p, with and
// without dots, at 0.5, 10, 29.97 and 30000/1001 frames per second, each option
// in more than one spelling, values joined to the letter too.
const std::vector<OptionSet>& optionSets() {
    static const std::vector<OptionSet> sets = {
        {{}, false, 0, 10.0},
        {{"-m"}, true, 0, 10.0},
        {{"-d", "1", "-s", "0.5"}, false, 1, 0.5},
        {{"-m", "-d", "-s", "29.97"}, true, 10, 29.97},
        {{"-speed", "29.97", "-d", "3"}, false, 3, 29.97},
        {{"-s", ".5", "-m", "-d", "2"}, true, 2, 0.5},
        {{"-m", "-s", "10", "-d", "7"}, true, 7, 10.0},
        {{"-s29.97", "-d5"}, false, 5, 29.97},
        {{"-m", "-s", "30000/1001", "-d1"}, true, 1, 30000.0 / 1001},
        {{"-p"}, false, 0, 10.0, true},
        {{"-palette", "-m", "-d", "2"}, true, 2, 10.0, true},
    };
    return sets;
}

const OptionSet& optionsFor(uint32_t seed) {
    return optionSets()[seed % optionSets().size()];
}

uint32_t environmentNumber(const char* name, uint32_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && *text != '\0' ? static_cast<uint32_t>(std::stoul(text)) : fallback;
}

std::vector<uint32_t> shardSeeds(int shard) {
    if (std::getenv("KESTRUP_E2E_SEED") != nullptr) {
        if (shard != 0) return {};
        return {environmentNumber("KESTRUP_E2E_SEED", 0)};
    }
    std::vector<uint32_t> seeds;
    const uint32_t count = environmentNumber("KESTRUP_E2E_ANIMATIONS", kDefaultAnimations);
    for (uint32_t seed = static_cast<uint32_t>(shard); seed < count; seed += kShards) {
        seeds.push_back(seed);
    }
    return seeds;
}

// The palette-change chunks -m must write: one wherever a frame's table differs
// from the one in effect, which is the first frame's until the first change.
int paletteChanges(const RandomAnimation& animation) {
    int changes = 0;
    const Palette* inEffect = &animation.tables.front();
    for (const Palette& table : animation.tables) {
        if (table != *inEffect) ++changes;
        inEffect = &table;
    }
    return changes;
}

// The colours the pixels show, each frame in its own table's.
std::set<uint32_t> usedColours(const RandomAnimation& animation) {
    std::set<uint32_t> colours;
    for (size_t frame = 0; frame < animation.pictures.size(); ++frame) {
        for (uint8_t index : animation.pictures[frame].pixels) {
            const PaletteEntry& entry = animation.tables[frame][index];
            colours.insert(uint32_t{entry.red} << 16 | uint32_t{entry.green} << 8 | entry.blue);
        }
    }
    return colours;
}

// With -p, one table for all frames holds every colour: no palette changes.
bool sharedTableExact(const RandomAnimation& animation) {
    return usedColours(animation).size() <= 256;
}

// Whether the conversion writes palette changes, and every frame in its own colours.
bool keepsOwnTables(const RandomAnimation& animation, const OptionSet& options) {
    return options.multiPalette && !(options.sharedPalette && sharedTableExact(animation));
}

bool hasSeveralTables(const RandomAnimation& animation) {
    return std::any_of(animation.tables.begin(), animation.tables.end(),
                       [&](const Palette& table) { return table != animation.tables.front(); });
}

struct Fraction {
    uint64_t numerator = 0;
    uint64_t denominator = 1;
};

// dwRate over dwScale as the converter computes it (truncated), reduced.
Fraction rateFraction(double framesPerSecond) {
    const auto rate = static_cast<uint32_t>(static_cast<int64_t>(framesPerSecond * kRateScale));
    const uint32_t divisor = std::gcd(rate, kRateScale);
    return {rate / divisor, kRateScale / divisor};
}

std::string text(const Fraction& fraction) {
    return std::to_string(fraction.numerator) + "/" + std::to_string(fraction.denominator);
}

// ffmpeg remarks on the bit rate of its own raw output when that is below 1000
// bits per second (24 bits a pixel at the stream's rate, in whole bits); the
// remark says nothing about the file it read.
std::string rawOutputRemark(const RandomAnimation& animation, double framesPerSecond) {
    const Fraction rate = rateFraction(framesPerSecond);
    const uint64_t bitRate = 24 * static_cast<uint64_t>(animation.width) *
                             static_cast<uint64_t>(animation.height) * rate.numerator /
                             rate.denominator;
    if (bitRate == 0 || bitRate >= 1000) return "";
    return "The bitrate parameter is set too low. It takes bits/s as argument, not kbits/s\n";
}

double headerRate(double framesPerSecond) {
    return static_cast<double>(static_cast<int64_t>(framesPerSecond * kRateScale)) / kRateScale;
}

std::string describe(const RandomAnimation& animation, const OptionSet& options) {
    std::ostringstream text;
    text << "seed " << animation.seed << ": " << animation.width << " x " << animation.height
         << ", " << animation.pictures.size() << " frames, options";
    for (const std::string& argument : options.arguments)
        text << ' ' << argument;
    text << " -q -y (rerun with KESTRUP_E2E_SEED=" << animation.seed << ")";
    return text.str();
}

// The largest difference of a channel that the shared table's warning gives.
int warnedDifference(const std::string& err) {
    std::smatch match;
    static const std::regex kDifference("differs by up to ([0-9]+) from its own");
    return std::regex_search(err, match, kDifference) ? std::stoi(match[1]) : -1;
}

// What -q leaves on standard error: the dots, the advice to use -m, and the
// warning of a shared table that is not exact (its largest difference as given
// in err, which the decoded pixels then check). A GIF's advice names no players.
std::string expectedStandardError(const RandomAnimation& animation, const OptionSet& options,
                                  const std::string& err, bool gif) {
    std::string text;
    if (options.dotInterval > 0) {
        const size_t dots = animation.pictures.size() / static_cast<size_t>(options.dotInterval);
        text = "\n" + std::string(dots, '.') + "\n";
    }
    if (!options.multiPalette && !options.sharedPalette && hasSeveralTables(animation)) {
        text +=
            "\nThis raster metafile has multiple color tables.\n"
            "It is recommended that this file be converted using the '-m' option.\n";
        if (!gif) text += "For players that do not apply palette changes, use the '-p' option.\n";
    }
    if (options.sharedPalette && !options.multiPalette && !sharedTableExact(animation)) {
        text += "\n*** Warning: ***\nThe frames use " +
                std::to_string(usedColours(animation).size()) +
                " colors, more than one palette holds: in the shared palette of 256, a pixel's "
                "red, green or blue value differs by up to " +
                std::to_string(warnedDifference(err)) +
                " from its own. The -m option keeps every color exact.\n";
    }
    return text;
}

std::string programPath(const std::string& name) {
    std::string path;
    if (runShell("command -v " + name + " 2>/dev/null", &path) != 0) return "";
    while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
        path.pop_back();
    return path;
}

// Standard input at its end from the start: nothing here ever asks.
ProcessRequest request(std::vector<std::string> arguments, const std::string& directory = "") {
    ProcessRequest request;
    request.arguments = std::move(arguments);
    request.closedInput = true;
    request.workingDirectory = directory;
    return request;
}

struct Subject {
    const RandomAnimation& animation;
    const OptionSet& options;
    std::string avi;  // the output: an AVI file, or with -g a GIF
    std::string err;  // what the conversion wrote on standard error
};

// The animations of a seed: its random one, and for a GIF with -p a colour
// cycle too.
std::vector<RandomAnimation> animationsOf(uint32_t seed, bool gif) {
    std::vector<RandomAnimation> animations{e2e::makeRandomAnimation(seed)};
    if (gif && optionsFor(seed).sharedPalette) animations.push_back(e2e::makeColourCycle(seed));
    return animations;
}

// Converts the animation with the binary and its seed's options (with -g
// into a GIF) and hands the result to check, keeping the metafile when it
// fails and that is asked for.
void convertAndCheck(const RandomAnimation& animation, bool gif,
                     const std::function<void(const Subject&)>& check) {
    const uint32_t seed = animation.seed;
    const char* keep = std::getenv("KESTRUP_E2E_KEEP");
    const OptionSet& options = optionsFor(seed);
    SCOPED_TRACE(describe(animation, options) + (gif ? ", -g" : "") +
                 (animation.colourCycle ? ", colour cycle" : ""));
    const testing::TestResult& result =
        *testing::UnitTest::GetInstance()->current_test_info()->result();
    const int failuresBefore = result.total_part_count();
    TempDir dir;
    const std::string input = dir.file("anim.rm");
    ASSERT_TRUE(rmw::writeFile(input, animation.file));
    std::vector<std::string> arguments = options.arguments;
    const std::string output = dir.file(gif ? "out.gif" : "out.avi");
    if (gif) arguments.push_back("-g");
    arguments.insert(arguments.end(), {"-q", "-y", input, output});
    const ProcessResult converted = runKestrupProcess(request(arguments, dir.path));
    EXPECT_EQ(converted.exitStatus, 0) << converted.err;
    EXPECT_EQ(converted.out, "");
    EXPECT_EQ(converted.err, expectedStandardError(animation, options, converted.err, gif));
    if (converted.exitStatus == 0) {
        check({animation, options, output, converted.err});
    }
    if (keep != nullptr && result.total_part_count() != failuresBefore) {
        rmw::writeFile(std::string(keep) + "/seed-" + std::to_string(seed) + ".rm", animation.file);
    }
}

// Every animation of the shard's seeds, converted and checked.
void forEachAnimation(int shard, const std::function<void(const Subject&)>& check,
                      bool gif = false) {
    for (uint32_t seed : shardSeeds(shard)) {
        for (const RandomAnimation& animation : animationsOf(seed, gif))
            convertAndCheck(animation, gif, check);
    }
}

int squaredDistance(const PaletteEntry& one, uint8_t red, uint8_t green, uint8_t blue) {
    const int r = one.red - red;
    const int g = one.green - green;
    const int b = one.blue - blue;
    return r * r + g * g + b * b;
}

// The stream format's colour table: 256 entries of blue, green, red and 0
// after the 40-byte bitmap header, which the size field at offset 176 opens.
Palette streamTable(const std::string& avi) {
    const rmw::Bytes bytes = rmw::readFile(avi);
    Palette table{};
    for (size_t i = 0; i < table.size() && 220 + 4 * i + 2 < bytes.size(); ++i) {
        table[i] = {bytes[222 + 4 * i], bytes[221 + 4 * i], bytes[220 + 4 * i]};
    }
    return table;
}

// Each pixel of a shared table that is not exact shows the table's entry
// nearest to its own colour; the largest difference of a channel must be the
// one the warning gave.
void expectNearestColours(const std::string& decoded, const RandomAnimation& animation,
                          const Palette& table, int warned) {
    const size_t frameBytes =
        static_cast<size_t>(animation.width) * static_cast<size_t>(animation.height) * 3;
    ASSERT_EQ(decoded.size(), frameBytes * animation.pictures.size());
    int largest = 0;
    for (size_t frame = 0; frame < animation.pictures.size(); ++frame) {
        const rmw::Picture& picture = animation.pictures[frame];
        const auto* got = reinterpret_cast<const uint8_t*>(decoded.data() + frame * frameBytes);
        for (size_t pixel = 0; pixel < picture.pixels.size(); ++pixel) {
            const PaletteEntry& want = animation.tables[frame][picture.pixels[pixel]];
            const uint8_t* rgb = got + 3 * pixel;
            int nearest = squaredDistance(want, table[0].red, table[0].green, table[0].blue);
            for (const PaletteEntry& entry : table)
                nearest =
                    std::min(nearest, squaredDistance(want, entry.red, entry.green, entry.blue));
            if (squaredDistance(want, rgb[0], rgb[1], rgb[2]) != nearest) {
                ADD_FAILURE() << "frame " << frame + 1 << " pixel " << pixel << ": ("
                              << int{want.red} << ", " << int{want.green} << ", " << int{want.blue}
                              << ") decoded (" << int{rgb[0]} << ", " << int{rgb[1]} << ", "
                              << int{rgb[2]} << "), not the nearest entry of the table";
                return;
            }
            largest = std::max({largest, std::abs(want.red - rgb[0]), std::abs(want.green - rgb[1]),
                                std::abs(want.blue - rgb[2])});
        }
    }
    EXPECT_EQ(largest, warned) << "the largest difference of a channel";
}

// The first differing pixel of every frame that differs.
void expectPixels(const std::string& decoded, const RandomAnimation& animation, bool ownColours) {
    const size_t frameBytes =
        static_cast<size_t>(animation.width) * static_cast<size_t>(animation.height) * 3;
    ASSERT_EQ(decoded.size(), frameBytes * animation.pictures.size())
        << "decoded bytes; " << frameBytes << " per frame";
    for (size_t frame = 0; frame < animation.pictures.size(); ++frame) {
        const rmw::Picture& picture = animation.pictures[frame];
        const Palette& table = animation.tables[ownColours ? frame : 0];
        const char* got = decoded.data() + frame * frameBytes;
        for (size_t pixel = 0; pixel < picture.pixels.size(); ++pixel) {
            const PaletteEntry& want = table[picture.pixels[pixel]];
            const auto channel = [&](size_t i) { return static_cast<uint8_t>(got[3 * pixel + i]); };
            if (channel(0) != want.red || channel(1) != want.green || channel(2) != want.blue) {
                ADD_FAILURE() << "frame " << frame + 1 << " at x "
                              << pixel % static_cast<size_t>(picture.width) << ", y "
                              << pixel / static_cast<size_t>(picture.width) << ": colour index "
                              << int{picture.pixels[pixel]} << " is (" << int{want.red} << ", "
                              << int{want.green} << ", " << int{want.blue} << "), decoded ("
                              << int{channel(0)} << ", " << int{channel(1)} << ", "
                              << int{channel(2)} << ")";
                break;
            }
        }
    }
}

// Sections of "key=value" lines between [NAME] and [/NAME], as ffprobe prints them.
std::vector<std::map<std::string, std::string>> probeSections(const std::string& text) {
    std::vector<std::map<std::string, std::string>> sections;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.starts_with("[/")) continue;
        if (line.starts_with("[")) {
            sections.emplace_back();
        } else if (const size_t equals = line.find('='); equals != std::string::npos) {
            if (sections.empty()) sections.emplace_back();
            sections.back()[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return sections;
}

// The tracks of mediainfo's JSON output, one "Key": "Value" pair a line, each
// track opened by its "@type".
std::vector<std::map<std::string, std::string>> mediainfoTracks(const std::string& json) {
    std::vector<std::map<std::string, std::string>> tracks;
    std::istringstream lines(json);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t keyStart = line.find('"');
        const size_t keyEnd = line.find("\": \"", keyStart + 1);
        const size_t valueEnd = line.rfind('"');
        if (keyStart == std::string::npos || keyEnd == std::string::npos ||
            valueEnd <= keyEnd + 3) {
            continue;
        }
        const std::string key = line.substr(keyStart + 1, keyEnd - keyStart - 1);
        const std::string value = line.substr(keyEnd + 4, valueEnd - keyEnd - 4);
        if (key == "@type") tracks.emplace_back();
        if (!tracks.empty()) tracks.back()[key] = value;
    }
    return tracks;
}

double number(const std::map<std::string, std::string>& fields, const std::string& key) {
    const auto found = fields.find(key);
    return found == fields.end() ? NAN : std::strtod(found->second.c_str(), nullptr);
}

class RandomAnimationCheck : public testing::TestWithParam<int> {};

// Skips the test with a message when the tool is not installed.
#define REQUIRE_TOOL(variable, name)                \
    const std::string variable = programPath(name); \
    if (variable.empty())                           \
    GTEST_SKIP() << skipNote(std::string(name) + " is not installed; not checked")

TEST_P(RandomAnimationCheck, FfmpegDecodesEveryPixel) {
    REQUIRE_TOOL(ffmpeg, "ffmpeg");
    forEachAnimation(GetParam(), [&](const Subject& subject) {
        const ProcessResult decoded =
            runProcess(ffmpeg, request({"-nostdin", "-v", "warning", "-i", subject.avi, "-f",
                                        "rawvideo", "-pix_fmt", "rgb24", "-"}));
        EXPECT_EQ(decoded.exitStatus, 0);
        EXPECT_EQ(decoded.err, rawOutputRemark(subject.animation, subject.options.framesPerSecond))
            << "ffmpeg must decode without an error or a warning";
        const OptionSet& options = subject.options;
        if (options.sharedPalette && !options.multiPalette &&
            !sharedTableExact(subject.animation)) {
            expectNearestColours(decoded.out, subject.animation, streamTable(subject.avi),
                                 warnedDifference(subject.err));
        } else {
            expectPixels(decoded.out, subject.animation,
                         options.multiPalette || options.sharedPalette);
        }
    });
}

TEST_P(RandomAnimationCheck, FfprobeSeesOneMsrleStream) {
    REQUIRE_TOOL(ffprobe, "ffprobe");
    forEachAnimation(GetParam(), [&](const Subject& subject) {
        const ProcessResult probed =
            runProcess(ffprobe, request({"-v", "error", "-count_frames", "-show_entries",
                                         "stream=codec_type,codec_name,width,height,nb_frames,"
                                         "nb_read_frames,r_frame_rate,avg_frame_rate",
                                         subject.avi}));
        EXPECT_EQ(probed.exitStatus, 0);
        EXPECT_EQ(probed.err, "");
        const auto streams = probeSections(probed.out);
        ASSERT_EQ(streams.size(), 1u) << probed.out;
        const auto& stream = streams[0];
        const std::string frames = std::to_string(subject.animation.pictures.size());
        const std::string rate = text(rateFraction(subject.options.framesPerSecond));
        const std::map<std::string, std::string> expected = {
            {"codec_type", "video"},
            {"codec_name", "msrle"},
            {"width", std::to_string(subject.animation.width)},
            {"height", std::to_string(subject.animation.height)},
            {"nb_frames", frames},
            {"nb_read_frames", frames},
            {"r_frame_rate", rate},
            {"avg_frame_rate", rate},
        };
        EXPECT_EQ(stream, expected);
    });
}

// mediainfo counts every indexed chunk of the stream as a frame, palette changes
// included (it passes over their no-time flag), so its frame count is the frames
// plus the palette changes; its duration comes from the header's frame count and
// rate, which pins the frames alone.
TEST_P(RandomAnimationCheck, MediainfoReadsTheContainer) {
    REQUIRE_TOOL(mediainfo, "mediainfo");
    forEachAnimation(GetParam(), [&](const Subject& subject) {
        const ProcessResult read = runProcess(mediainfo, request({"--Output=JSON", subject.avi}));
        EXPECT_EQ(read.exitStatus, 0);
        EXPECT_EQ(read.err, "");
        const auto tracks = mediainfoTracks(read.out);
        ASSERT_EQ(tracks.size(), 2u) << read.out;
        const auto& general = tracks[0];
        const auto& video = tracks[1];
        EXPECT_EQ(general.at("@type"), "General");
        EXPECT_EQ(general.count("Format") ? general.at("Format") : "", "AVI");
        EXPECT_EQ(general.count("VideoCount") ? general.at("VideoCount") : "", "1");
        EXPECT_EQ(video.at("@type"), "Video");
        const size_t frames = subject.animation.pictures.size();
        const double rate = headerRate(subject.options.framesPerSecond);
        EXPECT_EQ(number(video, "Width"), subject.animation.width);
        EXPECT_EQ(number(video, "Height"), subject.animation.height);
        const int changes = keepsOwnTables(subject.animation, subject.options)
                                ? paletteChanges(subject.animation)
                                : 0;
        EXPECT_EQ(number(video, "FrameCount"), static_cast<double>(frames) + changes);
        EXPECT_NEAR(number(video, "FrameRate"), rate, 0.0005);
        EXPECT_NEAR(number(video, "Duration"), static_cast<double>(frames) / rate, 0.0011);
    });
}

// The movie data of the AVI file at avi, chunk by chunk, as the reference
// converter makes it from rm with the options. A shared table that is not
// exact is the program's own choice, which expectNearestColours checks.
void expectMovieAsReference(const rmw::Bytes& rm, const std::string& avi,
                            const OptionSet& options) {
    const ref::Options asked{options.multiPalette, options.sharedPalette};
    const ref::Result expected = ref::convert(rm, asked);
    ASSERT_EQ(expected.refusal, ref::Refusal::kNone) << "frame " << expected.failedFrame;
    if (options.sharedPalette && !options.multiPalette && !expected.sharedExact) return;
    const ParsedAvi parsed = parseAvi(rmw::readFile(avi));
    ASSERT_EQ(parsed.problem, "");
    std::vector<ref::Chunk> got;
    for (const MovieChunk& chunk : parsed.movie)
        got.push_back({chunk.code, chunk.data});
    EXPECT_TRUE(got == expected.chunks) << "program:\n"
                                        << ref::describe(got).substr(0, 4000) << "reference:\n"
                                        << ref::describe(expected.chunks).substr(0, 4000);
    EXPECT_TRUE(parsed.headerPalette == expected.headerPalette) << "the header's colour table";
}

// Every animation's movie data as the reference makes it; and files of rows
// the animations never hold (empty, shorter or longer than the width, all
// empty), with the same options, which only the reference can check.
TEST_P(RandomAnimationCheck, MovieDataAsTheReference) {
    forEachAnimation(GetParam(), [&](const Subject& subject) {
        expectMovieAsReference(subject.animation.file, subject.avi, subject.options);
    });
    for (uint32_t seed : shardSeeds(GetParam())) {
        gen::FileShape shape;
        std::mt19937 rng(seed);
        shape.frames = 1 + static_cast<int>(gen::pick(rng, 12));
        shape.width = 1 + static_cast<int32_t>(gen::pick(rng, 300));
        shape.height = 1 + static_cast<int32_t>(gen::pick(rng, 40));
        shape.tables = 1 + static_cast<int>(gen::pick(rng, 3));
        shape.sharedColours = gen::pick(rng, 2) == 0;
        shape.mix.emptyRowPercent = static_cast<int>(gen::pick(rng, 60));
        const OptionSet& options = optionsFor(seed);
        SCOPED_TRACE("generated file " + std::to_string(seed) + ", options " +
                     std::to_string(seed % optionSets().size()));
        TempDir dir;
        const rmw::Bytes rm = gen::randomMetafile(seed, shape);
        ASSERT_TRUE(rmw::writeFile(dir.file("in.rm"), rm));
        std::vector<std::string> arguments = options.arguments;
        arguments.insert(arguments.end(), {"-q", "-y", dir.file("in.rm"), dir.file("out.avi")});
        const ProcessResult converted = runKestrupProcess(request(arguments, dir.path));
        ASSERT_EQ(converted.exitStatus, 0) << converted.err;
        expectMovieAsReference(rm, dir.file("out.avi"), options);
    }
}

// The frames an animation shows as red, green and blue bytes: each in its own
// table's colours, or all in the first frame's.
std::vector<std::string> trueFrames(const RandomAnimation& animation, bool ownColours) {
    std::vector<std::string> frames;
    for (size_t frame = 0; frame < animation.pictures.size(); ++frame) {
        const Palette& table = animation.tables[ownColours ? frame : 0];
        std::string& rgb = frames.emplace_back();
        for (uint8_t index : animation.pictures[frame].pixels)
            rgb += {static_cast<char>(table[index].red), static_cast<char>(table[index].green),
                    static_cast<char>(table[index].blue)};
    }
    return frames;
}

// Every frame of the GIF decoded by tool to the true pixels: without -m all
// in the first frame's colours; with -m, or -p when one table holds every
// colour, each in its own; with -p past 256 colours the global table's
// nearest, which the plain decoder's pixels are checked to be and every real
// decoder must then show. The plain decoder also reads the delays, each
// running total within half a hundredth of the true time, and the looping.
void checkGif(const Subject& subject, GifDecoderTool tool) {
    const RandomAnimation& animation = subject.animation;
    const OptionSet& options = subject.options;
    std::vector<std::string> expected =
        trueFrames(animation, options.multiPalette || options.sharedPalette);
    const DecodedGif gif = decodeGif(rmw::readFile(subject.avi));
    ASSERT_EQ(gif.error, "");
    if (options.sharedPalette && !options.multiPalette && !sharedTableExact(animation)) {
        Palette table{};
        for (size_t i = 0; i < table.size() && 3 * i + 2 < gif.globalTable.size(); ++i)
            table[i] = {gif.globalTable[3 * i], gif.globalTable[3 * i + 1],
                        gif.globalTable[3 * i + 2]};
        std::string all;
        expected.clear();
        for (const DecodedGifFrame& frame : gif.frames)
            all += expected.emplace_back(frame.rgb.begin(), frame.rgb.end());
        expectNearestColours(all, animation, table, warnedDifference(subject.err));
    }
    const GifCheck check = checkGifFrames(tool, subject.avi, expected, animation.width);
    EXPECT_EQ(check.message, "");
    if (tool != GifDecoderTool::kPlain) return;
    EXPECT_EQ(gif.loopCount, 0) << "loops forever";
    int64_t total = 0;
    for (size_t n = 0; n < gif.frames.size(); ++n) {
        total += gif.frames[n].delay;
        const double trueTime = static_cast<double>(n + 1) * 100 / options.framesPerSecond;
        ASSERT_LE(std::abs(static_cast<double>(total) - trueTime), 0.5 + 1e-6)
            << "the time after frame " << n + 1;
    }
}

class GifAnimationCheck : public testing::TestWithParam<std::tuple<int, GifDecoderTool>> {};

// Every animation converted with -g and the seed's options (with -p a colour
// cycle too), decoded by one decoder.
TEST_P(GifAnimationCheck, EveryFrameDecodesToTheTruePixels) {
    const int shard = std::get<0>(GetParam());
    const GifDecoderTool tool = std::get<1>(GetParam());
    const std::string missing = missingGifDecoder(tool);
    if (!missing.empty()) GTEST_SKIP() << skipNote(missing);
    forEachAnimation(
        shard, [tool](const Subject& subject) { checkGif(subject, tool); }, true);
}

// A headless browser is slow to start and decode: only the smallest
// animation of several tables converted with -m, and the smallest colour
// cycle with -p.
TEST(GifAnimations, ChromiumDecodesTwoSmallAnimations) {
    const std::string missing = missingGifDecoder(GifDecoderTool::kChromium);
    if (!missing.empty()) GTEST_SKIP() << skipNote(missing);
    std::optional<RandomAnimation> chosen[2];
    const auto size = [](const RandomAnimation& a) {
        return static_cast<size_t>(a.width) * static_cast<size_t>(a.height) * a.pictures.size();
    };
    for (uint32_t seed = 0; seed < kDefaultAnimations; ++seed) {
        const OptionSet& options = optionsFor(seed);
        const RandomAnimation animation =
            options.sharedPalette ? e2e::makeColourCycle(seed) : e2e::makeRandomAnimation(seed);
        const bool wanted =
            animation.pictures.size() >= 3 &&
            (options.sharedPalette || (options.multiPalette && paletteChanges(animation) >= 2));
        auto& slot = chosen[options.sharedPalette ? 1 : 0];
        if (wanted && (!slot || size(animation) < size(*slot))) slot = animation;
    }
    ASSERT_TRUE(chosen[0] && chosen[1]);
    for (const auto& animation : chosen) {
        convertAndCheck(*animation, true, [](const Subject& subject) {
            checkGif(subject, GifDecoderTool::kChromium);
        });
    }
}

// The default seeds must keep covering what the format allows, whatever changes
// in the generator: the smallest and largest shapes, every way of writing a
// run, the noise, the junk, and tables that come back under -m.
TEST(RandomAnimations, DefaultSeedsCoverTheFormat) {
    e2e::Coverage total;
    std::map<std::string, int> shapes;
    for (uint32_t seed = 0; seed < kDefaultAnimations; ++seed) {
        const RandomAnimation animation = e2e::makeRandomAnimation(seed);
        const e2e::Coverage& coverage = animation.coverage;
        total.longestRepeat = std::max(total.longestRepeat, coverage.longestRepeat);
        total.repeatsOver255 += coverage.repeatsOver255;
        total.singlePixelWords += coverage.singlePixelWords;
        total.repeatsOfOne += coverage.repeatsOfOne;
        total.sameColourNeighbours += coverage.sameColourNeighbours;
        total.noisyFrames += coverage.noisyFrames;
        total.offStrideMarks += coverage.offStrideMarks;
        if (keepsOwnTables(animation, optionsFor(seed)))
            total.tableReturns += coverage.tableReturns;
        const size_t frames = animation.pictures.size();
        shapes["1 x 1"] += animation.width == 1 && animation.height == 1;
        shapes["one pixel wide"] += animation.width == 1;
        shapes["one pixel high"] += animation.height == 1;
        shapes["300 or more each way"] += animation.width >= 300 && animation.height >= 300;
        shapes["4095 or more wide"] += animation.width >= 4095;
        shapes["one frame"] += frames == 1;
        shapes["24 or more frames"] += frames >= 24;
        shapes["one table"] += !hasSeveralTables(animation) && frames > 1;
        shapes["two or more changes of table"] += paletteChanges(animation) >= 2;
        const OptionSet& options = optionsFor(seed);
        if (options.sharedPalette && hasSeveralTables(animation)) {
            shapes[sharedTableExact(animation) ? "-p exact over several tables"
                                               : "-p nearest colours"] += 1;
        }
    }
    EXPECT_EQ(total.longestRepeat, 4095);
    EXPECT_GT(total.repeatsOver255, 0);
    EXPECT_GT(total.singlePixelWords, 0);
    EXPECT_GT(total.repeatsOfOne, 0);
    EXPECT_GT(total.sameColourNeighbours, 0);
    EXPECT_GT(total.noisyFrames, 0);
    EXPECT_GT(total.offStrideMarks, 0);
    EXPECT_GT(total.tableReturns, 0) << "a table in effect before must come back under -m";
    for (const auto& [shape, count] : shapes)
        EXPECT_GT(count, 0) << shape;
}

INSTANTIATE_TEST_SUITE_P(Shard, RandomAnimationCheck, testing::Range(0, kShards));
INSTANTIATE_TEST_SUITE_P(
    Shard, GifAnimationCheck,
    testing::Combine(testing::Range(0, kShards),
                     testing::Values(GifDecoderTool::kPlain, GifDecoderTool::kFfmpeg,
                                     GifDecoderTool::kImageMagick, GifDecoderTool::kPillow)));

}  // namespace
