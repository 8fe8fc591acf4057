#pragma once
// Loading of one slice into the common sample grid of W x H samples, zero-padded to the right
// and below.
#include <cstdint>
#include <string>

#include "tiff/rif.h"

namespace voxwrap {

// rows is the grid's table of H row pointers, each row W samples. Every sample is rewritten.
// A failure throws its message as an Error (common/failure.h); the reader's warnings go where
// warnings says (null: dropped; see ReadImageFile).
// page names the image within a stack file (null: the file's first).
void ReadSliceImage(const char* path, std::int32_t W, std::int32_t H, std::uint16_t* const* rows,
                    std::string* warnings = nullptr, const TiffPage* page = nullptr);

}  // namespace voxwrap
