#pragma once
// Slab pruning: the points of consecutive sampling planes reduced to the corners of their own
// hull, which still hold every corner of the hull of the whole stack.
#include "hull/storage.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {
namespace sampling {

// Keeps, in their order, only the corners of the hull of the points: every corner of the hull of
// a larger set that contains them is among them. Points of one plane, too few for a hull, or
// a hull that cannot be had (memory) are all kept. Coordinates must lie within the hull's limit.
void KeepSlabCorners(Points& slab);

// The slab's own hull, for HullChain: the slab is reduced by the test of planes, then hulled
// with its points turned to (z, x, y), a rotation that keeps every orientation's sign, so that
// slabs of ascending z follow one another along the hull's x and their hulls merge. The slab then
// keeps the hull's vertices, in their order, which hold every corner. Returns false, the slab
// reduced but no hull had (a flat slab, too few points, memory), when the hull cannot be had.
bool HullSlab(Points& slab, HullStorage& hull);

// Drops, keeping the order of the rest, the points that lie in the hull of other points by a
// test of their own plane and of the planes around it: a point inside or on its plane's polygon,
// or inside the section at its plane of the hull of two other planes' polygons, one of the
// planesAround planes below and one of those above. The hull's corners all stay. More planes
// find more such points, each pair at the cost of a polygon sum and a search per corner. Points
// must come plane by plane, z ascending, without repeats (otherwise every point stays); exact,
// and cheap next to the hull.
void DropEnclosedPoints(Points& points, int planesAround);

// True when some four of the points are not coplanar.
bool IsSolid(const Points& p);

}  // namespace sampling
}  // namespace voxwrap
