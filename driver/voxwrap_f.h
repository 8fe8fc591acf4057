#pragma once
// The run from slice directory to STL file, and the pieces of it that are worth testing alone.
#include <cstddef>
#include <cstdint>
#include <cstdio>

// The whole conversion for main's arguments; returns the exit status of a successful run, every
// failure ends the process with its message.
int Voxwrap(int argc, char** argv);

// Adds the row end (x, y) to a convex chain whose last point has index n (n >= 1): the points
// (x, y) and (x, y+1) enter, every point that no longer turns strictly clockwise leaves. Returns
// the new index of the last point. Products are formed in 64 bits, so any image size is exact.
std::int32_t Append(std::int32_t n, std::int32_t* X, std::int32_t* Y, std::int32_t x,
                    std::int32_t y);

// The points of face slot f (0-based) of a finished hull as 0-based indices a, b, c, counter-
// clockwise seen from outside; returns 1 when they span a triangle, 0 when they are collinear.
int FV3(const std::int32_t* IX, const std::int32_t* IY, const std::int32_t* IZ,
        const std::int32_t* IFEDGE, const std::int32_t* IEVS, const std::int32_t* IEVE,
        const std::int32_t* IEF1, const std::int32_t* IESF1, const std::int32_t* IEEF2,
        std::int32_t f, std::int32_t& a, std::int32_t& b, std::int32_t& c);

// Write `length` bytes from data to the stream, as they lie in memory (PutN) or last byte first
// (PutR, for big-endian hosts). A failed write ends the run with "file not stored.".
void PutN(std::FILE* stream, const void* data, std::size_t length);
void PutR(std::FILE* stream, const void* data, std::size_t length);

#include <memory>
#include <string>
#include <vector>

// The stages of a run, exposed so that tests and benchmarks can drive and time them one by one.

// Sampling points: column, row and plane of every corner that can be a hull vertex, in
// collection order (plane by plane, by row, left end before right end).
struct SamplingPoints {
    std::unique_ptr<std::int32_t[]> IX, IY, IZ;  // capacity for the worst case, n used
    std::int64_t n = 0;
};

// Loads every slice in turn into the W x H grid and reduces each of the planes z = 0..N to the
// corners of its convex chains. Allocation failures end the run with the sampling message.
SamplingPoints SampleSlices(const std::vector<std::string>& paths, std::int32_t W, std::int32_t H,
                            const unsigned char* grayTable);

// The hull's arrays, sized for m = n + 1 points as the hull routines need them.
struct HullStorage {
    std::int32_t m = 0;
    std::int32_t IPAR[9] = {};
    std::vector<std::int32_t> IX, IY, IZ, IRANK, IVEDGE, IFEDGE, IEVS, IEVE, IEF1, IEF2, IESF1,
        IESF2, IEEF2, IEEF1, IVSUB, IORDER, IVNEXT, IVPREV, IVFLAG, ISPREV, IEFLAG, IESTK, IFFLAG,
        IFSTK;
};

// Moves the points into hull storage (releasing the sampling arrays first) and computes their
// hull, then the hull again from its extreme points alone, so that every vertex of the result is
// a corner of the object's hull and no face has zero area. Returns the number of extreme points.
std::int32_t ComputeHull(SamplingPoints points, HullStorage& hull);

// The two passes of ComputeHull: the hull of all sampling points, then, in place, the hull of
// its extreme points (returning their number).
void FirstHull(SamplingPoints points, HullStorage& hull);
std::int32_t SecondHull(HullStorage& hull);

// Computes the hull of the first n points of the storage's arrays (n >= 6, m = n + 1).
void RunChull3(std::int32_t n, HullStorage& hull);

// Marks in keep[0..n-1] the hull vertices that are corners of the hull: their faces of non-zero
// area lie in three or more distinct planes. Returns how many there are.
std::int32_t MarkExtremePoints(std::int32_t n, HullStorage& hull, std::int32_t* keep);

// Writes the binary STL of a finished hull to the stream: 80 zero bytes, the facet count, then one
// 50-byte record per face in use that spans a triangle, little-endian on every host.
void WriteStl(std::FILE* stream, HullStorage& hull);
