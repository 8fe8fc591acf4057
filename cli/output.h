#pragma once
// The output stream of a run. A regular file (or a path that does not exist yet) is written to a
// temporary file beside it and renamed over it only when complete: a failed or interrupted run
// never leaves a partial file and never destroys an existing one. Standard output, devices and
// pipes are written directly. Every failure is "file not stored.".
#include <cstddef>
#include <cstdio>
#include <string>

namespace voxwrap {
namespace cli {

struct Output {
    std::FILE* stream = nullptr;
    bool isStdout = false;
    std::string temp;    // the temporary file, empty when writing directly
    std::string target;  // what the temporary file replaces
};

// SIGPIPE and SIGXFSZ are ignored, so a closed pipe or a file size limit is a failed write with
// its message rather than a silent death.
void IgnoreWriteSignals();

// Opens standard output for an argument that begins with "-", otherwise the temporary file
// beside the target (or the target itself when it is no regular file).
Output OpenOutput(const char* arg);

// True when two arguments of OpenOutput reach the same file, so that writing one would replace
// the other: the same existing file (through any link or second name, or standard output
// redirected into it), or, for files still to be made, the same name in the same directory once
// links are followed. Standard output that is no regular file (a terminal, a pipe) reaches only
// itself. Nothing is created or written.
bool SameOutput(const char* a, const char* b);

// Flushes, syncs, closes and renames the temporary file over the target.
void CloseOutput(Output& out);

// Removes a temporary file still being written, if any: the failure path of a run.
void RemoveTemporaryOutput();

}  // namespace cli
}  // namespace voxwrap
