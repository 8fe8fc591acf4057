#pragma once
// Reader of the first image of a gray-scale TIFF 6.0 file: one channel of 1 to 16 bits per sample,
// in strips, uncompressed, LZW or PackBits. Every failure prints "path : message" on standard
// error and ends the process with status 1, so a call that returns has succeeded.
#include <cstdint>
#include <memory>
#include <vector>

// The decoded image: entry y is row y, an array of width samples, each the stored value
// zero-extended. The caller owns the rows and may release them one at a time.
using RowTable = std::vector<std::unique_ptr<std::uint16_t[]>>;

// Reads what the non-null outputs ask for: width and height (for width, height or rows), bits per
// sample (for bitsPerSample or rows), the ImageDescription (null when there is none), and all
// sample data only when rows is given. Returns the status of closing the file.
int ReadImageFile(const char* path, std::int32_t* width, std::int32_t* height,
                  std::int32_t* bitsPerSample, RowTable* rows,
                  std::unique_ptr<char[]>* description);
