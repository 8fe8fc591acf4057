#pragma once
// The run of --objects: every label or connected component of the stack sampled in one pass,
// a hull for each, and then the meshes, the table and the report.
#include <cstdint>
#include <string>
#include <vector>

#include "cli/options.h"
#include "mesh/mesh.h"
#include "sample/selection.h"
#include "tiff/rif.h"

namespace voxwrap {
namespace cli {

// What the run has found out before it samples: the slices, their common size, the selection,
// and the spacing and units of the outputs (as the one-object run has them).
struct ObjectsStack {
    std::vector<std::string> paths;
    std::vector<TiffPage> pages;
    std::int32_t W = 0, H = 0;
    Spacing spacing;
    std::string unit;     // of the report and of every header but the binary STL's
    std::string stlUnit;  // of the binary STL's header
};

// Samples every object, keeps those the filters let through, builds their hulls on
// o.threads workers (the results do not depend on the number), and only then writes the mesh
// file(s), the table and the report. Fails with "no object." when no object is left.
// Labels are the values of integer samples (signed and 32-bit ones too): floating-point samples
// fail with "--objects labels : the slices hold <kind> samples; labels must be integers." before
// any slice is read.
int RunObjects(const Options& o, const ObjectsStack& stack, const SampleSelection& selection);

}  // namespace cli
}  // namespace voxwrap
