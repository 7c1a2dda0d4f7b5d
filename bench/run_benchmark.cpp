// The conversion's speed against its floor, against copying the input through
// user space, and against a real decoder reading the result.
//   run_benchmark [--short] [--runs N] [--work DIR] [--callgrind] [--program KESTRUP]
//                 [--baseline KESTRUP] [--only NAME,NAME...] [--reuse-inputs]
// For each input, in one run and alternating, each in turn going first: the
// conversion (kestrup -q -y -m), a copy of the input with dd bs=1M, the floor
// (io_floor: the input read in 1 MiB blocks and a file of the output's size
// written); then ffmpeg decoding the output to nothing. Every timed command writes a new file: its
// previous output is removed first, untimed. Prints medians, throughput, ratios and the
// conversion's peak resident memory. With --baseline, another build of the
// converter is timed too, in the same runs, for a before-and-after comparison.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* name;
    const char* kind;    // make_bench_input's kind
    double amount;       // its size argument
    double copyTarget;   // the most conversion/copy may be; 0: not checked
    double floorTarget;  // the most conversion/floor may be; 0: not checked
    bool decode;
    bool fails = false;           // an input the conversion refuses (exit status 1)
    bool perFrameWindow = false;  // frames larger than the input window: per MB against (a)
};

struct Measure {
    double seconds = 0;
    long peakKilobytes = 0;
    int status = 0;
};

