// Runs a program as a real process: arguments, standard input, environment
// additions and working directory in; standard output, error and status out.
#pragma once

#include <string>
#include <vector>

struct ProcessResult {
    std::string out;
    std::string err;
    int exitStatus = -1;  // -1 when killed by a signal
    int signal = 0;       // the signal that ended it, if any
};

struct ProcessRequest {
    std::vector<std::string> arguments;    // after the program name
    std::string standardInput;             // fed, then closed
    bool closedInput = false;              // standard input at end from the start
    std::vector<std::string> environment;  // "NAME=value" additions
    std::string workingDirectory;
};

ProcessResult runProcess(const std::string& program, const ProcessRequest& request);

// The converter under test.
ProcessResult runKestrupProcess(const ProcessRequest& request);

// Runs a shell command line, returning its exit status and standard output.
int runShell(const std::string& command, std::string* output = nullptr);
bool haveProgram(const std::string& name);
