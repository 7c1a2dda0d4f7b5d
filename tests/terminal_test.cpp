// The program in a real terminal: the question is on the screen before the
// answer is read, and progress dots appear as frames are converted, not at the end.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include "conversion_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

// The converter on a pseudo-terminal: its output and input are the terminal.
struct TerminalRun {
    int terminal = -1;
    pid_t child = -1;
    std::string screen;

    TerminalRun(const std::string& directory, std::vector<std::string> arguments) {
        child = forkpty(&terminal, nullptr, nullptr, nullptr);
        if (child == 0) {
            if (chdir(directory.c_str()) != 0) _exit(127);
            std::vector<char*> argv{const_cast<char*>("kestrup")};
            for (std::string& argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            execv(KESTRUP_BINARY_PATH, argv.data());
            _exit(127);
        }
    }
    ~TerminalRun() {
        if (child > 0) waitpid(child, nullptr, 0);
        if (terminal >= 0) close(terminal);
    }
    // Reads until text is on the screen or the time is up; true when it is.
    bool waitFor(const std::string& text, std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (screen.find(text) == std::string::npos && Clock::now() < deadline) {
            pollfd descriptor{terminal, POLLIN, 0};
            if (poll(&descriptor, 1, 50) <= 0) continue;
            char buffer[4096];
            const ssize_t got = read(terminal, buffer, sizeof buffer);
            if (got <= 0) break;
            screen.append(buffer, static_cast<size_t>(got));
        }
        return screen.find(text) != std::string::npos;
    }
    bool stillRunning() { return waitpid(child, nullptr, WNOHANG) == 0; }
    int exitStatus() {
        int status = 0;
        waitpid(child, &status, 0);
        child = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

TEST(Terminal, QuestionIsShownBeforeTheAnswerIsRead) {
    TempDir dir;
    rmw::writeFile(dir.file("anim.rm"), twoByTwoFile());
    rmw::writeFile(dir.file("anim.avi"), {1, 2, 3});
    TerminalRun run(dir.path, {"-q", "anim"});
    ASSERT_TRUE(run.waitFor("Do you want to overwrite it? (y/n) ", std::chrono::seconds(10)))
        << run.screen;
    EXPECT_TRUE(run.stillRunning()) << "it must wait for the answer";
    ASSERT_EQ(write(run.terminal, "y\n", 2), 2);
    run.waitFor("\n", std::chrono::seconds(5));
    EXPECT_EQ(run.exitStatus(), 0);
    EXPECT_GT(rmw::readFile(dir.file("anim.avi")).size(), 1000u);
}

TEST(Terminal, ProgressDotsAppearAsFramesConvert) {
    TempDir dir;
    // Two frames with a long stretch of filler between them: the first dot is
    // due long before the end.
    const std::string path = dir.file("slow.rm");
    rmw::writeFile(path, twoByTwoFile());
    std::FILE* file = std::fopen(path.c_str(), "ab");
    const std::vector<uint8_t> filler(1 << 20, 0xFF);
    for (int megabyte = 0; megabyte < 256; ++megabyte) {
        std::fwrite(filler.data(), 1, filler.size(), file);
    }
    const rmw::Bytes second = twoByTwoFile();
    std::fwrite(second.data(), 1, second.size(), file);
    std::fclose(file);
    TerminalRun run(dir.path, {"-q", "-y", "-d", "1", "slow"});
    ASSERT_TRUE(run.waitFor(".", std::chrono::seconds(10))) << run.screen;
    EXPECT_TRUE(run.stillRunning()) << "the first dot came only at the end";
    EXPECT_EQ(run.exitStatus(), 0);
}

}  // namespace
