#pragma once
// The measurements of a hull and the --report built from them: Measure, ReportInput and
// ReportJson are public (voxwrap/voxwrap.h). Measuring is apart from formatting, so that a
// table of many objects and the report of one give the same numbers.
#include <string>

#include "mesh/mesh.h"
#include "voxwrap/voxwrap.h"

namespace voxwrap {

// The shortest decimal that reads back as the same double (JSON allows its exponent form): every
// number of the report and of the objects' table.
std::string ShortestNumber(double value);

}  // namespace voxwrap
