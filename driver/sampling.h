#pragma once
// Sampling: every plane z = 0..N between and around the slices is reduced to the corners of the
// convex polygon that encloses its object cube faces. Only these corners can be hull vertices.
// Slabs of consecutive planes are reduced further to the corners of their own hulls, which still
// hold every corner of the whole hull.
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
    std::unique_ptr<std::int32_t[]> IX, IY, IZ;  // n entries each
    std::int64_t n = 0;
};

// What a caller may watch while the slices are sampled.
struct SamplingWatch {
    // Counting every object sample reads whole rows, where the sampling alone stops at the
    // first object sample from each end: asked for only when wanted.
    bool countVoxels = false;
    std::int64_t voxels = 0;  // set at the end when counted: the object voxels of all slices
    std::function<void(std::int64_t done, std::int64_t total)> sliceRead;  // after every slice
    // A slice's warnings, whole lines, before its row extents are used (and before its failure).
    // Unset: each is written to standard error as it is found.
    std::function<void(const std::string& lines)> warning;
};

// Loads every slice and reduces each of the planes z = 0..N to the corners of its convex chains,
// then every slab of consecutive planes to the corners of its hull; the result holds exactly the
// corners of the whole hull and others, in collection order. threads workers read and reduce the
// slices (0: one per core; 1: everything on the calling thread); the points, every message and
// every call of the watch (on the calling thread, in slice order) are the same for any number. A
// failure is the first one in slice order, with the warnings of the slices before it; allocation
// failures fail with the sampling message.
SamplingPoints SampleSlices(const std::vector<std::string>& paths, std::int32_t W, std::int32_t H,
                            const unsigned char* grayTable, SamplingWatch* watch = nullptr,
                            unsigned threads = 0, const std::vector<TiffPage>* pages = nullptr);

// Adds the row end (x, y) to a convex chain whose last point has index n (n >= 1): the points
// (x, y) and (x, y+1) enter, every point that no longer turns strictly clockwise leaves. Returns
// the new index of the last point. Products are formed in 64 bits, so any image size is exact.
std::int32_t Append(std::int32_t n, std::int32_t* X, std::int32_t* Y, std::int32_t x,
                    std::int32_t y);

// Points of consecutive planes in collection order: z never decreases, no two are equal.
struct PlanePoints {
    std::vector<std::int32_t> X, Y, Z;
    std::size_t size() const { return X.size(); }
};

// Keeps, in their order, only the corners of the hull of the points: every corner of the hull of
// a larger set that contains them is among them. Points of one plane, too few for a hull, or
// a hull that cannot be had (memory) are all kept. Coordinates must lie within the hull's limit.
void KeepSlabCorners(PlanePoints& slab);
