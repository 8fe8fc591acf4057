#pragma once
// The convex hull of integer points in one call: the two passes over the hull storage, and the
// result as a hull that owns its corners and its triangles.
#include <array>
#include <cstdint>
#include <vector>

#include "common/points.h"

namespace voxwrap {

struct Hull {
    // The corners of the hull, each once, in the order of the input points.
    Points vertices;
    // Indices into vertices, counter-clockwise seen from outside, none of zero area, in the order
    // of the hull's face slots (the order of the binary STL's records).
    std::vector<std::array<std::int32_t, 3>> triangles;
};

// The exact convex hull of the points, every coordinate within kCoordinateLimit (common/limits.h):
// the hull of all points, then the hull of its corners alone, so that every vertex is a corner
// and no face has zero area. Ties are broken by the order of the points, so that order is part of
// the result; where points repeat, the hull is that of their first occurrences. The points are taken by value: a caller that moves them in lends their arrays to
// the hull's storage without a copy. Fewer than 6 points or 6 corners (points all in one plane
// have none), a coordinate beyond the limit and memory fail with the hull's messages. In builds
// with assertions the result is checked exactly against the points before it is returned
// (hullcheck::CheckConvexHull).
Hull ConvexHull(Points points);

}  // namespace voxwrap
