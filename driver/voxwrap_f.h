#pragma once
// The run from slice directory to STL file, and the pieces of it that are worth testing alone.
#include <cstdint>
#include <cstdio>

// The whole conversion for main's arguments; returns the exit status of a successful run, every
// failure ends the process with its message.
int Voxwrap(int argc, char** argv);
