#pragma once
// The measurements of every object of a run with --objects: one CSV row each (--table), and the
// same rows as JSON objects in the report.
#include <cstdint>
#include <string>
#include <vector>

#include "mesh/report.h"

namespace voxwrap {

// One object, in the units of the spacing.
struct ObjectRow {
    std::int64_t id = 0;
    std::int64_t voxels = 0;
    Measurements hull;  // volume, hull volume and area, solidity, hull vertices and facets
    // From the near face of the first voxel to the far face of the last along x, y, z: the
    // bounding box of the object's cubes, which is the hull's, in the mesh's coordinates.
    double bboxMin[3] = {0, 0, 0}, bboxMax[3] = {0, 0, 0};
    double centroid[3] = {0, 0, 0};  // the mean of the voxel centres
};

// The CSV header, one row per object in the order given, every line ending in "\n". Numbers are
// the shortest decimals that read back as the same doubles.
std::string TableCsv(const std::vector<ObjectRow>& rows);

// The report of a run with --objects: the stack fields of ReportJson, then "objects", the rows
// with the CSV's column names as keys.
std::string ObjectsReportJson(const ReportInput& in, const std::vector<ObjectRow>& rows);

}  // namespace voxwrap
