#pragma once
// The measurements a run reports with --report: the object, its convex hull and the ratio of
// the two, in the units of the spacing.
#include <cstdint>
#include <string>

#include "mesh/mesh.h"

namespace voxwrap {

struct ReportInput {
    std::int64_t slices = 0, width = 0, height = 0;
    Spacing spacing;
    std::string unit;  // empty: no unit is known (a spacing given without --unit)
    std::int64_t objectVoxels = 0;
};

// The measurements of one object's hull, in the units of the spacing. The bounding box is the
// hull's: from the first voxel's near face to the last voxel's far face along each axis.
struct HullMeasures {
    double objectVolume = 0, hullVolume = 0, hullArea = 0, solidity = 1;
    std::int64_t hullVertices = 0, hullFacets = 0;
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
};

// The volumes of an object of objectVoxels voxels and of its hull, computed as below.
HullMeasures MeasureHull(const Mesh& hull, const Spacing& spacing, std::int64_t objectVoxels);

// The shortest decimal that reads back as the same double (JSON allows its exponent form).
std::string ShortestNumber(double value);

// The report as a JSON object. The hull volume comes from the exact integer six times the
// volume in voxel units, scaled once at the end; solidity is the object volume over the hull
// volume, never above 1, because the hull of the cubes contains every object cube.
std::string ReportJson(const ReportInput& in, const Mesh& hull);

}  // namespace voxwrap
