#pragma once
// Reader of the first image of a gray-scale TIFF 6.0 file: one channel of 1 to 16 bits per sample,
// in strips, uncompressed, LZW or PackBits. A malformed file throws a Failure whose text is
// "path : message" (common/failure.h), so a call that returns has succeeded. Every call keeps its
// state in an object of its own: calls on different threads do not meet.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The decoded image: entry y is row y, an array of width samples, each the stored value
// zero-extended. The caller owns the rows and may release them one at a time.
using RowTable = std::vector<std::unique_ptr<std::uint16_t[]>>;

// Reads what the non-null outputs ask for: width and height (for width, height or rows), bits per
// sample (for bitsPerSample or rows), the ImageDescription (null when there is none), and all
// sample data only when rows is given.
//
// The strip decoders' warnings are whole lines "path : message (warning).\n". With warnings null
// each is written to standard error at once; otherwise it is appended to *warnings, in the order
// issued, and nothing is written (a caller decoding on a worker thread prints them later, in
// order). Warnings issued before a failure stay in *warnings.
void ReadImageFile(const char* path, std::int32_t* width, std::int32_t* height,
                   std::int32_t* bitsPerSample, RowTable* rows,
                   std::unique_ptr<char[]>* description, std::string* warnings = nullptr);

// A caller's grid of H rows of at least W samples each.
struct SampleGrid {
    std::int32_t W, H;
    std::uint16_t* const* rows;
};

// As ReadImageFile with width, height and rows, but an image of at most W x H samples is decoded
// straight into samples 0..w-1 of the grid's rows 0..h-1, with no allocation per row, and true is
// returned; the rest of the grid is left as it was. A larger image is not decoded: false.
bool ReadImageInto(const char* path, const SampleGrid& grid, std::int32_t* width,
                   std::int32_t* height, std::string* warnings = nullptr);

// The resolution tags of the first image: XResolution and YResolution (pixels per unit, a
// RATIONAL each; 0/0 when absent or not a single RATIONAL) and ResolutionUnit (1 none, 2 inch,
// 3 centimetre; 2 when absent, as TIFF 6.0 says). Fails as ReadImageFile does on a bad header.
struct Resolution {
    std::uint32_t xNum = 0, xDen = 0;
    std::uint32_t yNum = 0, yDen = 0;
    std::uint32_t unit = 2;
};
void ReadResolution(const char* path, Resolution* resolution);