// Runs a command line (through /bin/sh) and measures its wall time and peak RSS.
Measure run(const std::string& command) {
    Measure measure;
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    measure.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    measure.peakKilobytes = usage.ru_maxrss;
    measure.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return measure;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 != 0 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

long fileSize(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : -1;
}

// Runs command after removing path, so that the command writes a new file.
Measure runFresh(const std::string& command, const std::string& path) {
    std::remove(path.c_str());
    return run(command);
}

std::string directoryOf(const char* program) {
    const std::string path = program;
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

int main(int argc, char** argv) {
    bool shortMode = false;
    bool callgrind = false;
    int runs = 5;
    std::string work = "/tmp/kestrup-bench";
    std::string program;
    std::string baseline;
    std::string only;
    bool reuseInputs = false;  // inputs left by an earlier run are taken as they are
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--short") == 0) {
            shortMode = true;
            runs = 1;
        } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--work") == 0 && i + 1 < argc) {
            work = argv[++i];
        } else if (std::strcmp(argv[i], "--callgrind") == 0) {
            callgrind = true;
        } else if (std::strcmp(argv[i], "--program") == 0 && i + 1 < argc) {
            program = argv[++i];
        } else if (std::strcmp(argv[i], "--baseline") == 0 && i + 1 < argc) {
            baseline = argv[++i];
        } else if (std::strcmp(argv[i], "--reuse-inputs") == 0) {
            reuseInputs = true;
        } else if (std::strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = std::string(",") + argv[++i] + ",";
        } else {
            std::fprintf(stderr,
                         "usage: run_benchmark [--short] [--runs N] [--work DIR] [--callgrind] "
                         "[--program KESTRUP] [--baseline KESTRUP] [--only NAME,NAME...] "
                         "[--reuse-inputs]\n");
            return 2;
        }
    }
    const std::string tools = directoryOf(argv[0]);
    const std::string kestrup = program.empty() ? tools + "/kestrup" : program;
    const std::string generator = tools + "/make_bench_input";
    const std::string ioFloor = tools + "/io_floor";
    mkdir(work.c_str(), 0755);

    const std::vector<Case> allCases =
        shortMode ? std::vector<Case>{{"realistic", "realistic", 4, 1.2, 1.5, true},
                                      {"worst", "worst", 4, 2, 0, true},
                                      {"mixed-5", "mixed-5", 4, 0, 0, true},
                                      {"mixed-20", "mixed-20", 4, 0, 0, true},
                                      {"mixed-50", "mixed-50", 4, 0, 0, true},
                                      {"long", "long", 2, 1.5, 0, true},
                                      {"realistic-large", "realistic", 16, 0, 0, false},
                                      {"empty-rows", "empty-rows", 4, 4, 0, false},
                                      {"endless", "endless", 4, 0, 0, false, true},
                                      {"large4k", "large4k", 1, 0, 0, false, false, true}}
                  : std::vector<Case>{{"realistic", "realistic", 256, 1.25, 1.5, true},
                                      {"worst", "worst", 256, 1.4, 0, true},
                                      {"mixed-5", "mixed-5", 256, 1.25, 0, true},
                                      {"mixed-20", "mixed-20", 256, 1.25, 0, true},
                                      {"mixed-50", "mixed-50", 256, 1.25, 0, true},
                                      {"long", "long", 100, 1.5, 0, true},
                                      {"realistic-1g", "realistic", 1024, 0, 0, false},
                                      {"empty-rows", "empty-rows", 256, 4, 0, false},
                                      {"endless", "endless", 256, 0, 0, false, true},
                                      {"large4k", "large4k", 256, 0, 0, false, false, true},
                                      {"large8k", "large8k", 256, 0, 0, false, false, true}};
    std::vector<Case> cases;
    for (const Case& c : allCases) {
        if (only.empty() || only.find(std::string(",") + c.name + ",") != std::string::npos)
            cases.push_back(c);
    }
    const bool haveFfmpeg = run("command -v ffmpeg >/dev/null").status == 0;

    std::printf("%-16s %7s %8s %6s %8s %7s %8s %8s %8s %8s %8s\n", "input", "MB", "convert", "MB/s",
                "dd", "conv/dd", "floor", "c/floor", "ffmpeg", "conv/ffm", "peak MiB");
    bool failed = false;
    long peakAll = 0;
    long peakSmall = 0;         // the inputs of ordinary shape
    double perMbRealistic = 0;  // seconds per MB of the first input, (a)
    for (const Case& c : cases) {
        const std::string input = work + "/" + c.name + ".rm";
        const std::string output = work + "/" + c.name + ".avi";
        const std::string copy = work + "/" + c.name + ".copy";
        const std::string floorOutput = work + "/" + c.name + ".floor";
        if (!(reuseInputs && fileSize(input) > 0) &&
            run(generator + " " + c.kind + " " + std::to_string(c.amount) + " " + input).status) {
            std::fprintf(stderr, "could not generate %s\n", input.c_str());
            return 1;
        }
        const int expected = c.fails ? 1 : 0;
        // The floor writes as much as the conversion does; half the input when
        // the conversion keeps no output.
        long outputBytes = -1;
        std::vector<double> convert, copying, flooring, decoding, before;
        long peak = 0;
        for (int r = 0; r < runs; ++r) {
            // The timed commands take turns at going first: the one after the
            // others' writes meets the system writing their files back, which
            // would otherwise always count against the same one.
            std::vector<std::function<void()>> commands;
            commands.emplace_back([&] {
                const Measure conversion = runFresh(
                    kestrup + " -q -y -m " + input + " " + output + " 2>/dev/null", output);
                failed |= conversion.status != expected;
                convert.push_back(conversion.seconds);
                peak = std::max(peak, conversion.peakKilobytes);
            });
            if (!baseline.empty()) {
                commands.emplace_back([&] {
                    const Measure old = runFresh(
                        baseline + " -q -y -m " + input + " " + output + " 2>/dev/null", output);
                    failed |= old.status != expected;
                    before.push_back(old.seconds);
                });
            }
            commands.emplace_back([&] {
                const Measure copied =
                    runFresh("dd if=" + input + " of=" + copy + " bs=1M status=none", copy);
                failed |= copied.status != 0;
                copying.push_back(copied.seconds);
            });
            commands.emplace_back([&] {
                const Measure floored = runFresh(
                    ioFloor + " " + input + " " + floorOutput + " " + std::to_string(outputBytes),
                    floorOutput);
                failed |= floored.status != 0;
                flooring.push_back(floored.seconds);
            });
            if (outputBytes < 0) {   // the floor writes the conversion's output size: a first,
                commands.front()();  // untimed conversion tells it
                outputBytes = c.fails ? fileSize(input) / 2 : fileSize(output);
                convert.clear();
            }
            const size_t first = static_cast<size_t>(r) % commands.size();
            for (size_t i = 0; i < commands.size(); ++i)
                commands[(first + i) % commands.size()]();
            // The decode reads the output of the run's last converter.
            if (c.decode && haveFfmpeg) {
                const Measure decoded = run("ffmpeg -nostdin -v error -i " + output + " -f null -");
                failed |= decoded.status != 0;
                decoding.push_back(decoded.seconds);
            }
        }
        const double megabytes = static_cast<double>(fileSize(input)) / 1e6;
        const double conversionTime = median(convert);
        const double copyTime = median(copying);
        const double floorTime = median(flooring);
        const double decodeTime = decoding.empty() ? 0 : median(decoding);
        std::printf("%-16s %7.1f %8.3f %6.0f %8.3f %7.2f %8.3f %8.2f %8.3f %8.2f %8.1f\n", c.name,
                    megabytes, conversionTime, megabytes / conversionTime, copyTime,
                    conversionTime / copyTime, floorTime, conversionTime / floorTime, decodeTime,
                    decodeTime > 0 ? conversionTime / decodeTime : 0.0,
                    static_cast<double>(peak) / 1024.0);
        if (!before.empty()) {
            const double beforeTime = median(before);
            std::printf(
                "  baseline %.3f s, %.2f x dd, %.2f x the floor; conversion / baseline %.2f\n",
                beforeTime, beforeTime / copyTime, beforeTime / floorTime,
                conversionTime / beforeTime);
        }
        if (c.copyTarget > 0 && conversionTime / copyTime > c.copyTarget) {
            std::printf("  above the target of %.2f x the dd time\n", c.copyTarget);
        }
        if (c.floorTarget > 0 && conversionTime / floorTime > c.floorTarget) {
            std::printf("  above the target of %.2f x the floor time\n", c.floorTarget);
        }
        if (perMbRealistic == 0) perMbRealistic = conversionTime / megabytes;
        if (c.perFrameWindow) {
            std::printf("  %.2f x the time per MB of %s (target 1.2)\n",
                        conversionTime / megabytes / perMbRealistic, cases.front().name);
        }
        peakAll = std::max(peakAll, peak);
        const std::string kind = c.kind;
        if (kind == "realistic" || kind == "worst" || kind == "long" ||
            kind.rfind("mixed-", 0) == 0)
            peakSmall = std::max(peakSmall, peak);
        std::remove(copy.c_str());
        std::remove(floorOutput.c_str());
        if (shortMode) {
            std::remove(input.c_str());
            std::remove(output.c_str());
        }
    }
    std::printf(
        "peak memory: inputs of ordinary shape at most %.1f MiB (target 8), every input at "
        "most %.1f MiB (target 16)\n",
        static_cast<double>(peakSmall) / 1024.0, static_cast<double>(peakAll) / 1024.0);

    // Instructions per input byte, which unlike the times stay the same from run
    // to run: for the realistic input, the worst case and the mixed family.
    for (const char* kind : {"realistic", "worst", "mixed-5", "mixed-20", "mixed-50"}) {
        if (!callgrind) break;
        const std::string input = work + "/callgrind.rm";
        run(generator + " " + kind + " 4 " + input);
        const std::string log = work + "/callgrind.log";
        run("valgrind --tool=callgrind --callgrind-out-file=/dev/null " + kestrup + " -q -y -m " +
            input + " " + work + "/callgrind.avi 2>" + log);
        std::FILE* file = std::fopen(log.c_str(), "r");
        char line[512];
        while (file != nullptr && std::fgets(line, sizeof line, file) != nullptr) {
            const char* refs = std::strstr(line, "I   refs:");
            if (refs == nullptr) continue;
            std::string digits;
            for (const char* p = refs; *p != '\0'; ++p) {
                if (*p >= '0' && *p <= '9') digits += *p;
            }
            std::printf("instructions per input byte (%s, %ld bytes): %.2f\n", kind,
                        fileSize(input), std::stod(digits) / static_cast<double>(fileSize(input)));
        }
        if (file != nullptr) std::fclose(file);
    }
    if (failed) std::fprintf(stderr, "a command failed\n");
    return failed ? 1 : 0;
}
