#pragma once
// ConvexHull and VerifyHull are public (voxwrap/voxwrap.h): the two passes over the hull storage
// in one call, and the exact check of a result. Implemented in convex_hull.cpp.
#include "voxwrap/voxwrap.h"
