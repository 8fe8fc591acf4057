#include "slices/rsi.h"

#include <algorithm>
#include <string>

#include "common/failure.h"
#include "tiff/rif.h"

// Reads the whole image and places it at the top left of the grid; every other sample of the
// grid becomes 0, so nothing of an earlier, larger slice survives. Each image row is released as
// soon as it is copied, so at most one copy of the image's bulk is held beyond the grid.
void ReadSliceImage(const char* path, std::int32_t W, std::int32_t H, std::uint16_t* const* rows,
                    std::string* warnings) {
    std::int32_t w = 0, h = 0;
    RowTable image;
    ReadImageFile(path, &w, &h, nullptr, &image, nullptr, warnings);
    // The common size is the largest over the same files, so this means a file changed after the
    // slice list was built; copying it would write past the grid.
    if (w > W || h > H) Fail(std::string(path) + " : bad image size.");
    const auto width = static_cast<std::size_t>(w);
    const auto gridWidth = static_cast<std::size_t>(W);
    for (std::int32_t y = 0; y < h; ++y) {
        std::uint16_t* row = rows[y];
        std::copy(image[y].get(), image[y].get() + width, row);
        std::fill(row + width, row + gridWidth, std::uint16_t{0});
        image[y].reset();
    }
    for (std::int32_t y = h; y < H; ++y)
        std::fill(rows[y], rows[y] + gridWidth, std::uint16_t{0});
}
