#pragma once
// Sampling: every plane z = 0..N between and around the slices is reduced to the corners of the
// convex polygon that encloses its object cube faces. Only these corners can be hull vertices.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tiff/rif.h"

// Sampling points: column, row and plane of every corner that can be a hull vertex, in
// collection order (plane by plane, by row, left end before right end). The order decides the
// hull's tie-breaking, so it is part of the output.
struct SamplingPoints {
    std::unique_ptr<std::int32_t[]> IX, IY, IZ;  // capacity for the worst case, n used
    std::int64_t n = 0;
};

// What a caller may watch while the slices are sampled.
struct SamplingWatch {
    std::int64_t voxels = 0;  // set at the end: the object voxels of all slices
    std::function<void(std::int64_t done, std::int64_t total)> sliceRead;  // after every slice
};

// Loads every slice in turn into a W x H grid and reduces each of the planes z = 0..N to the
// corners of its convex chains. Allocation failures fail with the sampling message.
SamplingPoints SampleSlices(const std::vector<std::string>& paths, std::int32_t W, std::int32_t H,
                            const unsigned char* grayTable, SamplingWatch* watch = nullptr,
                            const std::vector<TiffPage>* pages = nullptr);

// Adds the row end (x, y) to a convex chain whose last point has index n (n >= 1): the points
// (x, y) and (x, y+1) enter, every point that no longer turns strictly clockwise leaves. Returns
// the new index of the last point. Products are formed in 64 bits, so any image size is exact.
std::int32_t Append(std::int32_t n, std::int32_t* X, std::int32_t* Y, std::int32_t x,
                    std::int32_t y);
