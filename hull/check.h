#pragma once
// An exact checker of a finished hull, for the tests and the benchmarks (nothing in the program
// runs it). CheckHull returns the first violation it finds, or "" when the hull is sound:
// a closed, consistently oriented triangulated surface with reciprocal links; flags, vertex ring
// and free lists that agree; F = 2V - 4 and E = 3V - 6; no input point strictly outside a face;
// every extreme input point a hull vertex; and, for small inputs, six times the enclosed volume
// equal to that of an independent brute-force hull. All arithmetic is exact (128-bit).
#include <cstdint>
#include <string>

#include "hull/storage.h"

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

}  // namespace hullcheck
