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

// The report as a JSON object. The hull volume comes from the exact integer six times the
// volume in voxel units, scaled once at the end; solidity is the object volume over the hull
// volume, never above 1, because the hull of the cubes contains every object cube.
std::string ReportJson(const ReportInput& in, const Mesh& hull);

}  // namespace voxwrap
