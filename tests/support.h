#pragma once
// Scaffolding shared by every test binary: failures caught in process, the built program run as
// a user runs it, scratch directories and files.
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

// True where the process runs under AddressSanitizer, whose shadow memory cannot live with an
// address-space limit (tests that set one skip themselves there).
#if defined(__SANITIZE_ADDRESS__)
#define VOXWRAP_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VOXWRAP_ASAN 1
#endif
#endif
#ifndef VOXWRAP_ASAN
#define VOXWRAP_ASAN 0
#endif

// Runs call and returns the text of the voxwrap::Error it throws; "(no failure)" when it returns.
std::string FailureText(const std::function<void()>& call);

struct RunResult {
    int status = -1;  // exit status, or -1 when the process did not exit normally
    std::string out;  // standard output, byte for byte
    std::string err;  // standard error
};

// Starts the built binary with these arguments (argv[0] is added) and returns its process id;
// inChild runs in the child just before the program starts (descriptors, limits, signals).
pid_t SpawnVoxwrap(const std::vector<std::string>& args, const std::function<void()>& inChild);

// Runs the built binary with these arguments (argv[0] is added) in the working directory cwd
// (empty: the current one); setup runs in the child just before the program starts (limits,
// signals).
RunResult RunVoxwrap(const std::vector<std::string>& args, const std::string& cwd = "",
                     const std::function<void()>& setup = {});

// A fresh empty directory below /tmp, removed when the test binary exits.
std::string TempDir();

// A file of the source tree, by its path relative to the tree's root.
std::string SourcePath(const std::string& relative);

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& bytes);

// Escapes the extended-regex specials of a literal text, for exact ^...$ patterns.
std::string Quote(const std::string& text);
