#include "cli/voxwrap_f.h"

int main(int argc, char** argv) { return voxwrap::cli::Voxwrap(argc, argv); }
