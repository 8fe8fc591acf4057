#pragma once
// Exact checkers of a finished hull. CheckHull (the tests and the benchmarks) reads the hull
// storage and returns the first violation it finds, or "" when the hull is sound: a closed,
// consistently oriented triangulated surface with reciprocal links; flags, vertex ring and free
// lists that agree; F = 2V - 4 and E = 3V - 6; no input point strictly outside a face; every
// extreme input point a hull vertex; and, for small inputs, six times the enclosed volume equal
// to that of an independent brute-force hull. All arithmetic is exact (128-bit).
#include <cstdint>
#include <string>

#include "hull/storage.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {

__extension__ typedef __int128 Int128;
__extension__ typedef unsigned __int128 UInt128;

namespace hullcheck {

struct Point {
    std::int32_t x, y, z;
};

// Six times the signed volume of (o, a, b, c): positive when o lies behind a -> b -> c seen
// counter-clockwise.
Int128 Det(const Point& o, const Point& a, const Point& b, const Point& c);

// The hull of the IPAR(NVMAX) - 1 points of h, as chull3 left it. useOracle = false skips the
// brute-force comparison.
std::string CheckHull(const HullStorage& h, bool useOracle = true);

// The first way in which hull is not the convex hull of points as ConvexHull returns it, or ""
// (run after every ConvexHull in builds with assertions, and by --verify): every triangle of
// non-zero area with its indices in range; closed and consistently oriented (every directed edge
// once, its reverse once); V - E + F = 2 with every vertex used; every vertex one of the points
// and a corner (its triangles span three or more planes); a positive volume; and every point on
// the inner side of, or on, the plane of every triangle. Exact: 64-bit normals, 128-bit offsets.
// The last check costs points times distinct planes; with everyPoint = false an input beyond
// 2^26 such tests checks the vertices and an even sample of the points within that budget.
std::string CheckConvexHull(const voxwrap::Points& points, const voxwrap::Hull& hull,
                            bool everyPoint = true);

}  // namespace hullcheck

}  // namespace voxwrap
