#pragma once
// The command line's failure routine: the message as the user reads it (it carries its own period),
// thrown through the one failure channel; Voxwrap prints it and returns status 1.
#include <string>

#include "common/failure.h"

namespace voxwrap {
namespace cli {

// The kind, for what a caller of Voxwrap might tell apart: an output that could not be written,
// an image without an object, and otherwise a bad argument.
[[noreturn]] inline void Error(const std::string& message) {
    using Kind = voxwrap::Error::Kind;
    Fail(message == "file not stored." ? Kind::Output
         : message == "no object."     ? Kind::Image
                                       : Kind::Argument,
         message);
}

}  // namespace cli
}  // namespace voxwrap
