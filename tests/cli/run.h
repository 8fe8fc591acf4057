#pragma once
// Runs the built voxwrap binary as a user would and collects what it printed.
#include <functional>
#include <string>
#include <vector>

struct RunResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string out;  // standard output, byte for byte
    std::string err;  // standard error
};

// Runs the binary with these arguments (argv[0] is added) in the working directory cwd (empty:
// the current one); setup runs in the child just before the program starts (limits, signals).
RunResult RunVoxwrap(const std::vector<std::string>& args, const std::string& cwd = "",
                     const std::function<void()>& setup = {});

// A fresh empty directory below the system's temporary directory, removed at exit of the test.
std::string TempDir();

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);
