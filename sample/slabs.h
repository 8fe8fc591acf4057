#pragma once
// Slab pruning: the points of consecutive sampling planes reduced to the corners of their own
// hull, which still hold every corner of the hull of the whole stack.
#include "voxwrap/voxwrap.h"

namespace voxwrap {
namespace sampling {

// Keeps, in their order, only the corners of the hull of the points: every corner of the hull of
// a larger set that contains them is among them. Points of one plane, too few for a hull, or
// a hull that cannot be had (memory) are all kept. Coordinates must lie within the hull's limit.
void KeepSlabCorners(Points& slab);

// True when some four of the points are not coplanar.
bool IsSolid(const Points& p);

}  // namespace sampling
}  // namespace voxwrap
