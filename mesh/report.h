#pragma once
// The measurements of a hull and the --report built from them: Measure, ReportInput and
// ReportJson are public (voxwrap/voxwrap.h). Measuring is apart from formatting, so that a
// table of many objects and the report of one give the same numbers.
#include "mesh/mesh.h"
#include "voxwrap/voxwrap.h"
