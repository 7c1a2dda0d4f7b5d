#include "process_runner.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

void closeBoth(int pipe[2]) {
    close(pipe[0]);
    close(pipe[1]);
}

}  // namespace

ProcessResult runProcess(const std::string& program, const ProcessRequest& request) {
    std::signal(SIGPIPE, SIG_IGN);  // a child that exits early must not kill the test
    int inPipe[2];
    int outPipe[2];
    int errPipe[2];
    if (pipe(inPipe) != 0 || pipe(outPipe) != 0 || pipe(errPipe) != 0) return {};
    const pid_t child = fork();
    if (child == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        closeBoth(inPipe);
        closeBoth(outPipe);
        closeBoth(errPipe);
        if (!request.workingDirectory.empty() && chdir(request.workingDirectory.c_str()) != 0) {
            _exit(127);
        }
        for (const std::string& setting : request.environment) {
            putenv(strdup(setting.c_str()));
        }
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& argument : request.arguments) {
            argv.push_back(const_cast<char*>(argument.c_str()));
        }
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(inPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);

    ProcessResult result;
    size_t written = 0;
    int inFd = inPipe[1];
    if (request.closedInput || request.standardInput.empty()) {
        close(inFd);
        inFd = -1;
    }
    bool outOpen = true;
    bool errOpen = true;
    while (outOpen || errOpen) {
        pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {inFd, POLLOUT, 0}};
        const nfds_t count = inFd >= 0 ? 3 : 2;
        if (poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        char buffer[65536];
        for (int i = 0; i < 2; ++i) {
            bool& open = i == 0 ? outOpen : errOpen;
            if (!open || fds[i].revents == 0) continue;
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got <= 0) {
                open = false;
            } else {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(got));
            }
        }
        if (inFd >= 0 && fds[2].revents != 0) {
            const ssize_t put = write(inFd, request.standardInput.data() + written,
                                      request.standardInput.size() - written);
            if (put > 0) written += static_cast<size_t>(put);
            if (put <= 0 || written == request.standardInput.size()) {
                close(inFd);
                inFd = -1;
            }
        }
    }
    if (inFd >= 0) close(inFd);
    close(outPipe[0]);
    close(errPipe[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status)) result.exitStatus = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
    return result;
}

ProcessResult runKestrupProcess(const ProcessRequest& request) {
    return runProcess(KESTRUP_BINARY_PATH, request);
}

int runShell(const std::string& command, std::string* output) {
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[4096];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        if (output != nullptr) output->append(buffer, got);
    }
    const int status = pclose(pipe);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool haveProgram(const std::string& name) {
    return runShell("command -v " + name + " >/dev/null 2>&1") == 0;
}
