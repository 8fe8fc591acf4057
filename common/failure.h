#pragma once
// The one way library code fails. Every module has its own [[noreturn]] message routine (the
// driver's Error, the slice list's Error, the TIFF reader's Error, the hull's HullStop) that
// builds the exact text the user will read and throws it as a Failure; only Voxwrap catches it,
// removes a temporary output, prints the text and a newline on standard error and returns 1.
// Library code never ends the process, so it can be embedded, fuzzed in-process and run on
// worker threads, and every destructor runs on the way out.
//
// Who adds the period: the text is complete. The driver's and the reader's messages carry their
// own ("no object.", "path : bad magic number."); the slice list's routine appends it to its
// texts ("subject : too long line."); a hull failure is one or two whole lines joined by "\n".
#include <string>
#include <utility>

namespace voxwrap {

struct Failure {
    std::string text;  // exactly what the user reads, without the final newline
};

[[noreturn]] inline void Fail(std::string text) { throw Failure{std::move(text)}; }

}  // namespace voxwrap
