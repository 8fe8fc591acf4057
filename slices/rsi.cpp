#include "slices/rsi.h"

#include <algorithm>
#include <string>

#include "common/failure.h"
#include "tiff/rif.h"

namespace voxwrap {

namespace {

// Samples w..W-1 of rows 0..h-1 and every sample of rows h..H-1 become 0.
void Pad(std::int32_t w, std::int32_t h, std::int32_t W, std::int32_t H,
         std::uint16_t* const* rows) {
    for (std::int32_t y = 0; y < h; ++y)
        std::fill(rows[y] + w, rows[y] + W, std::uint16_t{0});
    for (std::int32_t y = h; y < H; ++y)
        std::fill(rows[y], rows[y] + W, std::uint16_t{0});
}

}  // namespace

// Decodes the image straight into the grid and zeroes every other sample of it, so nothing of an
// earlier, larger slice survives. An image larger than the grid is read whole as a table of rows
// first, so that a failure of the reader still comes before the size is refused.
void ReadSliceImage(const char* path, std::int32_t W, std::int32_t H, std::uint16_t* const* rows,
                    std::string* warnings, const TiffPage* page) {
    std::int32_t w = 0, h = 0;
    if (ReadImageInto(path, SampleGrid{W, H, rows}, &w, &h, warnings, page)) {
        Pad(w, h, W, H, rows);
        return;
    }
    RowTable image;
    ReadImageFile(path, &w, &h, nullptr, &image, nullptr, warnings, page);
    // The common size is the largest over the same files, so this means a file changed after the
    // slice list was built; copying it would write past the grid.
    if (w > W || h > H) Fail(Error::Kind::Image, std::string(path) + " : bad image size.");
    const auto width = static_cast<std::size_t>(w);
    for (std::int32_t y = 0; y < h; ++y) {
        std::copy(image[y].get(), image[y].get() + width, rows[y]);
        image[y].reset();
    }
    Pad(w, h, W, H, rows);
}

}  // namespace voxwrap
