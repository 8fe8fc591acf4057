// AFL++ harness for ReadImageFile: reads the file named by the first argument the two ways the
// program does (header only, then the rows), plus the description. A malformed file ends the
// process with status 1 inside the reader, which the fork server counts as a normal end; only
// signals (sanitizer reports abort) count as crashes.
#include <cstdint>
#include <cstdio>
#include <memory>

#include "tiff/rif.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage : rif_fuzz file\n");
        return 2;
    }
    std::int32_t width = 0, height = 0, bits = 0;
    std::unique_ptr<char[]> description;
    ReadImageFile(argv[1], &width, &height, &bits, nullptr, &description);
    RowTable rows;
    ReadImageFile(argv[1], &width, &height, nullptr, &rows, nullptr);
    // Read every sample, so a row that was not fully written shows under a memory checker.
    std::uint32_t sum = 0;
    for (const auto& row : rows)
        for (std::int32_t x = 0; x < width; ++x)
            sum += row[x];
    return sum == 0xFFFFFFFFu ? 3 : 0;
}
