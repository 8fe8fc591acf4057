#pragma once

namespace voxwrap {
namespace cli {
// The whole conversion, from slice directory to STL file.

// Runs voxwrap with main's arguments and returns the exit status: 0 after the STL is written,
// 1 after any failure, whose message it has printed on standard error. Nothing is written when
// the run fails.
int Voxwrap(int argc, char** argv);

}  // namespace cli
}  // namespace voxwrap
