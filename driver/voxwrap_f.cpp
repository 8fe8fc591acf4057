#include "driver/voxwrap_f.h"

#include "driver/error.h"
#include "driver/rl.h"

#include <vector>

int Voxwrap(int argc, char** argv) {
    if (argc != 5) Error("usage : voxwrap directory nameFile rangeList STL");
    std::vector<unsigned char> grayTable(65536);
    RangeList(argv[3], 65535, grayTable.data());
    // Reading slices and computing the hull are not built yet; refuse rather than report success.
    Error("conversion not available in this build.");
}

#ifndef VOXWRAP_NO_MAIN
int main(int argc, char** argv) { return Voxwrap(argc, argv); }
#endif
