// The conversion's speed against its floor, copying the input through user
// space, and against a real decoder reading the result.
//   run_benchmark [--short] [--runs N] [--work DIR] [--callgrind]
// For each input, in one run and alternating: the conversion (kestrup -q -y -m),
// a copy of the input with dd bs=1M, and ffmpeg decoding the output to nothing.
// Prints medians, throughput, ratios and the conversion's peak resident memory.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* name;
    const char* kind;   // make_bench_input's kind
    double amount;      // its size argument
    double copyTarget;  // the most conversion/copy may be; 0: not checked
    bool decode;
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
        } else {
            std::fprintf(stderr,
                         "usage: run_benchmark [--short] [--runs N] [--work DIR] [--callgrind]\n");
            return 2;
        }
    }
    const std::string tools = directoryOf(argv[0]);
    const std::string kestrup = tools + "/kestrup";
    const std::string generator = tools + "/make_bench_input";
    mkdir(work.c_str(), 0755);

    const std::vector<Case> cases =
        shortMode ? std::vector<Case>{{"realistic", "realistic", 4, 1.5, true},
                                      {"worst", "worst", 4, 2.5, true},
                                      {"long", "long", 2, 3.0, true},
                                      {"realistic-large", "realistic", 16, 0, false}}
                  : std::vector<Case>{{"realistic", "realistic", 256, 1.5, true},
                                      {"worst", "worst", 256, 2.5, true},
                                      {"long", "long", 100, 3.0, true},
                                      {"realistic-1g", "realistic", 1024, 0, false}};
    const bool haveFfmpeg = run("command -v ffmpeg >/dev/null").status == 0;

    std::printf("%-16s %9s %9s %9s %9s %10s %9s %10s %9s\n", "input", "MB", "convert", "MB/s",
                "copy", "conv/copy", "ffmpeg", "conv/ffm", "peak MiB");
    bool failed = false;
    std::vector<long> peaks;
    for (const Case& c : cases) {
        const std::string input = work + "/" + c.name + ".rm";
        const std::string output = work + "/" + c.name + ".avi";
        const std::string copy = work + "/" + c.name + ".copy";
        if (run(generator + " " + c.kind + " " + std::to_string(c.amount) + " " + input).status) {
            std::fprintf(stderr, "could not generate %s\n", input.c_str());
            return 1;
        }
        std::vector<double> convert, copying, decoding;
        long peak = 0;
        for (int r = 0; r < runs; ++r) {
            const Measure conversion = run(kestrup + " -q -y -m " + input + " " + output);
            failed |= conversion.status != 0;
            convert.push_back(conversion.seconds);
            peak = std::max(peak, conversion.peakKilobytes);
            const Measure copied = run("dd if=" + input + " of=" + copy + " bs=1M status=none");
            failed |= copied.status != 0;
            copying.push_back(copied.seconds);
            if (c.decode && haveFfmpeg) {
                const Measure decoded = run("ffmpeg -nostdin -v error -i " + output + " -f null -");
                failed |= decoded.status != 0;
                decoding.push_back(decoded.seconds);
            }
        }
        const double megabytes = static_cast<double>(fileSize(input)) / 1e6;
        const double conversionTime = median(convert);
        const double copyTime = median(copying);
        const double decodeTime = decoding.empty() ? 0 : median(decoding);
        std::printf("%-16s %9.1f %9.3f %9.0f %9.3f %10.2f %9.3f %10.2f %9.1f\n", c.name, megabytes,
                    conversionTime, megabytes / conversionTime, copyTime, conversionTime / copyTime,
                    decodeTime, decodeTime > 0 ? conversionTime / decodeTime : 0.0,
                    static_cast<double>(peak) / 1024.0);
        if (c.copyTarget > 0 && conversionTime / copyTime > c.copyTarget) {
            std::printf("  above the target of %.1f x the copy time\n", c.copyTarget);
        }
        peaks.push_back(peak);
        std::remove(copy.c_str());
        if (shortMode) {
            std::remove(input.c_str());
            std::remove(output.c_str());
        }
    }
    std::printf(
        "peak memory: at most %.1f MiB (target 8), 256 MiB vs 1 GiB input differ by %.2f MiB\n",
        static_cast<double>(*std::max_element(peaks.begin(), peaks.end())) / 1024.0,
        static_cast<double>(std::abs(peaks.back() - peaks.front())) / 1024.0);

    if (callgrind) {
        const std::string input = work + "/callgrind.rm";
        run(generator + " realistic 4 " + input);
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
            std::printf("instructions per input byte (realistic, %ld bytes): %.2f\n",
                        fileSize(input), std::stod(digits) / static_cast<double>(fileSize(input)));
        }
        if (file != nullptr) std::fclose(file);
    }
    if (failed) std::fprintf(stderr, "a command failed\n");
    return failed ? 1 : 0;
}
