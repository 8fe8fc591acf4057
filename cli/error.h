#pragma once
// The driver's failure routine: the message as the user reads it (it carries its own period),
// thrown through the one failure channel; Voxwrap prints it and returns status 1.
#include <string>

#include "common/failure.h"

namespace voxwrap {

[[noreturn]] inline void Error(const std::string& message) { Fail(message); }

}  // namespace voxwrap
