#pragma once
// The one way library code fails. Every module has its own [[noreturn]] message routine (the
// slice list's Error, the TIFF reader's Error, the hull's HullStop, the command line's Error)
// that builds the exact text the user will read and throws it as an Error of the public header,
// with the kind a caller can act on; only the front ends catch it (the command line removes a
// temporary output, prints the text and returns 1). Library code never ends the process, so it
// can be embedded, fuzzed in-process and run on worker threads, and every destructor runs on the
// way out.
//
// Who adds the period: the text is complete. The reader's messages carry their own
// ("path : bad magic number."); the slice list's routine appends it to its texts
// ("subject : too long line."); a hull failure is one or two whole lines joined by "\n".
#include <string>
#include <utility>

#include "voxwrap/voxwrap.h"

namespace voxwrap {

[[noreturn]] inline void Fail(Error::Kind kind, std::string text) {
    throw Error(kind, std::move(text));
}

}  // namespace voxwrap
